// Stand-in for the runtime's formatted print ("nspr4.dll" on Windows).
#include <cstdarg>
#include <cstdio>

#include "xpcom/prprf.h"

NSPR_API(PRUint32) PR_snprintf(char* out, PRUint32 outlen, const char* fmt, ...) {
  if (!out || outlen == 0) return static_cast<PRUint32>(-1);
  va_list args;
  va_start(args, fmt);
  const int n = std::vsnprintf(out, outlen, fmt, args);
  va_end(args);
  if (n < 0) {
    out[0] = 0;
    return static_cast<PRUint32>(-1);
  }
  // Like the runtime: the count of characters stored, without the terminating NUL.
  return static_cast<PRUint32>(n) < outlen ? static_cast<PRUint32>(n) : outlen - 1;
}
