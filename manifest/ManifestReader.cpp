#include "manifest/ManifestReader.h"

#include <expat.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "manifest/Escape.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace errors {

std::string fileload_code_name(std::int32_t code) {
  static const char* const kNames[] = {"undef", "notfound", "noaccess", "badfile", "badcrc", "nodll"};
  if (code >= 0 && code <= 5) return kNames[code];
  char buf[24];
  std::snprintf(buf, sizeof buf, "[%d]", static_cast<int>(code));
  return buf;
}

}  // namespace errors

namespace manifest {
namespace {

// ---- value conversions ----

bool toBool(const char* v) { return std::strcmp(v, "1") == 0; }

// Leading decimal digits with an optional sign, as a stream extraction reads them; no number gives 0
// and a number out of range gives the nearest limit.
std::int32_t toInt(const char* v) {
  while (*v == ' ' || *v == '\t' || *v == '\n' || *v == '\r' || *v == '\f' || *v == '\v') ++v;
  bool negative = false;
  if (*v == '+' || *v == '-') negative = (*v++ == '-');
  long long n = 0;
  bool any = false;
  for (; *v >= '0' && *v <= '9'; ++v) {
    any = true;
    if (n <= static_cast<long long>(INT32_MAX) + 1) n = n * 10 + (*v - '0');
  }
  if (!any) return 0;
  if (negative) return n > static_cast<long long>(INT32_MAX) + 1 ? INT32_MIN : static_cast<std::int32_t>(-n);
  return n > INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(n);
}

// An empty text gives 0, else the decimal value.
std::int32_t toIntOrZero(const char* v) { return *v ? toInt(v) : 0; }

// ---- attribute name tables ----

struct name_number_t {
  const char* name;
  int number;
};

template <std::size_t N>
int lookup(const name_number_t (&table)[N], const char* name) {
  for (const auto& e : table)
    if (std::strcmp(e.name, name) == 0) return e.number;
  return 0;
}

const name_number_t kDescriptorNames[] = {
    {"id", 1}, {"created", 2}, {"modified", 3}, {"integrity_ext", 4}, {"integrity", 5},
    {"source", 6}, {"size", 7}, {"version", 8}, {"storage_id", 9}};
const name_number_t kContextNames[] = {{"type", 1}, {"name", 2}, {"parent", 3}};
const name_number_t kDetectionNames[] = {
    {"caption", 1}, {"variablecaption", 2}, {"web_ourl", 3}, {"web_murl", 4}, {"web_qurl", 5},
    {"web_checkurl", 6}, {"dlg_tab", 7}, {"dlg_class", 8}, {"emu_pattern", 9}, {"names_ext", 10},
    {"names", 11}, {"monitor", 12}, {"processname", 13}, {"commandline", 14}};
const name_number_t kOptionNames[] = {
    {"choosename", 1}, {"sidekick", 2}, {"ownernote", 3}, {"quicklink", 4}, {"balooncount", 5},
    {"autoprompt", 6}, {"lockfields", 7}, {"submittype", 8}, {"iconkey", 9}, {"iconlocation", 10},
    {"usequicklink", 11}, {"recheckwindowafterfillin", 12}, {"qlwocred", 13}};
const name_number_t kFieldNames[] = {
    {"type", 1}, {"displayname", 2}, {"path_ext", 3}, {"path", 4}, {"dbname", 5}, {"policy", 6},
    {"policy2", 7}, {"value", 8}, {"choosevalue", 9}, {"rfield", 10}, {"rfieldform", 11},
    {"rfieldindex", 12}, {"askalways", 13}, {"onetvalue", 14}, {"password", 15}, {"submit", 16},
    {"useit", 17}, {"accid", 18}};

// ---- load context and handlers ----

struct LoadContext {
  Manifest* manifest = nullptr;
  std::map<std::string, ExecutableEntry>* processes = nullptr;
  ExecutableEntry* process = nullptr;
  WindowClassEntry* windowClass = nullptr;
};

using attrs_t = const XML_Char**;
using start_fn = void (*)(LoadContext&, const char* name, attrs_t attrs);
using end_fn = void (*)(LoadContext&, const char* name);

ManifestForm* lastForm(LoadContext& ctx) {
  return ctx.manifest->forms.empty() ? nullptr : &ctx.manifest->forms.back();
}

void onDescriptor(LoadContext& ctx, const char*, attrs_t a) {
  ManifestDescriptor& d = ctx.manifest->descriptor;
  for (; *a; a += 2) {
    const char* v = a[1];
    switch (lookup(kDescriptorNames, a[0])) {
      case 1: d.id = v; break;
      case 2: d.created = v; break;
      case 3: d.modified = v; break;
      case 4: d.integrity = v; break;
      case 5: if (d.integrity.empty()) d.integrity = v; break;
      case 6: d.source = v; break;
      case 7: d.size = v; break;
      case 8: d.version = v; break;
      case 9: d.storage_id = v; break;
      default: break;
    }
  }
}

void onNewForm(LoadContext& ctx, const char*, attrs_t) { ctx.manifest->forms.emplace_back(); }

void onContext(LoadContext& ctx, const char*, attrs_t a) {
  ManifestForm* form = lastForm(ctx);
  if (!form) return;
  for (; *a; a += 2) {
    const char* v = a[1];
    switch (lookup(kContextNames, a[0])) {
      case 1: form->context.type = !*v ? 1 : (std::strcmp(v, "pchange") == 0 ? 2 : 0); break;
      case 2: form->context.name = toIntOrZero(v); break;
      case 3: form->context.parent = toIntOrZero(v); break;
      default: break;
    }
  }
}

void onDetection(LoadContext& ctx, const char*, attrs_t a) {
  ManifestForm* form = lastForm(ctx);
  if (!form) return;
  FormDetection& d = form->detection;
  for (; *a; a += 2) {
    const char* v = a[1];
    switch (lookup(kDetectionNames, a[0])) {
      case 1: d.caption = v; break;
      case 2: d.pattern = v; break;
      case 3: d.web_ourl = v; break;
      case 4: d.web_murl = v; break;
      case 5: d.web_qurl = v; break;
      case 6: d.web_checkurl = toBool(v); break;
      case 7: d.dlg_tab = v; break;
      case 8: d.dlg_class = v; break;
      case 9: d.emu_pattern = v; break;
      case 10: d.names = percentUnescape(v); break;
      case 11: if (d.names.empty()) d.names = percentUnescape(v); break;
      case 12: d.monitor = toBool(v); break;
      case 13: d.processname = percentUnescape(v); break;
      case 14: d.commandline = percentUnescape(v); break;
      default: break;
    }
  }
}

void onOptions(LoadContext& ctx, const char*, attrs_t a) {
  ManifestForm* form = lastForm(ctx);
  if (!form) return;
  FormOptions& o = form->options;
  for (; *a; a += 2) {
    const char* v = a[1];
    switch (lookup(kOptionNames, a[0])) {
      case 1: o.choosename = v; break;
      case 2: o.sidekick = v; break;
      case 3: o.ownernote = v; break;
      case 4: o.quicklink = v; break;
      case 5: o.balooncount = toInt(v); break;
      case 6: o.autoprompt = toBool(v); break;
      case 7: o.lockfields = toBool(v); break;
      case 8:
        o.submittype = std::strcmp(v, "dosubmit") == 0 ? 1 : (std::strcmp(v, "nosubmit") == 0 ? 2 : 0);
        break;
      case 9: o.iconkey = v; break;
      case 10: o.iconlocation = v; break;
      case 11:
        if (std::strcmp(v, "1") == 0 || std::strcmp(v, "usequicklink") == 0) o.usequicklink = 1;
        else if (std::strcmp(v, "2") == 0 || std::strcmp(v, "dontusequicklink") == 0) o.usequicklink = 2;
        else o.usequicklink = 0;
        break;
      case 12: o.recheckwindowafterfillin = toBool(v); break;
      case 13: o.qlwocred = toBool(v); break;
      default:
        if (!o.extra.empty()) o.extra += '\n';
        o.extra += a[0];
        o.extra += '=';
        o.extra += v;
        break;
    }
  }
}

void onField(LoadContext& ctx, const char*, attrs_t a) {
  ManifestForm* form = lastForm(ctx);
  if (!form) return;
  ManifestField& f = form->fields.emplace_back();
  for (; *a; a += 2) {
    const char* v = a[1];
    switch (lookup(kFieldNames, a[0])) {
      case 1: f.type = fieldTypeFromWord(v); break;
      case 2: f.displayname = v; break;
      case 3: f.path = v; break;
      case 4: if (f.path.empty()) f.path = v; break;
      case 5: f.dbname = v; break;
      case 6:
        if (!*v) break;
        f.policy = f.policy.empty() ? std::string(v) : std::string(v) + "#expo#" + f.policy;
        break;
      case 7:
        if (!*v) break;
        if (f.policy.empty()) f.policy = v;
        else f.policy.append("#expo#").append(v);
        break;
      case 8: f.value.value = percentUnescape(v); break;
      case 9: f.value.choosevalue = percentUnescape(v); break;
      case 10: f.rfield = std::strcmp(v, "in") == 0 ? 1 : (std::strcmp(v, "out") == 0 ? 2 : 0); break;
      case 11: f.rfieldform = toIntOrZero(v); break;
      case 12: f.rfieldindex = toIntOrZero(v); break;
      case 13: f.value.askalways = toBool(v); break;
      case 14: f.value.onetvalue = toBool(v); break;
      case 15: f.password = toBool(v); break;
      case 16: f.submit = toBool(v); break;
      case 17: f.useit = toBool(v); break;
      case 18: f.accid = toInt(v); break;
      default: break;
    }
  }
}

// The flags of a "type" attribute: "+word"/"word" sets the word's bit, "-word" clears it.
WindowFlags applyFlagWord(WindowFlags flags, const char* v) {
  bool clear = false;
  if (*v == '-') {
    clear = true;
    ++v;
  } else if (*v == '+') {
    ++v;
  }
  const WindowFlags bit = windowFlagFromWord(v);
  return clear ? (flags & ~bit) : (flags | bit);
}

// Reads "name" and "type" of a process, class or caption element.
void readNameAndFlags(attrs_t a, std::string& name, WindowFlags& flags) {
  for (; *a; a += 2) {
    if (std::strcmp(a[0], "name") == 0) name = a[1];
    else if (std::strcmp(a[0], "type") == 0) flags = applyFlagWord(flags, a[1]);
  }
}

void onProcess(LoadContext& ctx, const char*, attrs_t a) {
  std::string name;
  WindowFlags flags = 0;
  readNameAndFlags(a, name, flags);
  if (name.empty()) name = "all";
  ExecutableEntry& e = (*ctx.processes)[name];
  e.flags |= flags;
  ctx.process = &e;
}
void onProcessEnd(LoadContext& ctx, const char*) { ctx.process = nullptr; }

void onClass(LoadContext& ctx, const char*, attrs_t a) {
  if (!ctx.process) return;
  std::string name;
  WindowFlags flags = 0;
  readNameAndFlags(a, name, flags);
  if (name.empty()) return;
  WindowClassEntry& e = ctx.process->classes[name];
  e.flags |= flags;
  ctx.windowClass = &e;
}
void onClassEnd(LoadContext& ctx, const char*) { ctx.windowClass = nullptr; }

void onCaption(LoadContext& ctx, const char*, attrs_t a) {
  if (!ctx.windowClass) return;
  std::string name;
  WindowFlags flags = 0;
  readNameAndFlags(a, name, flags);
  if (name.empty()) return;
  ctx.windowClass->captions[name] |= flags;
}

// ---- element grammar ----

struct GrammarNode {
  std::string name;
  start_fn start = nullptr;
  end_fn end = nullptr;
  std::vector<GrammarNode> children;
};

const GrammarNode& elementGrammar() {
  static const GrammarNode root = [] {
    GrammarNode caption{"caption", onCaption, nullptr, {}};
    GrammarNode cls{"class", onClass, onClassEnd, {caption}};
    GrammarNode classes{"classes", nullptr, nullptr, {cls}};
    GrammarNode process{"process", onProcess, onProcessEnd, {classes}};
    GrammarNode processes{"processes", nullptr, nullptr, {process}};
    GrammarNode manifestOptions{"options", nullptr, nullptr, {processes}};
    GrammarNode fields{"fields", nullptr, nullptr, {GrammarNode{"field", onField, nullptr, {}}}};
    GrammarNode form{"form", onNewForm, nullptr,
                     {GrammarNode{"fcontext", onContext, nullptr, {}},
                      GrammarNode{"detection", onDetection, nullptr, {}},
                      GrammarNode{"options", onOptions, nullptr, {}}, fields}};
    GrammarNode forms{"forms", nullptr, nullptr, {form}};
    GrammarNode manifest{"manifest", nullptr, nullptr,
                         {GrammarNode{"descriptor", onDescriptor, nullptr, {}}, manifestOptions, forms}};
    return GrammarNode{"", nullptr, nullptr, {manifest}};
  }();
  return root;
}

struct ParserDeleter {
  void operator()(XML_Parser p) const { XML_ParserFree(p); }
};
using parser_ptr = std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserDeleter>;

class ManifestReader {
 public:
  explicit ManifestReader(Manifest& m) {
    context_.manifest = &m;
    context_.processes = &m.processes;
    stack_.reserve(16);
    stack_.push_back(&elementGrammar());
  }

  void parse(const char* data, std::size_t size) {
    parser_ptr parser(XML_ParserCreate(nullptr));
    if (!parser) throw std::bad_alloc();
    parser_ = parser.get();
    XML_SetUserData(parser_, this);
    XML_SetElementHandler(parser_, &ManifestReader::startElement, &ManifestReader::endElement);
    XML_SetStartDoctypeDeclHandler(parser_, &ManifestReader::startDoctype);
    // Fed in slices that fit the parser's int length.
    constexpr std::size_t kSlice = 1u << 30;
    bool ok = true;
    do {
      const std::size_t n = size < kSlice ? size : kSlice;
      ok = XML_Parse(parser_, data, static_cast<int>(n), 0) != XML_STATUS_ERROR;
      data += n;
      size -= n;
    } while (ok && size > 0);
    if (ok) ok = XML_Parse(parser_, nullptr, 0, 1) != XML_STATUS_ERROR;
    if (pending_) std::rethrow_exception(pending_);
    if (!ok) throwParseError();
  }

 private:
  [[noreturn]] void throwParseError() {
    const XML_Error code = XML_GetErrorCode(parser_);
    if (code == XML_ERROR_NONE) throw std::runtime_error("Unable to load stream");
    const char* text = XML_ErrorString(code);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%s at line %d [%d].\n", text ? text : "",
                  static_cast<int>(XML_GetCurrentLineNumber(parser_)),
                  static_cast<int>(XML_GetCurrentColumnNumber(parser_)));
    throw std::runtime_error(buf);
  }

  // A handler's exception must not unwind through the parser: it is kept and the parse stopped.
  void stopWith(std::exception_ptr e) {
    if (!pending_) pending_ = e;
    XML_StopParser(parser_, XML_FALSE);
  }

  static void XMLCALL startDoctype(void* user, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto* self = static_cast<ManifestReader*>(user);
    self->stopWith(std::make_exception_ptr(std::runtime_error("a manifest has no document type declaration")));
  }

  static void XMLCALL startElement(void* user, const XML_Char* name, const XML_Char** attrs) {
    auto* self = static_cast<ManifestReader*>(user);
    if (self->pending_) return;
    if (++self->elements_ > manifest::kMaxManifestElements) {
      self->stopWith(std::make_exception_ptr(std::runtime_error("manifest too large: too many elements")));
      return;
    }
    try {
      const GrammarNode* top = self->stack_.back();
      const GrammarNode* found = nullptr;
      if (top) {
        for (const auto& child : top->children)
          if (child.name == name) {
            found = &child;
            break;
          }
      }
      self->stack_.push_back(found);
      if (found && found->start) found->start(self->context_, name, attrs);
    } catch (...) {
      self->stopWith(std::current_exception());
    }
  }

  static void XMLCALL endElement(void* user, const XML_Char* name) {
    auto* self = static_cast<ManifestReader*>(user);
    if (self->pending_ || self->stack_.size() <= 1) return;
    const GrammarNode* popped = self->stack_.back();
    self->stack_.pop_back();
    if (popped && popped->end) popped->end(self->context_, name);
  }

  LoadContext context_;
  std::vector<const GrammarNode*> stack_;
  XML_Parser parser_ = nullptr;
  std::exception_ptr pending_;
  std::size_t elements_ = 0;
};

}  // namespace

std::filesystem::path toPath(const std::u16string& name) {
#if defined(_WIN32)
  return std::filesystem::path(tracecore::as_wide(name));
#else
  return std::filesystem::path(tracecore::to_utf8(name));
#endif
}

void parseManifest(const char* data, std::size_t size, Manifest& m, bool alien) {
  m = Manifest();
  if (size > kMaxManifestBytes) throw std::runtime_error("manifest too large");
  // Known before normalisation: the URL check flag of an alien manifest depends on it.
  m.alien = alien;
  ManifestReader reader(m);
  reader.parse(data, size);
  m.normalize();
}

bool resolveAlienName(std::u16string_view fileName, std::u16string& path) {
  static constexpr std::u16string_view kAlien = u"alien|";
  const bool alien = fileName.substr(0, kAlien.size()) == kAlien;
  path.assign(alien ? fileName.substr(kAlien.size()) : fileName);
  return alien;
}

void loadManifestFile(std::u16string_view fileName, Manifest& m) {
  std::u16string name;
  const bool alien = resolveAlienName(fileName, name);
  const std::filesystem::path path = toPath(name);
  std::error_code ec;
  if (!std::filesystem::exists(path, ec))
    throw errors::fileload_error(errors::fileload_error::notfound, tracecore::to_utf8(name));
  std::string bytes;
  {
    std::ifstream in(path, std::ios::binary);
    if (!in || std::filesystem::is_directory(path, ec))
      throw errors::fileload_error(errors::fileload_error::noaccess, tracecore::to_utf8(name));
    // One read of the whole file: manifests are small, and the parser wants them in one buffer.
    in.seekg(0, std::ios::end);
    const std::streamoff size = in.tellg();
    in.seekg(0, std::ios::beg);
    if (size > static_cast<std::streamoff>(kMaxManifestBytes))
      throw errors::fileload_error(errors::fileload_error::badfile, tracecore::to_utf8(name));
    if (size > 0) {
      bytes.resize(static_cast<std::size_t>(size));
      in.read(bytes.data(), size);
      bytes.resize(static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) throw errors::fileload_error(errors::fileload_error::noaccess, tracecore::to_utf8(name));
  }
  parseManifest(bytes.data(), bytes.size(), m, alien);
  m.filePath = name;
}

}  // namespace manifest

namespace {

// The one catch ladder of both guarded loads.
template <class Load>
bool guardedLoad(const char* who, Load load) {
  try {
    load();
    return true;
  } catch (const errors::fileload_error& e) {
    KXTRACE("File problem [%s]: '%s'", errors::fileload_code_name(e.code()).c_str(), e.what());
  } catch (const char* text) {
    KXTRACE("%s: %s", who, text ? text : "");
  } catch (const std::string& text) {
    KXTRACE("%s: %s", who, text.c_str());
  } catch (const std::exception& e) {
    KXTRACE("%s: %s", who, e.what());
  } catch (...) {
    KXTRACE("%s oo", who);
  }
  return false;
}

}  // namespace

bool loadM_properly(std::u16string_view fileName, Manifest& m) {
  return guardedLoad("loadM_properly", [&] { manifest::loadManifestFile(fileName, m); });
}

bool loadM_properlyS(std::u16string_view fileName, std::string_view xml, Manifest& m) {
  return guardedLoad("loadM_properlyS", [&] {
    std::u16string name;
    const bool alien = manifest::resolveAlienName(fileName, name);
    manifest::parseManifest(xml.data(), xml.size(), m, alien);
    m.filePath = name;
  });
}
