// Which stored manifests describe a page, whether the feedback icon shows for it, and what training
// would send. Portable: the page is seen through the DOM declarations, the manifests come from a
// lookup source and a loader, and the manifest creation is handed in, so the same decisions run in
// the component, in the tools and natively under the sanitizers.
//
//   kxext::recognition_sources_t sources{lookup_names, loader};
//   kxext::PageState state;
//   bool recognised = kxext::recognize_page(doc, url, sources, state);
//   cache.cached_state(doc, state, true);
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "include_extension/PageState.h"
#include "manifest/Manifest.h"
#include "xpcom/nsIDOMDocument.h"

class ffcontrol;
class ffcontrols;

namespace kxext {

inline constexpr std::int32_t kFirstCandidateId = 29014;

// Where recognition takes its manifests from.
struct recognition_sources_t {
  // The manifest file names of |url|'s domain, joined by line feeds (the lookup cache); |traceOn|
  // asks for its detail traces.
  std::function<std::u16string(std::u16string_view url, bool traceOn)> manifest_names;
  // Loads one manifest; false when it does not load (the default: the guarded file load).
  std::function<bool(std::u16string_view name, Manifest& m)> load;
};

// Why recognition stopped, for callers that explain it.
enum class recognition_stop {
  done,             // ran to the end (recognised or not)
  no_document,
  empty_url,
  nothing_loaded,   // the lookup named nothing, or nothing it named loaded
  no_controls,
};
const char* recognition_stop_name(recognition_stop stop);

// Traces a document as "<prefix>[<address>].<url>", the URL cut before its query (" + params ..."),
// or "<prefix>[<address>].empty URL".
void trace_document(const char* prefix, nsIDOMDocument* document, const std::u16string& url);

// The URL check of one candidate against the page URL: sets urlKind, clears the caption bit on a
// mismatch.
void check_candidate_url(FormCandidate& candidate, std::u16string_view pageUrl);

// Recognition of |document| (URL |url|) into |state|, which is reset first: loading, candidate IDs
// from 29014, URL check and matching, best bit, order, the recognised forms of the top score, the
// slot of a single recognised manifest, and the page facts. Returns whether any form was recognised;
// |stop| (when given) says where it ended. Caching is the caller's. |controls|, when given, are the
// document's controls built for this activation (else they are built here).
bool recognize_page(nsIDOMDocument* document, const std::u16string& url, const recognition_sources_t& sources,
                    PageState& state, recognition_stop* stop = nullptr, const ffcontrols* controls = nullptr);

// The URLs for which the training prompt is not shown while the browser runs.
class suppressed_urls_t {
 public:
  void add(const std::u16string& url);
  bool contains(const std::u16string& url) const;

 private:
  mutable std::mutex lock_;
  std::set<std::u16string> urls_;
};

// What the feedback decision sees of the page: its cached state (null when none), the
// "show_training_prompt" setting, the document and its URL, and the suppressed URLs.
struct feedback_inputs_t {
  const PageState* cached = nullptr;
  bool show_training_prompt = true;
  nsIDOMDocument* document = nullptr;
  std::u16string url;
  const suppressed_urls_t* suppressed = nullptr;
  const ffcontrols* controls = nullptr;  // the activation's controls (null: built when needed)
};
// Whether the icon shows, and in which mode (0 trained, 1 training prompt, 2 password change).
bool decide_feedback(const feedback_inputs_t& in, std::int32_t& mode);

// The control the feedback icon points at: the recognised form's password field (else its first
// used field), or on an unknown page the first password field; only among the controls a fill could
// write into (fillguard::fill_order), so the icon never points at a decoy. Null when there is none.
const ffcontrol* attach_control(const ffcontrols& controls, const std::u16string& url, const PageState* state);

// The domain key of |url| (empty for an empty URL).
std::u16string web_domain_name(std::u16string_view url);

// The name of a manifest as the agent knows it: alien manifests carry their "alien|" prefix.
std::u16string agent_manifest_name(const Manifest& m);
// The file names of the loaded manifests joined by line feeds.
std::string domain_manifest_names(const PageState& state);

// Builds a new manifest from a page's control records (the Windows side adds the browser window's
// caption and class); throws what the creation throws.
using manifest_creator_t =
    std::function<void(const std::vector<ffcontrol_record>& controls, const ffstring_table& strings, Manifest& m)>;

// What training sends for the active page.
struct training_plan_t {
  enum kind_t { none, changepassword, createmanifest } kind = none;
  std::string domainmanifestnames;
  Manifest manifest;  // createmanifest: the new manifest
  std::string xml;    // createmanifest: its text for the agent
};
// Training decisions for |document|: a password-change request for a password-change screen, else a
// new manifest made by |create| from the page's labelled controls (top URL = |url|). |state| is the
// page's cached state (empty when there is none). kind none when nothing can be trained.
training_plan_t plan_training(nsIDOMDocument* document, const std::u16string& url, const PageState& state,
                              bool passwordRequired, const manifest_creator_t& create);

}  // namespace kxext
