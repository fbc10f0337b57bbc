#include "agentcomm/AgentMessages.h"

#include <cstdio>

#include <iterator>

namespace kxmessages {

const char* notice_name(std::uint32_t code) {
  static const char* const names[] = {
      "NOTICE::uninitialized", "NOTICE::requestaborted", "NOTICE::kxaversion",
      "NOTICE::highlightID",   "NOTICE::senddata",       "NOTICE::senddata2",
      "NOTICE::updatareply",   "NOTICE::dsdatareply",    "NOTICE::kxajsonreply",
  };
  return code < std::size(names) ? names[code] : "unknown NOTICE";
}

std::string pending_operation_name(std::int32_t operation) {
  static const char* const names[] = {"none", "createmani", "modifyprof", "preparefillindata", "changepassword"};
  if (operation >= 0 && operation <= 4) return names[operation];
  char text[32];
  std::snprintf(text, sizeof text, "unknown[%d]", static_cast<int>(operation));
  return text;
}

const char* operation_name(std::uint32_t code) {
  static const char* const names[] = {
      "uninit",         "dofillin",           "qlfillin",           "checklogin",
      "starttraining",  "cacheupdated",       "fingeractivity",     "dontshowpretrained",
      "showpretrainedicon", "updatedotpstate", "updatedotpvalue",
  };
  return code < std::size(names) ? names[code] : "oo";
}

bool field_binder_t::field(const char* key, std::int32_t& value) {
  return is_writing() ? storage_.put_int(key, value, section_) : storage_.get_int(key, value, section_);
}

bool field_binder_t::field(const char* key, bool& value) {
  std::uint8_t byte = value ? 1 : 0;
  if (is_writing()) return storage_.put_flag(key, byte, section_);
  if (!storage_.get_flag(key, byte, section_)) return false;
  value = byte != 0;
  return true;
}

bool field_binder_t::field(const char* key, rect_t& value) {
  return is_writing() ? storage_.put_rect(key, value, section_) : storage_.get_rect(key, value, section_);
}

bool field_binder_t::field(const char* key, std::string& value) {
  return is_writing() ? storage_.put_str(key, value, section_) : storage_.get_str(key, value, section_);
}

bool field_binder_t::field(const char* key, std::u16string& value) {
  return is_writing() ? storage_.put_wstr(key, value, section_) : storage_.get_wstr(key, value, section_);
}

}  // namespace kxmessages
