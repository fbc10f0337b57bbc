#include "feedback/Texts.h"

#include <vector>

#include "environment/Branding.h"

namespace ffui {
namespace {

std::wstring version_product_name(const std::wstring& file) {
  if (file.empty()) return {};
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(file.c_str(), &ignored);
  if (!size) return {};
  std::vector<BYTE> info(size);
  if (!GetFileVersionInfoW(file.c_str(), 0, size, info.data())) return {};
  struct translation_t {
    WORD language, codepage;
  }* translations = nullptr;
  UINT bytes = 0;
  if (!VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translations), &bytes) ||
      bytes < sizeof(translation_t))
    return {};
  wchar_t key[64];
  wsprintfW(key, L"\\StringFileInfo\\%04x%04x\\ProductName", translations->language, translations->codepage);
  wchar_t* name = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(info.data(), key, reinterpret_cast<void**>(&name), &length) || !name) return {};
  return std::wstring(name, wcsnlen(name, length));
}

}  // namespace

const std::wstring& product_name() {
  static const std::wstring name = [] {
    std::wstring n = version_product_name(kxbranding::branding_library_path());
    return n.empty() ? std::wstring(L"Kestrix Desk") : n;
  }();
  return name;
}

std::wstring with_product_name(std::wstring text, const std::wstring& product) {
  static constexpr std::wstring_view kMarker = L"<<%PN%>>";
  for (auto at = text.find(kMarker); at != std::wstring::npos; at = text.find(kMarker, at + product.size()))
    text.replace(at, kMarker.size(), product);
  return text;
}

std::wstring ui_text(UINT id) { return with_product_name(kxbranding::branding_string(id), product_name()); }

}  // namespace ffui
