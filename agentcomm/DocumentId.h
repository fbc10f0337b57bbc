// The ID of a document as the component and the agent share it: the number the component keeps in
// the document's "kxffagent_docid" attribute, sent as the request ID of the document's requests and
// given back in the agent's answers. The wire field is a signed 32-bit integer, the attribute a
// lower-case hexadecimal number: the conversions live here, not at the call sites.
//
//   const kxmessages::document_id_t id = kxext::get_assoc(doc);
//   message.callheader.requestID = id.request_id();
//   if (id == kxmessages::document_id_t::of_request(notice.requestID)) ...
#pragma once

#include <compare>
#include <cstdint>

namespace kxmessages {

class document_id_t {
 public:
  constexpr document_id_t() = default;
  constexpr explicit document_id_t(std::uint32_t value) : value_(value) {}

  // The document an answer's request ID names.
  static constexpr document_id_t of_request(std::int32_t requestID) {
    return document_id_t(static_cast<std::uint32_t>(requestID));
  }
  // The request ID of the document's requests.
  constexpr std::int32_t request_id() const { return static_cast<std::int32_t>(value_); }
  constexpr std::uint32_t value() const { return value_; }
  // 0 is no document: a document without ID, or an attribute that does not read.
  constexpr bool empty() const { return value_ == 0; }

  constexpr auto operator<=>(const document_id_t&) const = default;

 private:
  std::uint32_t value_ = 0;
};

}  // namespace kxmessages
