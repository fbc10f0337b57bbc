#include "peers/agent/AgentVault.h"

#include <cctype>
#include <filesystem>
#include <fstream>

#include "manifest/ManifestReader.h"
#include "tracecore/utf.h"

namespace kxagent {

using nlohmann::json;
using tracecore::to_utf8;
namespace fs = std::filesystem;

vault_t::vault_t(const std::wstring& path) {
  if (path.empty()) return;
  std::ifstream in{fs::path(path)};
  if (!in) return;
  data_ = json::parse(in, nullptr, false);
  if (data_.is_discarded()) data_ = json::object();
}

bool vault_t::find(const std::u16string& manifest_name, std::int32_t index, const std::string& manifest_text,
                   std::int32_t formindex, kxmessages::filldata_t& out) const {
  std::string file = to_utf8(manifest_name);
  if (const std::size_t slash = file.find_last_of("\\/:"); slash != std::string::npos) file = file.substr(slash + 1);
  if (!data_.contains("profiles") || !data_["profiles"].is_array()) return false;
  std::string user_db = "user", password_db = "password";
  Manifest m;
  if (!manifest_text.empty()) {
    try {
      manifest::parseManifest(manifest_text.data(), manifest_text.size(), m);
    } catch (...) {
      m = Manifest();
    }
  }
  const ManifestForm* form = m.findForm(formindex);
  if (!form && !m.forms.empty()) form = &m.forms.front();
  if (form) {
    bool user_found = false, password_found = false;
    for (const ManifestField& f : form->fields) {
      if (!f.useit || f.type != field_edit) continue;
      if (f.password && !password_found) {
        password_db = f.dbname;
        password_found = true;
      } else if (!f.password && !user_found) {
        user_db = f.dbname;
        user_found = true;
      }
    }
  }
  for (const json& p : data_["profiles"]) {
    if (!p.is_object() || !iequal(p.value("manifest", ""), file)) continue;
    if (index >= 0 && p.value("profileindex", -1) != index) continue;
    out.operation = 3;
    out.profileindex = p.value("profileindex", 0);
    out.profilename = tracecore::to_utf16(p.value("profilename", ""));
    out.submitprofile = 1;
    if (p.contains("items") && p["items"].is_array()) {
      for (const json& item : p["items"]) {
        if (!item.is_object()) continue;
        kxmessages::profileitem_t pi;
        pi.dbname = item.value("dbname", "");
        if (pi.dbname == "user") pi.dbname = user_db;
        else if (pi.dbname == "password") pi.dbname = password_db;
        pi.displayname = tracecore::to_utf16(item.value("displayname", ""));
        pi.value = tracecore::to_utf16(item.value("value", ""));
        pi.memid = -1;  // any field of that database name
        out.profileitems.push_back(std::move(pi));
      }
    }
    return true;
  }
  return false;
}

bool vault_t::iequal(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  return true;
}

}  // namespace kxagent
