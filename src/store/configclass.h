#pragma once
// A tree of "section/key" values kept in a text file (the condition file kelvraw.cf), and the
// acquisition-condition operations over it.
//
// File format: "[section]" lines, then "key=value" lines. A value line ending in " \"
// continues on the next line; a value whose last line ends in '\' gets one more '\' in the
// file, which reading removes again.

#include <string>
#include <string_view>

#include "store/condition.h"
#include "store/treelistmanager.h"

namespace kelvra::store {

class ConfigClass : public treelistmanager {
  public:
    // The reader's limit for a line, a section name and a path.
    static constexpr std::size_t kMaxText = 4095;
    // The limit for a value joined from continuation lines: the longest text the condition
    // dialog lets the user edit (the filter), so that what was saved reads back whole.
    static constexpr std::size_t kMaxValue = 16383;

    ConfigClass();
    // Saves first when something changed.
    ~ConfigClass() override;

    // Replaces the contents with the file's; false (store empty) when it cannot be read.
    [[nodiscard]] bool Load(const std::string& file_name);
    // Rewrites the file when something changed; false when it cannot be written or no file
    // name is known.
    [[nodiscard]] bool Save();
    // The section's node exists and its first child holds a value.
    bool SectionExists(std::string_view section) const;
    // Frees the section's values; keys that have children of their own only lose the value.
    void EraseSection(std::string_view section);

    // The value of section/key, or nullptr.
    const char* GetValue(std::string_view section, std::string_view key) const;
    void SetValue(std::string_view section, std::string_view key, std::string_view value);

    const std::string& file_name() const { return file_name_; }
    bool dirty() const { return dirty_; }

  protected:
    void MarkDirty() { dirty_ = true; }

  private:
    bool WriteFile() const;

    std::string file_name_;
    bool dirty_ = false;
};

class GetConditionClass final : public ConfigClass {
  public:
    // An empty section means "Condition", the default condition.
    static constexpr std::string_view kDefaultSection = "Condition";

    // Fills the record key by key from the section, then from [Condition], then the defaults.
    // With only_if_present and no such section, returns false and leaves the record alone.
    // True when the section existed.
    bool ReadCondition(std::string_view section, AcquisitionCondition& record,
                       bool only_if_present);
    void WriteCondition(std::string_view section, const AcquisitionCondition& record);
    void EraseCondition(std::string_view section);
    // Accept0, Accept1, ... with the same fallback, up to the first number neither section has.
    void ReadAcceptList(std::string_view section, listmanager& list) const;

  private:
    const char* Lookup(std::string_view section, std::string_view key) const;
    long Number(std::string_view section, std::string_view key, long fallback) const;
};

}  // namespace kelvra::store
