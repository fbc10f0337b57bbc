// Building a new manifest form from the controls of a page (training).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "manifest/ControlRecord.h"
#include "manifest/Manifest.h"

namespace manifest {

struct guid_t {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::uint8_t data4[8] = {};
};

// "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}" in lower case.
std::string formatGuid(const guid_t& guid);
// A file time (100 ns units since 1601) as "<high hex> <low hex>", lower case, no padding.
std::string formatFileTime(std::uint64_t fileTime);

// The facts of the running process that creation needs, so that everything below them stays
// portable and testable.
struct creation_sources_t {
  std::function<guid_t()> newGuid;
  std::function<std::uint64_t()> now;  // file time
  std::u16string commandLine;
  // The value of an environment variable; false when it is not set.
  std::function<bool(std::u16string_view name, std::u16string& value)> environment;
  bool filter = true;  // filtercontrols on (off: every control is kept)
};

// The sources of this process (GUIDs, clock, command line, environment).
creation_sources_t processSources();

// Trims " \t\v\r\n" and cuts the first browser suffix of the list (its last occurrence) off.
std::u16string stripBrowserSuffix(std::u16string_view caption);

// Splits a command line into the program path (without quotes) and its arguments.
void splitCommandLine(std::u16string_view commandLine, std::u16string& program, std::u16string& arguments);

// Replaces the program-files folder in |text| by "%ProgramFiles%" or "%ProgramFiles(x86)%".
std::u16string abbreviateProgramFiles(std::u16string_view text, const creation_sources_t& sources);

// The controls a new form is built from: the forms that hold a password (else edits), their frame's
// controls without a form when they have no button, then the "[om]" controls.
std::vector<ffcontrol_record> filtercontrols(const std::vector<ffcontrol_record>& controls, bool filter = true);

// Traces the control listing under |header| (only while tracing is on).
void listControls(const char* header, const std::vector<ffcontrol_record>& controls);

// Appends a new form built from |controls| (whose identities index into |strings|) to |m| and
// makes it the selected slot. Throws std::runtime_error "InitManifest: Form has no editable
// controls." when nothing can be filled; |m| is then left as it was.
void InitManifest(std::u16string_view caption, std::u16string_view windowClass,
                  const std::vector<ffcontrol_record>& controls, const ffstring_table& strings, Manifest& m,
                  const creation_sources_t& sources);

}  // namespace manifest
