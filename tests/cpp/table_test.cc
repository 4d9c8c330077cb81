#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "core/table.h"

namespace {

using bw::Cell;
using bw::Color;
using bw::Table;
using bw::TableLayout;
using bw::TableStyle;

std::vector<std::string> linesOf(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

std::string stripEscapes(const std::string& s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '\x1b') {
      while (i < s.size() && s[i] != 'm') ++i;
      continue;
    }
    out += s[i];
  }
  return out;
}

Table ascii() { return Table(*TableStyle::parse(bw::kAsciiGrid)); }
Table box() { return Table(*TableStyle::parse(bw::kBoxGrid)); }

TEST(DisplayWidth, CountsColumnsAsATerminalShowsThem) {
  struct Case {
    const char* text;
    size_t width;
  } cases[] = {
      {"", 0},          {"abc", 3},
      {"┆╌┼═", 4},      {"⠁⣿⢀", 3},           // box-drawing and braille: one column each
      {"日本", 4},      {"e\u0301", 1},       // wide characters; a combining mark
      {"\xff" "a", 2},  {"\xe2\x94", 2},      // malformed bytes count one each
  };
  for (const auto& c : cases) EXPECT_EQ(bw::displayWidth(c.text), c.width) << c.text;
}

TEST(TableStyle, IsNineteenOneColumnCharacters) {
  EXPECT_TRUE(TableStyle::parse(bw::kAsciiGrid).ok());
  EXPECT_TRUE(TableStyle::parse(bw::kBoxGrid).ok());
  EXPECT_FALSE(TableStyle::parse("||--+==+|-+||+++++").ok());    // 18
  EXPECT_FALSE(TableStyle::parse("||--+==+|-+||+++++++").ok());  // 20
  EXPECT_FALSE(TableStyle::parse("||--+==+|-+||+++++日").ok());  // a wide character
}

TEST(Table, AsciiGridDrawsEveryLineWithOneSpaceOfPadding) {
  auto t = ascii();
  t.header({"Metric", "Value"}).row({"Net Profit", "150.00 USD\n15.00%"}).row({"Trades", "3"});
  EXPECT_EQ(t.render(),
            "+------------+------------+\n"
            "| Metric     | Value      |\n"
            "+=========================+\n"
            "| Net Profit | 150.00 USD |\n"
            "|            | 15.00%     |\n"
            "|------------+------------|\n"
            "| Trades     | 3          |\n"
            "+------------+------------+");
}

TEST(Table, BoxGridCountsBoxAndBrailleCharactersAsOneColumn) {
  auto t = box();
  t.header({"A", "B"}).row({"┆⠿", "x"}).row({"y", "z"});
  EXPECT_EQ(t.render(),
            "┌────┬───┐\n"
            "│ A  ┆ B │\n"
            "╞════╪═══╡\n"
            "│ ┆⠿ ┆ x │\n"
            "├╌╌╌╌┼╌╌╌┤\n"
            "│ y  ┆ z │\n"
            "└────┴───┘");
}

TEST(Table, ShortRowsArePaddedAndAnEmptyTableIsNothing) {
  EXPECT_EQ(ascii().render(), "");
  auto t = ascii();
  t.row({"a", "b"}).row({"c"});
  EXPECT_EQ(t.render(),
            "+---+---+\n"
            "| a | b |\n"
            "|---+---|\n"
            "| c |   |\n"
            "+---+---+");
}

TEST(Table, StretchesToTheFullWidth) {
  auto t = box();
  t.header({"Net Profit", "Avg Trade"}).row({"150.00 USD 15.00%", "50.00 USD"});
  for (size_t width : {40u, 41u, 80u, 200u}) {
    for (const std::string& line : linesOf(t.render({false, width})))
      EXPECT_EQ(bw::displayWidth(line), width) << line;
  }
}

TEST(Table, WrapsToANarrowWidthWithoutLosingText) {
  auto t = ascii();
  t.header({"Metric", "Value"}).row({"Ratio Avg Win / Avg Loss", "2.00"});
  const auto lines = linesOf(t.render({false, 20}));
  std::string cells;
  for (const std::string& line : lines) {
    EXPECT_EQ(bw::displayWidth(line), 20u) << line;
    cells += line;
  }
  for (const char* word : {"Ratio", "Avg", "Win", "/", "Loss", "2.00", "Metric", "Value"})
    EXPECT_NE(cells.find(word), std::string::npos) << word;
  // A width below what borders and padding need still renders, one column of content each.
  EXPECT_FALSE(t.render({false, 3}).empty());
}

TEST(Table, BoldAndColoursOnlyWhenAskedFor) {
  auto t = box();
  t.header({Cell("Net Profit", true)}).row({Cell("-5.00 USD", true, Color::Red)});
  const std::string plain = t.render({false, std::nullopt});
  const std::string styled = t.render({true, std::nullopt});
  EXPECT_EQ(plain.find('\x1b'), std::string::npos);
  EXPECT_NE(styled.find("\x1b[1m\x1b[31m-5.00 USD\x1b[0m"), std::string::npos);
  EXPECT_NE(styled.find("\x1b[1mNet Profit\x1b[0m"), std::string::npos);
  EXPECT_EQ(stripEscapes(styled), plain);
}

}  // namespace

TEST(TableWidth, LeadBytesBeyondF4AreInvalidOneColumnEach) {
  EXPECT_EQ(bw::displayWidth("\xF5\x80\x80"), 3u);
  EXPECT_EQ(bw::displayWidth("\xFF"), 1u);
  EXPECT_EQ(bw::displayWidth("\xE5\x80\x80"), 2u);  // U+5000, a wide character
}
