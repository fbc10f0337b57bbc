#include "manifest/Matching.h"

#include "manifest/PublicSuffix.h"

#include <algorithm>
#include <climits>

#include "manifest/Escape.h"
#include "manifest/PublicSuffix.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace manifest {
namespace {

constexpr std::string_view kFormIdMarker = "#kx#<;)lid=";

template <class Char>
Char asciiLower(Char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <class Char>
bool equalsNoCase(std::basic_string_view<Char> a, std::basic_string_view<Char> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (asciiLower(a[i]) != asciiLower(b[i])) return false;
  return true;
}

template <class Char>
struct url_keys_t {
  std::basic_string_view<Char> host, hostPath, domainPath, domain;
};

// All keys are substrings of |u|; ranges that would run backwards are empty.
template <class Char>
url_keys_t<Char> keysOf(std::basic_string_view<Char> u) {
  using view = std::basic_string_view<Char>;
  const Char kScheme[] = {':', '/', '/'};
  std::size_t q = u.find(Char('?'));
  if (q == view::npos) q = u.find(Char('#'));
  if (q == view::npos) q = u.find(Char(';'));
  if (q == view::npos) q = u.size();
  const std::size_t scheme = u.find(view(kScheme, 3));
  const std::size_t hs = scheme == view::npos ? 0 : scheme + 3;
  std::size_t he = u.find(Char('/'), hs);
  if (he == view::npos) he = u.size();
  std::size_t d = hs;
  const std::size_t lastDot = u.rfind(Char('.'), he);
  if (lastDot != view::npos && lastDot != 0) {
    const std::size_t before = u.rfind(Char('.'), lastDot - 1);
    d = before == view::npos ? hs : before + 1;
  }
  auto range = [&](std::size_t from, std::size_t to) { return to > from ? u.substr(from, to - from) : view(); };
  return {range(hs, he), range(hs, q), range(d, q), range(d, he)};
}

template <class Char>
void assignIf(std::basic_string<Char>* out, std::basic_string_view<Char> v) {
  if (out) out->assign(v);
}

// An integer as a stream extraction reads it (leading white space, optional sign, digits); 0 when
// there is none.
long long leadingInt(std::string_view t) {
  std::size_t i = 0;
  while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\n' || t[i] == '\r')) ++i;
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  long long n = 0;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i)
    if (n < INT_MAX) n = n * 10 + (t[i] - '0');
  return negative ? -n : n;
}

// Index item of an identity: hexadecimal, a backslash takes the next character as it is.
bool hexIndex(std::string_view item, std::size_t& index) {
  if (item.empty()) return false;
  std::size_t n = 0;
  bool any = false;
  for (std::size_t i = 0; i < item.size(); ++i) {
    char c = item[i];
    if (c == '\\') {
      if (++i == item.size()) return false;
      c = item[i];
    }
    int v;
    if (c >= '0' && c <= '9') v = c - '0';
    else if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
    else return false;
    if (n > (SIZE_MAX >> 4)) return false;
    n = n * 16 + static_cast<std::size_t>(v);
    any = true;
  }
  index = n;
  return any;
}

// Item |wanted| of a "sid" value: items are separated by "." and a backslash escapes the next
// character.
std::string_view sidItem(std::string_view value, int wanted) {
  int item = 0;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= value.size(); ++i) {
    if (i < value.size() && value[i] == '\\') {
      ++i;
      continue;
    }
    if (i == value.size() || value[i] == '.') {
      if (item == wanted) return value.substr(start, std::min(i, value.size()) - start);
      ++item;
      start = i + 1;
    }
  }
  return {};
}

bool hasMarker(std::string_view s) { return s.find(kFormIdMarker) != std::string_view::npos; }

std::string_view fromFirstDot(std::string_view s) {
  const std::size_t dot = s.find('.');
  return dot == std::string_view::npos ? std::string_view() : s.substr(dot);
}

}  // namespace

ManifestUrl parseManifestUrl(std::u16string_view text) {
  ManifestUrl r;
  if (text.empty()) return r;
  if (text.size() >= 6 && text.substr(0, 5) == u"[m0]:") {
    std::vector<std::u16string_view> parts;
    std::size_t start = 0;
    while (true) {
      const std::size_t colon = text.find(u':', start);
      parts.push_back(text.substr(start, colon == std::u16string_view::npos ? colon : colon - start));
      if (colon == std::u16string_view::npos) break;
      start = colon + 1;
    }
    if (parts.size() != 4) {
      r.status = 1;
      return r;
    }
    long long p1 = leadingInt(tracecore::to_utf8(parts[1]));
    long long p2 = leadingInt(tracecore::to_utf8(parts[2]));
    if (p1 < 1 || p1 > 3) p1 = 0;
    if (p2 < 0 || p2 > 3) p2 = 0;
    r.text = tracecore::to_utf16(captionUnescape(tracecore::to_utf8(parts[3])));
    r.flag = (p2 & 1) != 0;
    if (p2 & 2) r.status = p1 == 2 ? 2 : (p1 == 3 ? 3 : 1);
    else r.status = 0;
    return r;
  }
  r.status = 1;
  r.text = text;
  return r;
}

void urlKeys(std::u16string_view url, std::u16string* host, std::u16string* hostPath, std::u16string* domainPath,
             std::u16string* domain) {
  const auto k = keysOf(url);
  assignIf(host, k.host);
  assignIf(hostPath, k.hostPath);
  assignIf(domainPath, k.domainPath);
  assignIf(domain, k.domain);
}

void urlKeys(std::string_view url, std::string* host, std::string* hostPath, std::string* domainPath,
             std::string* domain) {
  const auto k = keysOf(url);
  assignIf(host, k.host);
  assignIf(hostPath, k.hostPath);
  assignIf(domainPath, k.domainPath);
  assignIf(domain, k.domain);
}

const char* urlKindName(std::int32_t kind) {
  switch (kind) {
    case url_unusable: return "unusable";
    case url_nocheck: return "nocheck";
    case url_nomatch: return "nomatch";
    case url_exact: return "urlExact";
    case url_sdu: return "urlSDU";
    case url_du: return "urlDU";
    case url_d: return "urlD";
    default: return "";
  }
}

std::int32_t compareUrls(const std::vector<std::u16string>& pageUrls, std::u16string_view manifestUrl) {
  const auto m = keysOf(manifestUrl);
  // The domain keys are the last two labels of the host; under a shared public suffix ("co.uk",
  // "github.io") or for addresses they name many unrelated sites, so a domain-strength match also
  // needs the same registrable domain.
  std::string manifestSite;
  bool manifestSiteKnown = false;
  for (const auto& page : pageUrls) {
    const std::u16string_view u = page;
    if (u.empty()) continue;  // an empty URL matches nothing, not even an empty pattern
    if (equalsNoCase(u, manifestUrl)) return url_exact;
    const auto k = keysOf(u);
    if (equalsNoCase(k.hostPath, m.hostPath)) return url_sdu;
    const bool du = equalsNoCase(k.domainPath, m.domainPath);
    if (!du && !equalsNoCase(k.domain, m.domain)) continue;
    if (!manifestSiteKnown) {
      manifestSite = siteOfUrl(manifestUrl);
      manifestSiteKnown = true;
    }
    if (manifestSite.empty() || siteOfUrl(u) != manifestSite) continue;
    return du ? url_du : url_d;
  }
  return url_nomatch;
}

namespace {

// Patterns are granted a domain-strength match without being evaluated; but one whose host names a
// registrable domain once its wildcard labels are taken off ("*.bank.co.uk" names "bank.co.uk") is
// granted only on a page of that site. The agent files it under the last two labels ("co.uk"), so
// without this every site under that suffix would match it.
bool patternSiteAllows(std::u16string_view pattern, std::u16string_view pageUrl) {
  std::string host = hostOfUrl(pattern);
  while (!host.empty()) {
    const std::size_t dot = host.find('.');
    const std::string_view label = std::string_view(host).substr(0, dot);
    if (label.find('*') == std::string_view::npos) break;
    host = dot == std::string::npos ? std::string() : host.substr(dot + 1);
  }
  if (host.find('*') != std::string::npos) return true;  // a wildcard inside: nothing to tell
  const std::string_view domain = registrableDomain(host);
  return domain.empty() || siteOfUrl(pageUrl) == domain;
}

}  // namespace

std::int32_t checkFormUrl(const ManifestForm& form, std::u16string_view pageUrl, bool* urlMismatch) {
  if (urlMismatch) *urlMismatch = false;
  if (!form.detection.web_checkurl) return url_nocheck;
  if (pageUrl.empty()) {
    KXTRACE("  URL list is empty then compare fields only");
    return url_nomatch;
  }
  const ManifestUrl parsed = parseManifestUrl(tracecore::to_utf16(form.detection.web_murl));
  std::int32_t result;
  if (parsed.status == 0) result = url_nocheck;
  else if (parsed.status == 1) result = compareUrls({std::u16string(pageUrl)}, parsed.text);
  else result = patternSiteAllows(parsed.text, pageUrl) ? url_d : url_nomatch;
  if (result < url_exact || result > url_d) {
    KXTRACE("'`I0C`'  URL DOES NOT MATCH: '%s'", form.detection.web_murl.c_str());
    if (urlMismatch) *urlMismatch = true;
  }
  return result;
}

namespace {

// The composed-name index of an identity: item 1 of its last "sid" piece. False when there is no
// "sid" piece or the item is empty or not an index.
bool composedIndexOf(std::string_view identity, std::size_t& index) {
  bool found = false;
  std::size_t start = 0;
  while (start <= identity.size()) {
    const std::size_t open = identity.find('[', start);
    const std::string_view piece =
        identity.substr(start, open == std::string_view::npos ? std::string_view::npos : open - start);
    const std::size_t close = piece.find(']');
    if (close != std::string_view::npos && piece.substr(0, close) == "sid")
      found = hexIndex(sidItem(piece.substr(close + 1), 1), index);
    if (open == std::string_view::npos) break;
    start = open + 1;
  }
  return found;
}

// A composed name prepared for the path comparison.
using path_t = prepared_path_t;

path_t preparePath(std::string_view text) {
  return {text, hasMarker(text), fromFirstDot(text)};
}

bool comparePrepared(const path_t& a, const path_t& b, bool* stripped) {
  if (stripped) *stripped = false;
  if (a.text.empty() && !b.text.empty()) return false;
  if (a.text == b.text) return true;
  if (a.marker && b.marker && a.fromDot == b.fromDot) {
    if (stripped) *stripped = true;
    return true;
  }
  if (!b.text.empty() && b.text.back() == '.') {
    std::string_view cut;
    const std::size_t first = a.text.find('.');
    if (first != std::string_view::npos) {
      const std::size_t second = a.text.find('.', first + 1);
      if (second != std::string_view::npos) cut = a.text.substr(0, second + 1);
    }
    if (cut == b.text) return true;
  }
  return false;
}

}  // namespace

std::string_view composedNameOf(std::string_view identity, const std::vector<std::string>& table) {
  std::size_t index = 0;
  if (!composedIndexOf(identity, index) || index >= table.size()) return {};
  return table[index];
}

bool comparePaths(std::string_view a, std::string_view b, bool* stripped, bool trace) {
  bool cut = false;
  const bool match = comparePrepared(preparePath(a), preparePath(b), &cut);
  if (cut && trace) KXTRACE("'`I0A`'name stripped");
  if (stripped) *stripped = cut;
  return match;
}

bool controlMatchesField(const ffcontrol_record& control, const ffstring_table& strings, const ManifestField& field,
                         const std::vector<std::string>& formNames) {
  return comparePaths(composedNameOf(control.name, strings), composedNameOf(field.path, formNames));
}

prepared_controls_t::prepared_controls_t(std::span<const ffcontrol_record* const> controls,
                                         const ffstring_table& strings) {
  paths_.reserve(controls.size());
  for (const ffcontrol_record* c : controls) {
    std::size_t index = 0;
    paths_.push_back(preparePath(composedIndexOf(c->name, index) && index < strings.size()
                                     ? std::string_view(strings[index])
                                     : std::string_view()));
    if (c->type == ctl_psw) ++passwords_;
  }
}

bool formMatchesControls(const prepared_controls_t& page, const ManifestForm& form) {
  if (form.fields.empty()) return false;
  // The form's names table, as pieces of the joined text; only the pieces that field paths use
  // are unescaped.
  std::vector<std::string_view> pieces;
  {
    const std::string_view names = form.detection.names;
    std::size_t start = 0;
    while (!names.empty()) {
      const std::size_t colon = names.find(':', start);
      pieces.push_back(names.substr(start, colon == std::string_view::npos ? colon : colon - start));
      if (colon == std::string_view::npos) break;
      start = colon + 1;
    }
  }
  const std::vector<path_t>& composed = page.paths();
  int taking = 0, formPasswords = 0;
  std::string unescaped;
  for (const ManifestField& f : form.fields) {
    if (f.type == field_button) {
      if (tracecore::category_on(tracecore::cat_control_creation))
        KXTRACE("'`I01`'IE field skipped: <%s>, useit = %d, isbtn = %d, path = %s", fieldTypeWord(f.type),
                f.useit ? 1 : 0, 1, f.path.c_str());
      continue;
    }
    std::string_view name;
    std::size_t index = 0;
    if (composedIndexOf(f.path, index) && index < pieces.size()) {
      name = pieces[index];
      if (name.find('^') != std::string_view::npos) {
        unescaped = nameUnescape(name);
        name = unescaped;
      }
    }
    const path_t b = preparePath(name);
    const bool found = std::any_of(composed.begin(), composed.end(),
                                   [&](const path_t& a) { return comparePrepared(a, b, nullptr); });
    if (!found) return false;
    ++taking;
    if (f.password) ++formPasswords;
  }
  if (taking == 0) return false;
  const int pagePasswords = page.passwords();
  if ((pagePasswords == 2 || pagePasswords == 3) && formPasswords < pagePasswords) return false;
  return true;
}

bool formMatchesControls(std::span<const ffcontrol_record* const> controls, const ffstring_table& strings,
                         const ManifestForm& form) {
  return formMatchesControls(prepared_controls_t(controls, strings), form);
}

bool formMatchesControls(const std::vector<ffcontrol_record>& controls, const ffstring_table& strings,
                         const ManifestForm& form) {
  std::vector<const ffcontrol_record*> pointers;
  pointers.reserve(controls.size());
  for (const auto& c : controls) pointers.push_back(&c);
  return formMatchesControls(std::span<const ffcontrol_record* const>(pointers), strings, form);
}

}  // namespace manifest
