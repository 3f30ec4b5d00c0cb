#include "util/freadchar.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/ownedfile.h"

namespace kelvra::util {
namespace {

// An anonymous temporary file holding text, positioned at its start.
platform::FilePtr FileWith(const std::string& text) {
    platform::FilePtr file(std::tmpfile());
    if (file) {
        std::fwrite(text.data(), 1, text.size(), file.get());
        std::rewind(file.get());
    }
    return file;
}

std::string Drain(FReadChar& reader) {
    std::string out;
    unsigned char c;
    while (reader.GetByte(c)) out += static_cast<char>(c);
    return out;
}

TEST(FReadChar, GetByteAcrossRefills) {
    const std::string text = "0123456789abcdefghij";  // 20 bytes
    for (std::size_t buffer : {1u, 3u, 4u, 7u, 20u, 64u}) {
        auto file = FileWith(text);
        ASSERT_TRUE(file);
        FReadChar reader(file.get(), buffer);
        EXPECT_EQ(Drain(reader), text) << "buffer " << buffer;
        EXPECT_EQ(reader.Count(), 20) << "buffer " << buffer;
        unsigned char c;
        EXPECT_FALSE(reader.GetByte(c)) << "stays at the end";
    }
}

TEST(FReadChar, ReadCopiesAcrossRefills) {
    auto file = FileWith("abcdefghijklmnopqrstuvwxyz");
    ASSERT_TRUE(file);
    FReadChar reader(file.get(), 4);
    unsigned char first;
    ASSERT_TRUE(reader.GetByte(first));
    char block[10];
    ASSERT_EQ(reader.Read(block, sizeof block), 10u);
    EXPECT_EQ(std::string(block, 10), "bcdefghijk");
    EXPECT_EQ(reader.Count(), 11);
    char rest[40];
    // Only 15 bytes are left.
    EXPECT_EQ(reader.Read(rest, sizeof rest), 15u);
    EXPECT_EQ(std::string(rest, 15), "lmnopqrstuvwxyz");
    EXPECT_EQ(reader.Count(), 26);
    EXPECT_EQ(reader.Read(rest, sizeof rest), 0u);
}

TEST(FReadChar, SeekRepositionsAndCounts) {
    auto file = FileWith("abcdefghijklmnopqrstuvwxyz");
    ASSERT_TRUE(file);
    FReadChar reader(file.get(), 5);
    ASSERT_EQ(Drain(reader).size(), 26u);
    // A seek after the end clears the end state.
    ASSERT_TRUE(reader.Seek(20));
    EXPECT_EQ(reader.Count(), 20);
    EXPECT_EQ(Drain(reader), "uvwxyz");
    ASSERT_TRUE(reader.Seek(0));
    unsigned char c;
    ASSERT_TRUE(reader.GetByte(c));
    EXPECT_EQ(c, 'a');
    EXPECT_FALSE(reader.Seek(-1));
}

TEST(FReadChar, EmptyFileAndMissingFile) {
    auto file = FileWith("");
    ASSERT_TRUE(file);
    FReadChar reader(file.get(), 8);
    unsigned char c;
    EXPECT_FALSE(reader.GetByte(c));
    EXPECT_EQ(reader.Count(), 0);
    FReadChar none(nullptr, 8);
    EXPECT_FALSE(none.GetByte(c));
    EXPECT_FALSE(none.Seek(0));
}

TEST(FReadChar, ShortReadMeansTheEnd) {
    auto file = FileWith("abc");
    ASSERT_TRUE(file);
    FReadChar reader(file.get(), 8);
    EXPECT_EQ(Drain(reader), "abc");
    // Bytes appended after the short read are not picked up without a seek.
    std::fseek(file.get(), 0, SEEK_END);
    std::fputs("def", file.get());
    std::fflush(file.get());
    EXPECT_FALSE(reader.Refill());
    ASSERT_TRUE(reader.Seek(3));
    EXPECT_EQ(Drain(reader), "def");
}

}  // namespace
}  // namespace kelvra::util
