#include "include_extension/Recognition.h"

#include <algorithm>

#include "include_extension/Controls.h"
#include "include_extension/FillGuard.h"
#include "manifest/Escape.h"
#include "manifest/ManifestReader.h"
#include "manifest/ManifestWriter.h"
#include "manifest/Matching.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace kxext {

const char* recognition_stop_name(recognition_stop stop) {
  switch (stop) {
    case recognition_stop::done: return "done";
    case recognition_stop::no_document: return "no document";
    case recognition_stop::empty_url: return "url is empty";
    case recognition_stop::nothing_loaded: return "nothing loaded";
    case recognition_stop::no_controls: return "no controls on this page";
  }
  return "?";
}

void trace_document(const char* prefix, nsIDOMDocument* document, const std::u16string& url16) {
  if (!tracecore::on()) return;
  std::string url = tracecore::to_utf8(url16);
  if (url.empty()) {
    KXTRACE("%s[%p].empty URL", prefix, static_cast<void*>(document));
    return;
  }
  const std::size_t q = url.find('?');
  if (q != std::string::npos) url = url.substr(0, q) + " + params ...";
  KXTRACE("%s[%p].%s", prefix, static_cast<void*>(document), url.c_str());
}

void check_candidate_url(FormCandidate& candidate, std::u16string_view pageUrl) {
  bool mismatch = false;
  candidate.status.urlKind = manifest::checkFormUrl(*candidate.form, pageUrl, &mismatch);
  if (mismatch) candidate.status.flags0 &= static_cast<std::uint8_t>(~MatchStatus::caption);
}

namespace {

bool matchable(std::int32_t urlKind) { return urlKind == manifest::url_nocheck || is_url_match(urlKind); }

// Loads every manifest the lookup names for |url| into |state|; the number loaded.
std::size_t load_manifests(const std::u16string& url, const recognition_sources_t& sources, PageState& state) {
  const std::u16string names =
      sources.manifest_names ? sources.manifest_names(url, tracecore::category_on(4)) : std::u16string();
  if (names.empty()) {
    KXTRACE("nothing to load");
    return 0;
  }
  std::size_t loaded = 0;
  std::size_t start = 0;
  while (start <= names.size()) {
    std::size_t end = names.find(u'\n', start);
    if (end == std::u16string::npos) end = names.size();
    const std::u16string_view name(names.data() + start, end - start);
    if (!name.empty()) {
      Manifest m;
      const bool ok = sources.load ? sources.load(name, m) : loadM_properly(name, m);
      if (ok) {
        state.manifests.push_back(std::move(m));
        ++loaded;
      }
    }
    start = end + 1;
  }
  KXTRACE("total loaded = %d", static_cast<int>(loaded));
  return loaded;
}

PageFacts facts_of(const ffcontrols& controls) {
  PageFacts facts;
  for (const ffcontrol& c : controls.list())
    if (c.type == ctl_psw) ++facts.passwords;
  if (facts.passwords > 0) facts.flags |= PageFacts::has_password | PageFacts::has_password_too;
  facts.controls = controls.records();
  facts.strings = controls.strings();
  facts.flags |= PageFacts::valid;
  return facts;
}

bool has_password_control(const ffcontrols& controls) {
  return std::any_of(controls.list().begin(), controls.list().end(),
                     [](const ffcontrol& c) { return c.type == ctl_psw; });
}

}  // namespace

bool recognize_page(nsIDOMDocument* document, const std::u16string& url, const recognition_sources_t& sources,
                    PageState& state, recognition_stop* stop, const ffcontrols* given) {
  recognition_stop ignored;
  recognition_stop& why = stop ? *stop : ignored;
  why = recognition_stop::done;
  if (!document) {
    KXTRACE("'`I04`'null entry[startup] document.");
    why = recognition_stop::no_document;
    return false;
  }
  if (url.empty()) {
    KXERROR("url is empty");
    why = recognition_stop::empty_url;
    return false;
  }
  trace_document("document ", document, url);
  state.reset();

  if (load_manifests(url, sources, state) == 0) {
    KXTRACE("nothing loaded");
    why = recognition_stop::nothing_loaded;
    return false;
  }

  std::int32_t next_id = kFirstCandidateId;
  for (const Manifest& m : state.manifests) {
    for (const ManifestForm& form : m.forms) {
      FormCandidate c;
      c.manifest = &m;
      c.form = &form;
      c.id = next_id++;
      state.candidates.push_back(c);
    }
  }

  ffcontrols built;
  if (!given) built.build(document);
  const ffcontrols& controls = given ? *given : built;
  if (controls.list().empty()) {
    KXTRACE("no controls on this page");
    why = recognition_stop::no_controls;
    return false;
  }
  std::vector<const ffcontrol_record*> records;
  records.reserve(controls.list().size());
  for (const ffcontrol& c : controls.list()) records.push_back(&c);
  const manifest::prepared_controls_t prepared(records, controls.strings());

  for (FormCandidate& c : state.candidates) {
    check_candidate_url(c, url);
    if (c.manifest->alien) c.status.flags |= MatchStatus::alien;
    if (!matchable(c.status.urlKind)) continue;
    if (manifest::formMatchesControls(prepared, *c.form)) {
      c.status.flags |= MatchStatus::content;
      c.status.count = static_cast<std::int32_t>(
          std::count_if(c.form->fields.begin(), c.form->fields.end(), [](const ManifestField& f) { return f.useit; }));
    }
  }

  std::vector<FormCandidate*> matched;
  for (FormCandidate& c : state.candidates)
    if ((c.status.flags & MatchStatus::content) && matchable(c.status.urlKind)) matched.push_back(&c);

  std::int32_t most = -1;
  for (const FormCandidate* c : matched) most = std::max(most, c->status.count);
  for (FormCandidate* c : matched)
    if (c->status.count == most) c->status.flags |= MatchStatus::best;

  std::stable_sort(matched.begin(), matched.end(),
                   [](const FormCandidate* a, const FormCandidate* b) { return candidate_before(*a, *b); });

  if (tracecore::on() && matched.size() >= 2) {
    for (const FormCandidate* c : matched) {
      const std::uint32_t score = c->status.score();
      KXTRACE("'`I0B`'Name '%15s' form[%d] score[%04x]: %s", score_text(score).c_str(), c->form->context.name,
              static_cast<unsigned>(score), c->form->options.choosename.c_str());
    }
  }

  if (!matched.empty()) {
    const std::uint32_t top = matched.front()->status.score();
    for (const FormCandidate* c : matched)
      if (c->status.score() == top) state.recognized.push_back(*c);
  }

  if (state.recognized.size() == 1) {
    // The manifest lives in the state's own list: find it to set its slot.
    const Manifest* target = state.recognized.front().manifest;
    for (Manifest& m : state.manifests)
      if (&m == target) m.slot = state.recognized.front().form->context.name;
  }

  if (state.recognized.empty())
    KXTRACE("Not recognized");
  else
    KXTRACE("Recognized %d form(s)", static_cast<int>(state.recognized.size()));

  state.facts = facts_of(controls);
  return !state.recognized.empty();
}

// ---- feedback decision ----

void suppressed_urls_t::add(const std::u16string& url) {
  std::lock_guard<std::mutex> g(lock_);
  urls_.insert(url);
}

bool suppressed_urls_t::contains(const std::u16string& url) const {
  std::lock_guard<std::mutex> g(lock_);
  return urls_.count(url) != 0;
}

bool decide_feedback(const feedback_inputs_t& in, std::int32_t& mode) {
  KXSCOPE("CExtensionImpl::isShowFeedback");
  mode = 0;
  if (in.cached && in.cached->recognized_count() > 0) return true;
  if (!in.show_training_prompt) return false;
  if (in.cached && in.cached->is_password_change_screen()) {
    mode = 2;
    KXTRACE("rit = %d", static_cast<int>(mode));
    return true;
  }
  if (!in.document) {
    KXERROR("null document");
    return false;
  }
  if (in.url.empty()) {
    KXERROR("documenturl is empty");
    return false;
  }
  if (in.suppressed && in.suppressed->contains(in.url)) return false;
  ffcontrols built;
  if (!in.controls) built.build(in.document);
  const bool show = has_password_control(in.controls ? *in.controls : built);
  if (show) mode = 1;
  KXTRACE("rit = %d, rv = %d", static_cast<int>(mode), show ? 1 : 0);
  return show;
}

const ffcontrol* attach_control(const ffcontrols& controls, const std::u16string& url, const PageState* state) {
  const ManifestForm* form = state && !state->recognized.empty() ? state->recognized.front().form : nullptr;
  const std::vector<std::size_t> order = fillguard::fill_order(controls, fillguard::target_site(form, url));
  if (form) {
    const std::vector<std::string> names = manifest::splitNames(form->detection.names);
    const ManifestField* target = nullptr;
    for (const ManifestField& f : form->fields)
      if (f.useit && (f.password || !target)) target = &f;
    if (target)
      for (std::size_t i : order)
        if (manifest::controlMatchesField(controls.list()[i], controls.strings(), *target, names)) return &controls.list()[i];
  }
  for (std::size_t i : order)
    if (controls.list()[i].type == ctl_psw) return &controls.list()[i];
  return nullptr;
}

std::u16string web_domain_name(std::u16string_view url) {
  std::u16string domain;
  if (!url.empty()) manifest::urlKeys(url, nullptr, nullptr, nullptr, &domain);
  return domain;
}

std::u16string agent_manifest_name(const Manifest& m) { return m.alien ? u"alien|" + m.filePath : m.filePath; }

std::string domain_manifest_names(const PageState& state) {
  std::string names;
  for (const Manifest& m : state.manifests) {
    if (!names.empty()) names += '\n';
    names += tracecore::to_utf8(m.filePath);
  }
  return names;
}

// ---- training ----

training_plan_t plan_training(nsIDOMDocument* document, const std::u16string& url, const PageState& state,
                              bool passwordRequired, const manifest_creator_t& create) {
  training_plan_t plan;
  ffcontrols controls;
  controls.build(document);
  if (passwordRequired && !has_password_control(controls)) {
    KXERROR("no valid controls for training");
    return plan;
  }
  controls.label();
  std::vector<ffcontrol_record> summary = controls.records();
  const std::string top = tracecore::to_utf8(url);
  for (ffcontrol_record& r : summary) r.top = top;

  plan.domainmanifestnames = domain_manifest_names(state);
  if (state.is_password_change_screen()) {
    KXTRACE("currentoperation::changepassword");
    plan.kind = training_plan_t::changepassword;
    return plan;
  }

  if (!summary.empty() && create) {
    try {
      create(summary, controls.strings(), plan.manifest);
      for (ManifestForm& form : plan.manifest.forms)
        for (ManifestField& field : form.fields) field.accid = field.fieldId;
    } catch (const std::exception& e) {
      KXERROR("createmanifest_from_controls %s", e.what());
      plan.manifest = Manifest();
    } catch (...) {
      KXERROR("createmanifest_from_controls oo");
      plan.manifest = Manifest();
    }
  }
  if (plan.manifest.forms.empty()) return plan;

  KXTRACE("currentoperation::createmanifest");
  manifest::manifestToText(plan.manifest, plan.xml);
  plan.kind = training_plan_t::createmanifest;
  return plan;
}

}  // namespace kxext
