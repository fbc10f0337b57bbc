// xptgen: writes the browser's binary interface description (.xpt) of an interface description.
//
//   xptgen IN.idl OUT.xpt
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "tools/xptgen/idl.h"
#include "tools/xptgen/typelib.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: xptgen IN.idl OUT.xpt\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "xptgen: cannot read %s\n", argv[1]);
    return 1;
  }
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::string error;
  const auto file = xptgen::parse_idl(text, error);
  if (!file) {
    std::fprintf(stderr, "xptgen: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  const auto bytes = xptgen::write_typelib(*file, error);
  if (!bytes) {
    std::fprintf(stderr, "xptgen: %s: %s\n", argv[1], error.c_str());
    return 1;
  }
  // Written aside and renamed, so that a failed run never leaves half a typelib behind.
  const std::string out = argv[2], part = out + ".part";
  {
    std::ofstream o(part, std::ios::binary | std::ios::trunc);
    o.write(reinterpret_cast<const char*>(bytes->data()), static_cast<std::streamsize>(bytes->size()));
    if (!o) {
      std::fprintf(stderr, "xptgen: cannot write %s\n", part.c_str());
      return 1;
    }
  }
  if (std::rename(part.c_str(), out.c_str()) != 0) {
    std::fprintf(stderr, "xptgen: cannot write %s\n", out.c_str());
    std::remove(part.c_str());
    return 1;
  }
  return 0;
}
