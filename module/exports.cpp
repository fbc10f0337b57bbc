// The library's exported functions besides NSModule.
#include <windows.h>

#include <mutex>
#include <string>

#include "include_extension/ExtensionImpl.h"
#include "module/exports.h"
#include "module/module_state.h"
#include "tracecore/categories.h"
#include "tracecore/tracer.h"

namespace {

// Each export keeps its reply text until its next call.
std::mutex g_reply_lock;
std::string g_info_reply;
std::string g_set_reply;

}  // namespace

// The categories of this component and the "all" commands, as text for trace tools.
extern "C" const char* __cdecl gettraceinfo() {
  std::lock_guard<std::mutex> g(g_reply_lock);
  g_info_reply = tracecore::format_traceinfo();
  return g_info_reply.c_str();
}

// Applies the selection of a gettraceinfo-shaped text; returns what it did.
extern "C" const char* __stdcall settraceinfo(const char* text) {
  std::lock_guard<std::mutex> g(g_reply_lock);
  g_set_reply = text ? tracecore::tracer().set_traceinfo(text) : std::string("no text\n");
  return g_set_reply.c_str();
}

// The version the agent announced last (0 before any announcement).
extern "C" int __cdecl get_lastknownversion() { return CExtensionImpl::last_known_version(); }
