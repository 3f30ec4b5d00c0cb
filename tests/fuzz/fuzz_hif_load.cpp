// The record reader of kelvra.hif and the loading that follows it, on arbitrary bytes.
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "store/headerlistex.h"
#include "store/store_record.h"

namespace {

kelvra::store::headerlistex& Store() {
    static kelvra::store::headerlistex store("/nonexistent-data-directory", "index.html",
                                             std::nullopt, "");
    return store;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* file = ::fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
    if (!file && size > 0) return 0;
    kelvra::store::HifRecordReader reader(file);
    std::string record;
    while (reader.Next(record) == kelvra::store::HifRecordReader::Result::kRecord) {
        if (record.empty() || record.size() > kelvra::store::kMaxFileRecord) __builtin_trap();
        if (record.front() == '#') continue;
        const std::size_t lf = record.find('\n');
        if (lf == std::string::npos) continue;
        kelvra::store::headerlistex& store = Store();
        kelvra::store::treelistnode* node =
            store.Add(record.substr(0, lf), std::string_view(record).substr(lf + 1), false);
        const char* text = node ? node->value().text() : nullptr;
        if (text && std::string_view(text).size() > kelvra::store::kMaxRecordText) __builtin_trap();
    }
    if (file) std::fclose(file);
    kelvra::store::headerlistex& store = Store();
    if (store.Root()->ChildCount() > 10000) store.ClearBelow(store.Root());
    return 0;
}
