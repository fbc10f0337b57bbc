#include "manifest/ManifestWriter.h"

#include <cstring>
#include <set>
#include <string_view>

#include "manifest/Escape.h"

namespace manifest {
namespace {

bool startsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// Attribute names of the form options element; an extra line may not reuse one.
const char* const kKnownOptionNames[] = {
    "choosename", "sidekick", "ownernote", "quicklink", "balooncount", "autoprompt", "lockfields",
    "submittype", "iconkey", "iconlocation", "usequicklink", "recheckwindowafterfillin", "qlwocred"};

bool isNameChar(unsigned char c, bool first) {
  if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80) return true;
  return !first && ((c >= '0' && c <= '9') || c == '-' || c == '.');
}

bool isXmlName(std::string_view name) {
  if (name.empty()) return false;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (!isNameChar(static_cast<unsigned char>(name[i]), i == 0)) return false;
  return true;
}

// The caption conversion: wildcard captions become a "[m0]:2:N:" token and the pattern.
void convertCaption(FormDetection& d) {
  const std::string& c = d.caption;
  const std::size_t first = c.find('*');
  if (first == std::string::npos) return;
  const std::size_t last = c.rfind('*');
  const std::size_t final = c.size() - 1;
  if (last != first && first == 0 && last == final && c[last - 1] != '\\') {
    d.captionMode = 3;
    d.pattern = captionEscape(std::string_view(c).substr(1, c.size() - 2));
    d.caption = "[m0]:2:3:" + d.pattern;
  } else if (first != 0 && c[first - 1] != '\\' && first == final) {
    d.captionMode = 2;
    d.pattern = captionEscape(std::string_view(c).substr(0, first));
    d.caption = "[m0]:2:2:" + d.pattern;
  } else if (first == 0) {
    d.captionMode = 1;
    d.pattern = captionEscape(std::string_view(c).substr(1));
    d.caption = "[m0]:2:1:" + d.pattern;
  }
}

}  // namespace

void ManifestWriter::open(const char* tag) {
  out_->append(static_cast<std::size_t>(level_), '\t').append(tag).append(1, '\n');
  ++level_;
}

void ManifestWriter::close(const char* tag) {
  --level_;
  out_->append(static_cast<std::size_t>(level_), '\t').append(tag).append(1, '\n');
}

void ManifestWriter::text(const char* name, const std::string& value) {
  if (value.empty()) return;
  out_->append(static_cast<std::size_t>(level_), '\t').append(name).append("=\"");
  appendXmlEscaped(*out_, value);
  out_->append("\"\n");
}

void ManifestWriter::flag(const char* name, bool value) {
  if (value) out_->append(static_cast<std::size_t>(level_), '\t').append(name).append("=\"1\"\n");
}

void ManifestWriter::number(const char* name, std::int32_t value) {
  if (value != 0) text(name, std::to_string(value));
}

// The extra text of form options holds unknown attributes as "name=value" lines. Each is written as
// an attribute line of its own. A line that cannot start an attribute (no "=", a name that is not an
// XML name, is known or was used already) continued the previous value, which held a line feed.
void ManifestWriter::extraLines(const std::string& extra) {
  std::vector<std::pair<std::string, std::string>> attrs;
  std::set<std::string, std::less<>> used(std::begin(kKnownOptionNames), std::end(kKnownOptionNames));
  std::string_view rest = extra;
  while (true) {
    const std::size_t lf = rest.find('\n');
    const std::string_view line = rest.substr(0, lf);
    const std::size_t eq = line.find('=');
    const std::string_view name = eq == std::string_view::npos ? std::string_view() : line.substr(0, eq);
    if (isXmlName(name) && used.find(name) == used.end()) {
      used.emplace(name);
      attrs.emplace_back(std::string(name), std::string(line.substr(eq + 1)));
    } else if (!attrs.empty()) {
      attrs.back().second.append(1, '\n').append(line);
    }
    if (lf == std::string_view::npos) break;
    rest.remove_prefix(lf + 1);
  }
  for (const auto& [name, value] : attrs) {
    out_->append(static_cast<std::size_t>(level_), '\t').append(name).append("=\"");
    for (const char c : value) {
      // White space characters would be normalised to spaces inside an attribute value.
      if (c == '\n') out_->append("&#10;");
      else if (c == '\r') out_->append("&#13;");
      else if (c == '\t') out_->append("&#9;");
      else appendXmlEscaped(*out_, std::string_view(&c, 1));
    }
    out_->append("\"\n");
  }
}

void ManifestWriter::context(const FormContext& c) {
  if (c.empty() || (c.type == 1 && c.name == 0)) return;
  open("<fcontext");
  if (c.type == 0) text("type", "unknown");
  else if (c.type == 2) text("type", "pchange");
  number("name", c.name);
  number("parent", c.parent);
  close("/>");
}

void ManifestWriter::detection(const FormDetection& original) {
  if (original.empty()) return;
  FormDetection d = original;
  convertCaption(d);
  open("<detection");
  text("caption", d.caption);
  text("variablecaption", d.pattern);
  if (!d.ourlFromMurl) text("web_ourl", d.web_ourl);
  text("web_murl", d.web_murl);
  text("web_qurl", d.web_qurl);
  flag("web_checkurl", d.web_checkurl);
  text("dlg_tab", d.dlg_tab);
  text("dlg_class", d.dlg_class);
  text("emu_pattern", d.emu_pattern);
  text("names_ext", percentEscape(d.names));
  flag("monitor", d.monitor);
  text("processname", percentEscape(d.processname));
  text("commandline", percentEscape(d.commandline));
  close("/>");
}

void ManifestWriter::options(const FormOptions& o) {
  if (o.empty()) return;
  open("<options");
  text("choosename", o.choosename);
  text("sidekick", o.sidekick);
  text("ownernote", o.ownernote);
  text("quicklink", o.quicklink);
  if (o.balooncount != 3) text("balooncount", std::to_string(o.balooncount));
  flag("autoprompt", o.autoprompt);
  flag("lockfields", o.lockfields);
  if (o.submittype == 1) text("submittype", "dosubmit");
  else if (o.submittype == 2) text("submittype", "nosubmit");
  text("iconkey", o.iconkey);
  text("iconlocation", o.iconlocation);
  text("usequicklink", std::to_string(o.usequicklink));
  flag("recheckwindowafterfillin", o.recheckwindowafterfillin);
  flag("qlwocred", o.qlwocred);
  if (!o.extra.empty()) extraLines(o.extra);
  close("/>");
}

void ManifestWriter::fields(const std::vector<ManifestField>& list) {
  bool any = false;
  for (const auto& f : list) any = any || !f.empty();
  if (!any) return;
  open("<fields>");
  for (const auto& f : list) {
    if (f.empty()) continue;
    open("<field");
    text("displayname", f.displayname);
    text("type", fieldTypeWord(f.type));
    text("dbname", f.dbname);
    text("path_ext", f.path);
    std::string policy, policy2;
    std::string_view rest = f.policy;
    while (true) {
      const std::size_t sep = rest.find("#expo#");
      const std::string_view part = rest.substr(0, sep);
      if (startsWith(part, "[p4]")) policy = part;
      else if (startsWith(part, "[e1]")) policy2 = part;
      if (sep == std::string_view::npos) break;
      rest.remove_prefix(sep + 6);
    }
    text("policy", policy);
    text("policy2", policy2);
    if (f.hasValue()) text("value", percentEscape(f.value.value));
    text("choosevalue", percentEscape(f.value.choosevalue));
    if (f.rfield == 1) text("rfield", "in");
    else if (f.rfield == 2) text("rfield", "out");
    if (f.rfieldindex != -1 || f.rfieldform == -2) number("rfieldform", f.rfieldform);
    // rfieldindex 0 is written: read back without it, the reference would aim at the first
    // password field of the form instead of its first field.
    if (f.rfieldindex != -1) text("rfieldindex", std::to_string(f.rfieldindex));
    flag("askalways", f.value.askalways);
    flag("onetvalue", f.value.onetvalue);
    flag("password", f.password);
    flag("submit", f.submit);
    flag("useit", f.useit);
    if (!omitAccid_ && f.accid != -1) text("accid", std::to_string(f.accid));
    close("/>");
  }
  close("</fields>");
}

void ManifestWriter::write(Manifest& m, std::string& out, bool stampVersion) {
  if (m.empty()) return;
  out_ = &out;
  level_ = 0;
  if (stampVersion) m.descriptor.version = kFormatVersion;
  m.prepareForWrite();
  out.append("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest>\n");
  level_ = 1;
  const ManifestDescriptor& d = m.descriptor;
  if (!d.empty()) {
    open("<descriptor");
    text("id", d.id);
    text("created", d.created);
    text("modified", d.modified);
    text("integrity", d.integrity);
    text("source", d.source);
    text("size", d.size);
    text("storage_id", d.storage_id);
    text("version", d.version);
    close("/>");
  }
  bool anyForm = false;
  for (const auto& f : m.forms) anyForm = anyForm || !f.empty();
  if (anyForm) {
    open("<forms>");
    for (const auto& form : m.forms) {
      if (form.empty()) continue;
      open("<form>");
      context(form.context);
      detection(form.detection);
      options(form.options);
      fields(form.fields);
      close("</form>");
    }
    close("</forms>");
  }
  level_ = 0;
  out.append("</manifest>\n");
  out_ = nullptr;
}

void manifestToText(Manifest& m, std::string& text, bool omitAccid) {
  text.clear();
  ManifestWriter(omitAccid).write(m, text, true);
}

void writeManifest(Manifest& m, std::ostream& out, bool stampVersion) {
  std::string text;
  ManifestWriter().write(m, text, stampVersion);
  out << text;
}

}  // namespace manifest
