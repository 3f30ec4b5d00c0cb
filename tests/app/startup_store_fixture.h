#pragma once
// A data directory in a fresh temporary directory with helpers that write record files
// (kelvra.hif, the journal) byte for byte.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "app/startup.h"
#include "app/startup_scripted_ui.h"
#include "store/headerlistex.h"
#include "store/store_record.h"
#include "util/tempdir.h"

namespace kelvra::testing {

class DataDirectoryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        data_ = dir_.Path() + "/";
    }

    std::unique_ptr<store::headerlistex> NewStore() const {
        return std::make_unique<store::headerlistex>(data_, "index.html", app::kJournalName,
                                                     app::ProgramDirectory("") + "kelvra.mtf");
    }

    void WriteFile(const std::string& name, const std::string& bytes) const {
        std::ofstream(data_ + name, std::ios::binary) << bytes;
    }
    std::string ReadFile(const std::string& name) const {
        std::ifstream in(data_ + name, std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }
    bool Exists(const std::string& name) const { return std::ifstream(data_ + name).good(); }

    // One record of the file format.
    static std::string Record(const std::string& key, const std::string& text, bool valid = true) {
        return store::FormatRecord(key, text, valid);
    }

    // The "LM:" value of a URL's record, or "<none>".
    static std::string LastModified(store::headerlistex& store, const std::string& url) {
        std::string value;
        return store.GetUrlField(url, "LM:", value) ? value : "<none>";
    }

    TempDir dir_;
    std::string data_;
    ScriptedUserInterface ui_;
};

}  // namespace kelvra::testing
