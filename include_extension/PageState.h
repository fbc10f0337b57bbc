// Per-document bookkeeping of the component: the document ID kept in the document itself, the
// recognition result of each document (PageState with its form candidates and their scores), and the
// requests that wait for the agent's answer. Portable: the documents are seen through the DOM
// declarations only.
//
//   kxext::set_docID(doc);                          // "kxffagent_docid" = lower-case hex tick count
//   kxext::PageState state;  ... recognition fills it ...
//   cache.cached_state(doc, state, true);           // kept under the document's ID
//   table.match(activeDoc, document_id_t::of_request(notice.requestID), pending);
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "agentcomm/DocumentId.h"
#include "manifest/ControlRecord.h"
#include "manifest/Manifest.h"
#include "xpcom/nsCOMPtr.h"
#include "xpcom/nsIDOMDocument.h"

namespace kxext {

// ---- document identity ----

inline constexpr char16_t kDocIdAttr[] = u"kxffagent_docid";
inline constexpr char16_t kWindowUriAttr[] = u"kxffagent_windowuri";
using kxmessages::document_id_t;
inline constexpr document_id_t kFallbackDocId{0x0BADF00D};

// Milliseconds since the system started (the platform's tick count).
using tick_source_t = std::function<std::uint32_t()>;
tick_source_t default_tick_source();

// A new document ID: the tick count, read once more when it is 0, else 0x0BADF00D.
document_id_t new_document_id(const tick_source_t& tick);
// The attribute text of an ID: lower-case hexadecimal, no prefix or padding.
std::string document_id_text(document_id_t id);

// The document's ID; empty when it has none (traces "'`I0E`'Doc has no ID" with |trace|).
document_id_t get_assoc(nsIDOMDocument* document, bool trace = true);
// Gives the document an ID unless it has one; false when the document is missing or the write fails.
bool set_docID(nsIDOMDocument* document, const tick_source_t& tick = default_tick_source());
bool remove_docID(nsIDOMDocument* document);

// ---- matching results ----

struct MatchStatus {
  enum : std::uint8_t { caption = 1 };  // flags0
  enum : std::uint8_t {                 // flags
    alien = 1,
    manual = 2,
    content = 4,
    best = 8,
    pchange = 16,
  };

  std::uint8_t flags0 = 0;
  std::int32_t urlKind = 0;
  std::int32_t processKind = 0;
  std::uint8_t flags = 0;
  std::int32_t count = 0;

  std::uint32_t score() const;
  bool operator==(const MatchStatus&) const = default;
};

// URL kinds 3 to 6.
bool is_url_match(std::int32_t urlKind);
// "idvmani|automa|urlSDU|content" and so on; "0" for 0.
std::string score_text(std::uint32_t score);

// One form of one loaded manifest; both pointers point into the PageState that holds the candidate.
struct FormCandidate {
  const Manifest* manifest = nullptr;
  const ManifestForm* form = nullptr;
  MatchStatus status;
  std::int32_t id = -1;
};

// Whether |a| ranks before |b| (best first).
bool candidate_before(const FormCandidate& a, const FormCandidate& b);

// The password facts and the control summary of a page.
struct PageFacts {
  enum : std::uint8_t { has_password = 1, has_password_too = 2, valid = 4 };
  std::uint8_t flags = 0;
  std::int32_t passwords = 0;
  // The page's controls (records and the string table their identities index into).
  std::vector<ffcontrol_record> controls;
  ffstring_table strings;
};

class PageState {
 public:
  PageState() = default;
  PageState(const PageState& other) { *this = other; }
  // Copies manifests, state flags and facts, and rebuilds both candidate vectors against the copy's
  // own manifests (fresh status, same candidate IDs). The extra manifests are not copied.
  PageState& operator=(const PageState& other);
  // std::list keeps its nodes when moved, so the candidates' pointers stay valid.
  PageState(PageState&&) = default;
  PageState& operator=(PageState&&) = default;

  void reset();

  std::size_t recognized_count() const { return recognized.size(); }
  // The manifest of the only recognised candidate; null for none or several.
  const Manifest* single_recognized_manifest() const;
  bool good_for_logon() const { return (facts.flags & PageFacts::has_password) != 0; }
  // Two or three password fields, nothing recognised, some manifest loaded, none of them alien.
  bool is_password_change_screen() const;

  std::list<Manifest> manifests;
  std::vector<FormCandidate> candidates;
  std::vector<FormCandidate> recognized;
  std::uint8_t state_flags = 1;
  PageFacts facts;
  std::list<Manifest> extra_manifests;
};

// Same alien flag, file path, descriptor and forms.
bool same_manifest(const Manifest& a, const Manifest& b);

// The choice texts of the choose-manifest dialog, one per recognised candidate: the form's
// choosename; when empty and the form follows another form of its manifest, |related| (the suite's
// text), that form's choosename and " - "; when still empty, the manifest's file name.
std::vector<std::u16string> choice_texts(const std::vector<FormCandidate>& candidates, const std::u16string& related);

// The user's choice among |choices|: an index, or -1 for none.
using form_chooser_t = std::function<int(const std::vector<std::u16string>& choices)>;

// The manifest to edit, train or fill with: none when nothing is recognised; the single recognised
// manifest; with several, the one |choose| picks (its slot set to the chosen form's number). Every
// field of the result gets accid = fieldId.
std::optional<Manifest> selected_manifest(const PageState& state, const form_chooser_t& choose,
                                          const std::u16string& related = u"");

// ---- caches ----

enum operation_kind : std::int32_t {
  op_none = 0,
  op_createmani = 1,
  op_modifyprof = 2,
  op_preparefillindata = 3,
  op_changepassword = 4,
};
// "none", "createmani", "modifyprof", "preparefillindata", "changepassword", else "unknown[%d]".
std::string operation_kind_name(std::int32_t operation);

struct PendingRequest {
  std::int32_t currentoperation = op_none;  // 0: the slot is free
  Manifest manifest;
  // The document the request was made for (its identity: the page can copy, forge or remove its
  // "kxffagent_docid", not this) and its URL then; an answer is only ever used for that document.
  nsCOMPtr<nsISupports> document;
  std::u16string url;
  std::uint32_t since = 0;  // tick count when it was made
};

// The requests sent to the agent on behalf of a document; at most one per document.
class CRequestTable {
 public:
  // A request the agent has not answered (or whose answer was refused) within this time is dropped,
  // so that its document does not stay busy until it unloads. Long enough for the agent's slowest
  // step, the user putting a finger on the reader; traced as "'`I04`'pending request expired".
  static constexpr std::uint32_t kPendingLifetimeMs = 180000;

  // The pending request of |requested| (the document an answer names) when it is |document|'s ID;
  // the entry stays unless it has expired (then it goes, and there is nothing pending).
  bool match(nsIDOMDocument* document, document_id_t requested, PendingRequest& out,
             std::uint32_t now = default_tick_source()());
  void remove(document_id_t docid);
  void remove_for_document(nsIDOMDocument* document);
  // The call gate's insertion: records |request| unless the document's entry is busy, in which case
  // |current| gets the busy operation.
  bool try_insert(document_id_t docid, const PendingRequest& request, std::int32_t& current,
                  std::uint32_t now = default_tick_source()());
  // The operation pending for |docid| (op_none when free).
  std::int32_t operation_of(document_id_t docid) const;
  std::size_t size() const;

 private:
  mutable std::mutex lock_;
  std::map<document_id_t, PendingRequest> map_;
};

class CPageStateCache {
 public:
  // With |insert|: stores |state| under the document's ID (replacing an entry); the result is whether
  // the ID is present afterwards. Without: copies the cached entry into |state| when there is one.
  bool cached_state(nsIDOMDocument* document, PageState& state, bool insert);
  // The insert of cached_state that moves |state| in instead of copying it (traced the same way).
  bool cached_insert(nsIDOMDocument* document, PageState&& state);
  bool cached_erase(nsIDOMDocument* document);
  bool contains(document_id_t docid) const;
  std::size_t size() const;

 private:
  std::map<document_id_t, PageState> map_;
  mutable std::mutex lock_;
};

}  // namespace kxext
