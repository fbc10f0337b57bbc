// The in-memory manifest: a descriptor, ordered forms (context, detection, options, fields) and the
// process tree of desktop applications. Loading (ManifestReader.h) ends with normalize(); writing
// (ManifestWriter.h) starts with prepareForWrite().
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct ManifestDescriptor {
  bool operator==(const ManifestDescriptor&) const = default;

  std::string id;
  std::string created;
  std::string modified;
  std::string integrity;
  std::string source;
  std::string size;
  std::string storage_id;
  std::string version;

  bool empty() const;
};

struct FormContext {
  bool operator==(const FormContext&) const = default;

  std::int32_t type = 1;     // 1 logon, 2 password change ("pchange"), 0 unknown
  std::int32_t name = -1;    // form number: 0 logon, 1 password change
  std::int32_t parent = -1;  // number of the form this one follows

  bool empty() const { return type == 1 && name == -1 && parent == -1; }
};

// 0 exact caption, 1 "*" + pattern, 2 pattern + "*", 3 "*" + pattern + "*".
using CaptionMode = std::int32_t;

struct FormDetection {
  bool operator==(const FormDetection&) const = default;

  CaptionMode captionMode = 0;
  std::string caption;  // carries "*" wildcards in memory
  std::string pattern;  // the caption without its wildcards
  std::string web_ourl;
  std::string web_murl;
  std::string web_qurl;
  bool web_checkurl = false;
  bool ourlFromMurl = false;  // web_ourl was copied from web_murl on load; not written back
  std::string dlg_tab;
  std::string dlg_class;
  std::string emu_pattern;
  std::string names;  // the names table the field paths index into, joined by joinNames
  bool monitor = false;
  std::string processname;
  std::string commandline;

  // Note: a detection whose web_checkurl is false is never empty.
  bool empty() const;
};

struct FormOptions {
  bool operator==(const FormOptions&) const = default;

  std::string choosename;
  std::string sidekick;
  std::string ownernote;
  std::string quicklink;
  bool qlwocred = false;
  bool autoprompt = false;
  bool lockfields = false;
  std::int32_t balooncount = 3;
  std::int32_t submittype = 0;    // 0 unset, 1 "dosubmit", 2 "nosubmit"
  std::string iconkey;
  std::string iconlocation;
  std::int32_t usequicklink = 0;  // 0 unset, 1 use, 2 do not
  bool recheckwindowafterfillin = false;
  std::string extra;  // unknown attributes as "name=value" lines joined by "\n"

  bool empty() const;
};

// 0 unknown, 1 "edit", 2 "button", 3 "list", 4 "combo", 5 "check", 6 "radio", 7 "text".
using FieldType = std::int32_t;
enum : FieldType {
  field_unknown = 0,
  field_edit = 1,
  field_button = 2,
  field_list = 3,
  field_combo = 4,
  field_check = 5,
  field_radio = 6,
  field_text = 7,
};
// The word of a field type ("" for 0 and unknown numbers) and back (unknown word -> 0).
const char* fieldTypeWord(FieldType type);
FieldType fieldTypeFromWord(const char* word);

// 0 stored in the manifest, 1 from the user's credentials, 2 ask every time, 3 one-time value.
using ValueKind = std::int32_t;

struct FieldValue {
  bool operator==(const FieldValue&) const = default;

  ValueKind kind = 0;
  bool askalways = false;
  bool onetvalue = false;
  std::string choosevalue;
  std::string value;
};

struct ManifestField {
  bool operator==(const ManifestField&) const = default;

  FieldType type = field_unknown;
  std::string displayname;
  std::string path;
  std::string dbname;
  std::string policy;  // parts joined by "#expo#"
  FieldValue value;
  std::int32_t rfield = 0;  // 0 none, 1 "in", 2 "out"
  std::int32_t rfieldform = -1;  // -2: never resolved
  std::int32_t targetId = -1;
  std::int32_t rfieldindex = -1;
  bool useit = false;
  bool password = false;
  bool submit = false;
  std::int32_t formNumber = -1;
  std::int32_t fieldId = -1;
  std::int32_t accid = -1;
  std::int32_t refCount = 0;

  bool hasValue() const { return !value.value.empty(); }
  // Note: a field whose onetvalue is false is never empty.
  bool empty() const;
};

struct ManifestForm {
  bool operator==(const ManifestForm&) const = default;

  FormContext context;
  FormDetection detection;
  FormOptions options;
  std::vector<ManifestField> fields;

  bool empty() const;
};

using WindowFlags = std::uint32_t;
// The bit of one flag word ("skip", "nocom", ...); 0 for an unknown word.
WindowFlags windowFlagFromWord(const char* word);

struct WindowClassEntry {
  WindowFlags flags = 0;
  std::map<std::string, WindowFlags> captions;
};

struct ExecutableEntry {
  WindowFlags flags = 0;
  std::map<std::string, WindowClassEntry> classes;
};

struct Manifest {
  ManifestDescriptor descriptor;
  std::vector<ManifestForm> forms;
  std::map<std::string, ExecutableEntry> processes;
  bool alien = false;
  std::u16string filePath;
  std::int32_t slot = -1;
  std::int32_t isNew = 1;
  std::int32_t refStatus = 0;

  bool empty() const;

  // The first form whose context name is |number|; nullptr for -1 or when there is none.
  ManifestForm* findForm(std::int32_t number);
  const ManifestForm* findForm(std::int32_t number) const;

  // The post-load steps: caption tokens, form contexts, value kinds, ourl from murl, the URL check
  // flag, field ids, references, the quick-link default; sets isNew to 0.
  void normalize();
  // Aims every resolved reference at its target's position (rfieldindex), dropping references
  // whose target is gone.
  void prepareForWrite();
  // Step 6 of normalize(): field ids and form numbers.
  void assignFieldIds();
};

// Position of the field with |fieldId| in |form|, or -1.
std::int32_t fieldIndexOf(const ManifestForm& form, std::int32_t fieldId);
