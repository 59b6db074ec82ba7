#include "base/Utf8.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

TEST(Utf8Test, TrimsUnicodeWhiteSpaceOnlyAndKeepsBytesThatAreNotUtf8) {
    EXPECT_EQ(trimmedWhitespace(" \t\n\v\f\r"), "");
    EXPECT_EQ(trimmedWhitespace("\u3000\u00a0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u0085"), "");
    EXPECT_EQ(trimmedWhitespace("\u3000 端末 \u3000"), "端末");
    // Not white space: the zero-width space, a lone continuation byte, an over-long space, a cut
    // sequence.
    EXPECT_EQ(trimmedWhitespace("\u200b"), "\u200b");
    EXPECT_EQ(trimmedWhitespace("\xa0 x \xa0"), "\xa0 x \xa0");
    EXPECT_EQ(trimmedWhitespace("\xc0\xa0"), "\xc0\xa0");
    EXPECT_EQ(trimmedWhitespace("x \xe3\x80"), "x \xe3\x80");
}

}  // namespace
}  // namespace tw
