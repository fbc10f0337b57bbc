// kxff page ...: a page snapshot through the component's page side: its controls with labels and
// identities, a fill-in with a manifest form, the password-change fill, and the manifest training
// would create from it.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "environment/LookupCache.h"
#include "include_extension/Controls.h"
#include "include_extension/FillGuard.h"
#include "include_extension/Recognition.h"
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

// Options after the snapshot name: --manifest FILE (recognize: one or more files), --form N,
// --data FILE, --caption TEXT, --url URL, --lookup SECTIONFILE, --no-prompt.
struct options_t {
  std::string snapshot, manifest, data, caption, url, lookup;
  std::vector<std::string> manifests;
  bool prompt = true;
  int form = 0;
};

bool parse(const args_t& args, options_t& o) {
  if (args.size() < 2) return false;
  o.snapshot = args[1];
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--no-prompt") {
      o.prompt = false;
      continue;
    }
    if (i + 1 >= args.size()) return false;
    const std::string& k = args[i];
    const std::string& v = args[++i];
    if (k == "--manifest") {
      o.manifest = v;
      o.manifests.push_back(v);
      while (i + 1 < args.size() && args[i + 1].rfind("--", 0) != 0) o.manifests.push_back(args[++i]);
    } else if (k == "--url") o.url = v;
    else if (k == "--lookup") o.lookup = v;
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

std::string hex4(std::uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "0x%04X", static_cast<unsigned>(v));
  return buf;
}

// Why a page is (not) recognised: every candidate with its status and score, the recognised forms,
// the slot, the page facts and the feedback decision.
int recognize(snapdom::page_t& page, const options_t& o) {
  const std::string url = o.url.empty() ? page_url(page) : o.url;
  std::vector<std::uint8_t> section;
  if (!o.lookup.empty()) {
    std::string bytes;
    if (!read_file(o.lookup, bytes)) return 1;
    section.assign(bytes.begin(), bytes.end());
  } else if (o.manifests.empty()) {
    return usage_error("page");
  }
  kxext::recognition_sources_t sources;
  sources.manifest_names = [&](std::u16string_view u, bool traceOn) {
    if (!o.lookup.empty()) return lookupcache::cached_url(section, u, traceOn);
    std::u16string names;
    for (const std::string& m : o.manifests) names += (names.empty() ? u"" : u"\n") + tracecore::to_utf16(m);
    return names;
  };
  kxext::PageState state;
  kxext::recognition_stop stop;
  const std::u16string url16 = tracecore::to_utf16(url);
  kxext::recognize_page(page.document(), url16, sources, state, &stop);

  json out;
  out["url"] = url;
  out["stop"] = kxext::recognition_stop_name(stop);
  json candidates = json::array();
  for (const kxext::FormCandidate& c : state.candidates) {
    const std::uint32_t score = c.status.score();
    candidates.push_back({{"id", c.id},
                          {"manifest", tracecore::to_utf8(c.manifest->filePath)},
                          {"form", c.form->context.name},
                          {"choosename", c.form->options.choosename},
                          {"urlKind", c.status.urlKind},
                          {"urlKindName", manifest::urlKindName(c.status.urlKind)},
                          {"flags0", c.status.flags0},
                          {"processKind", c.status.processKind},
                          {"flags", c.status.flags},
                          {"count", c.status.count},
                          {"score", hex4(score)},
                          {"scoreText", kxext::score_text(score)}});
  }
  out["candidates"] = std::move(candidates);
  json recognized = json::array();
  for (const kxext::FormCandidate& c : state.recognized)
    recognized.push_back({{"id", c.id}, {"manifest", tracecore::to_utf8(c.manifest->filePath)}, {"form", c.form->context.name}});
  out["recognized"] = std::move(recognized);
  const Manifest* single = state.single_recognized_manifest();
  out["slot"] = single ? single->slot : -1;
  out["facts"] = {{"flags", state.facts.flags},
                  {"passwords", state.facts.passwords},
                  {"controls", state.facts.controls.size()},
                  {"goodForLogon", state.good_for_logon()},
                  {"passwordChangeScreen", state.is_password_change_screen()}};
  kxext::suppressed_urls_t none;
  kxext::feedback_inputs_t in{stop == kxext::recognition_stop::done ? &state : nullptr, o.prompt, page.document(), url16,
                              &none};
  std::int32_t mode = 0;
  const bool shown = kxext::decide_feedback(in, mode);
  static const char* const modes[] = {"trained", "training prompt", "password change"};
  out["feedback"] = {{"shown", shown}, {"mode", mode}, {"modeName", shown && mode >= 0 && mode <= 2 ? modes[mode] : "hidden"}};
  print(out);
  return 0;
}

int run(const args_t& args) {
  options_t o;
  if (args.empty() || !parse(args, o)) return usage_error("page");
  const std::string& verb = args[0];
  auto page = snapdom::page_t::load_file(o.snapshot);
  if (verb == "recognize") return recognize(*page, o);
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
    // Exactly what the component would do: the fill guard over the page's document and its URL (or
    // --url in its place); the request is taken to have been made for this document.
    fillguard::fill_target_t target;
    target.document = page->document();
    target.requested_document = page->document();
    target.url = tracecore::to_utf16(o.url.empty() ? page_url(*page) : o.url);
    target.requested_url = target.url;
    fillguard::fill_result_t result;
    if (verb == "fill") {
      Manifest m;
      if (!loadM_properly(tracecore::to_utf16(o.manifest), m)) return fail("cannot load the manifest " + o.manifest);
      if (o.form < 0 || static_cast<std::size_t>(o.form) >= m.forms.size())
        return fail("the manifest has no form " + std::to_string(o.form));
      result = fillguard::fill(target, &m.forms[static_cast<std::size_t>(o.form)], data);
    } else {
      result = fillguard::change_password(target, data);
    }
    json out;
    out["result"] = hex_code(result.rv);
    out["refused"] = result.filled() ? json() : json(fillguard::refusal_name(result.refused));
    json refused = json::array();
    for (const fillguard::refused_control_t& c : result.controls)
      refused.push_back({{"control", c.composed}, {"frame", c.frame}, {"reason", fillguard::refusal_name(c.reason)}});
    out["refusedControls"] = refused;
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
                            "page controls SNAPSHOT | page fill SNAPSHOT --manifest FILE [--form N] --data FILL.json [--url URL] | "
                            "page pwchange SNAPSHOT --data FILL.json [--url URL] | page train SNAPSHOT [--caption TEXT] | "
                            "page recognize SNAPSHOT [--url URL] [--no-prompt] (--manifest FILE... | --lookup SECTION)",
                            &run);

}  // namespace
}  // namespace kxff
