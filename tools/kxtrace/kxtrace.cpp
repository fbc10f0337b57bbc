// kxtrace: the viewer of the component's trace files, and (on Windows) the switch of its categories.
//
//   kxtrace show [OPTIONS] FILE.trc3      decode a trace file into readable lines:
//       --raw             keep the colour markers, show the date and time records
//       --no-color        plain text even on a terminal (--color: colour even when piped)
//       --thread ID       only this thread (hexadecimal, as shown)
//       --grep TEXT       only records whose text contains TEXT
//       --errors          only error records
//   kxtrace categories [--dll PATH]       what the loaded component's gettraceinfo lists
//   kxtrace set [--dll PATH] FILE|-       hand a gettraceinfo-shaped selection to settraceinfo
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/kxtrace/trace_view.h"
#include "tracecore/record.h"

#if defined(_WIN32)
#include <io.h>
#include <windows.h>

#include "tracecore/utf.h"
#include "tracecore/win_handles.h"
#else
#include <unistd.h>
#endif

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: kxtrace show [--raw] [--no-color|--color] [--thread ID] [--grep TEXT] [--errors] FILE.trc3\n"
#if defined(_WIN32)
               "       kxtrace categories [--dll PATH]\n"
               "       kxtrace set [--dll PATH] FILE|-\n"
#endif
  );
  return 2;
}

bool read_all(const std::string& path, std::string& out) {
  if (path == "-") {
    out.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  out.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return true;
}

bool stdout_is_terminal() {
#if defined(_WIN32)
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

int show(const std::vector<std::string>& args) {
  std::string error;
  auto parsed = kxtrace::parse_show_args(args, error);
  if (!parsed) {
    std::fprintf(stderr, "kxtrace: %s\n", error.c_str());
    return usage();
  }
  parsed->options.colour = kxtrace::use_colour(parsed->colour, stdout_is_terminal(), std::getenv("NO_COLOR") != nullptr);
  const std::string& path = parsed->path;
  std::string bytes;
  if (!read_all(path, bytes)) {
    std::fprintf(stderr, "kxtrace: cannot read %s\n", path.c_str());
    return 1;
  }
  const auto file = tracecore::decode_file(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  std::fputs(kxtrace::format_file(file, parsed->options).c_str(), stdout);
  if (!file.stop.empty()) {
    std::fprintf(stderr, "kxtrace: %s: stopped at byte %zu: %s\n", path.c_str(), file.stop_offset, file.stop.c_str());
    return 1;
  }
  return 0;
}

#if defined(_WIN32)
struct component_t {
  tracecore::unique_hmodule library;
  explicit component_t(const std::string& dll) : library(LoadLibraryW(tracecore::to_wide(dll).c_str())) {}
  template <class Fn>
  Fn proc(const char* name) const {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library.get(), name)));
  }
};

int categories(const std::vector<std::string>& args, bool set) {
  std::string dll = "MozillaKXAgentClient.dll", input;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--dll" && i + 1 < args.size()) dll = args[++i];
    else if (set && input.empty()) input = args[i];
    else return usage();
  }
  if (set && input.empty()) return usage();
  component_t c(dll);
  if (!c.library) {
    std::fprintf(stderr, "kxtrace: cannot load %s (error %lu)\n", dll.c_str(), GetLastError());
    return 1;
  }
  if (!set) {
    auto get = c.proc<const char* (*)()>("gettraceinfo");
    if (!get) return std::fprintf(stderr, "kxtrace: %s has no gettraceinfo\n", dll.c_str()), 1;
    std::fputs(get(), stdout);
    return 0;
  }
  auto put = c.proc<const char*(__stdcall*)(const char*)>("settraceinfo");
  if (!put) return std::fprintf(stderr, "kxtrace: %s has no settraceinfo\n", dll.c_str()), 1;
  std::string text;
  if (!read_all(input, text)) return std::fprintf(stderr, "kxtrace: cannot read %s\n", input.c_str()), 1;
  std::fputs(put(text.c_str()), stdout);
  return 0;
}
#endif

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string command = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "show") return show(args);
#if defined(_WIN32)
  if (command == "categories") return categories(args, false);
  if (command == "set") return categories(args, true);
#endif
  return usage();
}
