// Stand-in for the browser's infallible allocator ("mozalloc.dll" on Windows).
#include <cstdio>
#include <cstdlib>

#include "xpcom/mozalloc.h"

MOZALLOC_API void* moz_xmalloc(std::size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) {
    std::fprintf(stderr, "moz_xmalloc: out of memory (%zu bytes)\n", size);
    std::abort();
  }
  return p;
}

MOZALLOC_API void moz_free(void* p) { std::free(p); }
