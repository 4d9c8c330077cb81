// A small terminal table renderer: a header row and body rows of multi-line cells, drawn with a
// 19-character border style, one space of padding on each side of every cell, every border and
// every row line drawn. Columns take their natural width, or are stretched (or, when too wide,
// wrapped) to a given total width. Bold text and foreground colours are emitted only when asked
// for, which the caller does when standard output is a terminal.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/error.h"

namespace bw {

// Columns a text takes on a terminal: one per character, box-drawing and braille included; none
// for control characters, combining marks and zero-width characters; two for East Asian wide
// and fullwidth characters and emoji. A byte that is not valid UTF-8 counts as one column.
size_t displayWidth(std::string_view utf8);

enum class Color : uint8_t { Default, Red, Green, White };

struct Cell {
  std::string text;  // line breaks split it into lines
  bool bold = false;
  Color color = Color::Default;

  Cell() = default;
  Cell(std::string t, bool b = false, Color c = Color::Default) : text(std::move(t)), bold(b), color(c) {}
  Cell(const char* t) : text(t) {}
};

using Row = std::vector<Cell>;

// The 19 border pieces, in this order: left border, right border, top border, bottom border,
// left header intersection, header line, middle header intersection, right header intersection,
// vertical line between columns, horizontal line between rows, middle intersection, left border
// intersection, right border intersection, top border intersection, bottom border intersection,
// top-left, top-right, bottom-left and bottom-right corners.
struct TableStyle {
  std::array<std::string, 19> piece;

  // Exactly 19 characters (UTF-8), each one column wide.
  static Result<TableStyle> parse(std::string_view chars);
};

inline constexpr std::string_view kAsciiGrid = "||--+==+|-+||++++++";
inline constexpr std::string_view kBoxGrid = "││──╞═╪╡┆╌┼├┤┬┴┌┐└┘";

struct TableLayout {
  bool ansi = false;                // emit bold and colours
  std::optional<size_t> fullWidth;  // stretch (or wrap) the table to exactly this many columns
};

class Table {
 public:
  explicit Table(TableStyle style) : style_(std::move(style)) {}

  Table& header(Row cells);
  Table& row(Row cells);

  // The lines of the table joined by line feeds, without a final one. Rows shorter than the
  // widest row are padded with empty cells. A table with no cell at all renders as nothing.
  std::string render(const TableLayout& layout = {}) const;

 private:
  TableStyle style_;
  std::optional<Row> header_;
  std::vector<Row> rows_;
};

}  // namespace bw
