#include "agentcomm/transport/KernelObjects.h"

#include <sddl.h>
#include <aclapi.h>
#include <versionhelpers.h>

#include <memory>

#include "tracecore/trace.h"

namespace ffipc {
namespace {

using sid_buffer = std::vector<std::uint8_t>;

sid_buffer well_known(WELL_KNOWN_SID_TYPE type) {
  DWORD size = SECURITY_MAX_SID_SIZE;
  sid_buffer sid(size);
  if (!CreateWellKnownSid(type, nullptr, sid.data(), &size)) return {};
  sid.resize(size);
  return sid;
}

sid_buffer from_string(const wchar_t* text) {
  PSID raw = nullptr;
  if (!ConvertStringSidToSidW(text, &raw)) return {};
  tracecore::unique_hlocal owner(raw);
  sid_buffer sid(GetLengthSid(raw));
  CopySid(static_cast<DWORD>(sid.size()), sid.data(), raw);
  return sid;
}

// A token information record of the process, or empty.
std::vector<std::uint8_t> token_info(HANDLE token, TOKEN_INFORMATION_CLASS cls) {
  DWORD size = 0;
  GetTokenInformation(token, cls, nullptr, 0, &size);
  if (size == 0) return {};
  std::vector<std::uint8_t> info(size);
  if (!GetTokenInformation(token, cls, info.data(), size, &size)) return {};
  return info;
}

bool is_app_container(HANDLE token) {
  DWORD value = 0, size = 0;
  // TokenIsAppContainer (29) is unknown before Windows 8: the call fails and the answer is no.
  if (!GetTokenInformation(token, static_cast<TOKEN_INFORMATION_CLASS>(29), &value, sizeof value, &size)) return false;
  return value != 0;
}

}  // namespace

bool wants_app_packages_entry() {
  if (!IsWindows8OrGreater()) return false;
  tracecore::unique_handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  return !is_app_container(token.get());
}

object_security_t::object_security_t(const object_access_t& access)
    : object_security_t(access, wants_app_packages_entry()) {}

object_security_t::object_security_t(const object_access_t& access, bool app_packages) {
  tracecore::unique_handle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.put())) return;
  const auto owner = token_info(token.get(), TokenOwner);
  const auto group = token_info(token.get(), TokenPrimaryGroup);
  if (owner.empty() || group.empty()) return;

  struct entry_t {
    sid_buffer sid;
    DWORD mask;
  };
  std::vector<entry_t> entries;
  entries.push_back({well_known(WinBuiltinUsersSid), access.users});
  entries.push_back({well_known(WinAuthenticatedUserSid), access.users});
  entries.push_back({well_known(WinBuiltinAdministratorsSid), access.admins});
  entries.push_back({well_known(WinLocalSystemSid), access.admins});
  if (app_packages) {
    sid_buffer packages = from_string(L"S-1-15-2-1");
    bool present = false;
    for (const entry_t& e : entries)
      if (!packages.empty() && !e.sid.empty() && EqualSid(packages.data(), const_cast<std::uint8_t*>(e.sid.data())))
        present = true;
    if (!packages.empty() && !present) entries.push_back({std::move(packages), access.users});
  }

  DWORD acl_size = sizeof(ACL);
  for (const entry_t& e : entries) {
    if (e.sid.empty()) return;
    acl_size += sizeof(ACCESS_ALLOWED_ACE) - sizeof(DWORD) + static_cast<DWORD>(e.sid.size());
  }
  std::vector<std::uint8_t> acl(acl_size);
  auto* pacl = reinterpret_cast<PACL>(acl.data());
  if (!InitializeAcl(pacl, acl_size, ACL_REVISION)) return;
  for (entry_t& e : entries)
    if (!AddAccessAllowedAce(pacl, ACL_REVISION, e.mask, e.sid.data())) return;

  SECURITY_DESCRIPTOR absolute;
  if (!InitializeSecurityDescriptor(&absolute, SECURITY_DESCRIPTOR_REVISION)) return;
  if (!SetSecurityDescriptorOwner(&absolute, reinterpret_cast<const TOKEN_OWNER*>(owner.data())->Owner, FALSE)) return;
  if (!SetSecurityDescriptorGroup(&absolute, reinterpret_cast<const TOKEN_PRIMARY_GROUP*>(group.data())->PrimaryGroup,
                                  FALSE))
    return;
  if (!SetSecurityDescriptorDacl(&absolute, TRUE, pacl, FALSE)) return;

  // Self-relative, so that the descriptor owns copies of the SIDs and the list.
  DWORD size = 0;
  MakeSelfRelativeSD(&absolute, nullptr, &size);
  if (size == 0) return;
  descriptor_.resize(size);
  if (!MakeSelfRelativeSD(&absolute, descriptor_.data(), &size)) return;
  sa_.nLength = sizeof sa_;
  sa_.lpSecurityDescriptor = descriptor_.data();
  sa_.bInheritHandle = FALSE;
  valid_ = true;
}

object_security_t& mutex_security() {
  static object_security_t security(mutex_access);
  return security;
}

object_security_t& mapping_security() {
  static object_security_t security(mapping_access);
  return security;
}

bool apply_low_label(HANDLE object) {
  if (!IsWindowsVistaOrGreater()) return false;
  PSECURITY_DESCRIPTOR raw = nullptr;
  if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(L"S:(ML;;NW;;;LW)", SDDL_REVISION_1, &raw, nullptr)) {
    KXERROR_LAST("SACL 1");
    return false;
  }
  tracecore::unique_hlocal owner(raw);
  BOOL present = FALSE, defaulted = FALSE;
  PACL sacl = nullptr;
  if (!GetSecurityDescriptorSacl(raw, &present, &sacl, &defaulted) || !present || !sacl) {
    KXERROR_LAST("SACL 2");
    return false;
  }
  const DWORD r = SetSecurityInfo(object, SE_KERNEL_OBJECT, LABEL_SECURITY_INFORMATION, nullptr, nullptr, nullptr, sacl);
  if (r != ERROR_SUCCESS) {
    KXERROR_CODE(HRESULT_FROM_WIN32(r), "set SACL failed 0x%x", static_cast<unsigned>(r));
    return false;
  }
  return true;
}

mapping_t mapping_t::create(const wchar_t* name, std::uint32_t size) {
  mapping_t m;
  SetLastError(ERROR_SUCCESS);
  m.handle_.reset(CreateFileMappingW(INVALID_HANDLE_VALUE, mapping_security().attributes(), PAGE_READWRITE, 0, size, name));
  if (!m.handle_) {
    KXERROR_LAST("CreateFileMapping");
    return {};
  }
  // A mapping of that name made by someone else comes back with its own size and access list, and
  // whoever made it reads what is written into it: refused, and left untouched.
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    KXERROR_CODE(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), "CreateFileMapping");
    return {};
  }
  apply_low_label(m.handle_.get());
  m.view_.reset(MapViewOfFile(m.handle_.get(), FILE_MAP_WRITE, 0, 0, 0));
  if (!m.view_) {
    KXERROR_LAST("MapViewOfFile");
    return {};
  }
  const std::uint32_t mapped = mapped_size(m.view_.get());
  if (mapped < size) {
    KXERROR("MapViewOfFile: %u bytes mapped, %u asked", static_cast<unsigned>(mapped), static_cast<unsigned>(size));
    return {};
  }
  m.size_ = size;
  return m;
}

mapping_t mapping_t::open(const wchar_t* name, DWORD access, DWORD* error) {
  mapping_t m;
  if (error) *error = 0;
  m.handle_.reset(OpenFileMappingW(access, FALSE, name));
  if (!m.handle_) {
    if (error) *error = GetLastError();
    return {};
  }
  m.view_.reset(MapViewOfFile(m.handle_.get(), access, 0, 0, 0));
  if (!m.view_) {
    if (error) *error = GetLastError();
    return m;  // the handle without a view: the caller tells the two failures apart
  }
  m.size_ = mapped_size(m.view_.get());
  return m;
}

std::uint32_t mapped_size(const void* view) {
  MEMORY_BASIC_INFORMATION info{};
  if (!view || VirtualQuery(view, &info, sizeof info) != sizeof info) return 0;
  const auto offset = static_cast<SIZE_T>(static_cast<const char*>(view) - static_cast<const char*>(info.BaseAddress));
  const SIZE_T size = info.RegionSize > offset ? info.RegionSize - offset : 0;
  return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<std::uint32_t>(size);
}

}  // namespace ffipc
