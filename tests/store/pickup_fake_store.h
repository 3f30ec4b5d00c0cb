#pragma once
// A header-information store stand-in for link extraction tests: records in a temporary
// directory, each with its local file, content type and record lines.

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

#include "store/pickuplink.h"
#include "store/treelistmanager.h"

namespace kelvra::store {

class FakeStore final : public StoredObjects {
  public:
    FakeStore() {
        char tmpl[] = "/tmp/kelvra-pickup-XXXXXX";
        dir_ = mkdtemp(tmpl) ? tmpl : "";
    }
    ~FakeStore() override {
        if (!dir_.empty()) std::filesystem::remove_all(dir_);
    }

    struct Record {
        std::string path;
        std::optional<std::string> type;
        std::map<std::string, std::string> fields;
    };

    // Adds a record; body nullptr means the local file does not exist.
    const treelistnode* Add(const std::string& url, std::optional<std::string> type,
                            const char* body, std::map<std::string, std::string> fields = {}) {
        const treelistnode* node = tree_.InsertPath(url);
        Record& r = records_[node];
        r.path = dir_ + "/f" + std::to_string(records_.size());
        r.type = std::move(type);
        r.fields = std::move(fields);
        if (body) std::ofstream(r.path, std::ios::binary) << body;
        return node;
    }

    const treelistnode* FindRecord(std::string_view url) override {
        const treelistnode* node = tree_.FindPath(url);
        return records_.count(node) ? node : nullptr;
    }
    std::string LocalPath(const treelistnode* record) override { return records_.at(record).path; }
    std::optional<std::string> ContentType(const treelistnode* record) override {
        return records_.at(record).type;
    }
    std::optional<std::string> Field(const treelistnode* record, std::string_view key) override {
        const auto& fields = records_.at(record).fields;
        auto it = fields.find(std::string(key));
        if (it == fields.end()) return std::nullopt;
        return it->second;
    }
    std::string TypeForExtension(std::string_view url) override {
        return url.size() >= 4 && url.substr(url.size() - 4) == ".css" ? "text/css" : "";
    }

    const std::string& dir() const { return dir_; }

  private:
    std::string dir_;
    treelistmanager tree_{'\x01'};  // whole URLs as single names
    std::map<const treelistnode*, Record> records_;
};

}  // namespace kelvra::store
