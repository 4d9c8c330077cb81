#include "runtime/indicator.h"

#include <cmath>
#include <deque>

#include "core/numfmt.h"

namespace bw::rt {

// ---------------------------------------------------------------------------------------------
// Declarations.

namespace {
// The declarations themselves (a deque, so references stay put as it grows) and their list.
struct Table {
  std::deque<Declaration> owned;
  std::vector<const Declaration*> list;
};
Table& tableData() {
  static Table t;
  return t;
}
const std::vector<const Declaration*>& table() { return tableData().list; }
}  // namespace

const std::vector<const Declaration*>& declarations() { return table(); }

const Declaration& addDeclaration(Declaration d) {
  Table& t = tableData();
  t.owned.push_back(std::move(d));
  t.list.push_back(&t.owned.back());
  return t.owned.back();
}

const Declaration* findDeclaration(std::string_view className) {
  for (const Declaration* d : table())
    if (d->className == className) return d;
  return nullptr;
}

std::string indicatorDigits(std::string_view name) {
  uint32_t h = 2166136261u;
  for (unsigned char c : name) {
    h ^= c;
    h *= 16777619u;
  }
  h = (h >> 24) ^ (h & 0xffffffu);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(6, '0');
  for (int i = 5; i >= 0; --i, h >>= 4) out[static_cast<size_t>(i)] = kHex[h & 0xfu];
  return out;
}

std::string indicatorClassName(std::string_view name, const char* digits) {
  std::string out = "Incr_fn_";
  out += name;
  out += '_';
  out += digits ? std::string(digits) : indicatorDigits(name);
  return out;
}

std::string sourcePath(const char* file) {
  const std::string_view f(file);
  for (std::string_view dir : {"lib/", "runtime/", "tools/", "tests/"}) {
    const size_t at = f.rfind(dir);
    if (at != std::string_view::npos && (at == 0 || f[at - 1] == '/' || f[at - 1] == '\\'))
      return std::string(f.substr(at));
  }
  return std::string(f);
}

const char* kindName(ArgKind k) {
  switch (k) {
    case ArgKind::Series: return "series";
    case ArgKind::Flags: return "flags";
    case ArgKind::Number: return "number";
    case ArgKind::Length: return "length";
    case ArgKind::OptLength: return "optLength";
    case ArgKind::Integer: return "integer";
    case ArgKind::Real: return "real";
    case ArgKind::Flag: return "flag";
    case ArgKind::Period: return "period";
  }
  return "?";
}

const char* kindName(ResultKind k) {
  switch (k) {
    case ResultKind::Number: return "number";
    case ResultKind::OptInt: return "optInt";
    case ResultKind::OptFlag: return "optFlag";
    case ResultKind::Numbers2: return "numbers2";
    case ResultKind::Numbers3: return "numbers3";
    case ResultKind::Numbers5: return "numbers5";
    case ResultKind::NumberOptInt: return "numberOptInt";
    case ResultKind::Script: return "script";
  }
  return "?";
}

const char* groupName(Group g) {
  switch (g) {
    case Group::Averages: return "averages";
    case Group::Oscillators: return "oscillators";
    case Group::Volatility: return "volatility";
    case Group::Volume: return "volume";
    case Group::Crosses: return "crosses";
    case Group::Momentum: return "momentum";
    case Group::Script: return "script";
  }
  return "?";
}

size_t numbersPerStep(ResultKind k) {
  switch (k) {
    case ResultKind::Number:
    case ResultKind::NumberOptInt: return 1;
    case ResultKind::Numbers2: return 2;
    case ResultKind::Numbers3: return 3;
    case ResultKind::Numbers5: return 5;
    case ResultKind::OptInt:
    case ResultKind::OptFlag:
    case ResultKind::Script: return 0;
  }
  return 0;
}

namespace {

size_t outputsOf(ResultKind k) {
  switch (k) {
    case ResultKind::Script: return 0;
    case ResultKind::NumberOptInt: return 2;
    case ResultKind::OptInt:
    case ResultKind::OptFlag: return 1;
    default: return numbersPerStep(k);
  }
}

bool isName(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_')) return false;
  return !(s[0] >= '0' && s[0] <= '9');
}

// A JSON string literal of `s`: quotes, backslashes and control characters escaped.
std::string quoted(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    const auto u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (u < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[u >> 4];
      out += kHex[u & 0xfu];
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace

std::string checkDeclarations() {
  const auto& list = table();
  for (size_t i = 0; i < list.size(); ++i) {
    const Declaration& d = *list[i];
    const std::string who = d.className.empty() ? "a declaration" : d.className;
    if (!isName(d.name)) return who + ": the name is not a plain identifier";
    if (d.summary.empty()) return who + ": no description";
    if (d.outputs.size() != outputsOf(d.result))
      return who + ": " + std::to_string(d.outputs.size()) + " outputs declared for a " + kindName(d.result) +
             " result";
    for (const OutputDecl& o : d.outputs) {
      if (!o.name || !isName(o.name)) return who + ": an output without a plain name";
      if (!o.first || !*o.first) return who + ": output " + o.name + " has no first-value step";
    }
    for (const ArgDecl& a : d.args)
      if (!isName(a.name)) return who + ": an argument without a plain name";
    for (size_t j = 0; j < i; ++j) {
      if (list[j]->className == d.className) return who + ": declared twice";
      if (list[j]->name == d.name) return who + ": the name " + d.name + " is taken by " + list[j]->className;
    }
  }
  return {};
}

std::string declarationsJson() {
  std::string out = "[\n";
  bool firstDecl = true;
  for (const Declaration* d : table()) {
    out += firstDecl ? "  " : ",\n  ";
    firstDecl = false;
    out += "{\"class\": " + quoted(d->className) + ", \"name\": " + quoted(d->name) +
           ", \"group\": " + quoted(groupName(d->group)) + ", \"summary\": " + quoted(d->summary) +
           ", \"args\": [";
    for (size_t i = 0; i < d->args.size(); ++i) {
      const ArgDecl& a = d->args[i];
      if (i) out += ", ";
      out += "{\"name\": " + quoted(a.name) + ", \"kind\": " + quoted(kindName(a.kind));
      if (a.hasDefault) {
        out += ", \"default\": ";
        if (a.kind == ArgKind::Flag)
          out += a.def != 0 ? "true" : "false";
        else if (a.kind == ArgKind::Period)
          out += quoted(a.period.toString());
        else
          out += formatPlainNumber(a.def);
      }
      out += "}";
    }
    out += "], \"result\": " + quoted(kindName(d->result)) + ", \"outputs\": [";
    for (size_t i = 0; i < d->outputs.size(); ++i) {
      if (i) out += ", ";
      out += "{\"name\": " + quoted(d->outputs[i].name) + ", \"first\": " + quoted(d->outputs[i].first);
      if (d->outputs[i].earliest) out += ", \"earliest\": true";
      out += "}";
    }
    out += "], \"source\": " + quoted(d->source) + ", \"state\": " + quoted(d->state) + "}";
  }
  out += "\n]\n";
  return out;
}

// ---------------------------------------------------------------------------------------------
// Results.

size_t numberColumns(ResultKind k) {
  switch (k) {
    case ResultKind::Number:
    case ResultKind::OptInt: return 1;
    case ResultKind::Numbers2:
    case ResultKind::NumberOptInt: return 2;
    case ResultKind::Numbers3: return 3;
    case ResultKind::Numbers5: return 5;
    case ResultKind::OptFlag:
    case ResultKind::Script: return 0;
  }
  return 0;
}

StepResult Collected::at(size_t i) const {
  StepResult r;
  const auto col = [&](size_t k) { return num[k * steps + i]; };
  const auto integer = [](double x) -> std::optional<int64_t> {
    if (std::isnan(x)) return std::nullopt;
    return static_cast<int64_t>(x);
  };
  switch (kind) {
    case ResultKind::Number: r.num[0] = col(0); break;
    case ResultKind::Numbers2:
      r.num[0] = col(0);
      r.num[1] = col(1);
      break;
    case ResultKind::Numbers3:
    case ResultKind::Numbers5:
      for (size_t k = 0; k < numberColumns(kind); ++k) r.num[k] = col(k);
      break;
    case ResultKind::NumberOptInt:
      r.num[0] = col(0);
      r.integer = integer(col(1));
      break;
    case ResultKind::OptInt: r.integer = integer(col(0)); break;
    case ResultKind::OptFlag: r.flag = flags[i]; break;
    case ResultKind::Script: break;
  }
  return r;
}

// ---------------------------------------------------------------------------------------------
// Steps.

Result<StepResult> Instance::next(const ArgValue* args) {
  StepResult out;
  BW_TRY(next(args, out));
  return out;
}

Result<Unit> Instance::next(const ArgValue* args, StepResult& out) {
  // The bar is read first: a context without one fails the call before anything changes.
  BarSnapshot bar;
  BW_TRY(rt_.fetch(bar));
  stepOn(args, bar, out);
  return Unit{};
}

Result<size_t> Instance::remaining() const {
  return rt_.ctx().read([](const Ctx& c) -> size_t {
    const uint64_t len = c.length();
    const uint64_t next = c.initialized ? c.barIndex + 1 : 0;
    return next < len ? static_cast<size_t>(len - next) : 0;
  });
}

Result<Collected> Instance::collect(const CollectArg* args) {
  Collected out;
  out.kind = decl_->result;
  BW_ASSIGN(n, remaining());
  const size_t width = numberColumns(out.kind);
  out.num.resize(width * n);
  if (flagColumn(out.kind)) out.flags.resize(n);
  Columns cols;
  for (size_t k = 0; k < width; ++k) cols.num[k] = out.num.data() + k * n;
  cols.flags = out.flags.data();
  cols.capacity = n;
  BW_ASSIGN(steps, collectInto(args, cols));
  if (steps < n) {  // unreachable: nothing else moves the context during a collect
    std::vector<double> kept;
    for (size_t k = 0; k < width; ++k) kept.insert(kept.end(), cols.num[k], cols.num[k] + steps);
    out.num = std::move(kept);
    out.flags.resize(steps);
  }
  out.steps = steps;
  return out;
}

size_t Instance::runtimeBytes() const {
  const RuntimeCtx& t = rt_;
  return t.open.capacityBytes() + t.high.capacityBytes() + t.low.capacityBytes() + t.close.capacityBytes() +
         t.volume.capacityBytes() + t.hl2.capacityBytes() + t.hlc3.capacityBytes() + t.hlcc4.capacityBytes() +
         t.ohlc4.capacityBytes() + t.bar_index.capacityBytes() + t.last_bar_index.capacityBytes() +
         t.open_time.capacityBytes() + t.close_time.capacityBytes();
}

}  // namespace bw::rt
