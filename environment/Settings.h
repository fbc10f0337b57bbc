// The suite's settings, read and written through its settings library "KxoSet.dll".
//
//   std::wstring file = kxsettings::settings().get_path(L"dontpromptlist_filename");
//   bool prompt = kxsettings::settings().get_bool_default(L"show_training_prompt", true);
//   kxsettings::settings().set_number(L"@balloon_counter::" + site, 2, true);
//
// Keys beginning with "@" and ending with "::" name a family; a member's key appends its identifier.
// Values are texts; booleans and numbers are decimal texts.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "tracecore/win_handles.h"

namespace kxsettings {

// The record both library functions take by pointer.
struct settings_request_t {
  std::uint32_t size;  // of this record
  BSTR key;            // owned by the caller
  BSTR value;          // query: allocated by the library, freed by the caller; set: the caller's
};
using settings_fn = HRESULT(WINAPI*)(settings_request_t*);

// The bound library: loaded on first use by full path, from this module's own folder or else the
// suite's folder of sibling libraries, never through the search path.
class settings_library_t {
 public:
  explicit settings_library_t(std::string dll_name = "KxoSet.dll") : name_(std::move(dll_name)) {}
  settings_library_t(const settings_library_t&) = delete;
  settings_library_t& operator=(const settings_library_t&) = delete;

  // E_NOTIMPL when the library or its function is missing; a COM error raised inside gives its
  // HRESULT, anything else E_UNEXPECTED.
  HRESULT query(std::wstring_view key, std::wstring& value);
  HRESULT set(std::wstring_view key, std::wstring_view value);
  bool loaded();

 private:
  void bind();
  HRESULT call(settings_fn fn, std::wstring_view key, const std::wstring_view* value, std::wstring* out);

  std::string name_;
  bool bound_ = false;
  tracecore::unique_hmodule module_;
  settings_fn query_ = nullptr;
  settings_fn set_ = nullptr;
  FARPROC env_ = nullptr;  // resolved, never called
};

class settings_t {
 public:
  explicit settings_t(settings_library_t& library) : library_(library) {}

  // On failure with |report|: "INSTALLATION: cannot get '%s'" for a missing key, else
  // "cannot get '%s'".
  HRESULT get(std::wstring_view key, std::wstring& value, bool report);
  std::wstring get_default(std::wstring_view key, std::wstring_view fallback);
  std::wstring get_path(std::wstring_view key) { return get_default(key, L""); }
  // A positive number is true, a negative one false; a text that reads as 0 gives E_INVALIDARG.
  HRESULT get_bool(std::wstring_view key, bool& value, bool report);
  bool get_bool_default(std::wstring_view key, bool fallback);
  HRESULT get_number(std::wstring_view key, std::int32_t& value, bool report);
  HRESULT set(std::wstring_view key, std::wstring_view value, bool report);
  HRESULT set_number(std::wstring_view key, std::int32_t value, bool report);

 private:
  settings_library_t& library_;
};

// The process's settings, bound to "KxoSet.dll".
settings_t& settings();

// The switches read once per process.
bool is_personalmode();
bool is_kioskinstalled();
bool is_kiosklogon();
bool is_deskwithworkgroup();
bool allow_SSO();  // read only when the kiosk is not installed

// The leading decimal integer of a text, as _wtoi reads it (0 when there is none).
std::int32_t leading_integer(std::wstring_view text);

}  // namespace kxsettings
