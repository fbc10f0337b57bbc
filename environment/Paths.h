// The suite's folders, and file paths in their portable form: a path inside one of five known
// folders is stored with a short prefix in place of the folder.
//
//   "C:\Users\Ann\AppData\Roaming\Kestrix\VLT\Templates\bank.kxm"  ->  "idv::bank.kxm"
//   "idv::bank.kxm"  ->  "c:\users\ann\appdata\roaming\kestrix\vlt\templates\bank.kxm"
#pragma once

#include <array>
#include <string>
#include <string_view>

namespace kxpaths {

// The five folders in the order they are tried; each ends with a separator or is empty.
struct known_folders_t {
  std::u16string user_templates;     // "idv::"
  std::u16string user_data;          // "vlt::"
  std::u16string local_user_data;    // "usr::"
  std::u16string install_templates;  // "dbg::"
  std::u16string binary;             // "bin::"
};

// Lower case, and every "\" and "/" turned into whichever of the two comes first in the text.
std::u16string prepare_path(std::u16string_view path);

// Lower-cases |text| in place, one UTF-16 unit for one. On Windows through the system's case
// mapping of the invariant locale (every script the system knows: Greek, Cyrillic, Armenian and so
// on, the same whatever the user's language); elsewhere through a built-in mapping of ASCII and the
// Latin-1 and Latin Extended-A letters.
void lower_case(std::u16string& text);
// The built-in mapping alone (also what Windows falls back to if the system's mapping fails).
void lower_case_latin(std::u16string& text);

// The portable form: the first folder found in the prepared path is replaced, where it was found,
// by its prefix; otherwise the prepared path.
std::u16string compact_path(std::u16string_view path, const known_folders_t& folders);
// The reverse: a leading prefix is replaced by its folder; other paths come back unchanged.
std::u16string expand_path(std::u16string_view path, const known_folders_t& folders);

// A folder with "\" appended unless it ends with "\" or "/" (empty stays empty).
std::u16string with_separator(std::u16string folder);

#if defined(_WIN32)
// The same with this machine's folders, computed once per process.
const known_folders_t& machine_folders();
std::u16string compact_path(std::u16string_view path);
std::u16string expand_path(std::u16string_view path);

// "BinDir" of HKLM\SOFTWARE\Kestrix\Applications; %ProgramFiles%\kestrix\bin\ when that key does not
// open; empty when the key opens and the value does not read.
std::u16string binary_directory();
// The folder of the sibling libraries, in the 64-bit registry view when |x64|.
std::u16string binary_directory_for_libraries(bool x64);
std::u16string user_templates_directory();   // %APPDATA% + Kestrix\VLT\Templates
std::u16string user_data_directory();        // %APPDATA% + Kestrix\VLT
std::u16string local_user_data_directory();  // %LOCALAPPDATA% + Kestrix\VLT
std::u16string install_templates_directory();  // binary directory + templates
#endif

}  // namespace kxpaths
