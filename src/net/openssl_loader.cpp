#include "net/openssl_loader.h"

#include <dlfcn.h>
#include <openssl/opensslv.h>

#include <cstdio>
#include <cstdlib>

namespace kelvra::net {
namespace {

#define KELVRA_STRINGIFY_VALUE(value) #value
#define KELVRA_STRINGIFY(value) KELVRA_STRINGIFY_VALUE(value)
// The library of the major version the headers describe: another one's functions may differ.
constexpr char kSslLibrary[] = "libssl.so." KELVRA_STRINGIFY(OPENSSL_SHLIB_VERSION);

struct Loaded {
    OpenSslFunctions functions;
    std::string error;
};

Loaded Load() {
    Loaded loaded;
    // Never closed: OpenSSL's own exit handlers run from the library.
    void* library = ::dlopen(kSslLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        loaded.error = reason != nullptr ? reason : std::string(kSslLibrary) + " cannot be loaded";
        return loaded;
    }
    OpenSslFunctions& f = loaded.functions;
    // The handle's look-up also searches libcrypto, which libssl depends on.
#define KELVRA_OPENSSL_LOOKUP(name)                                       \
    f.name = reinterpret_cast<decltype(f.name)>(::dlsym(library, #name)); \
    if (f.name == nullptr && loaded.error.empty()) {                      \
        loaded.error = std::string(kSslLibrary) + " lacks " #name;        \
    }
    KELVRA_OPENSSL_FUNCTIONS(KELVRA_OPENSSL_LOOKUP)
#undef KELVRA_OPENSSL_LOOKUP
    return loaded;
}

const Loaded& Library() {
    static const Loaded loaded = Load();
    return loaded;
}

}  // namespace

bool OpenSslLoaded() {
    return Library().error.empty();
}

const std::string& OpenSslLoadError() {
    return Library().error;
}

const OpenSslFunctions& OpenSsl() {
    const Loaded& loaded = Library();
    if (!loaded.error.empty()) {
        // A call past a failed OpenSslLoaded() check is a fault of ours, not of the system.
        std::fprintf(stderr, "OpenSSL used although it could not be loaded: %s\n",
                     loaded.error.c_str());
        std::abort();
    }
    return loaded.functions;
}

}  // namespace kelvra::net
