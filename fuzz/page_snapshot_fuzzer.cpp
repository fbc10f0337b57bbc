// Page snapshots from any bytes: the loader rejects what is malformed, and whatever loads is
// enumerated, labelled and filled without crashing.
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string_view>

#include "include_extension/Controls.h"
#include "manifest/Escape.h"
#include "peers/dom/SnapshotDom.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::unique_ptr<snapdom::page_t> page;
  try {
    page = snapdom::page_t::load_json(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const std::runtime_error&) {
    return 0;
  }
  ffcontrols controls;
  controls.build(page->document());
  controls.label();
  ManifestForm form;
  form.detection.names = manifest::joinNames(controls.strings());
  fffilldata fill{1, {}};
  for (const ffcontrol& c : controls.list()) {
    ManifestField field;
    field.type = field_edit;
    field.path = c.name;
    field.dbname.assign(1, 'd');  // (assigning a literal trips a false -Wrestrict in g++ 12)
    form.fields.push_back(field);
  }
  fill.profileitems.push_back({"d", -1, "1"});
  fill.profileitems.push_back({"d", -1, "2"});
  controls.send(&form, fill);
  controls.changePassword(fill);
  return 0;
}
