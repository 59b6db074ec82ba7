#include "app/menu/TarnwickIPs.h"

#include <gtest/gtest.h>

namespace tw {
namespace {

TEST(TarnwickIPsTest, TakesTheFirstAddressOfEachFamilyTrimmedOrNothing) {
    EXPECT_EQ(splitIPs(" 100.64.0.1 ,\tfd42::1\t,100.64.0.2,fd42::2"),
              (TarnwickIPs{"100.64.0.1", "fd42::1"}));
    EXPECT_EQ(splitIPs(",,fd42::1,"), (TarnwickIPs{"", "fd42::1"}));
    // An IPv4-mapped IPv6 address has dots too, but its colon makes it IPv6.
    EXPECT_EQ(splitIPs("::ffff:100.64.0.1,100.64.0.1"),
              (TarnwickIPs{"100.64.0.1", "::ffff:100.64.0.1"}));
    EXPECT_EQ(splitIPs(" , ,"), std::nullopt);
    EXPECT_EQ(splitIPs("laptop"), std::nullopt);
}

}  // namespace
}  // namespace tw
