// Matching a page against a manifest form: manifest URL tokens, URL keys and their comparison, and
// the test of a form's fields against the page's controls.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "manifest/ControlRecord.h"
#include "manifest/Manifest.h"

namespace manifest {

struct ManifestUrl {
  std::int32_t status = 0;  // 0 empty or not compared, 1 plain URL, 2 and 3 patterns (not evaluated)
  std::u16string text;
  bool flag = false;
};

ManifestUrl parseManifestUrl(std::u16string_view text);

// Keys of a URL; any output may be null.
void urlKeys(std::u16string_view url, std::u16string* host, std::u16string* hostPath,
             std::u16string* domainPath, std::u16string* domain);
// The same over 8-bit text (the keys are plain substrings).
void urlKeys(std::string_view url, std::string* host, std::string* hostPath, std::string* domainPath,
             std::string* domain);

// URL comparison results (urlKind); 3 to 6 are matches.
enum url_kind : std::int32_t {
  url_unusable = 0,
  url_nocheck = 1,
  url_nomatch = 2,
  url_exact = 3,
  url_sdu = 4,  // host-and-path keys equal
  url_du = 5,   // domain-and-path keys equal
  url_d = 6,    // domain keys equal
};
// "unusable", "nocheck", "nomatch", "urlExact", "urlSDU", "urlDU", "urlD".
const char* urlKindName(std::int32_t kind);

std::int32_t compareUrls(const std::vector<std::u16string>& pageUrls, std::u16string_view manifestUrl);

// The URL check of one form against the page URL as recognition makes it: 1 when the form asks for
// no check, 2 for an empty page URL, else the comparison with the form's web_murl (patterns give 6).
// |urlMismatch| is set when the URL was parsed and did not match (the candidate's bit is cleared).
std::int32_t checkFormUrl(const ManifestForm& form, std::u16string_view pageUrl, bool* urlMismatch = nullptr);

// The composed name of an encoded identity ("[sid]flags.composed.form.p3.p4", items are hex indexes
// into |table|); empty when there is no "sid" piece or the index is not in the table. The result
// points into |table|.
std::string_view composedNameOf(std::string_view identity, const std::vector<std::string>& table);

// Path comparison of a page-side composed name |a| and a manifest-side one |b|. |stripped| (when
// given) is set when the match came from dropping the form part of both; with |trace| such a match
// is traced as well.
bool comparePaths(std::string_view a, std::string_view b, bool* stripped = nullptr, bool trace = false);

bool controlMatchesField(const ffcontrol_record& control, const ffstring_table& strings,
                         const ManifestField& field, const std::vector<std::string>& formNames);

// A control's composed name made ready for path comparison.
struct prepared_path_t {
  std::string_view text;
  bool marker = false;       // holds the form-id marker
  std::string_view fromDot;  // the text from its first "." on
};

// The page's controls decoded once for matching many forms: their composed names (pointing into the
// string table, which must outlive this) and the number of password controls.
class prepared_controls_t {
 public:
  prepared_controls_t(std::span<const ffcontrol_record* const> controls, const ffstring_table& strings);
  const std::vector<prepared_path_t>& paths() const { return paths_; }
  int passwords() const { return passwords_; }

 private:
  std::vector<prepared_path_t> paths_;
  int passwords_ = 0;
};

bool formMatchesControls(const prepared_controls_t& page, const ManifestForm& form);

// Whether every field of |form| (buttons aside) finds a control of the page. Controls are given by
// pointer so that callers holding larger records can pass them without copying.
bool formMatchesControls(std::span<const ffcontrol_record* const> controls, const ffstring_table& strings,
                         const ManifestForm& form);
bool formMatchesControls(const std::vector<ffcontrol_record>& controls, const ffstring_table& strings,
                         const ManifestForm& form);

}  // namespace manifest
