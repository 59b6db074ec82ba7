#include <gtest/gtest.h>

#include "app/platform/linux/DottedVersion.h"

namespace tw {
namespace {

DottedVersion v(const char* text) { return DottedVersion::parse(text).value(); }

TEST(DottedVersionTest, ReadsDotSeparatedNumbersOnly) {
    for (const char* text : {"1", "0.1.0", "10.20.30.40", "007.1"}) {
        EXPECT_TRUE(DottedVersion::parse(text)) << text;
    }
    for (const char* text : {"", ".", "1.", ".1", "1..2", "v1.2", "1.2-beta", "1.2b", " 1.2",
                             "1.2 ", "1,2", "-1", "+1", "1.2.x"}) {
        EXPECT_FALSE(DottedVersion::parse(text)) << '"' << text << '"';
    }
}

TEST(DottedVersionTest, ComparesNumberByNumberNotAsText) {
    EXPECT_GT(v("1.10"), v("1.9"));
    EXPECT_GT(v("2"), v("1.99.99"));
    EXPECT_LT(v("0.1.0"), v("0.2.0"));
    EXPECT_LT(v("1.2.3"), v("1.2.4"));
}

TEST(DottedVersionTest, MissingNumbersAndLeadingZerosCountAsZero) {
    EXPECT_EQ(v("1.2"), v("1.2.0"));
    EXPECT_EQ(v("1.2.0.0"), v("1.2"));
    EXPECT_EQ(v("01.002"), v("1.2"));
    EXPECT_EQ(v("0"), v("0.0"));
    EXPECT_LT(v("1.2"), v("1.2.0.1"));
}

TEST(DottedVersionTest, NumbersLongerThanAnyIntegerCompareCorrectly) {
    EXPECT_GT(v("1.100000000000000000000000000001"), v("1.99999999999999999999999999999"));
    EXPECT_EQ(v("1.000000000000000000000000000000042"), v("1.42"));
}

}  // namespace
}  // namespace tw
