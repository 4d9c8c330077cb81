#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "core/chart.h"
#include "core/table.h"

namespace {

std::vector<std::string> linesOf(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

// The canvas characters of a framed row, frame removed.
std::vector<char32_t> cellsOf(const std::string& line) {
  std::vector<char32_t> out;
  for (size_t i = 0; i < line.size();) {
    const auto b = static_cast<unsigned char>(line[i]);
    if (b < 0x80) { out.push_back(b); ++i; continue; }
    char32_t cp = (b & 0x0F);
    cp = (cp << 6) | (line[i + 1] & 0x3F);
    cp = (cp << 6) | (line[i + 2] & 0x3F);
    out.push_back(cp);
    i += 3;
  }
  // Drop the frame characters and whatever follows the right one.
  std::vector<char32_t> cells(out.begin() + 1, out.begin() + 61);
  return cells;
}

std::string repeat(const char* piece, int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += piece;
  return s;
}

unsigned dots(char32_t c) { return c == U' ' ? 0 : static_cast<unsigned>(c - 0x2800); }

TEST(Chart, SixtyColumnsByFifteenRowsInAFrameWithRanges) {
  const std::vector<double> equity{1000, 1100, 1050, 1200};
  const auto lines = linesOf(bw::renderSeriesChart(equity));
  ASSERT_EQ(lines.size(), 18u);  // frame, 15 canvas rows, frame, x range
  EXPECT_EQ(lines[0], "┌" + repeat("─", 60) + "┐");
  EXPECT_EQ(lines[16], "└" + repeat("─", 60) + "┘");
  for (size_t r = 1; r <= 15; ++r) {
    EXPECT_EQ(lines[r].rfind("│", 0), 0u);
    EXPECT_GE(bw::displayWidth(lines[r]), 62u);
  }
  EXPECT_TRUE(lines[1].ends_with("│ 1200.00"));
  EXPECT_TRUE(lines[15].ends_with("│ 1000.00"));
  EXPECT_EQ(lines[17].find(" 1 "), 0u);
  EXPECT_TRUE(lines[17].ends_with(" 4"));
  EXPECT_EQ(bw::displayWidth(lines[17]), 61u);  // the x range ends under the last column
}

TEST(Chart, JoinsPointsCornerToCorner) {
  // A straight rise from the bottom-left dot to the top-right dot lights every column.
  const std::vector<double> ys{0, 1};
  const auto lines = linesOf(bw::renderSeriesChart(ys));
  const auto top = cellsOf(lines[1]);
  const auto bottom = cellsOf(lines[15]);
  EXPECT_TRUE(dots(top[59]) & 0x08);     // top-right dot: right column, first row
  EXPECT_TRUE(dots(bottom[0]) & 0x40);   // bottom-left dot: left column, fourth row
  for (size_t r = 1; r <= 15; ++r) {
    size_t lit = 0;
    for (char32_t c : cellsOf(lines[r])) lit += dots(c) != 0;
    EXPECT_GE(lit, 1u) << "row " << r;
  }
}

TEST(Chart, DegenerateInputsStillDraw) {
  const double nan = std::nan("");
  const std::vector<std::vector<double>> inputs{{}, {5}, {3, 3, 3}, {nan, nan}, {1, nan, 2}, {1, INFINITY, 2}};
  for (const auto& in : inputs) {
    const auto lines = linesOf(bw::renderSeriesChart(in));
    ASSERT_EQ(lines.size(), 18u);
    for (size_t r = 1; r <= 15; ++r) EXPECT_EQ(cellsOf(lines[r]).size(), 60u);
  }
  const std::string empty = bw::renderSeriesChart(std::vector<double>{});
  EXPECT_NE(empty.find("no data"), std::string::npos);
  // A flat series lies on the middle row.
  const auto flat = linesOf(bw::renderSeriesChart(std::vector<double>{3, 3, 3}));
  size_t lit = 0;
  for (char32_t c : cellsOf(flat[8])) lit += dots(c) != 0;
  EXPECT_EQ(lit, 60u);
}

TEST(Chart, AGapBreaksTheLine) {
  // Two low points around a missing one: nothing is drawn up in the middle of the canvas.
  const std::vector<double> ys{0, std::nan(""), 0, 1};
  const auto lines = linesOf(bw::renderSeriesChart(ys));
  const auto bottom = cellsOf(lines[15]);
  EXPECT_NE(dots(bottom[0]), 0u);
  EXPECT_EQ(dots(bottom[20]), 0u);  // x = 2 would sit near column 20
  EXPECT_NE(dots(bottom[40]), 0u);
}

}  // namespace
