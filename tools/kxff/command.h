// kxff: the command-line tool for people who author and debug manifests, pages and agent blocks.
// Each command group registers itself from its own source file (cmd_<group>.cpp):
//
//   static kxff::registrar_t reg("manifest", "manifest show [--text] FILE | manifest write FILE ...", &run);
//
// run() gets the words after the group name. It prints results on stdout; on failure it prints
// the component's error text on stderr and returns 1.
#pragma once

#include <string>
#include <vector>

namespace kxff {

using args_t = std::vector<std::string>;
using command_fn = int (*)(const args_t& args);

struct registrar_t {
  registrar_t(const char* group, const char* usage, command_fn run);
};

// Helpers shared by the command groups.
bool read_file(const std::string& path, std::string& bytes);  // prints the error itself
int fail(const std::string& message);                         // stderr, returns 1
int usage_error(const char* group);                           // prints the group's usage, returns 2

}  // namespace kxff
