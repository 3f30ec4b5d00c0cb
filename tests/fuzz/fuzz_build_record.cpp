// Record normalisation on arbitrary header texts: bounded, NUL-free, and never a hostile name.
#include <cstdint>
#include <string>
#include <string_view>

#include "store/store_names.h"
#include "store/store_record.h"
#include "util/header.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    // The first line, when there is one, is the extension's type.
    const std::size_t lf = input.find('\n');
    const std::string_view type =
        lf == std::string_view::npos ? std::string_view() : input.substr(0, lf);
    const std::string_view text = lf == std::string_view::npos ? input : input.substr(lf + 1);
    const std::string record = kelvra::store::BuildRecordText(text, type);
    if (record.size() > kelvra::store::kMaxRecordText) __builtin_trap();
    if (record.find('\0') != std::string::npos) __builtin_trap();
    const std::string_view name = kelvra::util::FindHeader(record, "XF:");
    if (!name.empty() && !kelvra::store::IsConfinedName(name)) __builtin_trap();
    return 0;
}
