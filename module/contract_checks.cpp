// Compile-time checks of what this library shares with other processes and other modules: the
// layout of every record and block that crosses a process or module boundary, and the calling
// conventions of the exports and of the interfaces the browser calls. The shipping library is the
// 32-bit one, which cannot be run on the build machines; this unit is compiled into it (and into
// the 64-bit one), so a change that breaks one of these points does not build.
//
// Nothing here is called: the unit holds declarations and static_asserts only.
#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <type_traits>

#include "agentcomm/transport/ServerRecords.h"
#include "agentcomm/window/ffcomm.h"
#include "environment/LookupCache.h"
#include "environment/Settings.h"
#include "module/exports.h"
#include "xpcom/IKXAgentClient.h"
#include "xpcom/Module.h"
#include "xpcom/nsID.h"

namespace kxmodule::contract {

// ---- the server call's records in the agent's 4096-byte buffer (32-bit little-endian fields) ----

// The records as laid out field by field; the writers put each field at 4 x its index.
struct forward_image_t {
  std::uint32_t kind, pid, reserved, target, message, wparam, lparam, result;
};
struct text_image_t {
  std::uint32_t kind, pid, target, message;
  char name[1];  // NUL-terminated, up to the end of the buffer
};
struct block_image_t {
  std::uint32_t kind, pid, target, message, code;
};
static_assert(sizeof(forward_image_t) == ffipc::forward_record_size && ffipc::forward_record_size == 32);
static_assert(offsetof(forward_image_t, result) == ffipc::forward_result_offset && ffipc::forward_result_offset == 28);
static_assert(offsetof(forward_image_t, target) == 12 && offsetof(forward_image_t, lparam) == 24);
static_assert(offsetof(text_image_t, name) == ffipc::text_name_offset && ffipc::text_name_offset == 16);
static_assert(ffipc::max_text_name == ffipc::buffer_size - 17);
static_assert(sizeof(block_image_t) == ffipc::block_record_size && ffipc::block_record_size == 20);
static_assert(ffipc::buffer_size == 4096);
static_assert(ffipc::record_forward == 1 && ffipc::record_text == 2 && ffipc::record_block == 3);

// ---- the agent's lookup section (read byte by byte at these offsets) ----

struct [[gnu::packed]] lookup_record_image_t {
  std::uint32_t key, dir, file, extra;
  std::uint8_t alien;
  std::uint32_t next;
};
static_assert(sizeof(lookup_record_image_t) == lookupcache::record_size && lookupcache::record_size == 21);
static_assert(offsetof(lookup_record_image_t, alien) == 16 && offsetof(lookup_record_image_t, next) == 17);
static_assert(lookupcache::url_buckets_offset == 552 && lookupcache::caption_buckets_offset == 40);
static_assert(lookupcache::bucket_count == 128);
static_assert(lookupcache::caption_buckets_offset + 4 * lookupcache::bucket_count <= lookupcache::url_buckets_offset);
static_assert(lookupcache::url_buckets_offset + 4 * lookupcache::bucket_count <= 1064, "the agent's 100 bytes at 1064");
static_assert(lookupcache::directories_offset == 1372);

// ---- the browser's module record (version 20) and the IDs in it ----

static_assert(mozilla::Module::kVersion == 20);
static_assert(sizeof(nsID) == 16 && offsetof(nsID, m1) == 4 && offsetof(nsID, m2) == 6 && offsetof(nsID, m3) == 8);
static_assert(std::is_standard_layout_v<mozilla::Module> && std::is_standard_layout_v<mozilla::Module::CIDEntry>);
static_assert(offsetof(mozilla::Module, mVersion) == 0);
static_assert(offsetof(mozilla::Module, mCIDs) == sizeof(void*));
static_assert(offsetof(mozilla::Module, unloadProc) == 6 * sizeof(void*));
static_assert(sizeof(mozilla::Module) == 7 * sizeof(void*));
static_assert(offsetof(mozilla::Module::CIDEntry, service) == sizeof(void*));
static_assert(offsetof(mozilla::Module::CIDEntry, getFactoryProc) == 2 * sizeof(void*));
static_assert(sizeof(mozilla::Module::CIDEntry) == 4 * sizeof(void*));
static_assert(sizeof(mozilla::Module::ContractIDEntry) == 2 * sizeof(void*));
static_assert(sizeof(mozilla::Module::CategoryEntry) == 3 * sizeof(void*));
static_assert(sizeof(nsresult) == 4 && sizeof(PRBool) == 4);

#if defined(_WIN32) && !defined(_WIN64)
// ---- 32-bit only: what the shipping library exchanges as it is ----

// The settings library's request record: size, key, value (12 bytes), passed to a __stdcall function.
static_assert(sizeof(kxsettings::settings_request_t) == 12);
static_assert(offsetof(kxsettings::settings_request_t, key) == 4 && offsetof(kxsettings::settings_request_t, value) == 8);
static_assert(std::is_same_v<kxsettings::settings_fn, HRESULT(__stdcall*)(kxsettings::settings_request_t*)>);

// The hook's message, read out of the hook's memory with ReadProcessMemory: 16 bytes.
static_assert(sizeof(ffagent_window::hook_message_t) == 16);
static_assert(offsetof(ffagent_window::hook_message_t, message) == 4);
static_assert(offsetof(ffagent_window::hook_message_t, wParam) == 8);
static_assert(offsetof(ffagent_window::hook_message_t, lParam) == 12);

// The forwarded message's window, parameters and result travel as 32-bit fields without loss.
static_assert(sizeof(HWND) == 4 && sizeof(WPARAM) == 4 && sizeof(LPARAM) == 4 && sizeof(LRESULT) == 4);

// The module record of a 32-bit browser.
static_assert(sizeof(mozilla::Module) == 28 && sizeof(mozilla::Module::CIDEntry) == 16);

// The exports: settraceinfo removes its argument (__stdcall), the others are C functions.
static_assert(std::is_same_v<decltype(&settraceinfo), settraceinfo_fn>);
static_assert(std::is_same_v<settraceinfo_fn, const char*(__stdcall*)(const char*)>);
static_assert(!std::is_same_v<settraceinfo_fn, const char*(__cdecl*)(const char*)>);
static_assert(std::is_same_v<decltype(&gettraceinfo), gettraceinfo_fn>);
static_assert(std::is_same_v<decltype(&get_lastknownversion), get_lastknownversion_fn>);

// The browser calls interface methods __stdcall (NS_IMETHOD), with the object as the first argument
// on the stack.
static_assert(std::is_same_v<decltype(&nsISupports::AddRef), PRUint32 (__stdcall nsISupports::*)()>);
static_assert(std::is_same_v<decltype(&IKXAgentClient::Initialize), nsresult (__stdcall IKXAgentClient::*)(nsISupports*)>);
static_assert(!std::is_same_v<decltype(&IKXAgentClient::Initialize), nsresult (__thiscall IKXAgentClient::*)(nsISupports*)>);
// The module record's constructor is a plain C function.
static_assert(std::is_same_v<mozilla::Module::ConstructorProcPtr, nsresult (__cdecl*)(nsISupports*, const nsIID&, void**)>);
#elif defined(_WIN64)
static_assert(sizeof(kxsettings::settings_request_t) == 24);
static_assert(sizeof(ffagent_window::hook_message_t) == 32);
static_assert(std::is_same_v<decltype(&settraceinfo), settraceinfo_fn>);
#endif

}  // namespace kxmodule::contract
