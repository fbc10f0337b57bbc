// The runtime's formatted print.
#pragma once

#include "xpcom/nscore.h"

#if defined(KX_NSPR_BUILD)
#define NSPR_API(type) extern "C" NS_EXPORT type
#else
#define NSPR_API(type) extern "C" NS_IMPORT type
#endif

NSPR_API(PRUint32) PR_snprintf(char* out, PRUint32 outlen, const char* fmt, ...);
