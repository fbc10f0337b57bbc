// The one way a credential gets into a page. Every path that writes a profile value or a password
// (the agent's fill-in and password change, the quick-link fill, "kxff page fill") goes through
// fillguard::fill or fillguard::change_password, which check before anything is written:
//
//   - the document is the one the request was made for (its identity, not its "kxffagent_docid",
//     which the page can copy, forge or remove);
//   - the document's real URL still passes the form's URL check, on the same site as when asked;
//   - a form whose URL is https never fills a page that is not;
//   - a control is a target only when a person can see it (non-zero size, not placed before the
//     document's start), and a control inside a frame only when the frame element is shown and the
//     frame's document is the same site (registrable domain) as the form's URL; the top document's
//     controls come before frame controls of the same name.
//
// Refusals are traced with their reason and returned, so that tools show exactly what the component
// would do.
#pragma once

#include <string>
#include <vector>

#include "include_extension/Controls.h"
#include "manifest/Manifest.h"
#include "xpcom/nsIDOM.h"

namespace fillguard {

enum class refusal_t {
  none,
  no_document,       // no document to fill
  other_document,    // not the document the request was made for
  url_mismatch,      // the document's URL no longer passes the form's URL check (or left the site)
  insecure_page,     // an https form (or request) and a page that is not https
  no_target,         // nothing on the page may receive the values
  hidden,            // the control has no size
  outside_document,  // the control lies before the document's start (off-screen decoy)
  foreign_frame,     // the control's frame is another site than the form's URL
  hidden_frame,      // the control's frame element has no size
  password_count,    // a password change needs two or three visible password fields
  fill_running,      // another fill is still writing (a page script gave the thread to another answer)
  bad_answer,        // the agent's answer brings a manifest that does not read
};
const char* refusal_name(refusal_t reason);

struct refused_control_t {
  std::string composed;  // the control's composed name ("form.id.name")
  std::string frame;     // the URL of its frame document; empty in the top document
  refusal_t reason = refusal_t::none;
};

// What the fill is for.
struct fill_target_t {
  nsIDOMDocument* document = nullptr;  // the document about to be filled
  // The document the request was made for (its identity); null only where no request was made
  // (the page tool).
  nsISupports* requested_document = nullptr;
  std::u16string url;            // the document's real URL now
  std::u16string requested_url;  // its URL when the request was made; empty: not compared
};

struct fill_result_t {
  refusal_t refused = refusal_t::none;  // the whole fill refused before anything was written
  nsresult rv = NS_OK;                  // the fill's own result when it ran
  std::vector<refused_control_t> controls;  // controls left out, with their reasons
  bool filled() const { return refused == refusal_t::none; }
};

// The page checks shared by both fills and by the feedback icon: identity, URL, scheme. |form| may
// be null (password change: only the request's URL is compared).
refusal_t check_document(const fill_target_t& target, const ManifestForm* form);

// The site a frame control must share to receive values: the form's URL site, else the page's.
std::string target_site(const ManifestForm* form, const std::u16string& page_url);

// The controls of |controls| that may receive values, top document first, then frames, each in
// list order; |refused| (when given) gets every control left out, with its reason.
std::vector<std::size_t> fill_order(const ffcontrols& controls, const std::string& site,
                                    std::vector<std::pair<std::size_t, refusal_t>>* refused = nullptr);

// Whether a fill is writing right now: page scripts run inside the DOM calls of a fill and may pump
// messages, so another answer can arrive before the fill is done. It must wait (fill_running).
bool fill_running();

// ffcontrols::send of |form| over a fresh enumeration of the guarded document.
fill_result_t fill(const fill_target_t& target, const ManifestForm* form, const fffilldata& data);
// ffcontrols::changePassword over the visible password fields of the guarded (top) document only,
// when there are two or three of them.
fill_result_t change_password(const fill_target_t& target, const fffilldata& data);

}  // namespace fillguard
