// Writes the list of declared indicators as JSON to the file named by the first argument (or to
// standard output), leaving an up-to-date file untouched. An incomplete or inconsistent
// declaration fails the build here, before anything reads the list.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "runtime/indicator.h"

int main(int argc, char** argv) {
  if (const std::string fault = bw::rt::checkDeclarations(); !fault.empty()) {
    std::cerr << "indicator declarations: " << fault << "\n";
    return 1;
  }
  const std::string json = bw::rt::declarationsJson();
  if (argc < 2) {
    std::cout << json;
    return 0;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::stringstream old;
  old << in.rdbuf();
  if (in && old.str() == json) return 0;
  std::ofstream out(argv[1], std::ios::binary | std::ios::trunc);
  out << json;
  return out ? 0 : 1;
}
