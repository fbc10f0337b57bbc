// State of the loaded library.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>

namespace kxmodule {

extern HINSTANCE g_instance;

// The last agent version announced to any component of this module; 0 before any.
inline std::atomic<std::int32_t> g_lastKnownVersion{0};

void attach(HINSTANCE instance);
void detach(bool process_ending);

}  // namespace kxmodule
