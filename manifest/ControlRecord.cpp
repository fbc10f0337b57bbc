#include "manifest/ControlRecord.h"

std::string ffcontrol_type_name(std::int32_t type) {
  static const char* const kNames[] = {"unknown", "text", "edit", "psw", "button",
                                       "check", "radio", "listbx", "combo"};
  if (type >= 0 && type <= ctl_combo) return kNames[type];
  return "NEW " + std::to_string(type);
}
