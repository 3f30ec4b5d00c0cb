// Copying the rest of a stream: the kernel copy and the block copy give the same bytes and
// leave both streams where the copy ended.

#include "store/store_files.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "util/tempdir.h"

namespace kelvra::store {
namespace {

std::string Rest(std::FILE* file) {
    std::string out;
    char block[256];
    std::size_t n;
    while ((n = std::fread(block, 1, sizeof block, file)) > 0) out.append(block, n);
    return out;
}

FilePtr Open(const std::string& path, const char* mode) {
    return FilePtr(std::fopen(path.c_str(), mode));
}

class CopyRestTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.ok());
        for (int i = 0; i < 5000; ++i) body_ += static_cast<char>('a' + i % 26);
        source_ = Open(dir_.Path("source"), "w+b");
        ASSERT_TRUE(source_);
        // Written through the stream's buffer and not flushed: the copy must see it all.
        std::fputs("HEADER\r\n\r\n", source_.get());
        std::fwrite(body_.data(), 1, body_.size(), source_.get());
        ASSERT_EQ(::fseeko(source_.get(), 10, SEEK_SET), 0);
    }
    std::string Stored(const std::string& name) {
        FilePtr in = Open(dir_.Path(name), "rb");
        return in ? Rest(in.get()) : "<missing>";
    }
    testing::TempDir dir_;
    std::string body_;
    FilePtr source_;
};

TEST_F(CopyRestTest, CopiesFromThePositionToTheEndAndLeavesBothStreamsThere) {
    FilePtr out = Open(dir_.Path("out"), "wb");
    std::fputs("kept:", out.get());
    EXPECT_EQ(CopyRest(source_.get(), out.get(), 64), static_cast<std::int64_t>(body_.size()));
    EXPECT_EQ(::ftello(source_.get()), static_cast<off_t>(10 + body_.size()));
    std::fputs(":after", out.get());
    EXPECT_TRUE(CloseChecked(out));
    EXPECT_EQ(Stored("out"), "kept:" + body_ + ":after");
    EXPECT_EQ(Rest(source_.get()), "");
}

// A stream read through its buffer holds bytes its descriptor has passed: the copy starts at
// the stream's position, not the descriptor's.
TEST_F(CopyRestTest, PartlyReadSourceIsCopiedFromItsReadPosition) {
    char head[100];
    ASSERT_EQ(std::fread(head, 1, sizeof head, source_.get()), sizeof head);
    FilePtr out = Open(dir_.Path("out"), "wb");
    EXPECT_EQ(CopyRest(source_.get(), out.get(), 64),
              static_cast<std::int64_t>(body_.size() - 100));
    EXPECT_EQ(::ftello(out.get()), static_cast<off_t>(body_.size() - 100));
    EXPECT_TRUE(CloseChecked(out));
    EXPECT_EQ(Stored("out"), body_.substr(100));
}

// The sizes are asked of the file: bytes still in a stream's buffer count, and a partly read
// stream goes on where it was.
TEST_F(CopyRestTest, SizesCountBufferedBytesAndKeepTheReadPosition) {
    FilePtr fresh = Open(dir_.Path("fresh"), "w+b");
    std::fwrite("0123456789", 1, 10, fresh.get());
    EXPECT_EQ(StreamSize(fresh.get()), 10);
    EXPECT_EQ(RemainingBytes(fresh.get()), 0);

    char head[100];
    ASSERT_EQ(std::fread(head, 1, sizeof head, source_.get()), sizeof head);
    EXPECT_EQ(StreamSize(source_.get()), static_cast<std::int64_t>(10 + body_.size()));
    EXPECT_EQ(RemainingBytes(source_.get()), static_cast<std::int64_t>(body_.size() - 100));
    EXPECT_EQ(Rest(source_.get()), body_.substr(100));
}

TEST_F(CopyRestTest, AppendingOutputFallsBackToBlocks) {
    {
        FilePtr first = Open(dir_.Path("log"), "wb");
        std::fputs("old|", first.get());
    }
    FilePtr out = Open(dir_.Path("log"), "ab");
    EXPECT_EQ(CopyRest(source_.get(), out.get(), 64), static_cast<std::int64_t>(body_.size()));
    EXPECT_TRUE(CloseChecked(out));
    EXPECT_EQ(Stored("log"), "old|" + body_);
}

// A known length ends the copy there, in the kernel's copy and in the block copy alike.
TEST_F(CopyRestTest, GivenLengthEndsTheCopy) {
    for (const char* mode : {"wb", "ab"}) {
        SCOPED_TRACE(mode);
        ASSERT_EQ(::fseeko(source_.get(), 10, SEEK_SET), 0);
        const std::string name = std::string("part-") + mode[0];
        FilePtr out = Open(dir_.Path(name), mode);
        EXPECT_EQ(CopyRest(source_.get(), out.get(), 64, {}, 1000), 1000);
        EXPECT_EQ(::ftello(source_.get()), 1010);
        EXPECT_TRUE(CloseChecked(out));
        EXPECT_EQ(Stored(name), body_.substr(0, 1000));
    }
}

TEST_F(CopyRestTest, PipeInputFallsBackToBlocks) {
    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    ASSERT_EQ(::write(ends[1], "piped bytes", 11), 11);
    ::close(ends[1]);
    FilePtr in(::fdopen(ends[0], "rb"));
    FilePtr out = Open(dir_.Path("out"), "wb");
    EXPECT_EQ(CopyRest(in.get(), out.get(), 4), 11);
    EXPECT_TRUE(CloseChecked(out));
    EXPECT_EQ(Stored("out"), "piped bytes");
}

}  // namespace
}  // namespace kelvra::store
