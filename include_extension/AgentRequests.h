// What the component asks the agent and what it does with the answers, decided without Windows:
// the requests built for a page's selected manifest or training plan, which page state a profile
// operation may run on, the control an agent's highlight names, and the fill an answer makes. The
// component object takes the document, asks here, and sends or replies; the same decisions run
// natively over the snapshot DOM.
//
//   if (kxext::requests::may_modify(op, cached ? &state : nullptr)) {
//     auto request = kxext::requests::modify_request(header, op, *selected);
//     ... the call gate sends it ...
//   }
//   const fillguard::fill_result_t done = kxext::requests::use_answer(pending, notice, {doc, url});
#pragma once

#include <cstdint>
#include <string>

#include "agentcomm/AgentMessages.h"
#include "include_extension/Controls.h"
#include "include_extension/FillGuard.h"
#include "include_extension/PageState.h"
#include "include_extension/Recognition.h"
#include "manifest/Manifest.h"
#include "xpcom/nsIDOMDocument.h"

namespace kxext::requests {

// The operation number of a profile operation on a recognised page, as the agent reads it.
enum class modify_op_t : std::int32_t {
  add_profile = 1,   // training on a page that is already recognised: another profile for its form
  edit_profile = 3,  // the user edits the page's profile
};

// ---- what the component asks ----

// The agent's profile key of |manifest|: its name as the agent knows it, the form in its slot and
// |profile| (-1: the agent asks the user).
kxmessages::manifestprofileid_t profile_key(const Manifest& manifest, std::int32_t profile);

// Block 1: the data to fill |manifest|'s form with, for |profile|.
kxmessages::block_filldata_request_t fill_in_request(const kxmessages::callheader_t& header, const Manifest& manifest,
                                                     std::int32_t profile);
// Block 3: a profile operation on |manifest|'s form.
kxmessages::block_profile_operation_t modify_request(const kxmessages::callheader_t& header, modify_op_t op,
                                                     const Manifest& manifest);
// Block 2 (a new manifest) or 4 (a password change) for a training plan of that kind.
kxmessages::block_newmanifest_t new_manifest_request(const kxmessages::callheader_t& header,
                                                     const training_plan_t& plan);
kxmessages::block_domain_manifests_t change_password_request(const kxmessages::callheader_t& header,
                                                             const training_plan_t& plan);

// Whether a profile operation can be asked for on the page's cached state (|cached| null: there is
// none): some form must be recognised. Traces why not: "page is not recognized anymore" for
// add_profile, "null page state" for edit_profile.
bool may_modify(modify_op_t op, const PageState* cached);

// ---- what the component does with the answers ----

// The control an agent's highlight points at: the field of |manifest| (the pending request's) whose
// accid is |accid|, then the first of |controls| that matches it. Null when there is none; traces
// "field not found by accid" and "no field in doc".
const ffcontrol* highlight_control(const Manifest& manifest, std::int32_t accid, const ffcontrols& controls);

// The values of an answer as the fill takes them: UTF-16 all the way, wiped when they go.
fffilldata fill_data_of(const kxmessages::filldata_t& data);

// The document an answer is used on, as the component sees it now.
struct answer_page_t {
  nsIDOMDocument* document = nullptr;
  std::u16string url;  // its real URL now
};

// The work of an answer ("NOTICE::senddata") that matched |pending|: a password change for a
// change-password request, else a fill with the manifest the answer brings (its text, the first
// form) or the request's own manifest; all through the fill guard, so the page must still be the
// one asked for. Traces every refusal; the result's `refused` is `no_target` when the answer's
// manifest does not read, `no_document` when the request kept no requesting document.
fillguard::fill_result_t use_answer(const PendingRequest& pending, const kxmessages::notice_senddata_t& answer,
                                    const answer_page_t& page);

}  // namespace kxext::requests
