// A small braille line chart for terminals. The canvas is `widthDots` × `heightDots` dots; each
// braille character holds 2 × 4 dots. Points are joined by straight segments; the x range is
// given, the y range follows the finite data. The canvas sits in a frame with the y range at the
// right of its top and bottom rows and the x range under its first and last columns:
//
//   ┌──────────┐
//   │⠀⠀⠀⠀⢀⠤⠒⠉│ 1150.00
//   │⣀⠤⠒⠉⠀⠀⠀⠀│ 1000.00
//   └──────────┘
//    1       250
//
// A point whose x or y is not finite leaves a gap in the line. With no finite point the frame
// is drawn around an empty canvas that says "no data".
#pragma once

#include <span>
#include <string>
#include <utility>

namespace bw {

struct ChartPoint {
  double x;
  double y;
};

struct LineChart {
  size_t widthDots = 120;  // rounded up to a whole number of characters
  size_t heightDots = 60;
  double xMin = 0;
  double xMax = 1;

  // The lines of the chart joined by line feeds, without a final one.
  std::string render(std::span<const ChartPoint> points) const;
};

// A chart of a list of values: value i (from 0) at x = i + 1, over the x range 1 .. n.
std::string renderSeriesChart(std::span<const double> values, size_t widthDots = 120, size_t heightDots = 60);

}  // namespace bw
