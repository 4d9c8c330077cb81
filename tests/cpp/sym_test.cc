#include <gtest/gtest.h>

#include <cmath>

#include "core/sym.h"

namespace {

TEST(Sizing, ContractRoundingNudgesExactHalvesUp) {
  EXPECT_EQ(bw::roundContracts(0.5, 1, 1), 1.0);
  const double negHalf = bw::roundContracts(-0.5, 1, 1);
  EXPECT_EQ(negHalf, 0.0);
  EXPECT_TRUE(std::signbit(negHalf));
  EXPECT_EQ(bw::roundContracts(2.5, 1, 1), 3.0);
  // At large magnitudes the nudge is lost in the spacing and halves round away from zero.
  EXPECT_EQ(bw::roundContracts(-4503599627370495.5, 1, 1), -4503599627370496.0);
}

TEST(Sym, QuantityScaleGuard) {
  EXPECT_EQ(*bw::Sym::btcUsd().qtyScale(), 1000000.0);
  EXPECT_EQ(*bw::qtyScaleOf(0.4), 3.0);
  for (double bad : {0.0, -0.0, -1.0, std::nan("")}) {
    auto r = bw::qtyScaleOf(bad);
    ASSERT_FALSE(r.ok());
    EXPECT_EQ(r.error().reason, "min_qty must be greater than 0.0");
  }
}

TEST(Sym, DisplayEscapesTexts) {
  EXPECT_EQ(bw::displayOptionalText(std::nullopt), "None");
  EXPECT_EQ(bw::displayOptionalText(std::string("a\"\\\n\x1b\x7f") + '\0'), "Some(\"a\\\"\\\\\\n\\u{1b}\\u{7f}\\0\")");
  EXPECT_EQ(bw::displayOptionalText(std::string("\xc2\x9f\xc2\xa0")), "Some(\"\\u{9f}\xc2\xa0\")");
  EXPECT_EQ(bw::SymKind::fromString("Crypto").display(), "Other(\"Crypto\")");
}

}  // namespace
