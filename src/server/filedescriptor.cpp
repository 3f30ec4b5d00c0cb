#include "server/filedescriptor.h"

#include <unistd.h>

namespace kelvra::server {

FileDescriptor::~FileDescriptor() {
    if (fd_ >= 0) ::close(fd_);
}

}  // namespace kelvra::server
