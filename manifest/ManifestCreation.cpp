#include "manifest/ManifestCreation.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <stdexcept>

#include "manifest/Escape.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace manifest {
namespace {

constexpr std::string_view kOmPrefix = "[om]";
bool isOm(std::string_view path) { return path.substr(0, kOmPrefix.size()) == kOmPrefix; }

bool isTrimmed(char16_t c) { return c == u' ' || c == u'\t' || c == u'\v' || c == u'\r' || c == u'\n'; }

std::u16string_view trim(std::u16string_view s) {
  while (!s.empty() && isTrimmed(s.front())) s.remove_prefix(1);
  while (!s.empty() && isTrimmed(s.back())) s.remove_suffix(1);
  return s;
}

std::u16string lower(std::u16string_view s) {
  std::u16string out(s);
  for (auto& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return out;
}

bool isEditOrCombo(const ffcontrol_record& c) { return c.type == ctl_edit || c.type == ctl_combo; }

// A field for |c| by the control-type table; false when the control gives none.
bool makeField(const ffcontrol_record& c, ManifestField& f) {
  switch (c.type) {
    case ctl_text:
      if (c.dispname.empty()) return false;
      f.type = field_text;
      break;
    case ctl_edit:
      f.type = field_edit;
      f.value.value = c.value;
      break;
    case ctl_psw:
      f.type = field_edit;
      f.password = true;
      break;
    case ctl_button:
      // The submit flag comes with the submit role below: only one control submits.
      f.type = field_button;
      break;
    case ctl_check: f.type = field_check; break;
    case ctl_radio: f.type = field_radio; break;
    case ctl_listbx:
      if (c.options.empty()) return false;
      f.type = field_list;
      f.value.value = c.value;
      break;
    case ctl_combo:
      f.type = field_combo;
      f.value.value = c.value;
      break;
    default: return false;
  }
  f.path = c.name;
  f.displayname = c.dispname;
  f.accid = c.memID;
  f.value.choosevalue = joinNames(c.options);
  return true;
}

void lineBreaksToSpaces(std::string& s) {
  std::replace(s.begin(), s.end(), '\r', ' ');
  std::replace(s.begin(), s.end(), '\n', ' ');
}

std::string cut(const std::string& s, std::size_t limit, const char* tail) {
  return s.size() > limit ? s.substr(0, limit) + tail : s;
}

bool isNil(const guid_t& g) {
  if (g.data1 || g.data2 || g.data3) return false;
  for (std::uint8_t b : g.data4)
    if (b) return false;
  return true;
}

// A new GUID; when the system cannot make one (an all-zero result), a value of the same shape made
// unique from the clock and a counter, so that no two descriptors or credential items share an id.
guid_t freshGuid(const creation_sources_t& sources) {
  guid_t g = sources.newGuid ? sources.newGuid() : guid_t{};
  if (!isNil(g)) return g;
  static std::atomic<std::uint64_t> counter{0};
  const std::uint64_t now = sources.now ? sources.now() : 0;
  const std::uint64_t n = ++counter;
  // splitmix64 of the clock and the counter, so that values made in one moment still look unrelated.
  std::uint64_t x = now ^ (n * 0x9E3779B97F4A7C15ull), y = 0;
  for (std::uint64_t* out : {&x, &y}) {
    std::uint64_t z = (*out = x + 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    *out = z ^ (z >> 31);
  }
  g.data1 = static_cast<std::uint32_t>(x >> 32);
  g.data2 = static_cast<std::uint16_t>(x >> 16);
  g.data3 = static_cast<std::uint16_t>(n & 0xFFFF);  // the counter keeps them apart
  for (int i = 0; i < 8; ++i) g.data4[i] = static_cast<std::uint8_t>(y >> (8 * i));
  if (isNil(g)) g.data1 = 1;
  KXTRACE("'`I04`'GUID creation failed: an id made from the clock instead");
  return g;
}

}  // namespace

std::string formatGuid(const guid_t& g) {
  char buf[48];
  std::snprintf(buf, sizeof buf, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(g.data1), g.data2, g.data3, g.data4[0], g.data4[1], g.data4[2],
                g.data4[3], g.data4[4], g.data4[5], g.data4[6], g.data4[7]);
  return buf;
}

std::string formatFileTime(std::uint64_t t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%lx %lx", static_cast<unsigned long>(t >> 32),
                static_cast<unsigned long>(t & 0xFFFFFFFFu));
  return buf;
}

std::u16string stripBrowserSuffix(std::u16string_view caption) {
  static const std::u16string_view kSuffixes[] = {
      u" - Windows Internet Explorer", u" - Microsoft Internet Explorer", u" - IE 6",
      u" - Google Chrome",             u" - Mozilla Firefox",             u" - Microsoft Outlook",
      u" - MSN Explorer",              u" - Internet Explorer"};
  std::u16string_view c = trim(caption);
  for (const auto suffix : kSuffixes) {
    const std::size_t at = c.rfind(suffix);
    if (at != std::u16string_view::npos) {
      c = trim(c.substr(0, at));
      break;
    }
  }
  return std::u16string(c);
}

void splitCommandLine(std::u16string_view line, std::u16string& program, std::u16string& arguments) {
  line = trim(line);
  std::size_t end;
  if (!line.empty() && line.front() == u'"') {
    const std::size_t quote = line.find(u'"', 1);
    program.assign(line.substr(1, quote == std::u16string_view::npos ? std::u16string_view::npos : quote - 1));
    end = quote == std::u16string_view::npos ? line.size() : quote + 1;
  } else {
    end = std::min(line.find(u' '), line.find(u'\t'));
    if (end == std::u16string_view::npos) end = line.size();
    program.assign(line.substr(0, end));
  }
  arguments.assign(trim(line.substr(end)));
}

std::u16string abbreviateProgramFiles(std::u16string_view text, const creation_sources_t& sources) {
  std::u16string out(text);
  if (out.empty() || !sources.environment) return out;
  const std::u16string_view name =
      lower(text).find(u"program files (x86)") != std::u16string::npos ? u"ProgramFiles(x86)" : u"ProgramFiles";
  std::u16string value;
  if (!sources.environment(name, value) || value.empty()) return out;
  const std::size_t at = out.find(value);
  if (at != std::u16string::npos) out.replace(at, value.size(), u"%" + std::u16string(name) + u"%");
  return out;
}

void listControls(const char* header, const std::vector<ffcontrol_record>& controls) {
  if (!tracecore::on()) return;
  KXTRACE("%s", header);
  KXTRACE("'`I06`'ctrl: top.parent.memID.formname.ctrltype.dispname");
  std::vector<std::string> urls;
  auto urlIndex = [&](const std::string& url) {
    const auto it = std::find(urls.begin(), urls.end(), url);
    if (it != urls.end()) return static_cast<int>(it - urls.begin());
    urls.push_back(url);
    return static_cast<int>(urls.size() - 1);
  };
  std::size_t width = 0;
  for (const auto& c : controls) {
    urlIndex(c.top);
    urlIndex(c.parent);
    width = std::max(width, c.formname.empty() ? std::string_view("unnamedUnnamed").size() : c.formname.size());
  }
  for (std::size_t i = 0; i < urls.size(); ++i) {
    const bool tooLong = urls[i].size() > 96;
    KXTRACE("'`I06`'urls: %d='%s%s'", static_cast<int>(i), (tooLong ? urls[i].substr(0, 96) : urls[i]).c_str(),
            tooLong ? " ..." : "");
  }
  const bool wide = controls.size() >= 11;
  for (std::size_t i = 0; i < controls.size(); ++i) {
    const auto& c = controls[i];
    char head[64], formFormat[32];
    std::snprintf(head, sizeof head, wide ? "%2d " : "%d ", static_cast<int>(i));
    std::string line = head;
    char pos[64];
    std::snprintf(pos, sizeof pos, "%d.%d.%s", urlIndex(c.top), urlIndex(c.parent), std::to_string(c.memID).c_str());
    line += pos;
    std::snprintf(formFormat, sizeof formFormat, ".[%%%ds]", static_cast<int>(width));
    std::vector<char> form(width + 8);
    std::snprintf(form.data(), form.size(), formFormat, c.formname.empty() ? "unnamedUnnamed" : c.formname.c_str());
    line += form.data();
    char type[32];
    std::snprintf(type, sizeof type, ".%-7s", ffcontrol_type_name(c.type).c_str());
    line += type;
    line += c.dispname.size() > 40 ? " dsp='" + c.dispname.substr(0, 40) + "...'" : " dsp='" + c.dispname + "'";
    line += " val='" + cut(c.value, 40, "...") + "'";
    KXTRACE("'`I06`'%s", line.c_str());
  }
}

std::vector<ffcontrol_record> filtercontrols(const std::vector<ffcontrol_record>& controls, bool filter) {
  if (!filter) {
    KXTRACE("No filter for controls. Admin has it all.");
    return controls;
  }
  listControls("before filter:", controls);
  std::vector<const ffcontrol_record*> om, rest;
  for (const auto& c : controls) {
    if (isOm(c.name)) om.push_back(&c);
    else if (c.type != ctl_radio) rest.push_back(&c);
  }
  // Groups by frame, then form name; std::map orders both byte-wise.
  std::map<std::pair<std::string, std::string>, std::vector<const ffcontrol_record*>> groups;
  for (const auto* c : rest) groups[{c->parent, c->formname}].push_back(c);

  using group_t = decltype(groups)::value_type;
  auto count = [](const group_t& g, bool (*pred)(const ffcontrol_record&)) {
    std::size_t n = 0;
    for (const auto* c : g.second) n += pred(*c) ? 1 : 0;
    return n;
  };
  auto isPassword = [](const ffcontrol_record& c) { return c.type == ctl_psw; };
  // The first tier that keeps a group: forms with a password, with several edits, with one edit.
  std::vector<const group_t*> kept;
  for (int tier = 0; tier < 3 && kept.empty(); ++tier) {
    for (const auto& g : groups) {
      const bool keep = tier == 0   ? count(g, isPassword) >= 1
                        : tier == 1 ? count(g, isEditOrCombo) > 1
                                    : count(g, isEditOrCombo) >= 1;
      if (keep) kept.push_back(&g);
    }
  }

  std::vector<ffcontrol_record> out;
  const std::string* buttonlessFrame = nullptr;
  bool frameFormlessKept = false;
  for (const auto* g : kept) {
    for (const auto* c : g->second) out.push_back(*c);
    const bool hasButton =
        std::any_of(g->second.begin(), g->second.end(), [](const auto* c) { return c->type == ctl_button; });
    if (!hasButton) buttonlessFrame = &g->first.first;
  }
  if (buttonlessFrame) {
    // The frame's controls without a form, unless that group was kept already (no control twice).
    for (const auto* g : kept)
      if (g->first.first == *buttonlessFrame && g->first.second.empty()) frameFormlessKept = true;
    if (!frameFormlessKept)
      for (const auto* c : rest)
        if (c->parent == *buttonlessFrame && c->formname.empty()) out.push_back(*c);
  }
  for (const auto* c : om) out.push_back(*c);
  listControls("after filter:", out);
  return out;
}

void InitManifest(std::u16string_view caption, std::u16string_view windowClass,
                  const std::vector<ffcontrol_record>& controls, const ffstring_table& strings, Manifest& m,
                  const creation_sources_t& sources) {
  // Work on a copy so that a failure leaves the caller's manifest as it was.
  Manifest work = m;
  // 1. The new form.
  work.forms.emplace_back();
  work.slot = static_cast<std::int32_t>(work.forms.size() - 1);
  const std::size_t formIndex = work.forms.size() - 1;
  work.forms[formIndex].context = {1, 0, 0};

  // 2. Fields.
  {
    ManifestForm& form = work.forms[formIndex];
    const std::vector<ffcontrol_record> selected = filtercontrols(controls, sources.filter);
    form.fields.clear();
    for (const auto& c : selected) {
      ManifestField f;
      if (makeField(c, f)) form.fields.push_back(std::move(f));
    }
    form.detection.names = joinNames(strings);
    if (!selected.empty()) {
      FormDetection& d = form.detection;
      d.web_ourl = d.web_murl = d.web_qurl = selected.front().top;
    }
  }

  // 3. Descriptor.
  ManifestDescriptor& desc = work.descriptor;
  if (desc.id.empty()) desc.id = formatGuid(freshGuid(sources));
  if (sources.now && (desc.created.empty() || desc.modified.empty())) {
    const std::string now = formatFileTime(sources.now());  // one moment for both
    if (desc.created.empty()) desc.created = now;
    if (desc.modified.empty()) desc.modified = now;
  }

  // 4. Detection.
  {
    FormDetection& d = work.forms[formIndex].detection;
    d.caption = tracecore::to_utf8(caption);
    if (d.web_ourl.empty()) d.dlg_class = tracecore::to_utf8(windowClass);
    d.web_checkurl = !d.web_murl.empty();

    // 5. Process facts.
    std::u16string program, arguments;
    splitCommandLine(sources.commandLine, program, arguments);
    if (!program.empty()) d.processname = tracecore::to_utf8(abbreviateProgramFiles(program, sources));
    if (!arguments.empty()) d.commandline = tracecore::to_utf8(abbreviateProgramFiles(arguments, sources));
  }

  // 6. Field ids; 7. credential item names.
  work.assignFieldIds();
  for (auto& form : work.forms)
    for (auto& f : form.fields)
      if (f.dbname.empty()) f.dbname = formatGuid(freshGuid(sources));

  // 8. Roles.
  ManifestForm& form = work.forms[formIndex];
  std::vector<ManifestField*> edits, passwords, combos, buttons, fillables, userTexts;
  bool anyOm = false;
  for (auto& f : form.fields) {
    if (isOm(f.path)) {
      anyOm = true;
      continue;
    }
    if (f.type == field_edit) (f.password ? passwords : edits).push_back(&f);
    if (f.type == field_combo) combos.push_back(&f);
    if (f.type == field_button) buttons.push_back(&f);
    if (f.type == field_edit || f.type == field_button || f.type == field_combo) fillables.push_back(&f);
    if ((f.type == field_edit && !f.password) || f.type == field_combo) userTexts.push_back(&f);
  }
  ManifestField *passwordField = nullptr, *userField = nullptr, *submitField = nullptr;
  for (std::size_t i = 0; i < fillables.size(); ++i) {
    if (!fillables[i]->password) continue;
    passwordField = fillables[i];
    if (i > 0 && (fillables[i - 1]->type == field_edit || fillables[i - 1]->type == field_combo))
      userField = fillables[i - 1];
    break;
  }
  if (!userField && !userTexts.empty()) userField = userTexts.front();
  if (buttons.size() == 1) submitField = buttons.front();
  else if (buttons.size() > 1) {
    if (passwordField) submitField = passwordField;
    else if (userField) submitField = userField;
    else if (!edits.empty()) submitField = edits.back();
    else if (!combos.empty()) submitField = combos.back();
  }

  // 9.
  if (edits.empty() && passwords.empty() && combos.empty() && !anyOm)
    throw std::runtime_error("InitManifest: Form has no editable controls.");

  // 10.
  if (userField) userField->useit = true;
  if (passwordField) passwordField->useit = true;
  if (submitField) submitField->useit = submitField->submit = true;

  // 11.
  if (!form.detection.web_ourl.empty()) form.options.submittype = 1;

  // 12. and 13.
  for (auto& f : form.fields) {
    if (f.type == field_edit && f.hasValue()) lineBreaksToSpaces(f.value.value);
    if (!f.displayname.empty()) lineBreaksToSpaces(f.displayname);
    if (f.displayname.rfind("assword", 0) == 0) f.displayname.insert(0, 1, 'P');
    else if (f.displayname.rfind("sername", 0) == 0) f.displayname.insert(0, 1, 'U');
  }
  m = std::move(work);
}

}  // namespace manifest
