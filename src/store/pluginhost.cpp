#include "store/pluginhost.h"

#include <dlfcn.h>

#include <filesystem>
#include <map>
#include <mutex>

namespace kelvra::store {

namespace {

std::mutex& PluginCallLock() {
    static std::mutex lock;
    return lock;
}

// The hosts holding each initialised library. The plug-in's state is per process, so the first
// host initialises it and only the last one ends it: a short-lived second host (the About box, a
// second crawl) must not switch it off under a crawl still running. Guarded by PluginCallLock.
std::map<void*, int>& InitialisedHosts() {
    static std::map<void*, int> hosts;
    return hosts;
}

// A bare name is looked for beside the running program first: the program's own RUNPATH does
// not apply when dlopen is reached through an interposing library (a sanitizer runtime, a
// preloaded tool), which would then load another copy or none.
void* OpenLibrary(const std::string& library) {
    if (library.find('/') == std::string::npos) {
        std::error_code error;
        const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
        if (!error) {
            const std::string beside = (program.parent_path() / library).string();
            if (void* handle = dlopen(beside.c_str(), RTLD_NOW | RTLD_LOCAL)) return handle;
        }
    }
    return dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
}

template <class Fn>
Fn Symbol(void* handle, const char* name) {
    return reinterpret_cast<Fn>(dlsym(handle, name));
}

}  // namespace

PluginHost::PluginHost(const std::string& library) {
    if (library.empty()) return;
    handle_ = OpenLibrary(library);
    if (!handle_) return;
    auto init = Symbol<int (*)()>(handle_, "_module_init");
    if (!init) return;  // loaded but unused
    std::lock_guard<std::mutex> guard(PluginCallLock());
    if (InitialisedHosts()[handle_]++ == 0) init();
    initialised_ = true;
    process_file_ = Symbol<ProcessFn>(handle_, "_process_file");
}

PluginHost::~PluginHost() {
    if (!handle_) return;
    if (initialised_) {
        std::lock_guard<std::mutex> guard(PluginCallLock());
        if (--InitialisedHosts()[handle_] == 0) {
            InitialisedHosts().erase(handle_);
            if (auto done = Symbol<void (*)()>(handle_, "_module_done")) done();
        }
    }
    dlclose(handle_);
}

const char* PluginHost::Version() const {
    if (!handle_) return nullptr;
    auto version = Symbol<const char* (*)()>(handle_, "_module_version");
    return version ? version() : nullptr;
}

std::optional<std::vector<PluginHost::Entry>> PluginHost::ProcessFile(
    const std::string& path, const std::string& content_type) const {
    if (!process_file_) return std::nullopt;
    std::lock_guard<std::mutex> guard(PluginCallLock());
    FlorrinList* list = process_file_(path.c_str(), content_type.c_str());
    if (!list) return std::nullopt;
    std::vector<Entry> entries;
    list->ops->rewind(list);
    while (const char* item = list->ops->next(list)) {
        entries.push_back(Entry{item[0] != 0, std::string(item + 1)});
    }
    list->ops->destroy(list, kDestroyAndFree);
    return entries;
}

}  // namespace kelvra::store
