// The messages exchanged with the agent: codes, names and one field list per structured message.
//
// A field list names every key of a message once and is walked in either direction:
//
//   kxmessages::notice_senddata_t n;
//   kxmessages::decode(n, block);                 // reads the keys present in the block
//   CMemoryObjectEx out;
//   kxmessages::encode(block_filldata_request, out);  // writes every key
//
// The lists are templates over the binder, so that other front ends (a JSON view in the tools)
// walk exactly the same keys.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "agentcomm/InMemStorage.h"

namespace kxmessages {

using serialization::memoryblock_i;
using serialization::StorageNamed::InMemStorageSpace::CInMemStorage;
using serialization::StorageNamed::InMemStorageSpace::CSSection;
using serialization::StorageNamed::InMemStorageSpace::rect_t;

// wParam of WM_KX_AGENT_REQUEST.
enum notice_code : std::uint32_t {
  notice_uninitialized = 0,
  notice_requestaborted = 1,
  notice_kxaversion = 2,
  notice_highlightID = 3,
  notice_senddata = 4,
  notice_senddata2 = 5,
  notice_updatareply = 6,
  notice_dsdatareply = 7,
  notice_kxajsonreply = 8,
};
// "NOTICE::senddata" and so on; "unknown NOTICE" for any other code.
const char* notice_name(std::uint32_t code);

// lParam of WM_KX_ACTIONREQUEST_FRHOOK.
enum operation_code : std::uint32_t {
  op_uninit = 0,
  op_dofillin = 1,
  op_qlfillin = 2,
  op_checklogin = 3,
  op_starttraining = 4,
  op_cacheupdated = 5,
  op_fingeractivity = 6,
  op_dontshowpretrained = 7,
  op_showpretrainedicon = 8,
  op_updatedotpstate = 9,
  op_updatedotpvalue = 10,
};
// "dofillin" and so on; "oo" for any other code.
const char* operation_name(std::uint32_t code);

// The component's operations that wait for the agent's answer, one per document: 0 "none",
// 1 "createmani", 2 "modifyprof", 3 "preparefillindata", 4 "changepassword", else "unknown[%d]".
std::string pending_operation_name(std::int32_t operation);

// wParam of WM_KX_AGENT_FFMEMBLOCK.
enum block_code : std::uint32_t {
  block_filldata_request = 1,   // ask for the data to fill in a form
  block_newmanifest = 2,        // hand over a newly created manifest
  block_profile_operation = 3,  // a profile operation on a recognised form
  block_domain_manifests = 4,   // the manifest names of the current domain
  block_highlight = 5,          // where to highlight
  block_replyto = 6,            // announce the window to reply to
};

// Results carried by the replies to the requesters of "dofillin" and "checklogin".
enum reply_result : std::int32_t {
  fillin_pending = 49,
  fillin_done = 50,
  fillin_failed = 51,
  checklogon_pending = 59,
  checklogon_logon = 60,    // a logon page, not trained yet
  checklogon_neither = 61,  // no page to judge
  checklogon_trained = 62,  // the page is trained already
};

// 62 when the page is trained, else 60 for a logon page, else 61.
constexpr std::int32_t checklogon_result(bool trained, bool logon) {
  return trained ? checklogon_trained : logon ? checklogon_logon : checklogon_neither;
}
constexpr std::int32_t fillin_result(bool done) { return done ? fillin_done : fillin_failed; }

// Window handles travel as 32-bit integers; the Win32 side converts them.
using window_id = std::uintptr_t;

// The requester of "dofillin" waits for a reply with this context's result.
struct fillin_reply_context_t {
  window_id browser_window = 0;
  window_id reply_window = 0;  // the request's wParam
  std::int32_t result = fillin_pending;
  std::int32_t profileindex = -1;
  void reset() { result = fillin_pending; }
};

// The requester of "checklogin" waits for a reply with this context's result.
struct checklogon_reply_context_t {
  window_id browser_window = 0;
  window_id reply_window = 0;
  std::int32_t result = checklogon_pending;
  void reset() { result = checklogon_pending; }
};

// Writes the fields into a section or reads them back from it. The result of a list is the OR of
// its fields: reading counts as done when at least one key was found; a missing key leaves its
// field alone.
class field_binder_t {
 public:
  enum direction_t { writing, reading };

  field_binder_t(CInMemStorage& storage, CSSection* section, direction_t direction)
      : storage_(storage), section_(section), direction_(direction) {}

  bool is_writing() const { return direction_ == writing; }

  bool field(const char* key, std::int32_t& value);
  bool field(const char* key, bool& value);  // a flag byte
  bool field(const char* key, rect_t& value);
  bool field(const char* key, std::string& value);     // 8-bit string
  bool field(const char* key, std::u16string& value);  // UTF-16 string

  // A named sub-section with its own list. Writing creates it; reading fails without it.
  template <class M>
  bool section(const char* key, M& message) {
    CSSection* sub = storage_.open_section(key, section_, is_writing());
    if (!sub) return false;
    field_binder_t inner(storage_, sub, direction_);
    return message.bind(inner);
  }

  // A sections array, one element per item. Writing no items writes nothing and counts as done;
  // reading replaces the items when the array is there.
  template <class M>
  bool array(const char* key, std::vector<M>& items) {
    CSSection* element = nullptr;
    if (is_writing()) {
      if (items.empty()) return true;
      auto* array = storage_.begin_write_array(key, section_, &element);
      if (!array) return false;
      for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0) CInMemStorage::append_section(array, &element);
        field_binder_t inner(storage_, element, direction_);
        items[i].bind(inner);
      }
      return true;
    }
    auto* array = storage_.begin_read_array(key, section_, &element);
    if (!array) return false;
    items.clear();
    do {
      field_binder_t inner(storage_, element, direction_);
      items.emplace_back().bind(inner);
    } while (CInMemStorage::next_section(array, &element));
    return true;
  }

 private:
  CInMemStorage& storage_;
  CSSection* section_;
  direction_t direction_;
};

// --- sections inside messages ---

struct callheader_t {
  std::int32_t requestID = 0;
  std::int32_t targetwnd = 0;
  std::int32_t activewnd = 0;

  bool operator==(const callheader_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.field("requestID", requestID);
    r |= b.field("targetwnd", targetwnd);
    r |= b.field("activewnd", activewnd);
    return r;
  }
};

struct manifestprofileid_t {
  std::u16string manifestfilename;
  std::int32_t currentformindex = 0;
  std::int32_t profileindex = 0;
  bool istsid = false;

  bool operator==(const manifestprofileid_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.field("manifestfilename", manifestfilename);
    r |= b.field("currentformindex", currentformindex);
    r |= b.field("profileindex", profileindex);
    r |= b.field("istsid", istsid);
    return r;
  }
};

struct profileitem_t {
  std::int32_t value_op = 0;
  std::int32_t displayname_op = 0;
  std::u16string displayname;
  std::u16string value;
  std::string dbname;
  std::int32_t memid = 0;

  bool operator==(const profileitem_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.field("value_op", value_op);
    r |= b.field("displayname_op", displayname_op);
    r |= b.field("displayname", displayname);
    r |= b.field("value", value);
    r |= b.field("dbname", dbname);
    r |= b.field("memid", memid);
    return r;
  }
};

// "datatofillin": what the agent sends to fill in a form.
struct filldata_t {
  std::int32_t operation = 0;
  std::int32_t profileindex = 0;
  std::u16string profilename;
  std::u16string qlinkname;
  std::int32_t submitprofile = 0;
  std::string updatedate;
  std::int32_t formindex = 0;
  bool qlwocred = false;
  std::vector<profileitem_t> profileitems;
  std::string timestampid;
  std::string groupname;
  std::string manifestid;
  bool comprPSW = false;
  bool comprUN = false;

  bool operator==(const filldata_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.field("operation", operation);
    r |= b.field("profileindex", profileindex);
    r |= b.field("profilename", profilename);
    r |= b.field("qlinkname", qlinkname);
    r |= b.field("submitprofile", submitprofile);
    r |= b.field("updatedate", updatedate);
    r |= b.field("formindex", formindex);
    r |= b.field("qlwocred", qlwocred);
    r |= b.array("profileitems", profileitems);
    r |= b.field("timestampid", timestampid);
    r |= b.field("groupname", groupname);
    r |= b.field("manifestid", manifestid);
    r |= b.field("comprPSW", comprPSW);
    r |= b.field("comprUN", comprUN);
    return r;
  }
};

// --- notices from the agent (WM_KX_AGENT_REQUEST) ---

struct notice_requestaborted_t {
  static constexpr notice_code code = notice_requestaborted;
  std::int32_t requestID = 0;

  bool operator==(const notice_requestaborted_t&) const = default;

  template <class B>
  bool bind(B& b) {
    return b.field("requestID", requestID);
  }
};

struct notice_kxaversion_t {
  static constexpr notice_code code = notice_kxaversion;
  std::int32_t version = 0;

  bool operator==(const notice_kxaversion_t&) const = default;

  template <class B>
  bool bind(B& b) {
    return b.field("version", version);
  }
};

struct notice_highlight_t {
  static constexpr notice_code code = notice_highlightID;
  std::int32_t requestID = 0;
  std::int32_t accID = 0;
  std::int32_t highlightagent = 0;

  bool operator==(const notice_highlight_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.field("requestID", requestID);
    r |= b.field("accID", accID);
    r |= b.field("highlightagent", highlightagent);
    return r;
  }
};

struct notice_senddata_t {
  static constexpr notice_code code = notice_senddata;
  std::int32_t requestID = 0;
  std::u16string manifestasstring;
  bool ischangepasswordprofile = false;
  filldata_t datatofillin;

  bool operator==(const notice_senddata_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.field("requestID", requestID);
    r |= b.field("manifestasstring", manifestasstring);
    r |= b.field("ischangepasswordprofile", ischangepasswordprofile);
    r |= b.section("datatofillin", datatofillin);
    return r;
  }
};

// --- blocks to the agent (WM_KX_AGENT_FFMEMBLOCK) ---

struct block_filldata_request_t {
  static constexpr block_code code = block_filldata_request;
  callheader_t callheader;
  manifestprofileid_t manifestprofileID;

  bool operator==(const block_filldata_request_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.section("callheader", callheader);
    r |= b.section("manifestprofileID", manifestprofileID);
    return r;
  }
};

struct block_newmanifest_t {
  static constexpr block_code code = block_newmanifest;
  callheader_t callheader;
  std::string domainmanifestnames;
  std::string newmanifestasstring;

  bool operator==(const block_newmanifest_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.section("callheader", callheader);
    r |= b.field("domainmanifestnames", domainmanifestnames);
    r |= b.field("newmanifestasstring", newmanifestasstring);
    return r;
  }
};

struct block_profile_operation_t {
  static constexpr block_code code = block_profile_operation;
  callheader_t callheader;
  std::int32_t operation = 0;
  manifestprofileid_t manifestprofileID;

  bool operator==(const block_profile_operation_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.section("callheader", callheader);
    r |= b.field("operation", operation);
    r |= b.section("manifestprofileID", manifestprofileID);
    return r;
  }
};

struct block_domain_manifests_t {
  static constexpr block_code code = block_domain_manifests;
  callheader_t callheader;
  std::string domainmanifestnames;
  bool istsids = false;

  bool operator==(const block_domain_manifests_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.section("callheader", callheader);
    r |= b.field("domainmanifestnames", domainmanifestnames);
    r |= b.field("istsids", istsids);
    return r;
  }
};

struct block_highlight_t {
  static constexpr block_code code = block_highlight;
  rect_t accIDrect;
  std::int32_t highlightagent = 0;

  bool operator==(const block_highlight_t&) const = default;

  template <class B>
  bool bind(B& b) {
    bool r = false;
    r |= b.field("accIDrect", accIDrect);
    r |= b.field("highlightagent", highlightagent);
    return r;
  }
};

struct block_replyto_t {
  static constexpr block_code code = block_replyto;
  std::int32_t replytowindow = 0;

  bool operator==(const block_replyto_t&) const = default;

  template <class B>
  bool bind(B& b) {
    return b.field("replytowindow", replytowindow);
  }
};

// --- encode and decode ---

// Binds |message| into |storage|'s root.
template <class M>
bool write_message(const M& message, CInMemStorage& storage) {
  field_binder_t binder(storage, nullptr, field_binder_t::writing);
  // Writing only reads the fields; the list is shared with reading, hence not const.
  return const_cast<M&>(message).bind(binder);
}

template <class M>
bool read_message(M& message, CInMemStorage& storage) {
  field_binder_t binder(storage, nullptr, field_binder_t::reading);
  return message.bind(binder);
}

// The message flattened into |block|; its length, 0 on failure.
template <class M>
std::uint32_t encode(const M& message, memoryblock_i& block) {
  CInMemStorage storage;
  write_message(message, storage);
  return storage.save(block);
}

// Reads the message from |block|. A block that does not load leaves the message as it was; true
// when the block loaded and at least one key was found.
template <class M>
bool decode(M& message, const memoryblock_i& block) {
  CInMemStorage storage;
  if (!storage.load(block)) return false;
  return read_message(message, storage);
}

}  // namespace kxmessages
