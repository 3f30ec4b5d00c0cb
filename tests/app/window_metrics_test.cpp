#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/ini_fixture.h"
#include "app/settings.h"
#include "util/codec.h"

namespace kelvra::app {
namespace {

class WindowMetricsTest : public testing::IniFileTest {};

TEST_F(WindowMetricsTest, MissingKeysGiveTheDefaultGeometry) {
    WindowRect rect{7, 7, 7, 7};
    EXPECT_EQ(RestoreWindowMetrics("Main", false, rect, ini_), 1);
    EXPECT_EQ(rect, (WindowRect{0, 0, 320, 240}));
}

TEST_F(WindowMetricsTest, NormalWindowStoresEverything) {
    ASSERT_TRUE(SaveWindowMetrics("BookMark", false, 1, {10, 20, 300, 400}, ini_));
    WindowRect rect;
    EXPECT_EQ(RestoreWindowMetrics("BookMark", false, rect, ini_), 1);
    EXPECT_EQ(rect, (WindowRect{10, 20, 300, 400}));
    EXPECT_EQ(Value("WindowMetrix", "BookMark.W"), "300");
}

TEST_F(WindowMetricsTest, MaximisedWindowKeepsItsLastNormalRectangle) {
    ASSERT_TRUE(SaveWindowMetrics("Main", false, 1, {5, 6, 700, 500}, ini_));
    ASSERT_TRUE(SaveWindowMetrics("Main", false, 3, {0, 0, 1920, 1080}, ini_));
    WindowRect rect;
    EXPECT_EQ(RestoreWindowMetrics("Main", false, rect, ini_), 3);
    EXPECT_EQ(rect, (WindowRect{5, 6, 700, 500}));
}

TEST_F(WindowMetricsTest, HiddenWindowStoresShowZeroOnly) {
    ASSERT_TRUE(SaveWindowMetrics("BookMark", false, 0, {1, 2, 3, 4}, ini_));
    EXPECT_EQ(Value("WindowMetrix", "BookMark.Show"), "0");
    EXPECT_EQ(Value("WindowMetrix", "BookMark.X"), "<missing>");
}

TEST_F(WindowMetricsTest, PositionOnlyWindowsKeepTheirSize) {
    ASSERT_TRUE(SaveWindowMetrics("GetStatus", true, 1, {40, 50, 600, 300}, ini_));
    EXPECT_EQ(Value("WindowMetrix", "GetStatus.Show"), "<missing>");
    EXPECT_EQ(Value("WindowMetrix", "GetStatus.W"), "<missing>");
    WindowRect rect{0, 0, 111, 222};
    EXPECT_EQ(RestoreWindowMetrics("GetStatus", true, rect, ini_), 1);
    EXPECT_EQ(rect, (WindowRect{40, 50, 111, 222}));
}

TEST_F(WindowMetricsTest, ListColumnWidthsDefaultToBuiltIn) {
    const ListColumnWidths defaults = LoadListColumnWidths(ini_);
    for (int width : defaults) EXPECT_EQ(width, -1);
    ASSERT_TRUE(SaveListColumnWidths({100, -1, 80, 60, 200}, ini_));
    EXPECT_EQ(LoadListColumnWidths(ini_), (ListColumnWidths{100, -1, 80, 60, 200}));
    EXPECT_EQ(Value("WindowMetrix", "LVC.4"), "200");
}

std::vector<unsigned char> Record(std::size_t size) {
    std::vector<unsigned char> record(size);
    for (std::size_t i = 0; i < size; ++i) record[i] = static_cast<unsigned char>(i * 37 + 1);
    return record;
}

class FontStoreTest : public testing::IniFileTest {};

TEST_F(FontStoreTest, StoresEightyBase64CharactersAndReadsThemBack) {
    ASSERT_TRUE(StoreFont("BookMark", Record(kFontRecordSize), ini_));
    EXPECT_EQ(Value("Font", "BookMark").size(), 80u);
    const auto font = LoadFont("BookMark", ini_);
    ASSERT_TRUE(font);
    EXPECT_EQ(*font, Record(kFontRecordSize));
}

TEST_F(FontStoreTest, FailsWhenMissingOrNotDecodable) {
    EXPECT_FALSE(LoadFont("BookMark", ini_)) << "missing key";
    WriteIni("[Font]\nBookMark=not*base64!\n");
    EXPECT_FALSE(LoadFont("BookMark", ini_)) << "outside the alphabet";
    const std::string short_record = util::Base64Encode(std::string(30, 'x'));
    WriteIni("[Font]\nBookMark=" + short_record + "\n");
    EXPECT_FALSE(LoadFont("BookMark", ini_)) << "fewer bytes than a record";
}

TEST_F(FontStoreTest, TakesTheFirstSixtyBytesOfALongerText) {
    const std::vector<unsigned char> longer = Record(90);
    const std::string text = util::Base64Encode(
        std::string_view(reinterpret_cast<const char*>(longer.data()), longer.size()));
    WriteIni("[Font]\nBookMark=" + text + "\n");
    const auto font = LoadFont("BookMark", ini_);
    ASSERT_TRUE(font);
    EXPECT_EQ(*font, Record(kFontRecordSize));
}

TEST_F(FontStoreTest, RefusesARecordOfTheWrongSize) {
    EXPECT_FALSE(StoreFont("BookMark", Record(59), ini_));
    EXPECT_EQ(Value("Font", "BookMark"), "<missing>");
}

}  // namespace
}  // namespace kelvra::app
