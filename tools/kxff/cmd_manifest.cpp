// kxff manifest ... and kxff url ...: load, show, write and create manifests; URL keys and checks.
#include <cstdio>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "manifest/ManifestCreation.h"
#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"
#include "manifest/Matching.h"
#include "tools/kxff/command.h"
#include "tracecore/trace.h"
#include "tracecore/tracer.h"
#include "tracecore/utf.h"

namespace kxff {
namespace {

using json = nlohmann::ordered_json;

// Keeps the component's trace records so that a failed load can show what it traced.
class trace_keeper_t {
 public:
  trace_keeper_t() {
    tracer_.configure();
    previous_ = tracecore::install(&tracer_);
  }
  ~trace_keeper_t() { tracecore::install(previous_); }
  trace_keeper_t(const trace_keeper_t&) = delete;
  trace_keeper_t& operator=(const trace_keeper_t&) = delete;

  // The text of the "U" and "E" records, one per line.
  std::string text() const {
    std::string out;
    if (!tracer_.storage) return out;
    for (const auto& r : tracer_.storage->records()) {
      if (r.kind != 'U' && r.kind != 'E') continue;
      if (!out.empty()) out += '\n';
      out += r.text;
    }
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
  }

 private:
  class memory_tracer_t final : public tracecore::tracer_t {
   public:
    int output_mode() override { return tracecore::mode_console; }
    tracecore::outputstoragememory_t* storage = nullptr;

   protected:
    std::unique_ptr<tracecore::outputstorageinterface_t> make_output(int) override {
      auto s = std::make_unique<tracecore::outputstoragememory_t>();
      storage = s.get();
      return s;
    }
  };
  memory_tracer_t tracer_;
  tracecore::tracer_t* previous_ = nullptr;
};

json fieldJson(const ManifestField& f) {
  return json{{"type", f.type},
              {"displayname", f.displayname},
              {"path", f.path},
              {"dbname", f.dbname},
              {"policy", f.policy},
              {"value",
               {{"kind", f.value.kind},
                {"askalways", f.value.askalways},
                {"onetvalue", f.value.onetvalue},
                {"choosevalue", f.value.choosevalue},
                {"value", f.value.value}}},
              {"rfield", f.rfield},
              {"rfieldform", f.rfieldform},
              {"targetId", f.targetId},
              {"rfieldindex", f.rfieldindex},
              {"useit", f.useit},
              {"password", f.password},
              {"submit", f.submit},
              {"formNumber", f.formNumber},
              {"fieldId", f.fieldId},
              {"accid", f.accid},
              {"refCount", f.refCount}};
}

json formJson(const ManifestForm& form) {
  const FormDetection& d = form.detection;
  const FormOptions& o = form.options;
  json fields = json::array();
  for (const auto& f : form.fields) fields.push_back(fieldJson(f));
  return json{{"context", {{"type", form.context.type}, {"name", form.context.name}, {"parent", form.context.parent}}},
              {"detection",
               {{"captionMode", d.captionMode},
                {"caption", d.caption},
                {"pattern", d.pattern},
                {"web_ourl", d.web_ourl},
                {"web_murl", d.web_murl},
                {"web_qurl", d.web_qurl},
                {"web_checkurl", d.web_checkurl},
                {"ourlFromMurl", d.ourlFromMurl},
                {"dlg_tab", d.dlg_tab},
                {"dlg_class", d.dlg_class},
                {"emu_pattern", d.emu_pattern},
                {"names", d.names},
                {"monitor", d.monitor},
                {"processname", d.processname},
                {"commandline", d.commandline}}},
              {"options",
               {{"choosename", o.choosename},
                {"sidekick", o.sidekick},
                {"ownernote", o.ownernote},
                {"quicklink", o.quicklink},
                {"qlwocred", o.qlwocred},
                {"autoprompt", o.autoprompt},
                {"lockfields", o.lockfields},
                {"balooncount", o.balooncount},
                {"submittype", o.submittype},
                {"iconkey", o.iconkey},
                {"iconlocation", o.iconlocation},
                {"usequicklink", o.usequicklink},
                {"recheckwindowafterfillin", o.recheckwindowafterfillin},
                {"extra", o.extra}}},
              {"fields", fields}};
}

json manifestJson(const Manifest& m) {
  const ManifestDescriptor& d = m.descriptor;
  json forms = json::array();
  for (const auto& f : m.forms) forms.push_back(formJson(f));
  json processes = json::object();
  for (const auto& [name, e] : m.processes) {
    json classes = json::object();
    for (const auto& [cname, c] : e.classes) {
      json captions = json::object();
      for (const auto& [caption, flags] : c.captions) captions[caption] = flags;
      classes[cname] = {{"flags", c.flags}, {"captions", captions}};
    }
    processes[name] = {{"flags", e.flags}, {"classes", classes}};
  }
  return json{{"descriptor",
               {{"id", d.id},
                {"created", d.created},
                {"modified", d.modified},
                {"integrity", d.integrity},
                {"source", d.source},
                {"size", d.size},
                {"storage_id", d.storage_id},
                {"version", d.version}}},
              {"forms", forms},
              {"processes", processes},
              {"alien", m.alien},
              {"filePath", tracecore::to_utf8(m.filePath)},
              {"slot", m.slot},
              {"isNew", m.isNew},
              {"refStatus", m.refStatus}};
}

void printJson(const json& j) {
  const std::string text = j.dump(2, ' ', false, json::error_handler_t::replace);
  std::printf("%s\n", text.c_str());
}

// Loads FILE (or its bytes as message text with --text) the way the component does.
bool load(const args_t& args, std::size_t at, bool text, Manifest& m, int& rc) {
  const std::u16string name = tracecore::to_utf16(args[at]);
  trace_keeper_t trace;
  bool ok;
  if (text) {
    std::string bytes;
    if (!read_file(args[at], bytes)) {
      rc = 1;
      return false;
    }
    ok = loadM_properlyS(name, bytes, m);
  } else {
    ok = loadM_properly(name, m);
  }
  if (!ok) rc = fail(trace.text());
  return ok;
}

std::string jsonText(const json& j, const char* key) {
  const auto it = j.find(key);
  return it != j.end() && it->is_string() ? it->get<std::string>() : std::string();
}

int create(const args_t& args) {
  if (args.size() < 2) return usage_error("manifest");
  std::u16string caption, windowClass;
  for (std::size_t i = 2; i < args.size(); ++i) {
    if (args[i] == "--caption" && i + 1 < args.size()) caption = tracecore::to_utf16(args[++i]);
    else if (args[i] == "--class" && i + 1 < args.size()) windowClass = tracecore::to_utf16(args[++i]);
    else return usage_error("manifest");
  }
  std::string bytes;
  if (!read_file(args[1], bytes)) return 1;
  const json input = json::parse(bytes, nullptr, false);
  if (input.is_discarded()) return fail("not JSON: " + args[1]);
  const json& list = input.is_array() ? input : input.value("controls", json::array());
  if (!list.is_array()) return fail("controls must be an array");
  std::vector<ffcontrol_record> controls;
  for (const auto& c : list) {
    if (!c.is_object()) return fail("a control must be an object");
    ffcontrol_record r;
    r.type = c.value("type", 0);
    r.memID = c.value("memID", -1);
    r.top = jsonText(c, "top");
    r.parent = jsonText(c, "parent");
    r.formname = jsonText(c, "formname");
    r.name = jsonText(c, "name");
    r.dispname = jsonText(c, "dispname");
    r.value = jsonText(c, "value");
    if (c.contains("options") && c["options"].is_array())
      for (const auto& o : c["options"])
        if (o.is_string()) r.options.push_back(o.get<std::string>());
    controls.push_back(std::move(r));
  }
  ffstring_table strings;
  if (input.is_object() && input.contains("strings") && input["strings"].is_array())
    for (const auto& s : input["strings"])
      if (s.is_string()) strings.push_back(s.get<std::string>());
  Manifest m;
  try {
    manifest::InitManifest(caption, windowClass, controls, strings, m, manifest::processSources());
  } catch (const std::exception& e) {
    return fail(e.what());
  }
  std::string text;
  manifest::manifestToText(m, text);
  std::fputs(text.c_str(), stdout);
  return 0;
}

int runManifest(const args_t& args) {
  if (args.empty()) return usage_error("manifest");
  const std::string& what = args[0];
  if (what == "show") {
    const bool text = args.size() == 3 && args[1] == "--text";
    if (args.size() != (text ? 3u : 2u)) return usage_error("manifest");
    Manifest m;
    int rc = 0;
    if (!load(args, text ? 2 : 1, text, m, rc)) return rc;
    printJson(manifestJson(m));
    return 0;
  }
  if (what == "write") {
    if (args.size() != 2) return usage_error("manifest");
    Manifest m;
    int rc = 0;
    if (!load(args, 1, false, m, rc)) return rc;
    std::string text;
    manifest::manifestToText(m, text);
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  if (what == "create") return create(args);
  return usage_error("manifest");
}

int runUrl(const args_t& args) {
  if (args.size() == 2 && args[0] == "keys") {
    std::u16string host, hostPath, domainPath, domain;
    manifest::urlKeys(tracecore::to_utf16(args[1]), &host, &hostPath, &domainPath, &domain);
    for (const auto* key : {&host, &hostPath, &domainPath, &domain})
      std::printf("%s\n", tracecore::to_utf8(*key).c_str());
    return 0;
  }
  if (args.size() == 3 && args[0] == "compare") {
    ManifestForm form;
    form.detection.web_checkurl = true;
    form.detection.web_murl = args[2];
    const std::int32_t result = manifest::checkFormUrl(form, tracecore::to_utf16(args[1]));
    std::printf("%d %s\n", static_cast<int>(result), manifest::urlKindName(result));
    return 0;
  }
  return usage_error("url");
}

const registrar_t manifestGroup("manifest",
                                "manifest show [--text] FILE | manifest write FILE | "
                                "manifest create CONTROLS.json [--caption TEXT] [--class NAME]",
                                &runManifest);
const registrar_t urlGroup("url", "url keys URL | url compare PAGEURL MANIFESTURL", &runUrl);

}  // namespace
}  // namespace kxff
