// The exports of libflorrin.so and the result list it hands to the host.

#include <cctype>
#include <cstring>
#include <list>
#include <memory>
#include <string>

#include "florrin_plugin.h"
#include "swfscanner.h"

namespace kelvra::florrin {

namespace {

constexpr const char* kVersion = "1.0.0(recompiled)(Win32; ix86)";
constexpr const char* kFlashSubtype = "x-shockwave-flash";
constexpr std::size_t kSubtypeCompare = 18;  // with the NUL: the subtype must be exactly this

// A list of owned byte strings; entries are a marker byte, the URL and a NUL.
struct UrlList final : FlorrinList {
    std::list<std::string> items;
    std::list<std::string>::iterator cursor = items.end();
};

UrlList* Self(FlorrinList* list) {
    return static_cast<UrlList*>(list);
}

void Destroy(FlorrinList* list, int flags) {
    if (flags & 1) delete Self(list);
}
const char* Add(FlorrinList* list, const char* data, long length) {
    const std::size_t n = length < 1 ? std::strlen(data) : static_cast<std::size_t>(length);
    try {
        Self(list)->items.emplace_back(data, n);
    } catch (...) {  // the host is C: nothing may be thrown at it
        return nullptr;
    }
    return Self(list)->items.back().c_str();
}
const char* Next(FlorrinList* list) {
    UrlList* self = Self(list);
    if (self->cursor == self->items.end()) return nullptr;
    return (self->cursor++)->c_str();
}
void Rewind(FlorrinList* list) {
    Self(list)->cursor = Self(list)->items.begin();
}
int RemoveFirst(FlorrinList* list) {
    UrlList* self = Self(list);
    if (!self->items.empty()) {
        if (self->cursor == self->items.begin()) ++self->cursor;
        self->items.pop_front();
    }
    return !self->items.empty();
}
void MoveFirstToEnd(FlorrinList* list) {
    UrlList* self = Self(list);
    if (self->items.size() > 1) {
        self->items.splice(self->items.end(), self->items, self->items.begin());
    }
}
long Count(FlorrinList* list) {
    return static_cast<long>(Self(list)->items.size());
}

const FlorrinListOps kListOps = {Destroy, Add, Next, Rewind, RemoveFirst, MoveFirstToEnd, Count};

// One scanner per process, as the host expects; it serialises the calls.
std::unique_ptr<SwfScanner> g_scanner;

bool IsFlashType(const char* content_type) {
    const char* slash = std::strchr(content_type, '/');
    const char* subtype = slash ? slash + 1 : content_type;
    for (std::size_t i = 0; i < kSubtypeCompare; ++i) {
        const int a = std::tolower(static_cast<unsigned char>(subtype[i]));
        if (a != kFlashSubtype[i]) return false;
        if (a == 0) break;
    }
    return true;
}

FlorrinList* ProcessFile(const char* path, const char* content_type) {
    if (!g_scanner || !path || !content_type || !IsFlashType(content_type)) return nullptr;
    if (!g_scanner->Load(path)) return nullptr;
    auto list = std::make_unique<UrlList>();
    list->ops = &kListOps;
    for (const std::string& url : g_scanner->Scan()) {
        list->items.push_back(std::string(1, '\0') + url);  // marker 0: an ordinary link
    }
    list->cursor = list->items.begin();
    return list.release();  // the host frees it through Destroy
}

}  // namespace

}  // namespace kelvra::florrin

using namespace kelvra::florrin;

extern "C" {

// The host is C: no exception may leave these.
int _module_init(void) {
    if (g_scanner) _module_done();
    try {
        g_scanner = std::make_unique<SwfScanner>();
    } catch (...) {
        return 0;
    }
    return 1;
}

FlorrinList* _process_file(const char* path, const char* content_type) {
    try {
        return ProcessFile(path, content_type);
    } catch (...) {  // memory short: no links
        return nullptr;
    }
}

void _module_done(void) {
    g_scanner.reset();
}

const char* _module_version(void) {
    return kVersion;
}
}
