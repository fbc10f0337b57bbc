#include "manifest/Manifest.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <unordered_map>

#include "manifest/Escape.h"
#include "manifest/Matching.h"
#include "tracecore/utf.h"

namespace {

const char* const kFieldTypeWords[] = {"", "edit", "button", "list", "combo", "check", "radio", "text"};

struct flag_word_t {
  const char* word;
  WindowFlags bit;
};
const flag_word_t kWindowFlagWords[] = {
    {"skip", 0x1},        {"nocom", 0x2},      {"noacc", 0x4},      {"first", 0x8},
    {"dialog", 0x20},     {"edit", 0x40},      {"protected", 0x80}, {"button", 0x100},
    {"nochildren", 0x200}, {"runtimer", 0x400}, {"iesframe", 0x800}, {"forceload", 0x1000},
    {"use16bit", 0x2000}, {"xoncancel", 0x4000}, {"vb6ncdraw", 0x8000},
};

bool startsWith(const std::string& text, const char* prefix) {
  return text.compare(0, std::strlen(prefix), prefix) == 0;
}

// Step 1: "[m0]:2:N:" caption tokens become a wildcard caption and its pattern.
void decodeCaptionToken(FormDetection& d) {
  static const struct {
    const char* token;
    CaptionMode mode;
  } kTokens[] = {{"[m0]:2:2:", 2}, {"[m0]:2:1:", 1}, {"[m0]:2:3:", 3}};
  for (const auto& t : kTokens) {
    if (!startsWith(d.caption, t.token)) continue;
    d.pattern = manifest::captionUnescape(std::string_view(d.caption).substr(9));
    d.captionMode = t.mode;
    if (t.mode == 2) d.caption = d.pattern + "*";
    else if (t.mode == 1) d.caption = "*" + d.pattern;
    else d.caption = "*" + d.pattern + "*";
    return;
  }
}

// Step 2: brings a context into shape; false when it is not well formed.
bool shapeContext(FormContext& c) {
  if (c.type == 1 || c.name == 0) {
    c = {1, 0, -1};
    return true;
  }
  if (c.type == 2 || c.name == 1) {
    c = {2, 1, c.parent == -1 ? 0 : c.parent};
    return true;
  }
  return false;
}

}  // namespace

const char* fieldTypeWord(FieldType type) {
  if (type >= 0 && type <= field_text) return kFieldTypeWords[type];
  return "";
}

FieldType fieldTypeFromWord(const char* word) {
  for (FieldType t = 1; t <= field_text; ++t)
    if (std::strcmp(word, kFieldTypeWords[t]) == 0) return t;
  return field_unknown;
}

WindowFlags windowFlagFromWord(const char* word) {
  for (const auto& f : kWindowFlagWords)
    if (std::strcmp(word, f.word) == 0) return f.bit;
  return 0;
}

bool ManifestDescriptor::empty() const {
  return id.empty() && created.empty() && modified.empty() && integrity.empty() && source.empty() &&
         size.empty() && storage_id.empty() && version.empty();
}

bool FormDetection::empty() const {
  return captionMode == 0 && caption.empty() && pattern.empty() && web_ourl.empty() && web_murl.empty() &&
         web_qurl.empty() && dlg_tab.empty() && dlg_class.empty() && emu_pattern.empty() && names.empty() &&
         processname.empty() && commandline.empty() && !monitor && web_checkurl;
}

bool FormOptions::empty() const {
  return choosename.empty() && sidekick.empty() && ownernote.empty() && quicklink.empty() && iconkey.empty() &&
         iconlocation.empty() && extra.empty() && !qlwocred && !autoprompt && !lockfields &&
         !recheckwindowafterfillin && balooncount == 3 && submittype == 0 && usequicklink == 0;
}

bool ManifestField::empty() const {
  return dbname.empty() && displayname.empty() && path.empty() && policy.empty() && value.value.empty() &&
         value.choosevalue.empty() && !value.askalways && !useit && !password && !submit && value.onetvalue &&
         rfield == 0;
}

bool ManifestForm::empty() const {
  if (!context.empty() || !detection.empty() || !options.empty()) return false;
  for (const auto& f : fields)
    if (!f.empty()) return false;
  return true;
}

bool Manifest::empty() const {
  if (!descriptor.empty()) return false;
  for (const auto& f : forms)
    if (!f.empty()) return false;
  return true;
}

ManifestForm* Manifest::findForm(std::int32_t number) {
  if (number == -1) return nullptr;
  for (auto& f : forms)
    if (f.context.name == number) return &f;
  return nullptr;
}

const ManifestForm* Manifest::findForm(std::int32_t number) const {
  return const_cast<Manifest*>(this)->findForm(number);
}

std::int32_t fieldIndexOf(const ManifestForm& form, std::int32_t fieldId) {
  for (std::size_t i = 0; i < form.fields.size(); ++i)
    if (form.fields[i].fieldId == fieldId) return static_cast<std::int32_t>(i);
  return -1;
}

void Manifest::assignFieldIds() {
  // Field ids must be unique within the manifest (accid = fieldId, and the fill-in's items name
  // fields by it). The first two forms number their fields from their form number shifted by 16 as
  // always; a later form does so only with a number of its own (2 and up, not taken by an earlier
  // form); otherwise (a third form's context is not normalised and may be absent or repeat another
  // form's) its new ids follow the highest id of the forms before it. Ids read from the file stay.
  std::int32_t highest = -1;
  for (std::size_t i = 0; i < forms.size(); ++i) {
    ManifestForm& form = forms[i];
    const std::int32_t number = form.context.name;
    bool own_range = i < 2;
    if (!own_range && number >= 2) {
      own_range = true;
      for (std::size_t j = 0; j < i; ++j)
        if (forms[j].context.name == number) own_range = false;
    }
    // Shifted as unsigned: form numbers read from files may be negative or large.
    std::int32_t next = own_range ? static_cast<std::int32_t>(static_cast<std::uint32_t>(number) << 16)
                                  : (highest == INT32_MAX ? INT32_MAX : highest + 1);
    for (const auto& f : form.fields)
      if (f.fieldId != -1 && f.fieldId >= next && f.fieldId != INT32_MAX) next = f.fieldId + 1;
    if (next == -1) next = 0;
    for (auto& f : form.fields) {
      if (f.fieldId == -1) {
        f.fieldId = next;
        if (next != INT32_MAX) ++next;
      }
      f.formNumber = number;
      highest = std::max(highest, f.fieldId);
    }
  }
}

void Manifest::normalize() {
  // 1. Caption tokens.
  for (auto& form : forms) decodeCaptionToken(form.detection);

  // 2. Form contexts: only the first two forms. A second form that kept the default context (no
  // fcontext element) is the password-change form, not a second logon form.
  for (std::size_t i = 0; i < forms.size() && i < 2; ++i) {
    FormContext& c = forms[i].context;
    const bool wasDefault = c.empty();
    const bool wellFormed = !(i == 1 && wasDefault) && shapeContext(c);
    if (!wellFormed) c = (i == 0) ? FormContext{1, 0, -1} : FormContext{2, 1, 0};
  }

  for (auto& form : forms) {
    // 3. Value kinds.
    for (auto& f : form.fields) {
      if (f.hasValue()) f.value.kind = 0;
      else if (f.value.onetvalue) f.value.kind = 3;
      else if (f.value.askalways) f.value.kind = 2;
      else f.value.kind = 1;
    }
    // 4. ourl from murl.
    FormDetection& d = form.detection;
    if (d.web_ourl.empty() && !d.web_murl.empty()) {
      d.web_ourl = d.web_murl;
      d.ourlFromMurl = true;
    }
    // 5. URL check flag.
    if (d.web_murl.empty()) {
      d.web_checkurl = false;
    } else if (!d.web_checkurl) {
      d.web_checkurl = true;
      if (alien) d.web_checkurl = manifest::parseManifestUrl(tracecore::to_utf16(d.web_murl)).status != 0;
    }
  }

  // 6. Field ids.
  assignFieldIds();

  // The forms by number and, per form, its fields by id and its first password field: indexed once,
  // so that a manifest of many fields is not searched again for every field.
  struct form_index_t {
    std::unordered_map<std::int32_t, std::size_t> byId;  // the first field with that id
    ManifestField* firstPassword = nullptr;
  };
  std::unordered_map<std::int32_t, ManifestForm*> formsByNumber;  // the first form with that number
  std::unordered_map<const ManifestForm*, form_index_t> indexes;
  for (auto& form : forms) {
    formsByNumber.try_emplace(form.context.name, &form);
    form_index_t& index = indexes[&form];
    index.byId.reserve(form.fields.size());
    for (std::size_t i = 0; i < form.fields.size(); ++i) {
      index.byId.try_emplace(form.fields[i].fieldId, i);
      if (!index.firstPassword && form.fields[i].password) index.firstPassword = &form.fields[i];
    }
  }
  const auto formNumbered = [&](std::int32_t number) -> ManifestForm* {
    if (number == -1) return nullptr;
    const auto it = formsByNumber.find(number);
    return it == formsByNumber.end() ? nullptr : it->second;
  };

  // 7. References that were resolved before (a copy that is normalised again) count at their target.
  for (auto& form : forms) {
    for (auto& f : form.fields) {
      if (f.targetId == -1 || f.rfieldform == -2) continue;
      ManifestForm* target = formNumbered(f.rfieldform == -1 ? 0 : f.rfieldform);
      if (!target) continue;
      const form_index_t& index = indexes[target];
      const auto it = index.byId.find(f.targetId);
      if (it != index.byId.end()) ++target->fields[it->second].refCount;
    }
  }

  // 8. Reference resolution.
  for (std::size_t fi = 0; fi < forms.size(); ++fi) {
    for (std::size_t i = 0; i < forms[fi].fields.size(); ++i) {
      ManifestField& f = forms[fi].fields[i];
      if (f.rfieldform == -2) continue;
      if (f.rfieldindex == -1 && f.rfield != 0 && f.rfieldform == -1) {
        f.rfieldform = 0;
      } else {
        if (f.rfieldindex == -1) continue;
        if (f.rfieldform == -1) f.rfieldform = 0;
      }
      ManifestForm* target = formNumbered(f.rfieldform);
      ManifestField* t = nullptr;
      if (target) {
        if (f.rfieldindex >= 0 && static_cast<std::size_t>(f.rfieldindex) < target->fields.size())
          t = &target->fields[static_cast<std::size_t>(f.rfieldindex)];
        else
          t = indexes[target].firstPassword;
      }
      if (!t) {
        refStatus = 2;
        continue;
      }
      // |f| and |t| may be the same field; read the target before writing.
      const std::int32_t number = t->formNumber, id = t->fieldId;
      ++t->refCount;
      f.rfieldform = number;
      f.targetId = id;
    }
  }

  // 9. Quick-link default.
  for (auto& form : forms) {
    FormOptions& o = form.options;
    if (o.usequicklink != 0) continue;
    const FormDetection& d = form.detection;
    if (!d.web_ourl.empty()) o.usequicklink = d.web_qurl.empty() ? 2 : 1;
    else o.usequicklink = d.processname.empty() ? 2 : 1;
  }

  // 10.
  isNew = 0;
}

void Manifest::prepareForWrite() {
  for (auto& form : forms) {
    for (auto& f : form.fields) {
      if (f.targetId == -1) {
        f.rfieldindex = -1;
        continue;
      }
      f.rfieldindex = -1;
      if (f.rfieldform == -2) continue;
      const ManifestForm* target = findForm(f.rfieldform);
      if (!target) continue;
      f.rfieldindex = fieldIndexOf(*target, f.targetId);
      if (f.rfieldindex == -1) {
        f.rfield = 0;
        f.rfieldform = -1;
        f.targetId = -1;
        f.rfieldindex = -1;
      }
    }
  }
}
