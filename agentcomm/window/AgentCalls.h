// Calls to the agent and replies to requesters: the call gate (one outstanding agent call per
// document), blocks to the agent, the fill-in and check-logon replies, and the messages sent
// directly to the agent's and the global avatar's windows.
//
//   kxmessages::block_filldata_request_t ask;       // callheader, manifestprofileID
//   if (!ffagent_window::call_kxagent(requests, docid, kxext::op_preparefillindata, ask)) reply 51;
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <string_view>

#include "agentcomm/AgentMessages.h"
#include "agentcomm/DocumentId.h"
#include "agentcomm/transport/RegisteredMessages.h"
#include "agentcomm/transport/Transport.h"
#include "tracecore/trace.h"

namespace ffagent_window {

// The table of current operations per document, kept by the component under its lock.
class operation_registry_i {
 public:
  // Under the owner's lock: when |docid| has no current operation, records |operation| and returns
  // true; otherwise returns false with the current one in |current|.
  virtual bool try_begin(kxmessages::document_id_t docid, std::int32_t operation, std::int32_t& current) = 0;
  // Under the owner's lock: forgets the operation try_begin recorded for |docid| (the call did not
  // go out).
  virtual void cancel(kxmessages::document_id_t docid) = 0;

 protected:
  ~operation_registry_i() = default;
};

inline std::string operation_kind_name(std::int32_t operation) { return kxmessages::pending_operation_name(operation); }

// Flattens |message| and passes it to the agent window with WM_KX_AGENT_FFMEMBLOCK and its code;
// nothing is sent when the agent window is not found. True when the block went out.
bool send_block_bytes(std::uint32_t code, const serialization::memoryblock_i& block);

template <class M>
bool send_block(const M& message) {
  serialization::CMemoryObjectEx block;
  if (kxmessages::encode(message, block) == 0) return false;
  return send_block_bytes(M::code, block);
}

// The call gate for the agent calls (blocks 1 to 4). Refuses a document without an identity and a
// document whose previous call is unanswered ("busy %s"); otherwise records the operation, sets the
// message's request ID to the document's and sends it. A call that does not reach the agent (no agent
// window, the agent gone during the call) is forgotten again and gives false: nothing would ever
// answer it, and the document would stay busy.
template <class M>
bool call_kxagent(operation_registry_i& registry, kxmessages::document_id_t docid, std::int32_t operation, M& message) {
  if (docid.empty()) return false;
  std::int32_t current = 0;
  if (!registry.try_begin(docid, operation, current)) {
    KXERROR("busy %s", operation_kind_name(current).c_str());
    return false;
  }
  message.callheader.requestID = docid.request_id();
  KXTRACE("'`I0B`'call_KXAgent for %s", operation_kind_name(operation).c_str());
  if (!send_block(message)) {
    KXERROR("'`I04`'call_KXAgent: %s did not reach the agent", operation_kind_name(operation).c_str());
    registry.cancel(docid);
    return false;
  }
  return true;
}

// Fill-in reply: 50 when |done|, else 51, sent to the reply window when it still exists; the context
// is reset afterwards. Returns whether a reply went out (the agent acknowledged the call).
bool reply_fillin(kxmessages::fillin_reply_context_t& context, bool done);
// Check-logon reply: 62 when |trained|, else 60 when |logon|, else 61.
bool reply_checklogon(kxmessages::checklogon_reply_context_t& context, bool trained, bool logon);

// The spawn requests to the agent window; false when it is missing or the call was not done. The
// fingerprint manager gets a text record (the caller's string, its number as decimal text); help
// and the dashboard get forwarded messages with the caller's values.
bool spawn_flm(std::string_view name, std::int32_t number);
bool spawn_help(WPARAM wparam, LPARAM lparam);
bool spawn_dashboard(WPARAM wparam);

// Whether the user has enrolled fingerprints; true when the agent window is missing or does not
// answer within the window-message limit (ffipc::wait_limits).
bool agent_has_fingers();
// Tells the suite's global avatar window about an activation; false when it is missing or does not
// answer within the window-message limit.
bool gavatar_activation(bool flag, LPARAM value);

}  // namespace ffagent_window
