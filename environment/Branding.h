// The suite's branding resource library: texts, menus, dialogs and images of the user interface.
// Named in the registry; loaded as a data file once per process.
#pragma once

#include <windows.h>

#include <string>

namespace kxbranding {

// The branding library, or null when there is none (callers then use built-in resources).
HMODULE branding_library();
// Its path, empty when it is not loaded.
const std::wstring& branding_library_path();

// One load from |key_path| under HKLM (falling back to "SOFTWARE\Kestrix\Branding\Common"); the
// caller owns the handle. For tests and for branding_library().
HMODULE load_branding_library(const std::wstring& key_path, std::wstring* path);

// A string resource of the branding library, empty when it is missing.
std::wstring branding_string(UINT id);

}  // namespace kxbranding
