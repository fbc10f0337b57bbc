#include "include_extension/AgentRequests.h"

#include <vector>

#include "manifest/Escape.h"
#include "manifest/Matching.h"
#include "manifest/ManifestReader.h"
#include "tracecore/secret.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace kxext::requests {

kxmessages::manifestprofileid_t profile_key(const Manifest& manifest, std::int32_t profile) {
  kxmessages::manifestprofileid_t key;
  key.manifestfilename = agent_manifest_name(manifest);
  key.currentformindex = manifest.slot;
  key.profileindex = profile;
  return key;
}

kxmessages::block_filldata_request_t fill_in_request(const kxmessages::callheader_t& header, const Manifest& manifest,
                                                     std::int32_t profile) {
  kxmessages::block_filldata_request_t request;
  request.callheader = header;
  request.manifestprofileID = profile_key(manifest, profile);
  return request;
}

kxmessages::block_profile_operation_t modify_request(const kxmessages::callheader_t& header, modify_op_t op,
                                                     const Manifest& manifest) {
  kxmessages::block_profile_operation_t request;
  request.callheader = header;
  request.operation = static_cast<std::int32_t>(op);
  request.manifestprofileID = profile_key(manifest, -1);
  return request;
}

kxmessages::block_newmanifest_t new_manifest_request(const kxmessages::callheader_t& header,
                                                     const training_plan_t& plan) {
  kxmessages::block_newmanifest_t request;
  request.callheader = header;
  request.domainmanifestnames = plan.domainmanifestnames;
  request.newmanifestasstring = plan.xml;
  return request;
}

kxmessages::block_domain_manifests_t change_password_request(const kxmessages::callheader_t& header,
                                                             const training_plan_t& plan) {
  kxmessages::block_domain_manifests_t request;
  request.callheader = header;
  request.domainmanifestnames = plan.domainmanifestnames;
  return request;
}

bool may_modify(modify_op_t op, const PageState* cached) {
  if (cached && cached->recognized_count() > 0) return true;
  if (op == modify_op_t::add_profile) {
    // No cached state was traced where it was looked for.
    if (cached) KXTRACE("page is not recognized anymore");
  } else {
    KXERROR("null page state");
  }
  return false;
}

const ffcontrol* highlight_control(const Manifest& manifest, std::int32_t accid, const ffcontrols& controls) {
  const ManifestForm* form = nullptr;
  const ManifestField* field = nullptr;
  for (const ManifestForm& f : manifest.forms) {
    for (const ManifestField& candidate : f.fields)
      if (candidate.accid == accid) field = &candidate;
    if (field) {
      form = &f;
      break;
    }
  }
  if (!field) {
    KXERROR("field not found by accid");
    return nullptr;
  }
  if (controls.list().empty()) {
    KXERROR("no field in doc");
    return nullptr;
  }
  const std::vector<std::string> names = manifest::splitNames(form->detection.names);
  for (const ffcontrol& c : controls.list())
    if (manifest::controlMatchesField(c, controls.strings(), *field, names)) return &c;
  return nullptr;
}

fffilldata fill_data_of(const kxmessages::filldata_t& data) {
  fffilldata out;
  out.submitprofile = data.submitprofile;
  for (const kxmessages::profileitem_t& item : data.profileitems)
    out.profileitems.push_back({item.dbname, item.memid, tracecore::secret_u16_t(std::u16string_view(item.value))});
  return out;
}

fillguard::fill_result_t use_answer(const PendingRequest& pending, const kxmessages::notice_senddata_t& answer,
                                    const answer_page_t& page) {
  fillguard::fill_result_t refused;
  const bool changepassword = pending.currentoperation == op_changepassword;
  Manifest manifest;
  if (!changepassword) {
    if (answer.manifestasstring.empty()) {
      manifest = pending.manifest;
    } else if (loadM_properlyS(pending.manifest.filePath, tracecore::to_utf8(answer.manifestasstring), manifest)) {
      manifest.slot = 0;
    } else {
      refused.refused = fillguard::refusal_t::bad_answer;
      return refused;  // the reader traced why
    }
  }
  if (!pending.document) {
    KXERROR("'`I04`'fill refused: no requesting document");
    refused.refused = fillguard::refusal_t::no_document;
    return refused;
  }
  fillguard::fill_target_t target;
  target.document = page.document;
  target.requested_document = pending.document;
  target.url = page.url;
  target.requested_url = pending.url;
  // The page must still be what the request was made for: the recognised form's URL check first,
  // then the fill's own checks over the form the agent sent.
  refused.refused = fillguard::check_document(target, pending.manifest.findForm(pending.manifest.slot));
  if (refused.refused != fillguard::refusal_t::none) {
    KXTRACE("'`I04`'fill refused: %s", fillguard::refusal_name(refused.refused));
    return refused;
  }
  const fffilldata data = fill_data_of(answer.datatofillin);
  if (changepassword) return fillguard::change_password(target, data);
  const ManifestForm* form = manifest.findForm(manifest.slot);
  if (!form && !manifest.forms.empty()) form = &manifest.forms.front();
  return fillguard::fill(target, form, data);
}

}  // namespace kxext::requests
