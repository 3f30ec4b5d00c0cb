#include <gtest/gtest.h>

#include <string>

#include "store/condition.h"
#include "store/extfilter.h"

namespace kelvra::store {
namespace {

struct ClassCase {
    const char* filter;  // nullptr: the default filter text
    const char* url;     // without scheme, as AdmitUrl passes it
    int klass;
    const char* why;
};

class FilterClass : public ::testing::TestWithParam<ClassCase> {};

TEST_P(FilterClass, ClassOfUrl) {
    const ClassCase& c = GetParam();
    ExtFilterClass filter(c.filter ? std::string_view(c.filter) : kDefaultFilterText);
    EXPECT_EQ(filter.ClassOf(c.url), c.klass) << c.why;
}

INSTANTIATE_TEST_SUITE_P(
    DefaultText, FilterClass,
    ::testing::Values(ClassCase{nullptr, "h/a.zip", 0, "archive refused"},
                      ClassCase{nullptr, "h/a.ZIP", 0, "extension case ignored"},
                      ClassCase{nullptr, "h/a.mpeg", 0, "mp is not anchored at the end"},
                      ClassCase{nullptr, "h/a.gif", 1, "image line is commented out"},
                      ClassCase{nullptr, "h/a.html?x=1.zip", 1, "judged by html, not the query"},
                      ClassCase{nullptr, "h/a.tar.z", 0, "second pattern of the first line"},
                      ClassCase{nullptr, "h/a.zipx", 1, "$ after the group"},
                      ClassCase{nullptr, "h/a.avi", 0, "avi$"},
                      ClassCase{nullptr, "h/a.avix", 1, "avi$ does not match avix"},
                      ClassCase{nullptr, "h/dir/", 1, "no extension"}));

INSTANTIATE_TEST_SUITE_P(
    Lines, FilterClass,
    ::testing::Values(ClassCase{"2: example", "www.example.com/x.html", 2, "forced by a string"},
                      ClassCase{"4: /news/", "h/news/today.html", 4, "old data kept"},
                      ClassCase{"F:.cgi", "h/bin/run.cgi", 15, "hex digit F"},
                      ClassCase{"a = .cgi", "h/run.CGI", 10, "lower-case hex, '=' and blanks"},
                      ClassCase{"0:.$", "h/dir/", 0, ".$ matches URLs without extension"},
                      ClassCase{"0:.$", "h/a.txt", 1, ".$ needs an empty extension"},
                      ClassCase{"0:.gif/images", "h/images/a.gif", 0, "extension and string"},
                      ClassCase{"0:.gif/images", "h/icons/a.gif", 1, "string part missing"},
                      ClassCase{"0:.gif/.images", "h/.images/a.gif", 1,
                                "extension pattern after / never matches"},
                      ClassCase{"0:\\.cgi", "h/xcgi/a", 0,
                                "\\. is an ordinary pattern whose dot is any byte"},
                      ClassCase{"0:!.html", "h/a.gif", 0, "inverted extension"},
                      ClassCase{"0:!.html", "h/a.html", 1, "inverted extension matching"},
                      ClassCase{"#0:.gif", "h/a.gif", 1, "commented line"},
                      ClassCase{"0 .gif", "h/a.gif", 1, "digit without colon"},
                      ClassCase{"x:.gif", "h/a.gif", 1, "not a hex digit"},
                      ClassCase{"#0:.gif\t0:.png", "h/a.png", 0, "skipping stops at a tab"},
                      ClassCase{"0:.gif .png\n3:cgi", "h/run.cgi", 3, "second line"},
                      ClassCase{"3:a\n0:a", "h/a", 3, "first matching entry wins"},
                      ClassCase{"0:[abc", "h/[abc", 1, "unclosed set never matches"},
                      ClassCase{"", "h/a.zip", 1, "empty filter gives 1"}));

TEST(FilterBytes, CompiledForm) {
    ExtFilterClass filter("0:.zip .z \n#1:x\n f=cgi");
    EXPECT_EQ(filter.bytes(), std::string("\x01.zip\0\x01.z\0\x10"
                                          "cgi\0\0",
                                          16));
}

TEST(FilterBytes, EmptyIsOneZero) {
    EXPECT_EQ(ExtFilterClass().bytes(), std::string(1, '\0'));
    EXPECT_TRUE(ExtFilterClass("# nothing").empty());
}

}  // namespace
}  // namespace kelvra::store
