// The library's exported functions besides the module record NSModule, as trace tools and the suite
// call them: by these undecorated names (MozillaKXAgentClient.def, linked with --kill-at), in these
// calling conventions. settraceinfo takes its argument off the stack itself (__stdcall, as the
// platform's API does); the two without arguments are plain C functions.
#pragma once

#include <windows.h>

extern "C" {
__declspec(dllexport) const char* __cdecl gettraceinfo();
__declspec(dllexport) const char* __stdcall settraceinfo(const char* text);
__declspec(dllexport) int __cdecl get_lastknownversion();
}

namespace kxmodule {
// The types callers get from GetProcAddress.
using gettraceinfo_fn = const char*(__cdecl*)();
using settraceinfo_fn = const char*(__stdcall*)(const char*);
using get_lastknownversion_fn = int(__cdecl*)();
}  // namespace kxmodule
