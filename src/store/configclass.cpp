#include "store/configclass.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/ownedfile.h"
#include "platform/rawfile.h"
#include "util/fileutil.h"
#include "util/strutil.h"

namespace kelvra::store {

namespace {

constexpr std::string_view kContinuation = " \\";

using platform::FilePtr;

std::string_view SectionName(std::string_view section) {
    return section.empty() ? GetConditionClass::kDefaultSection : section;
}

std::string PathOf(std::string_view section, std::string_view key) {
    std::string path(section);
    path += '/';
    path += key;
    return path;
}

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

void AppendLimited(std::string& value, std::string_view text, std::size_t limit) {
    if (value.size() < limit) value.append(text.substr(0, limit - value.size()));
}

// The value lines as the writer puts them in the file.
void AppendValueLines(std::string& out, std::string_view value) {
    std::size_t start = 0;
    for (;;) {
        const std::size_t lf = value.find('\n', start);
        if (lf == std::string_view::npos) break;
        std::string line(value.substr(start, lf - start));
        util::TrimRight(line);
        if (!line.empty()) {
            out += line;
            out += " \\\n";
        }
        start = lf + 1;
    }
    const std::string_view last = value.substr(start);
    out += last;
    if (!last.empty() && last.back() == '\\') out += '\\';
    out += '\n';
}

}  // namespace

ConfigClass::ConfigClass() : treelistmanager('/') {}

ConfigClass::~ConfigClass() {
    // Nobody is left to tell of a failure; callers that must know call Save themselves.
    static_cast<void>(Save());
}

bool ConfigClass::Load(const std::string& file_name) {
    file_name_ = file_name;
    ClearBelow(Root());
    dirty_ = false;
    FilePtr file(std::fopen(file_name.c_str(), "rb"));
    if (!file) return false;
    std::string line, section, key, value;
    bool in_section = false;
    bool open_value = false;  // continuation lines follow
    while (util::ReadLine(file.get(), line, kMaxText)) {
        line = std::string(util::Trim(line));
        if (open_value) {
            const bool more = EndsWith(line, kContinuation);
            if (more) line.replace(line.size() - kContinuation.size(), kContinuation.size(), "\n");
            AppendLimited(value, line, kMaxValue);
            if (more) continue;
            open_value = false;
        } else if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = line.substr(1, line.size() - 2);
            in_section = true;
            continue;
        } else {
            const std::size_t eq = line.find('=');
            if (!in_section || eq == std::string::npos) continue;
            key = line.substr(0, eq);
            value.clear();
            std::string first = line.substr(eq + 1);
            if (EndsWith(first, kContinuation)) {
                first.replace(first.size() - kContinuation.size(), kContinuation.size(), "\n");
                AppendLimited(value, first, kMaxValue);
                open_value = true;
                continue;
            }
            AppendLimited(value, first, kMaxValue);
        }
        // The writer doubles a final '\' so that it is not taken for a continuation mark.
        if (EndsWith(value, "\\\\")) value.pop_back();
        if (section.size() + 1 + key.size() > kMaxText) continue;
        if (treelistnode* node = InsertPath(PathOf(section, key), section.size() + 1)) {
            node->value() = NodeValue::Text(value);
        }
    }
    // A value still open at the end of the file is dropped.
    return true;
}

bool ConfigClass::WriteFile() const {
    std::string out;
    std::string written_section;
    bool first = true;
    for (const treelistnode* node : PostOrder(Root())) {
        if (!node->value().IsText()) continue;
        const std::string section = KeyOf(node->parent());
        if (first || section != written_section) {
            out += '[';
            out += section;
            out += "]\n";
            written_section = section;
            first = false;
        }
        out += node->name();
        out += '=';
        AppendValueLines(out, node->value().text());
    }
    return platform::ReplaceFileContents(file_name_, out);
}

bool ConfigClass::Save() {
    if (!dirty_) return true;
    if (file_name_.empty() || !WriteFile()) return false;
    dirty_ = false;
    return true;
}

bool ConfigClass::SectionExists(std::string_view section) const {
    const treelistnode* node = FindPath(section);
    if (!node) return false;
    const treelistnode* child = node->FirstChild();
    return child && child->value().IsText();
}

void ConfigClass::EraseSection(std::string_view section) {
    treelistnode* node = FindPath(section);
    dirty_ = true;
    if (!node) return;
    std::vector<treelistnode*> leaves;
    for (treelistnode* child : node->children()) {
        if (child->IsLeaf()) {
            leaves.push_back(child);
        } else {
            child->value() = NodeValue();
        }
    }
    for (treelistnode* leaf : leaves) RemoveNode(leaf);
}

const char* ConfigClass::GetValue(std::string_view section, std::string_view key) const {
    const treelistnode* node = FindPath(PathOf(section, key), section.size() + 1);
    return node ? node->value().text() : nullptr;
}

void ConfigClass::SetValue(std::string_view section, std::string_view key, std::string_view value) {
    if (treelistnode* node = InsertPath(PathOf(section, key), section.size() + 1)) {
        node->value() = NodeValue::Text(value);
        dirty_ = true;
    }
}

const char* GetConditionClass::Lookup(std::string_view section, std::string_view key) const {
    if (const char* v = GetValue(section, key)) return v;
    return GetValue(kDefaultSection, key);
}

long GetConditionClass::Number(std::string_view section, std::string_view key,
                               long fallback) const {
    const char* v = Lookup(section, key);
    return v ? std::strtol(v, nullptr, 10) : fallback;
}

bool GetConditionClass::ReadCondition(std::string_view section_arg, AcquisitionCondition& r,
                                      bool only_if_present) {
    const std::string_view section = SectionName(section_arg);
    const bool present = SectionExists(section);
    if (!present && only_if_present) return false;
    auto text = [&](std::string_view key, std::string_view fallback, std::size_t buffer) {
        const char* v = Lookup(section, key);
        std::string_view t = v ? std::string_view(v) : fallback;
        return std::string(t.substr(0, buffer - 1));
    };
    auto flag = [&](std::string_view key, bool fallback) {
        return Number(section, key, fallback) != 0;
    };
    auto i16 = [&](std::string_view key, long fallback) {
        return static_cast<std::int16_t>(Number(section, key, fallback));
    };
    auto u8 = [&](std::string_view key, long fallback) {
        return static_cast<std::uint8_t>(Number(section, key, fallback));
    };
    r.filters = text("Filters", kDefaultFilterText, AcquisitionCondition::kFilterBuffer);
    r.extra_header = text("ExtraHeader", "", AcquisitionCondition::kExtraHeaderBuffer);
    r.enable_filter = flag("EnableFilter", true);
    r.complete_trace = i16("CompleteTrace", 0);
    r.no_cache = flag("NoCache", false);
    r.relative_link = flag("RelativeLink", false);
    r.get_all = i16("GetAll", 0);
    r.save_error_page = flag("SaveErrorPage", false);
    r.authentication = flag("Authentication", true);
    r.form_tag = flag("FormTag", true);
    r.ftp_all = flag("FTPAll", false);
    r.modify_check = flag("ModifyCheck", true);
    r.strict_modify_check = flag("StrictModifyCheck", false);
    r.send_cookie = flag("SendCookie", false);
    r.preserve_old_data = flag("PreserveOldData", false);
    r.accept_any_certificate = flag("AcceptAnyCertificate", false);
    r.trace_moved = u8("TraceMoved", 1);
    r.src_object = u8("SRCobject", 1);
    r.reget_level = i16("RegetLevel", 1);
    r.classes = i16("Classes", 0);
    ReadAcceptList(section, r.accept);
    return present;
}

void GetConditionClass::ReadAcceptList(std::string_view section_arg, listmanager& list) const {
    const std::string_view section = SectionName(section_arg);
    list.Clear();
    for (int i = 0;; ++i) {
        const char* v = Lookup(section, "Accept" + std::to_string(i));
        if (!v) break;
        list.Append(v);
    }
}

void GetConditionClass::WriteCondition(std::string_view section_arg,
                                       const AcquisitionCondition& r) {
    const std::string_view section = SectionName(section_arg);
    EraseSection(section);
    SetValue(section, "Filters", util::SkipWhite(r.filters));
    const std::string_view extra = util::SkipWhite(r.extra_header);
    if (!extra.empty()) SetValue(section, "ExtraHeader", extra);
    auto number = [&](std::string_view key, long v) { SetValue(section, key, std::to_string(v)); };
    number("EnableFilter", r.enable_filter);
    number("CompleteTrace", r.complete_trace);
    number("NoCache", r.no_cache);
    number("RelativeLink", r.relative_link);
    number("GetAll", r.get_all);
    number("SaveErrorPage", r.save_error_page);
    number("Authentication", r.authentication);
    number("TraceMoved", r.trace_moved);
    number("SRCobject", r.src_object);
    number("FormTag", r.form_tag);
    number("FTPAll", r.ftp_all);
    number("StrictModifyCheck", r.strict_modify_check);
    number("ModifyCheck", r.modify_check);
    number("RegetLevel", r.reget_level);
    number("Classes", r.classes);
    number("SendCookie", r.send_cookie);
    number("PreserveOldData", r.preserve_old_data);
    // Written only when chosen, so conditions without it stay as they were.
    if (r.accept_any_certificate) number("AcceptAnyCertificate", 1);
    int i = 0;
    for (const std::string& entry : r.accept) {
        SetValue(section, "Accept" + std::to_string(i++), util::SkipWhite(entry));
    }
}

void GetConditionClass::EraseCondition(std::string_view section) {
    EraseSection(SectionName(section));
}

}  // namespace kelvra::store
