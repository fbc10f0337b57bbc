#include "include_extension/PageState.h"

#include <algorithm>
#include <cstdio>

#include "agentcomm/AgentMessages.h"
#include "include_extension/Utils.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace kxext {

// ---- document identity ----

tick_source_t default_tick_source() {
  return [] { return static_cast<std::uint32_t>(kx_tick_count()); };
}

document_id_t new_document_id(const tick_source_t& tick) {
  std::uint32_t id = tick();
  if (id == 0) id = tick();
  return id != 0 ? document_id_t(id) : kFallbackDocId;
}

std::string document_id_text(document_id_t id) {
  char text[16];
  std::snprintf(text, sizeof text, "%x", static_cast<unsigned>(id.value()));
  return text;
}

namespace {

// The attribute read as hexadecimal; anything that does not read is no ID.
document_id_t parse_document_id(const std::string& text) {
  std::uint32_t id = 0;
  std::size_t digits = 0;
  for (char c : text) {
    unsigned v;
    if (c >= '0' && c <= '9') v = static_cast<unsigned>(c - '0');
    else if (c >= 'a' && c <= 'f') v = static_cast<unsigned>(c - 'a' + 10);
    else if (c >= 'A' && c <= 'F') v = static_cast<unsigned>(c - 'A' + 10);
    else break;
    if (++digits > 8) return {};
    id = (id << 4) | v;
  }
  return document_id_t(id);
}

}  // namespace

document_id_t get_assoc(nsIDOMDocument* document, bool trace) {
  if (!document) {
    KXERROR("get_assoc docID null document");
    return {};
  }
  const document_id_t id = parse_document_id(GetDocAttr(document, kDocIdAttr));
  if (id.empty() && trace) KXTRACE("'`I0E`'Doc has no ID");
  return id;
}

bool set_docID(nsIDOMDocument* document, const tick_source_t& tick) {
  if (!document) {
    KXERROR("set_docID null document");
    return false;
  }
  if (!get_assoc(document, false).empty()) return true;
  if (!SetDocAttr(document, kDocIdAttr, document_id_text(new_document_id(tick)))) {
    KXERROR("failed set_docID");
    return false;
  }
  return true;
}

bool remove_docID(nsIDOMDocument* document) {
  if (!document) {
    KXERROR("set_docID null document");
    return false;
  }
  if (!RemoveDocAttr(document, kDocIdAttr)) {
    KXERROR("failed RemoveDocAttr");
    return false;
  }
  return true;
}

// ---- matching results ----

bool is_url_match(std::int32_t urlKind) { return urlKind >= 3 && urlKind <= 6; }

std::uint32_t MatchStatus::score() const {
  std::uint32_t s = 0;
  if (flags0 & caption) s |= 0x20;
  switch (urlKind) {
    case 3: s |= 0x48; break;
    case 4: s |= 0x44; break;
    case 5: s |= 0x42; break;
    case 6: s |= 0x41; break;
    default: break;
  }
  if (processKind == 3) s |= 0x80;
  s |= (flags & alien) ? 0x800 : 0x400;
  bool located = urlKind == 1 ? (flags0 & caption) != 0 : is_url_match(urlKind);
  if (located && processKind != 0 && processKind != 1) located = processKind == 3;
  if ((flags & best) && located) s |= 0x1000;
  s |= (flags & manual) ? 0x100 : 0x200;
  if (flags & content) s |= 0x2000;
  if (flags & pchange) s |= 0x10;
  return s;
}

std::string score_text(std::uint32_t score) {
  if (score == 0) return "0";
  static const struct {
    std::uint32_t bits;
    const char* name;
  } names[] = {{0x400, "idvmani"}, {0x800, "vltmani"}, {0x200, "automa"},  {0x100, "manual"},
               {0x10, "pchange"},  {0x20, "caption"},  {0x44, "urlSDU"},   {0x42, "urlDU"},
               {0x41, "urlD"},     {0x48, "urlExact"}, {0x80, "process"},  {0x2000, "content"},
               {0x1000, "moreflds"}};
  std::string text;
  for (const auto& n : names) {
    if ((score & n.bits) != n.bits) continue;
    if (!text.empty()) text += '|';
    text += n.name;
    score &= ~n.bits;
  }
  if (score != 0) {
    char left[40];
    std::snprintf(left, sizeof left, " bits are left %x", static_cast<unsigned>(score));
    text += left;
  }
  return text;
}

bool candidate_before(const FormCandidate& a, const FormCandidate& b) {
  const std::uint32_t sa = a.status.score(), sb = b.status.score();
  if (sa != sb) return sa > sb;
  const bool am = a.status.flags & MatchStatus::manual, bm = b.status.flags & MatchStatus::manual;
  if (am != bm) return !am;
  const bool aa = a.status.flags & MatchStatus::alien, ba = b.status.flags & MatchStatus::alien;
  if (aa != ba) return aa;
  const int c = a.form->options.choosename.compare(b.form->options.choosename);
  if (c != 0) return c < 0;
  if (a.manifest == b.manifest) return a.form->context.name < b.form->context.name;
  return false;
}

// ---- PageState ----

bool same_manifest(const Manifest& a, const Manifest& b) {
  return a.alien == b.alien && a.filePath == b.filePath && a.descriptor == b.descriptor && a.forms == b.forms;
}

namespace {

// The candidates of |from| again, pointing into |manifests|, a copy of |from_manifests| in the same
// order: each candidate keeps the position of its manifest and form. A candidate whose manifest is
// not among them is looked for by content.
std::vector<FormCandidate> rebuild(const std::vector<FormCandidate>& from, const std::list<Manifest>& from_manifests,
                                   const std::list<Manifest>& manifests) {
  std::vector<FormCandidate> out;
  out.reserve(from.size());
  for (const FormCandidate& c : from) {
    if (!c.manifest || !c.form) continue;
    auto source = from_manifests.begin();
    auto copy = manifests.begin();
    while (source != from_manifests.end() && &*source != c.manifest) ++source, ++copy;
    if (source != from_manifests.end()) {
      const auto form = static_cast<std::size_t>(c.form - source->forms.data());
      if (form < copy->forms.size()) out.push_back({&*copy, &copy->forms[form], {}, c.id});
      continue;
    }
    for (const Manifest& m : manifests) {
      if (!same_manifest(m, *c.manifest)) continue;
      for (const ManifestForm& f : m.forms)
        if (f == *c.form) out.push_back({&m, &f, {}, c.id});
    }
  }
  return out;
}

}  // namespace

PageState& PageState::operator=(const PageState& other) {
  if (this == &other) return *this;
  manifests = other.manifests;
  state_flags = other.state_flags;
  facts = other.facts;
  candidates = rebuild(other.candidates, other.manifests, manifests);
  recognized = rebuild(other.recognized, other.manifests, manifests);
  return *this;
}

void PageState::reset() {
  candidates.clear();
  recognized.clear();
  manifests.clear();
  extra_manifests.clear();
  state_flags = 1;
  facts = PageFacts();
}

const Manifest* PageState::single_recognized_manifest() const {
  return recognized.size() == 1 ? recognized.front().manifest : nullptr;
}

bool PageState::is_password_change_screen() const {
  if (facts.passwords != 2 && facts.passwords != 3) return false;
  if (!recognized.empty()) return false;
  if (manifests.empty() && extra_manifests.empty()) return false;
  return std::none_of(manifests.begin(), manifests.end(), [](const Manifest& m) { return m.alien; });
}

std::vector<std::u16string> choice_texts(const std::vector<FormCandidate>& candidates, const std::u16string& related) {
  std::vector<std::u16string> texts;
  for (const FormCandidate& c : candidates) {
    std::u16string text = tracecore::to_utf16(c.form->options.choosename);
    if (text.empty() && c.form->context.parent >= 0) {
      if (const ManifestForm* parent = c.manifest->findForm(c.form->context.parent);
          parent && parent != c.form && !parent->options.choosename.empty()) {
        text = related;
        if (!text.empty()) text += u' ';
        text += tracecore::to_utf16(parent->options.choosename) + u" - ";
      }
    }
    if (text.empty()) {
      // Nothing to tell the forms apart by: the manifest's file name, so the user still sees a choice.
      const std::u16string& path = c.manifest->filePath;
      const std::size_t slash = path.find_last_of(u"\\/|");
      text = slash == std::u16string::npos ? path : path.substr(slash + 1);
    }
    texts.push_back(std::move(text));
  }
  return texts;
}

std::optional<Manifest> selected_manifest(const PageState& state, const form_chooser_t& choose,
                                          const std::u16string& related) {
  if (state.recognized.empty()) return std::nullopt;
  std::optional<Manifest> selected;
  if (state.recognized.size() == 1) {
    selected = *state.recognized.front().manifest;
  } else {
    const int chosen = choose ? choose(choice_texts(state.recognized, related)) : -1;
    if (chosen < 0 || static_cast<std::size_t>(chosen) >= state.recognized.size()) return std::nullopt;
    const FormCandidate& c = state.recognized[static_cast<std::size_t>(chosen)];
    selected = *c.manifest;
    selected->slot = c.form->context.name;
  }
  for (ManifestForm& form : selected->forms)
    for (ManifestField& field : form.fields) field.accid = field.fieldId;
  return selected;
}

// ---- caches ----

std::string operation_kind_name(std::int32_t operation) { return kxmessages::pending_operation_name(operation); }

namespace {

bool expired(const PendingRequest& r, std::uint32_t now) {
  if (r.currentoperation == op_none || now - r.since <= CRequestTable::kPendingLifetimeMs) return false;
  KXTRACE("'`I04`'pending request expired: %s after %u ms", operation_kind_name(r.currentoperation).c_str(),
          static_cast<unsigned>(now - r.since));
  return true;
}

}  // namespace

bool CRequestTable::match(nsIDOMDocument* document, document_id_t requested, PendingRequest& out,
                          std::uint32_t now) {
  const document_id_t id = get_assoc(document, true);
  if (id.empty()) return false;
  if (id != requested) {
    KXTRACE("'`I04`'This is different document.");
    return false;
  }
  std::lock_guard<std::mutex> g(lock_);
  auto it = map_.find(id);
  if (it != map_.end() && expired(it->second, now)) {
    map_.erase(it);
    it = map_.end();
  }
  if (it == map_.end()) {
    KXTRACE("We have nothing for this requestID.");
    return false;
  }
  out = it->second;
  return true;
}

void CRequestTable::remove(document_id_t docid) {
  std::lock_guard<std::mutex> g(lock_);
  map_.erase(docid);
}

void CRequestTable::remove_for_document(nsIDOMDocument* document) {
  const document_id_t id = get_assoc(document, true);
  if (!id.empty()) remove(id);
}

bool CRequestTable::try_insert(document_id_t docid, const PendingRequest& request, std::int32_t& current,
                               std::uint32_t now) {
  std::lock_guard<std::mutex> g(lock_);
  PendingRequest& entry = map_[docid];
  if (expired(entry, now)) entry = PendingRequest();
  current = entry.currentoperation;
  if (entry.currentoperation != op_none) return false;
  entry = request;
  entry.since = now;
  return true;
}

std::int32_t CRequestTable::operation_of(document_id_t docid) const {
  std::lock_guard<std::mutex> g(lock_);
  auto it = map_.find(docid);
  return it == map_.end() ? op_none : it->second.currentoperation;
}

std::size_t CRequestTable::size() const {
  std::lock_guard<std::mutex> g(lock_);
  return map_.size();
}

bool CPageStateCache::cached_state(nsIDOMDocument* document, PageState& state, bool insert) {
  KXSCOPE("CPageStateCache::cached_state");
  const document_id_t id = get_assoc(document, true);
  if (id.empty()) return false;
  bool found;
  {
    std::lock_guard<std::mutex> g(lock_);
    auto it = map_.find(id);
    if (insert) {
      if (it == map_.end()) map_.emplace(id, state);
      else it->second = state;
      found = true;
    } else {
      found = it != map_.end();
      if (found) state = it->second;
    }
  }
  KXTRACE("docid = 0x%X, fInsert = %d, fRet = %d", static_cast<unsigned>(id.value()), insert ? 1 : 0, found ? 1 : 0);
  return found;
}

bool CPageStateCache::cached_insert(nsIDOMDocument* document, PageState&& state) {
  KXSCOPE("CPageStateCache::cached_state");
  const document_id_t id = get_assoc(document, true);
  if (id.empty()) return false;
  {
    std::lock_guard<std::mutex> g(lock_);
    map_.insert_or_assign(id, std::move(state));
  }
  KXTRACE("docid = 0x%X, fInsert = %d, fRet = %d", static_cast<unsigned>(id.value()), 1, 1);
  return true;
}

bool CPageStateCache::cached_erase(nsIDOMDocument* document) {
  KXSCOPE("CPageStateCache::cached_erase");
  const document_id_t id = get_assoc(document, true);
  bool erased = false;
  if (!id.empty()) {
    std::lock_guard<std::mutex> g(lock_);
    erased = map_.erase(id) != 0;
  }
  KXTRACE("docid = 0x%X, fRet = %d", static_cast<unsigned>(id.value()), erased ? 1 : 0);
  return erased;
}

bool CPageStateCache::contains(document_id_t docid) const {
  std::lock_guard<std::mutex> g(lock_);
  return map_.count(docid) != 0;
}

std::size_t CPageStateCache::size() const {
  std::lock_guard<std::mutex> g(lock_);
  return map_.size();
}

}  // namespace kxext
