// The export registry: filled by static registration routines at library load, read once per
// Node environment by the module entry. Nothing here touches JavaScript.
#pragma once

#include <node_api.h>

#include <string>
#include <utility>
#include <vector>

namespace bw::js {

enum class PropKind { Method, StaticMethod, Accessor };

struct PropRecord {
  PropRecord(std::string n, PropKind k, napi_callback m, napi_callback g, napi_callback s, void* d, std::string j = {},
             int result = -1)
      : name(std::move(n)), kind(k), method(m), getter(g), setter(s), data(d), js(std::move(j)), resultClass(result) {}

  std::string name;
  PropKind kind;
  napi_callback method = nullptr;  // Method / StaticMethod
  napi_callback getter = nullptr;  // Accessor
  napi_callback setter = nullptr;  // Accessor, optional
  void* data = nullptr;            // passed through as the callback's data
  // Members of value classes computed in JavaScript: an expression over the record `d` (see
  // addon/value.h), in place of the method or the getter.
  std::string js;
  // A native method or getter whose result is a value object: the callback leaves the record in
  // the channels, and the JavaScript side makes the object of this class from it.
  int resultClass = -1;
  // The value-class parameters of the native callbacks, (argument index or -1 for the receiver,
  // class id), in parameter order: the JavaScript side copies their records into the channels'
  // regions 0 (receiver), 1, 2, ... before the call.
  std::vector<std::pair<int, int>> values;
  std::vector<std::pair<int, int>> setterValues;
  // The setter changes its value receiver: the JavaScript side copies region 0 back afterwards.
  bool writesBack = false;
  // How many JavaScript arguments the method reads (getters none, setters one).
  int arity = 0;
  // A number field of a value class: its setter stores numbers in this record slot itself.
  int numberSlot = -1;
  // A getter whose value the class's walker leaves in the channels' prefetch region at each step
  // (a number-only value class): read from there while it is current.
  bool prefetched = false;
  // A method of a boxed class with a JavaScript half of its own: the parameter list and body,
  // "(a, b) { ... }", with @NATIVE@ where it names the native, which takes the receiver's handle
  // from the channel like every boxed method's native. It may use the kernel's names: `s` (the
  // numbers channel), `HANDLE`, `stampOf` and `apply`.
  std::string half;
};

struct ClassEntry {
  std::string name;
  napi_callback ctor = nullptr;  // null: `new` is refused
  void* ctorData = nullptr;
  std::vector<PropRecord> props;
  // Installed on every instance the add-on creates, right after wrapping (used by the
  // iteration protocol, which lives on instances rather than the prototype).
  void (*onInstance)(napi_env, napi_value) = nullptr;
  // A value class (addon/value.h): its objects hold a record of this many numbers and texts, and
  // its constructor callback, when there is one, leaves the record in the channels.
  bool value = false;
  size_t numbers = 0;
  size_t texts = 0;
};

struct FunctionEntry {
  std::string name;
  napi_callback cb;
  void* data = nullptr;
};

struct Registry {
  std::vector<ClassEntry> classes;
  std::vector<FunctionEntry> functions;
};

Registry& registry();

// The id of the class with that name, creating its entry on first use. Several registration
// routines may contribute records to the same class.
int classId(const std::string& name);
ClassEntry& classEntry(int id);

void addFunction(std::string name, napi_callback cb, void* data = nullptr);

// Registration routines that build their entries from other load-time tables (the indicator
// declarations, complete only once every static initialiser of the library has run). They run
// once per process, at the first module entry, before any class is defined.
void addDeferred(void (*fn)());
void runDeferred();

}  // namespace bw::js
