#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "tools/kxff/command.h"

namespace kxff {
namespace {

struct entry_t {
  const char* usage;
  command_fn run;
};

std::map<std::string, entry_t>& groups() {
  static std::map<std::string, entry_t> g;
  return g;
}

int print_usage() {
  std::fprintf(stderr, "usage: kxff GROUP ...\n");
  for (const auto& [name, e] : groups()) std::fprintf(stderr, "  kxff %s\n", e.usage);
  return 2;
}

}  // namespace

registrar_t::registrar_t(const char* group, const char* usage, command_fn run) {
  groups()[group] = {usage, run};
}

bool read_file(const std::string& path, std::string& bytes) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot open %s\n", path.c_str());
    return false;
  }
  bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

int fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return 1;
}

int usage_error(const char* group) {
  auto it = groups().find(group);
  if (it != groups().end()) std::fprintf(stderr, "usage: kxff %s\n", it->second.usage);
  return 2;
}

}  // namespace kxff

int main(int argc, char** argv) {
  if (argc < 2) return kxff::print_usage();
  auto it = kxff::groups().find(argv[1]);
  if (it == kxff::groups().end()) return kxff::print_usage();
  kxff::args_t args(argv + 2, argv + argc);
  try {
    return it->second.run(args);
  } catch (const std::exception& e) {
    return kxff::fail(e.what());
  }
}
