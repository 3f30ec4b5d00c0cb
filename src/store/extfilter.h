#pragma once
// The compiled extension/string filter of an acquisition condition and the class it gives a URL.
//
// Filter text: lines "<hex digit>:<patterns>" (or '='), patterns separated by white space. A
// pattern ".ext..." is matched against the URL's extension, "\." starts an ordinary pattern
// with '.', anything else is searched for in the URL; a leading '!' inverts.

#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "util/patternmatch.h"

namespace kelvra::store {

class ExtFilterClass final {
  public:
    static constexpr int kDefaultClass = 1;

    ExtFilterClass();  // empty: every URL gets kDefaultClass
    explicit ExtFilterClass(std::string_view filter_text);
    ~ExtFilterClass();
    ExtFilterClass(ExtFilterClass&&) noexcept;
    ExtFilterClass& operator=(ExtFilterClass&&) noexcept;

    void Compile(std::string_view filter_text);
    bool empty() const { return entries_.empty(); }

    // The compiled byte form: per entry the class value plus 1 and the pattern with its NUL,
    // then a single 0.
    const std::string& bytes() const { return bytes_; }

    // Class 0..15 of a URL given without its scheme.
    int ClassOf(std::string_view url) const;

    struct Pattern;

  private:
    struct Entry {
        int klass;
        std::unique_ptr<Pattern> pattern;
    };
    void AddEntry(int klass, std::string_view pattern);
    int Evaluate(std::string_view url, std::string_view extension) const;

    // When every pattern looks at the extension alone, the class depends on the extension
    // only; the answers for extensions seen so far are kept.
    struct ExtensionCache {
        static constexpr std::size_t kMaxEntries = 4096;
        std::mutex mutex;
        std::unordered_map<std::string, int> classes;
    };

    std::string bytes_;
    std::vector<Entry> entries_;
    bool extension_only_ = true;
    std::unique_ptr<ExtensionCache> cache_;
};

}  // namespace kelvra::store
