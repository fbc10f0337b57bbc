#include "environment/Paths.h"

namespace kxpaths {
namespace {

char16_t lower(char16_t c) {
  if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
  // Latin-1 and Latin Extended-A capitals as the file system folds them.
  if ((c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 32);
  if (c >= 0x100 && c <= 0x17F && c != 0x130 && c != 0x131 && c != 0x138 && c != 0x149 && c != 0x17F) {
    const bool odd_pairs = (c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E);
    if (odd_pairs ? (c % 2 == 1) : (c % 2 == 0)) return static_cast<char16_t>(c + 1);
  }
  return c;
}

constexpr std::u16string_view kPrefixes[5] = {u"idv::", u"vlt::", u"usr::", u"dbg::", u"bin::"};

const std::u16string* folder_at(const known_folders_t& f, int i) {
  const std::u16string* all[5] = {&f.user_templates, &f.user_data, &f.local_user_data, &f.install_templates,
                                  &f.binary};
  return all[i];
}

}  // namespace

void lower_case_latin(std::u16string& text) {
  for (char16_t& c : text) c = lower(c);
}

#if !defined(_WIN32)
void lower_case(std::u16string& text) { lower_case_latin(text); }
#endif

std::u16string prepare_path(std::u16string_view path) {
  std::u16string out(path);
  const std::size_t first = out.find_first_of(u"\\/");
  const char16_t separator = first == std::u16string::npos ? u'\\' : out[first];
  lower_case(out);
  for (char16_t& c : out)
    if (c == u'\\' || c == u'/') c = separator;
  return out;
}

std::u16string compact_path(std::u16string_view path, const known_folders_t& folders) {
  if (path.empty()) return {};
  std::u16string prepared = prepare_path(path);
  for (int i = 0; i < 5; ++i) {
    const std::u16string folder = prepare_path(*folder_at(folders, i));
    if (folder.empty()) continue;
    const std::size_t at = prepared.find(folder);
    if (at == std::u16string::npos) continue;
    prepared.replace(at, folder.size(), kPrefixes[i]);
    return prepared;
  }
  return prepared;
}

std::u16string expand_path(std::u16string_view path, const known_folders_t& folders) {
  for (int i = 0; i < 5; ++i) {
    if (path.substr(0, kPrefixes[i].size()) == kPrefixes[i]) {
      const std::u16string& folder = *folder_at(folders, i);
      if (folder.empty()) return std::u16string(path);
      return folder + std::u16string(path.substr(kPrefixes[i].size()));
    }
  }
  return std::u16string(path);
}

std::u16string with_separator(std::u16string folder) {
  if (!folder.empty() && folder.back() != u'\\' && folder.back() != u'/') folder += u'\\';
  return folder;
}

}  // namespace kxpaths
