#include <gtest/gtest.h>

#include <cstdint>
#include <functional>

#include "store/condition.h"
#include "store/fetchjob.h"

namespace kelvra::store {
namespace {

TEST(ConditionDefaults, RecordStartsAsTheTableSays) {
    AcquisitionCondition c;
    EXPECT_TRUE(c.filters.empty());
    EXPECT_TRUE(c.extra_header.empty());
    EXPECT_TRUE(c.enable_filter);
    EXPECT_TRUE(c.authentication);
    EXPECT_TRUE(c.form_tag);
    EXPECT_TRUE(c.modify_check);
    EXPECT_EQ(c.trace_moved, 1);
    EXPECT_EQ(c.src_object, 1);
    EXPECT_EQ(c.reget_level, 1);
    EXPECT_EQ(c.classes, 0);
    EXPECT_EQ(c.accept.Count(), 0u);
}

TEST(ConditionDefaults, DefaultFilterTextIsExact) {
    EXPECT_EQ(kDefaultFilterText,
              "0:.(arc|gz|exe|lzh|zip|zoo|hqx|cab)$ .z$ \n0:.(aif|au$|ra|wav|mp|mov|avi$|pdf$) "
              "\n#0:.(mid|jp[eg]|gif$|bmp$|[px]bm$)");
}

struct FlagCase {
    const char* what;
    std::function<void(AcquisitionCondition&)> set;
    std::uint32_t flags;
};

// Each row starts from a record with every option off and sets one.
class ConditionFlagBits : public ::testing::TestWithParam<FlagCase> {};

void AllOff(AcquisitionCondition& c) {
    c.enable_filter = c.authentication = c.form_tag = c.modify_check = false;
    c.trace_moved = c.src_object = 0;
    c.reget_level = 0;
}

TEST_P(ConditionFlagBits, OneOption) {
    AcquisitionCondition c;
    AllOff(c);
    ASSERT_EQ(ConditionFlags(c), 0u);
    GetParam().set(c);
    EXPECT_EQ(ConditionFlags(c), GetParam().flags) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(
    Table, ConditionFlagBits,
    ::testing::Values(
        FlagCase{"RegetLevel 3", [](auto& c) { c.reget_level = 3; }, 0x3},
        FlagCase{"SendCookie", [](auto& c) { c.send_cookie = true; }, 0x4},
        FlagCase{"RelativeLink", [](auto& c) { c.relative_link = true; }, 0x8},
        FlagCase{"GetAll on", [](auto& c) { c.get_all = 1; }, 0x10},
        FlagCase{"GetAll undetermined", [](auto& c) { c.get_all = 2; }, 0x10000},
        FlagCase{"SaveErrorPage", [](auto& c) { c.save_error_page = true; }, 0x20},
        FlagCase{"Authentication", [](auto& c) { c.authentication = true; }, 0x40},
        FlagCase{"TraceMoved on", [](auto& c) { c.trace_moved = 2; }, 0x80},
        FlagCase{"TraceMoved undetermined", [](auto& c) { c.trace_moved = 1; }, 0x8000},
        FlagCase{"SRCobject undetermined", [](auto& c) { c.src_object = 1; }, 0x100},
        FlagCase{"SRCobject on", [](auto& c) { c.src_object = 2; }, 0x4100},
        FlagCase{"FormTag", [](auto& c) { c.form_tag = true; }, 0x200},
        FlagCase{"FTPAll", [](auto& c) { c.ftp_all = true; }, 0x400},
        FlagCase{"NoCache", [](auto& c) { c.no_cache = true; }, 0x800},
        FlagCase{"StrictModifyCheck", [](auto& c) { c.strict_modify_check = true; }, 0x1000},
        FlagCase{"ModifyCheck", [](auto& c) { c.modify_check = true; }, 0x2000},
        FlagCase{"PreserveOldData", [](auto& c) { c.preserve_old_data = true; }, 0x20000},
        FlagCase{"EnableFilter has no bit", [](auto& c) { c.enable_filter = true; }, 0x0}));

TEST(ConditionFlagBitsDefaults, DefaultRecord) {
    AcquisitionCondition c;
    // RegetLevel 1, Authentication, TraceMoved 1, SRCobject 1, FormTag, ModifyCheck.
    EXPECT_EQ(ConditionFlags(c), 0x1u | 0x40 | 0x8000 | 0x100 | 0x200 | 0x2000);
}

}  // namespace
}  // namespace kelvra::store
