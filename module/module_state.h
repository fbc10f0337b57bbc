// State of the loaded library.
#pragma once

#include <windows.h>

#include <cstdint>

namespace kxmodule {

extern HINSTANCE g_instance;

void attach(HINSTANCE instance);
void detach(bool process_ending);

}  // namespace kxmodule
