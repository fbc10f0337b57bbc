// The portable part of a page control's record: the fields that manifests and page matching use.
// The page side (include_extension/Controls.h) adds the element's name, id and the element itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Control types as the page side produces them and traces print them.
enum ffcontrol_type : std::int32_t {
  ctl_unknown = 0,  // not usable: the record is invalid
  ctl_text = 1,
  ctl_edit = 2,
  ctl_psw = 3,
  ctl_button = 4,
  ctl_check = 5,
  ctl_radio = 6,
  ctl_listbx = 7,
  ctl_combo = 8,
};

// "unknown", "text", "edit", "psw", "button", "check", "radio", "listbx", "combo", else "NEW %d".
std::string ffcontrol_type_name(std::int32_t type);

struct ffcontrol_record {
  std::int32_t type = ctl_unknown;
  std::int32_t memID = -1;           // tick count when the control was built
  std::string top;                   // URL of the top document (left empty by the page side)
  std::string parent;                // URL of the frame document; empty in the top document
  std::string formname;
  std::string name;                  // encoded identity, indexes into the page's string table
  std::string dispname;              // label text
  std::string value;
  std::vector<std::string> options;  // option texts of a single select
  std::int32_t fieldA = -1;
  std::int32_t fieldB = 1;
};

// The page's string table: distinct strings in insertion order; control identities refer to them
// by position.
using ffstring_table = std::vector<std::string>;
