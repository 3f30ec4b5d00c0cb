#include "store/pagereader.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/ownedfile.h"

namespace kelvra::store {
namespace {

// Files on both sides of the block size: the last bytes are found, the end is the end, and
// the reader can go back over what it read.
TEST(PageReader, ReadsToTheEndOfAFileOfAnySizeAndBackAgain) {
    for (const std::size_t size :
         {std::size_t{4}, PageReader::kBlock - 1, PageReader::kBlock, PageReader::kBlock + 7,
          2 * PageReader::kBlock}) {
        SCOPED_TRACE(size);
        const std::string text = std::string(size - 3, 'a') + "<b>";
        const platform::FilePtr file(std::tmpfile());
        ASSERT_TRUE(file);
        ASSERT_EQ(std::fwrite(text.data(), 1, text.size(), file.get()), text.size());
        std::fflush(file.get());
        for (const std::uint64_t begin : {std::uint64_t{0}, std::uint64_t{1}}) {
            PageReader page(file.get(), begin, PageReader::kNoEnd);
            ASSERT_TRUE(page.SkipTo('<'));
            EXPECT_EQ(page.Tell(), size - 3);
            EXPECT_EQ(page.Get(), '<');
            EXPECT_EQ(page.Get(), 'b');
            EXPECT_EQ(page.Get(), '>');
            EXPECT_EQ(page.Get(), -1);
            EXPECT_FALSE(page.SkipTo('<'));
            page.Rewind();
            EXPECT_EQ(page.Tell(), begin);
            EXPECT_TRUE(page.SkipTo('<'));
        }
    }
}

}  // namespace
}  // namespace kelvra::store
