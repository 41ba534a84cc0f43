#include "base/constant_text.h"

#include <gtest/gtest.h>

#include <string>

namespace pelno::constant_text {
namespace {

TEST(ConstantTextTest, JoinsWidensAndWritesNumbersWithOneEndingZero) {
  constexpr auto joined = Join(Join("127.0.0.1:", Decimal<17891>()), "!");
  static_assert(joined.size() == 17);
  EXPECT_EQ(std::string(joined.data()), "127.0.0.1:17891!");
  EXPECT_EQ(std::string(Decimal<0>().data()), "0");
  EXPECT_EQ(std::string(Decimal<100>().data()), "100");
  EXPECT_EQ(std::wstring(Widen(Join(Of("Pelno"), ".exe")).data()), L"Pelno.exe");
}

}  // namespace
}  // namespace pelno::constant_text
