#include "core/chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace bw {

namespace {

// Dot (dx, dy) of a braille cell, dx in 0..1 and dy in 0..3, as its bit in U+2800 + bits.
constexpr unsigned kDotBit[4][2] = {{0x01, 0x08}, {0x02, 0x10}, {0x04, 0x20}, {0x40, 0x80}};

void appendUtf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Axis labels: the x range shows whole numbers without decimals, the y range always has two;
// huge values take the exponent form.
std::string label(double v, bool wholeAsInteger) {
  char buf[64];
  if (std::fabs(v) >= 1e15)
    std::snprintf(buf, sizeof buf, "%.6g", v);
  else if (wholeAsInteger && v == std::trunc(v))
    std::snprintf(buf, sizeof buf, "%.0f", v);
  else
    std::snprintf(buf, sizeof buf, "%.2f", v);
  return buf;
}

class Canvas {
 public:
  Canvas(size_t cols, size_t rows) : cols_(cols), rows_(rows), cells_(cols * rows, 0) {}
  size_t widthDots() const { return cols_ * 2; }
  size_t heightDots() const { return rows_ * 4; }

  void set(long x, long y) {
    if (x < 0 || y < 0 || static_cast<size_t>(x) >= widthDots() || static_cast<size_t>(y) >= heightDots()) return;
    cells_[(static_cast<size_t>(y) / 4) * cols_ + static_cast<size_t>(x) / 2] |= kDotBit[y % 4][x % 2];
  }
  // Bresenham's line, both ends included.
  void line(long x0, long y0, long x1, long y1) {
    const long dx = std::labs(x1 - x0), sx = x0 < x1 ? 1 : -1;
    const long dy = -std::labs(y1 - y0), sy = y0 < y1 ? 1 : -1;
    long err = dx + dy;
    for (;;) {
      set(x0, y0);
      if (x0 == x1 && y0 == y1) return;
      const long e2 = 2 * err;
      if (e2 >= dy) { err += dy; x0 += sx; }
      if (e2 <= dx) { err += dx; y0 += sy; }
    }
  }
  std::string row(size_t r) const {
    std::string s;
    for (size_t c = 0; c < cols_; ++c) {
      const unsigned bits = cells_[r * cols_ + c];
      if (bits == 0) s += ' ';
      else appendUtf8(s, 0x2800 + bits);
    }
    return s;
  }

 private:
  size_t cols_, rows_;
  std::vector<unsigned char> cells_;
};

}  // namespace

std::string LineChart::render(std::span<const ChartPoint> points) const {
  const size_t cols = std::max<size_t>(1, (widthDots + 1) / 2);
  const size_t rows = std::max<size_t>(1, (heightDots + 3) / 4);
  Canvas canvas(cols, rows);

  bool any = false;
  double yMin = 0, yMax = 0;
  for (const ChartPoint& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
    if (!any) yMin = yMax = p.y;
    yMin = std::min(yMin, p.y);
    yMax = std::max(yMax, p.y);
    any = true;
  }

  const double w = static_cast<double>(canvas.widthDots() - 1);
  const double h = static_cast<double>(canvas.heightDots() - 1);
  const bool xFlat = !(xMax > xMin) || !std::isfinite(xMax - xMin);
  const bool yFlat = !(yMax > yMin) || !std::isfinite(yMax - yMin);
  // Dot coordinates, clamped to the canvas; a flat range puts everything on the middle line.
  auto dotX = [&](double x) -> long {
    const double f = xFlat ? 0.5 : (x - xMin) / (xMax - xMin);
    return std::lround(std::clamp(f, 0.0, 1.0) * w);
  };
  auto dotY = [&](double y) -> long {
    const double f = yFlat ? 0.5 : (yMax - y) / (yMax - yMin);
    return std::lround(std::clamp(f, 0.0, 1.0) * h);
  };

  bool havePrev = false;
  long px = 0, py = 0;
  for (const ChartPoint& p : points) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) {
      havePrev = false;
      continue;
    }
    const long x = dotX(p.x), y = dotY(p.y);
    if (havePrev) canvas.line(px, py, x, y);
    else canvas.set(x, y);
    px = x;
    py = y;
    havePrev = true;
  }

  std::string horiz;
  for (size_t c = 0; c < cols; ++c) horiz += "─";
  std::vector<std::string> lines;
  lines.push_back("┌" + horiz + "┐");
  for (size_t r = 0; r < rows; ++r) {
    std::string body = canvas.row(r);
    if (!any && r == rows / 2) {
      const std::string note = "no data";
      if (note.size() <= cols) {
        const size_t left = (cols - note.size()) / 2;
        body = std::string(left, ' ') + note + std::string(cols - left - note.size(), ' ');
      }
    }
    std::string line = "│" + body + "│";
    if (any && r == 0) line += " " + label(yMax, false);
    else if (any && r + 1 == rows) line += " " + label(yMin, false);
    lines.push_back(std::move(line));
  }
  lines.push_back("└" + horiz + "┘");
  // The x range under the first and last canvas columns (column 0 of the line is the frame).
  const std::string lo = label(xMin, true), hi = label(xMax, true);
  std::string xs = " " + lo;
  const size_t end = cols + 1;  // one past the last canvas column
  if (xs.size() + 1 + hi.size() <= end) xs += std::string(end - xs.size() - hi.size(), ' ');
  else xs += ' ';
  xs += hi;
  lines.push_back(std::move(xs));

  std::string out;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (i) out += '\n';
    out += lines[i];
  }
  return out;
}

std::string renderSeriesChart(std::span<const double> values, size_t widthDots, size_t heightDots) {
  std::vector<ChartPoint> pts;
  pts.reserve(values.size());
  for (size_t i = 0; i < values.size(); ++i) pts.push_back({static_cast<double>(i + 1), values[i]});
  LineChart chart{widthDots, heightDots, 1.0, static_cast<double>(values.size())};
  return chart.render(pts);
}

}  // namespace bw
