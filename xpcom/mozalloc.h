// The browser's allocator: components are allocated and freed through it.
#pragma once

#include <cstddef>

#include "xpcom/nscore.h"

#if defined(KX_MOZALLOC_BUILD)
#define MOZALLOC_API extern "C" NS_EXPORT
#else
#define MOZALLOC_API extern "C" NS_IMPORT
#endif

MOZALLOC_API void* moz_xmalloc(std::size_t size);
MOZALLOC_API void moz_free(void* p);
