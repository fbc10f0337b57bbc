// Windows only: a new manifest form from the controls of the page shown in a browser window.
#pragma once

#include <windows.h>

#include <vector>

#include "manifest/ControlRecord.h"
#include "manifest/Manifest.h"

namespace manifest {

// Caption (window title, else its class name, without the browser suffix) and window class of
// |window|, then InitManifest. Throws std::runtime_error "no forms created" when the manifest ends
// up without a form, and whatever InitManifest throws.
void createmanifest_from_controls(HWND window, const std::vector<ffcontrol_record>& controls,
                                  const ffstring_table& strings, Manifest& m);

}  // namespace manifest
