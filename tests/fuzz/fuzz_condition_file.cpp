// The condition file loader, a condition read, and a save/load round trip.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "store/configclass.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvra::store;
    static const std::string path = "/tmp/fuzz_condition_" + std::to_string(getpid()) + ".cf";
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    GetConditionClass cf;
    static_cast<void>(cf.Load(path));  // any input: an unreadable file is a case too
    AcquisitionCondition r;
    cf.ReadCondition("", r, false);
    cf.WriteCondition("http://h/", r);
    static_cast<void>(cf.Save());  // a failed save leaves the input to be read back
    GetConditionClass back;
    static_cast<void>(back.Load(path));  // any file: an unreadable one is a case too
    AcquisitionCondition again;
    back.ReadCondition("http://h/", again, true);
    return 0;
}
