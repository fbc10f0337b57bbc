// kxff page ...: a page snapshot through the component's page side: its controls with labels and
// identities, a fill-in with a manifest form, the password-change fill, and the manifest training
// would create from it.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "include_extension/Controls.h"
#include "manifest/ManifestCreation.h"
#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"
#include "manifest/Matching.h"
#include "peers/dom/SnapshotDom.h"
#include "tools/kxff/command.h"
#include "tracecore/utf.h"

namespace kxff {
namespace {

using json = nlohmann::ordered_json;

void print(const json& j) {
  std::printf("%s\n", j.dump(2, ' ', false, json::error_handler_t::replace).c_str());
}

std::string hex_code(nsresult rv) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%08X", static_cast<unsigned>(rv));
  return buf;
}

// Options after the snapshot name: --manifest FILE, --form N, --data FILE, --caption TEXT.
struct options_t {
  std::string snapshot, manifest, data, caption;
  int form = 0;
};

bool parse(const args_t& args, options_t& o) {
  if (args.size() < 2) return false;
  o.snapshot = args[1];
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (i + 1 >= args.size()) return false;
    const std::string& k = args[i];
    const std::string& v = args[++i];
    if (k == "--manifest") o.manifest = v;
    else if (k == "--data") o.data = v;
    else if (k == "--caption") o.caption = v;
    else if (k == "--form") o.form = std::stoi(v);
    else return false;
  }
  return true;
}

bool load_fill_data(const std::string& path, fffilldata& data, int& rc) {
  std::string bytes;
  if (!read_file(path, bytes)) {
    rc = 1;
    return false;
  }
  const json j = json::parse(bytes, nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    rc = fail("not a fill-in data object: " + path);
    return false;
  }
  data.submitprofile = j.value("submitprofile", 0);
  for (const json& item : j.value("profileitems", json::array())) {
    if (!item.is_object()) continue;
    data.profileitems.push_back(
        {item.value("dbname", std::string()), item.value("memid", -1), item.value("value", std::string())});
  }
  return true;
}

json controls_json(const ffcontrols& controls) {
  json list = json::array();
  for (const ffcontrol& c : controls.list()) {
    list.push_back({{"type", c.type},
                    {"typeName", ffcontrol_type_name(c.type)},
                    {"top", c.top},
                    {"parent", c.parent},
                    {"formname", c.formname},
                    {"name", c.name},
                    {"composed", std::string(manifest::composedNameOf(c.name, controls.strings()))},
                    {"dispname", c.dispname},
                    {"value", c.value},
                    {"options", c.options},
                    {"esName", tracecore::to_utf8(c.m_esName)},
                    {"esId", tracecore::to_utf8(c.m_esId)},
                    {"visible", c.isVisible()}});
  }
  return list;
}

json events_json(const snapdom::page_t& page) {
  json events = json::array();
  for (const auto& e : page.events())
    events.push_back({{"type", e.type}, {"target", e.target}, {"detail", e.detail}});
  return events;
}

std::string page_url(snapdom::page_t& page) {
  nsCOMPtr<nsIDOMHTMLDocument> html = do_QueryInterface(page.document());
  nsString url;
  if (html) html->GetURL(url);
  return tracecore::to_utf8(url.view());
}

int run(const args_t& args) {
  options_t o;
  if (args.empty() || !parse(args, o)) return usage_error("page");
  const std::string& verb = args[0];
  auto page = snapdom::page_t::load_file(o.snapshot);
  ffcontrols controls;
  controls.build(page->document());

  if (verb == "controls") {
    controls.label();
    json out;
    out["url"] = page_url(*page);
    out["controls"] = controls_json(controls);
    out["strings"] = controls.strings();
    print(out);
    return 0;
  }
  if (verb == "fill" || verb == "pwchange") {
    if (o.data.empty() || (verb == "fill" && o.manifest.empty())) return usage_error("page");
    fffilldata data;
    int rc = 0;
    if (!load_fill_data(o.data, data, rc)) return rc;
    nsresult rv;
    if (verb == "fill") {
      Manifest m;
      if (!loadM_properly(tracecore::to_utf16(o.manifest), m)) return fail("cannot load the manifest " + o.manifest);
      if (o.form < 0 || static_cast<std::size_t>(o.form) >= m.forms.size())
        return fail("the manifest has no form " + std::to_string(o.form));
      rv = controls.send(&m.forms[static_cast<std::size_t>(o.form)], data);
    } else {
      rv = controls.changePassword(data);
    }
    json out;
    out["result"] = hex_code(rv);
    out["events"] = events_json(*page);
    print(out);
    return 0;
  }
  if (verb == "train") {
    controls.label();
    // Training fills in the top document's URL, from which the form gets its URLs.
    std::vector<ffcontrol_record> records = controls.records();
    const std::string url = page_url(*page);
    for (ffcontrol_record& r : records) r.top = url;
    Manifest m;
    manifest::InitManifest(manifest::stripBrowserSuffix(tracecore::to_utf16(o.caption)), u"MozillaWindowClass",
                           records, controls.strings(), m, manifest::processSources());
    std::string text;
    manifest::manifestToText(m, text);
    std::printf("%s\n", text.c_str());
    return 0;
  }
  return usage_error("page");
}

const registrar_t pageGroup("page",
                            "page controls SNAPSHOT | page fill SNAPSHOT --manifest FILE [--form N] --data FILL.json | "
                            "page pwchange SNAPSHOT --data FILL.json | page train SNAPSHOT [--caption TEXT]",
                            &run);

}  // namespace
}  // namespace kxff
