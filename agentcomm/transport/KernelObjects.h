// Named kernel objects shared with the agent: their security (owner and group of the process token,
// an explicit access list, the low mandatory label) and the owners of file mappings and views.
#pragma once

#include <windows.h>

#include <cstdint>
#include <span>
#include <vector>

#include "tracecore/win_handles.h"

namespace ffipc {

// Access masks of the allow entries.
struct object_access_t {
  DWORD users;   // BUILTIN Users, Authenticated Users (and ALL APPLICATION PACKAGES where added)
  DWORD admins;  // Administrators, Local System
};
inline constexpr object_access_t mutex_access{0x120001, 0x1F0001};
inline constexpr object_access_t mapping_access{6, 0xF001F};
// The agent's events: waited for and set by the component.
inline constexpr object_access_t event_access{0x120002 | SYNCHRONIZE, 0x1F0003};

// A self-relative security descriptor for a new object: owner and primary group of the process
// token, and the access list for |access|. On Windows 8 and later, outside an app container, the
// list also allows ALL APPLICATION PACKAGES the users' mask.
class object_security_t {
 public:
  explicit object_security_t(const object_access_t& access);
  // The same with the ALL APPLICATION PACKAGES entry chosen by the caller.
  object_security_t(const object_access_t& access, bool app_packages);
  // Null when the descriptor could not be built (the object then gets the default security).
  SECURITY_ATTRIBUTES* attributes() { return valid_ ? &sa_ : nullptr; }

 private:
  std::vector<std::uint8_t> descriptor_;
  SECURITY_ATTRIBUTES sa_{};
  bool valid_ = false;
};

// Whether new objects allow ALL APPLICATION PACKAGES: Windows 8 and later, outside an app container.
bool wants_app_packages_entry();

// Built once per process and kept: the descriptors do not change.
object_security_t& mutex_security();
object_security_t& mapping_security();

// Gives the object the low mandatory label with no-write-up. Traces "SACL 1", "SACL 2" or
// "set SACL failed 0x%x"; returns whether the label was set.
bool apply_low_label(HANDLE object);

// A file mapping and its view; the view is unmapped before the handle closes.
class mapping_t {
 public:
  mapping_t() = default;
  mapping_t(mapping_t&&) = default;
  mapping_t& operator=(mapping_t&&) = default;

  // A new mapping in the paging file with the mapping security and the low label, mapped for
  // writing. A name that exists already (ERROR_ALREADY_EXISTS) is refused, and so is a view that
  // really maps less than |size| bytes. Traces "CreateFileMapping" or "MapViewOfFile" on failure and
  // gives an empty object; on success size() is |size|, which the view is known to hold.
  static mapping_t create(const wchar_t* name, std::uint32_t size);
  // An existing mapping opened and mapped with |access| (FILE_MAP_READ or FILE_MAP_WRITE); the caller
  // traces failures: no handle means the mapping did not open, a handle without a view that it did
  // not map. |error| gets the last error.
  static mapping_t open(const wchar_t* name, DWORD access, DWORD* error = nullptr);

  explicit operator bool() const { return view_ && size_; }
  HANDLE handle() const { return handle_.get(); }
  std::uint8_t* data() const { return static_cast<std::uint8_t*>(view_.get()); }
  // The bytes usable: those asked for of a created mapping, those really mapped (whole pages, from
  // VirtualQuery) of an opened one.
  std::uint32_t size() const { return size_; }
  std::span<std::uint8_t> bytes() const { return {data(), size_}; }

 private:
  tracecore::unique_handle handle_;
  tracecore::unique_view view_;
  std::uint32_t size_ = 0;
};

// The size of the region mapped at |view|; 0 when it cannot be queried.
std::uint32_t mapped_size(const void* view);

}  // namespace ffipc
