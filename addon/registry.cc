#include "addon/registry.h"

namespace bw::js {

Registry& registry() {
  static Registry r;
  return r;
}

int classId(const std::string& name) {
  auto& classes = registry().classes;
  for (size_t i = 0; i < classes.size(); ++i)
    if (classes[i].name == name) return static_cast<int>(i);
  classes.push_back(ClassEntry{name, nullptr, nullptr, {}, nullptr, false, 0, 0});
  return static_cast<int>(classes.size() - 1);
}

ClassEntry& classEntry(int id) { return registry().classes[static_cast<size_t>(id)]; }

void addFunction(std::string name, napi_callback cb, void* data) {
  registry().functions.push_back(FunctionEntry{std::move(name), cb, data});
}

namespace {
std::vector<void (*)()>& deferred() {
  static std::vector<void (*)()> d;
  return d;
}
}  // namespace

void addDeferred(void (*fn)()) { deferred().push_back(fn); }

void runDeferred() {
  auto& d = deferred();
  std::vector<void (*)()> now;
  now.swap(d);
  for (auto fn : now) fn();
}

}  // namespace bw::js
