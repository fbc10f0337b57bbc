// The don't-prompt list: web sites and dialogs for which the user turned the training prompt off.
//
// The file is 8-bit text of records, each a name line and a visibility line, ending in CR LF:
//
//   web=www.example.test
//   vis=1:0
//   dlg=Sign in
//   vis=0:3
//
// dontprompt_records_t is the parsed form; dontprompt_list_t (Windows) loads it lazily from the
// file the settings name and stores it through the agent.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>

namespace ffipc {

struct dontprompt_entry_t {
  bool flag = true;
  std::int32_t number = 0;
  bool operator==(const dontprompt_entry_t&) const = default;
};

struct dontprompt_records_t {
  std::map<std::string, dontprompt_entry_t> web;
  std::map<std::string, dontprompt_entry_t> dlg;

  // Reads the text; lines with an unknown key are skipped. A "vis" line that does not hold exactly
  // two parts split at ":" leaves the record in progress as it was.
  static dontprompt_records_t parse(std::string_view text);
  // Every dialog record, then every web record.
  std::string format() const;
};

#if defined(_WIN32)
// The list as the component uses it: loaded on first use under its own lock.
class dontprompt_list_t {
 public:
  // The flag stored for a web site: false for an unknown name, true for an empty one.
  bool web_flag(std::string_view name);
  // Stores flag 1 and number 0 for the site and saves the whole list through the agent.
  void set_web(const std::string& name);

  // The file name; by default the setting "dontpromptlist_filename". Tests point it elsewhere.
  void set_file_name(std::u16string name);

 private:
  void load_locked();
  void save_locked();
  std::u16string file_name_locked();

  std::mutex lock_;
  bool loaded_ = false;
  // The file was read, or there was none: only then may a save replace it. After a failed read
  // ("noaccess", "badfile") the list in memory is not the user's list, and saving it would replace
  // the whole file with the entries of this session.
  bool readable_ = false;
  bool have_name_ = false;
  std::u16string file_name_;
  dontprompt_records_t records_;
};

// The component's one list.
dontprompt_list_t& dontprompt_list();
#endif

}  // namespace ffipc
