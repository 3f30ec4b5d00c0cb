#pragma once
// The host side of the link-extraction plug-in (libflorrin.so), loaded by name at run time.
// The plug-in returns its URLs in a list object whose operation table both sides share; the
// same declarations are copied into the plug-in's own interface header.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern "C" {
struct FlorrinList;
// Operations in the order of the list interface; the host uses rewind, next and destroy.
struct FlorrinListOps {
    void (*destroy)(FlorrinList* list, int flags);  // flags 3: destroy and free
    const char* (*add)(FlorrinList* list, const char* data, long length);
    const char* (*next)(FlorrinList* list);  // marker byte, URL, NUL; nullptr at the end
    void (*rewind)(FlorrinList* list);
    int (*remove_first)(FlorrinList* list);
    void (*move_first_to_end)(FlorrinList* list);
    long (*count)(FlorrinList* list);
};
struct FlorrinList {
    const FlorrinListOps* ops;
};
}

namespace kelvra::store {

class PluginHost final {
  public:
    static constexpr const char* kLibraryName = "libflorrin.so";
    static constexpr int kDestroyAndFree = 3;

    struct Entry {
        bool object = false;  // a page object rather than an ordinary link
        std::string url;      // as found, possibly relative
    };

    // Loads the library through the platform's search order (or the given path) and
    // initialises it. An empty name loads nothing.
    explicit PluginHost(const std::string& library = kLibraryName);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    bool loaded() const { return handle_ != nullptr; }
    bool ready() const { return process_file_ != nullptr; }
    // The plug-in's version text, or nullptr.
    const char* Version() const;
    // The plug-in's URLs for a stored file, or none when it does not handle the file. Calls of
    // all hosts in the process are serialised: the plug-in keeps one parse context.
    std::optional<std::vector<Entry>> ProcessFile(const std::string& path,
                                                  const std::string& content_type) const;

  private:
    using ProcessFn = FlorrinList* (*)(const char*, const char*);

    void* handle_ = nullptr;
    bool initialised_ = false;  // counted among the library's initialised hosts
    ProcessFn process_file_ = nullptr;
};

}  // namespace kelvra::store
