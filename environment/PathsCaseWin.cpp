// Lower case as the system maps it.
#include <windows.h>

#include "environment/Paths.h"

namespace kxpaths {

void lower_case(std::u16string& text) {
  if (text.empty()) return;
  // The invariant locale's simple mapping keeps the length; a linguistic mapping (Turkish dotless i
  // and the like) would make the same path compact differently for users of different languages.
  const int n = static_cast<int>(text.size());
  std::u16string lowered(text.size(), u'\0');
  const int got = LCMapStringW(LOCALE_INVARIANT, LCMAP_LOWERCASE, reinterpret_cast<LPCWSTR>(text.data()), n,
                               reinterpret_cast<LPWSTR>(lowered.data()), n);
  if (got == n) {
    text.swap(lowered);
    return;
  }
  lower_case_latin(text);
}

}  // namespace kxpaths
