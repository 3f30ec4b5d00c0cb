// Every #include "folder/..." under src/ must name a folder the including folder may use: the
// layers are platform <- util <- net <- store <- {crawl, server} <- app <- {console, gui}, and the
// tools and the plug-in stand apart. A new dependency that goes against this is a design change,
// made here on purpose, not by accident in a source file.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::map<std::string, std::set<std::string>> kMayUse = {
    {"platform", {}},
    {"util", {"platform"}},
    {"net", {"platform", "util"}},
    {"store", {"platform", "util", "net"}},
    {"crawl", {"platform", "util", "net", "store"}},
    {"server", {"platform", "util", "net", "store"}},
    {"app", {"platform", "util", "net", "store", "crawl", "server"}},
    {"console", {"platform", "util", "net", "store", "crawl", "server", "app"}},
    {"gui", {"platform", "util", "net", "store", "crawl", "server", "app"}},
    {"tool-hifbuild", {"platform", "util", "net", "store"}},
    {"tool-proxyswitch", {}},
    {"plugin-flash", {}},
};

std::vector<std::string> QuotedIncludes(const fs::path& file) {
    static const std::regex kInclude(R"re(^\s*#\s*include\s*"([^"]+)")re");
    std::vector<std::string> includes;
    std::ifstream in(file);
    std::smatch match;
    for (std::string line; std::getline(in, line);) {
        if (std::regex_search(line, match, kInclude)) includes.push_back(match[1]);
    }
    return includes;
}

TEST(Layering, EveryIncludeNamesAFolderItsLayerMayUse) {
    const fs::path src = fs::path(KELVRA_SOURCE_DIR) / "src";
    ASSERT_TRUE(fs::is_directory(src)) << src;
    std::vector<std::string> violations;
    for (const auto& entry : fs::recursive_directory_iterator(src)) {
        const std::string ext = entry.path().extension();
        if (!entry.is_regular_file() || (ext != ".h" && ext != ".cpp")) continue;
        const std::string folder = fs::relative(entry.path(), src).begin()->string();
        const auto rule = kMayUse.find(folder);
        if (rule == kMayUse.end()) {
            violations.push_back(entry.path().string() + ": folder has no layering rule");
            continue;
        }
        for (const std::string& include : QuotedIncludes(entry.path())) {
            const auto slash = include.find('/');
            // "name.h" is a sibling in the same folder.
            if (slash == std::string::npos) continue;
            const std::string target = include.substr(0, slash);
            if (target != folder && !rule->second.count(target)) {
                violations.push_back(fs::relative(entry.path(), src).string() + " includes \"" +
                                     include + "\"");
            }
        }
    }
    EXPECT_TRUE(violations.empty()) << [&] {
        std::string text;
        for (const std::string& v : violations) text += v + "\n";
        return text;
    }();
}

}  // namespace
