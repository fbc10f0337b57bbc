#include <windows.h>

#include <exception>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "agentcomm/transport/DontPromptList.h"
#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/transport/Transport.h"
#include "environment/Paths.h"
#include "environment/Settings.h"
#include "manifest/ManifestReader.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace ffipc {
namespace {

std::string read_textfile(const std::u16string& name) {
  const std::u16string path = kxpaths::expand_path(name);
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  if (!in) {
    const DWORD attributes = GetFileAttributesW(tracecore::wide_c_str(path));
    throw errors::fileload_error(attributes == INVALID_FILE_ATTRIBUTES ? errors::fileload_error::notfound
                                                                       : errors::fileload_error::noaccess,
                                 tracecore::to_utf8(path));
  }
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

void dontprompt_list_t::set_file_name(std::u16string name) {
  std::lock_guard<std::mutex> g(lock_);
  file_name_ = std::move(name);
  have_name_ = true;
  loaded_ = false;
  records_ = {};
}

std::u16string dontprompt_list_t::file_name_locked() {
  if (!have_name_) {
    const std::wstring name = kxsettings::settings().get_path(L"dontpromptlist_filename");
    file_name_.assign(name.begin(), name.end());
    have_name_ = true;
  }
  return file_name_;
}

void dontprompt_list_t::load_locked() {
  if (loaded_) return;
  loaded_ = true;
  readable_ = false;
  records_ = {};
  const std::u16string name = file_name_locked();
  if (name.empty()) {
    readable_ = true;  // nothing to read or to replace; the save says "empty fname"
    return;
  }
  try {
    records_ = dontprompt_records_t::parse(read_textfile(name));
    readable_ = true;
  } catch (const errors::fileload_error& e) {
    readable_ = e.code() == errors::fileload_error::notfound;  // a new list
    KXERROR("load_textfile [%s]: '%s'", errors::fileload_code_name(e.code()).c_str(), e.what());
  } catch (const std::exception& e) {
    KXERROR("load_textfile: %s", e.what());
  } catch (...) {
    KXERROR("load_textfile oo");
  }
}

bool dontprompt_list_t::web_flag(std::string_view name) {
  if (name.empty()) return true;
  std::lock_guard<std::mutex> g(lock_);
  load_locked();
  auto it = records_.web.find(std::string(name));
  return it != records_.web.end() && it->second.flag;
}

void dontprompt_list_t::set_web(const std::string& name) {
  std::lock_guard<std::mutex> g(lock_);
  if (loaded_ && !readable_) {
    // The last read failed: try again, keeping what this session added.
    const dontprompt_records_t added = records_;
    loaded_ = false;
    load_locked();
    for (const auto& [key, entry] : added.web) records_.web[key] = entry;
    for (const auto& [key, entry] : added.dlg) records_.dlg[key] = entry;
  }
  load_locked();
  records_.web[name] = dontprompt_entry_t{true, 0};
  if (!readable_) {
    KXTRACE("'`I04`'the don't-prompt list could not be read: kept for this session, not saved");
    return;
  }
  save_locked();
}

void dontprompt_list_t::save_locked() {
  KXSCOPE("EL::IPC");
  try {
    const std::u16string name = file_name_locked();
    if (name.empty()) {
      KXERROR("empty fname");
      return;
    }
    const std::string compacted = tracecore::to_utf8(kxpaths::compact_path(name));
    KXTRACE("save %s", compacted.c_str());
    if (HWND agent = find_agent_window())
      send_text(agent, registered(kxmsg::agent_manifest), compacted, records_.format());
  } catch (...) {
    KXERROR("savefile oo");
  }
}

dontprompt_list_t& dontprompt_list() {
  static dontprompt_list_t list;
  return list;
}

}  // namespace ffipc
