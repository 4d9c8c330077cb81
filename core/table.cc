#include "core/table.h"

#include <algorithm>
#include <cstdint>

namespace bw {

namespace {

struct Glyph {
  char32_t cp;
  size_t bytes;
  bool valid;
};

// One UTF-8 sequence at the front of `s` (not empty). A malformed byte is its own glyph.
Glyph decode(std::string_view s) {
  const auto b0 = static_cast<unsigned char>(s[0]);
  if (b0 < 0x80) return {b0, 1, true};
  size_t len = b0 >= 0xF0 && b0 < 0xF5 ? 4 : b0 >= 0xE0 && b0 < 0xF0 ? 3 : b0 >= 0xC2 && b0 < 0xE0 ? 2 : 0;
  if (len == 0 || s.size() < len) return {0xFFFD, 1, false};
  char32_t cp = len == 2 ? b0 & 0x1F : len == 3 ? b0 & 0x0F : b0 & 0x07;
  for (size_t i = 1; i < len; ++i) {
    const auto b = static_cast<unsigned char>(s[i]);
    if ((b & 0xC0) != 0x80) return {0xFFFD, 1, false};
    cp = (cp << 6) | (b & 0x3F);
  }
  // Overlong forms, surrogates and values past U+10FFFF.
  if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) || (cp >= 0xD800 && cp <= 0xDFFF))
    return {0xFFFD, 1, false};
  return {cp, len, true};
}

bool in(char32_t c, char32_t lo, char32_t hi) { return c >= lo && c <= hi; }

size_t glyphWidth(const Glyph& g) {
  if (!g.valid) return 1;
  const char32_t c = g.cp;
  if (c < 0x20 || in(c, 0x7F, 0x9F)) return 0;
  if (in(c, 0x0300, 0x036F) || in(c, 0x1AB0, 0x1AFF) || in(c, 0x1DC0, 0x1DFF) || in(c, 0x20D0, 0x20FF) ||
      in(c, 0xFE20, 0xFE2F) || in(c, 0x200B, 0x200F) || c == 0x2060 || c == 0xFEFF || in(c, 0xFE00, 0xFE0F))
    return 0;
  if (in(c, 0x1100, 0x115F) || in(c, 0x2E80, 0x303E) || in(c, 0x3041, 0xA4CF) || in(c, 0xAC00, 0xD7A3) ||
      in(c, 0xF900, 0xFAFF) || in(c, 0xFE30, 0xFE4F) || in(c, 0xFF00, 0xFF60) || in(c, 0xFFE0, 0xFFE6) ||
      in(c, 0x1F300, 0x1F64F) || in(c, 0x1F900, 0x1F9FF) || in(c, 0x20000, 0x3FFFD))
    return 2;
  return 1;
}

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t nl = text.find('\n', start);
    if (nl == std::string::npos) {
      out.push_back(text.substr(start));
      return out;
    }
    out.push_back(text.substr(start, nl - start));
    start = nl + 1;
  }
}

// Splits a word wider than `width` into pieces of at most `width` columns (a glyph wider than
// the column still gets a piece of its own).
void hardSplit(std::string_view word, size_t width, std::vector<std::string>& out) {
  std::string cur;
  size_t w = 0;
  while (!word.empty()) {
    const Glyph g = decode(word);
    const size_t gw = glyphWidth(g);
    if (w + gw > width && !cur.empty()) {
      out.push_back(std::move(cur));
      cur.clear();
      w = 0;
    }
    cur.append(word.substr(0, g.bytes));
    w += gw;
    word.remove_prefix(g.bytes);
  }
  if (!cur.empty()) out.push_back(std::move(cur));
}

// Greedy word wrap of one line to `width` columns; a line that fits is kept as it is.
std::vector<std::string> wrap(const std::string& line, size_t width) {
  if (displayWidth(line) <= width) return {line};
  std::vector<std::string> out;
  std::string cur;
  size_t curW = 0;
  size_t pos = 0;
  while (pos <= line.size()) {
    size_t sp = line.find(' ', pos);
    if (sp == std::string::npos) sp = line.size();
    const std::string_view word(line.data() + pos, sp - pos);
    pos = sp + 1;
    if (word.empty()) continue;
    const size_t ww = displayWidth(word);
    if (!cur.empty() && curW + 1 + ww <= width) {
      cur += ' ';
      cur += word;
      curW += 1 + ww;
      continue;
    }
    if (!cur.empty()) out.push_back(std::move(cur));
    cur.clear();
    curW = 0;
    if (ww <= width) {
      cur = std::string(word);
      curW = ww;
    } else {
      hardSplit(word, width, out);
      if (!out.empty() && displayWidth(out.back()) < width) {
        cur = std::move(out.back());
        curW = displayWidth(cur);
        out.pop_back();
      }
    }
  }
  if (!cur.empty() || out.empty()) out.push_back(std::move(cur));
  return out;
}

std::string repeat(const std::string& piece, size_t n) {
  std::string out;
  out.reserve(piece.size() * n);
  for (size_t i = 0; i < n; ++i) out += piece;
  return out;
}

const char* colorCode(Color c) {
  switch (c) {
    case Color::Red: return "\x1b[31m";
    case Color::Green: return "\x1b[32m";
    case Color::White: return "\x1b[37m";
    case Color::Default: break;
  }
  return "";
}

}  // namespace

size_t displayWidth(std::string_view s) {
  size_t w = 0;
  while (!s.empty()) {
    const Glyph g = decode(s);
    w += glyphWidth(g);
    s.remove_prefix(g.bytes);
  }
  return w;
}

Result<TableStyle> TableStyle::parse(std::string_view chars) {
  TableStyle st;
  size_t n = 0;
  while (!chars.empty()) {
    const Glyph g = decode(chars);
    if (!g.valid || glyphWidth(g) != 1 || n == st.piece.size())
      return invalidArg("A table style is 19 characters of one column each");
    st.piece[n++] = std::string(chars.substr(0, g.bytes));
    chars.remove_prefix(g.bytes);
  }
  if (n != st.piece.size()) return invalidArg("A table style is 19 characters of one column each");
  return st;
}

Table& Table::header(Row cells) {
  header_ = std::move(cells);
  return *this;
}

Table& Table::row(Row cells) {
  rows_.push_back(std::move(cells));
  return *this;
}

std::string Table::render(const TableLayout& layout) const {
  enum Piece {
    Left, Right, Top, Bottom, HeadLeft, HeadLine, HeadMid, HeadRight, Vertical, Horizontal, Mid,
    LeftJoin, RightJoin, TopJoin, BottomJoin, TopLeft, TopRight, BottomLeft, BottomRight
  };
  const auto& p = style_.piece;

  std::vector<const Row*> all;
  if (header_) all.push_back(&*header_);
  for (const Row& r : rows_) all.push_back(&r);
  size_t ncols = 0;
  for (const Row* r : all) ncols = std::max(ncols, r->size());
  if (ncols == 0) return {};

  // Natural widths: the widest line of each column.
  std::vector<size_t> width(ncols, 0);
  for (const Row* r : all)
    for (size_t c = 0; c < r->size(); ++c)
      for (const std::string& line : splitLines((*r)[c].text)) width[c] = std::max(width[c], displayWidth(line));

  if (layout.fullWidth) {
    const size_t chrome = (ncols + 1) + 2 * ncols;  // borders and padding
    const size_t avail = *layout.fullWidth > chrome ? *layout.fullWidth - chrome : 0;
    size_t total = 0;
    for (size_t w : width) total += w;
    if (total < avail) {
      const size_t extra = avail - total;
      for (size_t c = 0; c < ncols; ++c) width[c] += extra / ncols + (c < extra % ncols ? 1 : 0);
    } else {
      // Narrow the widest column one step at a time, down to one column each.
      while (total > avail) {
        auto widest = std::max_element(width.begin(), width.end());
        if (*widest <= 1) break;
        --*widest;
        --total;
      }
    }
  }

  auto rule = [&](Piece left, Piece fill, Piece join, Piece right) {
    std::string s = p[left];
    for (size_t c = 0; c < ncols; ++c) {
      if (c) s += p[join];
      s += repeat(p[fill], width[c] + 2);
    }
    s += p[right];
    return s;
  };

  std::vector<std::string> out;
  out.push_back(rule(TopLeft, Top, TopJoin, TopRight));
  for (size_t ri = 0; ri < all.size(); ++ri) {
    const Row& r = *all[ri];
    std::vector<std::vector<std::string>> cellLines(ncols);
    size_t height = 1;
    for (size_t c = 0; c < ncols; ++c) {
      if (c < r.size())
        for (const std::string& line : splitLines(r[c].text))
          for (std::string& piece : wrap(line, std::max<size_t>(width[c], 1))) cellLines[c].push_back(std::move(piece));
      height = std::max(height, cellLines[c].size());
    }
    for (size_t li = 0; li < height; ++li) {
      std::string s = p[Left];
      for (size_t c = 0; c < ncols; ++c) {
        if (c) s += p[Vertical];
        const std::string text = li < cellLines[c].size() ? cellLines[c][li] : std::string();
        s += ' ';
        const Cell* cell = c < r.size() ? &r[c] : nullptr;
        const bool styled = layout.ansi && cell && !text.empty() && (cell->bold || cell->color != Color::Default);
        if (styled) {
          if (cell->bold) s += "\x1b[1m";
          s += colorCode(cell->color);
        }
        s += text;
        if (styled) s += "\x1b[0m";
        const size_t w = displayWidth(text);
        s.append(width[c] > w ? width[c] - w : 0, ' ');
        s += ' ';
      }
      s += p[Right];
      out.push_back(std::move(s));
    }
    const bool last = ri + 1 == all.size();
    if (last) break;
    if (header_ && ri == 0)
      out.push_back(rule(HeadLeft, HeadLine, HeadMid, HeadRight));
    else
      out.push_back(rule(LeftJoin, Horizontal, Mid, RightJoin));
  }
  out.push_back(rule(BottomLeft, Bottom, BottomJoin, BottomRight));

  std::string text;
  for (size_t i = 0; i < out.size(); ++i) {
    if (i) text += '\n';
    text += out[i];
  }
  return text;
}

}  // namespace bw
