#include "include_extension/QuickLinks.h"

#include <algorithm>
#include <stdexcept>

#include "include_extension/Recognition.h"
#include "manifest/PublicSuffix.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace kxext::quicklinks {
namespace {

constexpr std::u16string_view kIdMarker = u"#id=";
constexpr std::u16string_view kProfileMarker = u"kxprofileid=";

// The leading decimal number of |text| ("-" allowed); |fallback| when there are no digits.
std::int32_t leading_number(std::u16string_view text, std::int32_t fallback) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == u'-' || text[i] == u'+')) negative = text[i++] == u'-';
  std::int64_t value = 0;
  std::size_t digits = 0;
  for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i, ++digits)
    value = std::min<std::int64_t>(value * 10 + (text[i] - u'0'), 0x7FFFFFFF);
  if (digits == 0) return fallback;
  return static_cast<std::int32_t>(negative ? -value : value);
}

char16_t lower(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 32) : c; }

std::size_t ifind(std::u16string_view text, std::u16string_view what) {
  if (what.empty() || text.size() < what.size()) return std::u16string_view::npos;
  for (std::size_t i = 0; i + what.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < what.size() && lower(text[i + k]) == lower(what[k])) ++k;
    if (k == what.size()) return i;
  }
  return std::u16string_view::npos;
}

bool iequal(std::u16string_view a, std::u16string_view b) { return a.size() == b.size() && ifind(a, b) == 0; }

std::u16string expanded(const store_env_t& env, std::u16string_view text) {
  return env.expand ? env.expand(text) : std::u16string(text);
}

bool exists(const store_env_t& env, std::u16string_view path) { return env.file_exists && env.file_exists(path); }

// Lines of a list text: items separated by line breaks, ";", "," or "|".
bool listed(std::u16string_view list, std::u16string_view key) {
  if (key.empty()) return false;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t end = list.find_first_of(u"\r\n;,|", start);
    if (end == std::u16string_view::npos) end = list.size();
    std::u16string_view item = list.substr(start, end - start);
    while (!item.empty() && (item.front() == u' ' || item.front() == u'\t')) item.remove_prefix(1);
    while (!item.empty() && (item.back() == u' ' || item.back() == u'\t')) item.remove_suffix(1);
    if (iequal(item, key)) return true;
    start = end + 1;
  }
  return false;
}

// The key by which a record is known to the vault: a site's domain key, an application's path.
std::u16string record_key(const record_t& r, const store_env_t& env) {
  if (r.kind == record_t::web) return web_domain_name(r.url);
  if (r.kind == record_t::desktop) return expanded(env, r.dlgpath);
  return {};
}

bool is_suite_record(const record_t& r, const store_env_t& env) {
  const std::u16string path = expanded(env, r.manifest);
  return path.size() >= 5 && iequal(std::u16string_view(path).substr(0, 5), u"idv::");
}

// The manifest file of a record, as the existence check takes it: environment variables expanded,
// a leading "alien|" removed.
std::u16string manifest_file(const record_t& r, const store_env_t& env) {
  std::u16string path = expanded(env, r.manifest);
  if (path.rfind(u"alien|", 0) == 0) path.erase(0, 6);
  return path;
}

}  // namespace

std::int32_t quicklink_number(std::u16string_view uri) {
  const std::size_t at = uri.find(kIdMarker);
  if (at == std::u16string_view::npos) return -1;
  return leading_number(uri.substr(at + kIdMarker.size()), -1);
}

std::u16string profile_link(std::u16string_view url, std::int32_t profile) {
  std::u16string out(url);
  out += url.find_first_of(u"?#") == std::u16string_view::npos ? u'?' : u'&';
  out += kProfileMarker;
  out += tracecore::to_utf16(std::to_string(profile));
  return out;
}

opened_link_t strip_profile_link(std::u16string_view uri) {
  opened_link_t r;
  r.out.assign(uri);
  const std::size_t at = uri.find(kProfileMarker);
  if (at == std::u16string_view::npos) return r;
  const std::size_t idStart = at + kProfileMarker.size();
  const std::size_t amp = uri.find(u'&', idStart);
  r.id_text.assign(uri.substr(idStart, amp == std::u16string_view::npos ? std::u16string_view::npos : amp - idStart));
  if (amp != std::u16string_view::npos) {
    r.out.assign(uri.substr(0, at));
    r.out.append(uri.substr(amp + 1));
  } else {
    // The parameter was the last one: its separator goes with it.
    r.out.assign(uri.substr(0, at == 0 ? 0 : at - 1));
  }
  r.profile = r.id_text.empty() ? -1 : leading_number(r.id_text, -1);
  r.found = true;
  return r;
}

bool record_t::empty() const {
  return kind == none && profile == 0 && !qlwocred && url.empty() && dlgpath.empty() && manifest.empty() &&
         name.empty();
}

int key_number(std::u16string_view key) {
  static const std::u16string_view keys[] = {u"manifest", u"url",         u"name",       u"profile", u"vlturls",
                                             u"dlgpath",  u"vltdlgpaths", u"manifestid", u"qlwocred"};
  for (std::size_t i = 0; i < std::size(keys); ++i)
    if (key == keys[i]) return static_cast<int>(i + 1);
  return 0;
}

store_t read_store(std::string_view text, const store_env_t& env, read_mode mode) {
  store_t store;
  std::vector<record_t> read;
  record_t current;
  auto close = [&] {
    if (!current.empty() && exists(env, manifest_file(current, env))) read.push_back(current);
    current = record_t();  // every section starts afresh, kept or not
  };

  if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) continue;
    if (line == "[shortcutrecord]") {
      close();
      continue;
    }
    const std::size_t eq = line.find('=');
    const int key = eq == std::string_view::npos ? 0 : key_number(tracecore::to_utf16(line.substr(0, eq)));
    if (key == 0) {
      KXERROR("inv.line '%s'", std::string(line).c_str());
      continue;
    }
    const std::u16string value = tracecore::to_utf16(line.substr(eq + 1));
    switch (key) {
      case 1: current.manifest = value; break;
      case 2:
        current.url = value;
        current.kind = record_t::web;
        break;
      case 3: current.name = value; break;
      case 4: current.profile = leading_number(value, 0); break;
      case 5: store.vlturls = value; break;
      case 6: {
        // An application path, then its parameters; a browser's own path ends at its executable.
        const std::size_t ie = ifind(value, u"iexplore.exe");
        const std::u16string app = ie == std::u16string::npos ? value : value.substr(0, ie + 12);
        if (exists(env, expanded(env, app))) {
          current.dlgpath = value;
          current.kind = record_t::desktop;
        }
        break;
      }
      case 7: store.vltdlgpaths = value; break;
      case 8: current.manifestid = value; break;
      case 9: current.qlwocred = leading_number(value, 0) == 1; break;
      default: break;
    }
  }
  close();

  if (mode == read_mode::plain) {
    store.records = std::move(read);
    return store;
  }
  // The vault's own records of each kind, by key: a suite quick link for the same site or
  // application is left out, as are the ones the vault lists.
  std::vector<std::u16string> web_keys, desktop_keys;
  for (const record_t& r : read) {
    if (is_suite_record(r, env)) continue;
    (r.kind == record_t::web ? web_keys : desktop_keys).push_back(record_key(r, env));
  }
  auto known = [](const std::vector<std::u16string>& keys, const std::u16string& key) {
    return std::any_of(keys.begin(), keys.end(), [&](const std::u16string& k) { return iequal(k, key); });
  };
  for (const record_t& r : read) {
    if (!is_suite_record(r, env)) continue;
    const std::u16string key = record_key(r, env);
    if (r.kind == record_t::web && !listed(store.vlturls, key) && !known(web_keys, key))
      store.records.push_back(r);
    else if (r.kind == record_t::desktop && !listed(store.vltdlgpaths, key) && !known(desktop_keys, key))
      store.records.push_back(r);
  }
  return store;
}

std::vector<const record_t*> in_name_order(const store_t& store) {
  std::vector<const record_t*> ordered;
  for (const record_t& r : store.records) ordered.push_back(&r);
  std::stable_sort(ordered.begin(), ordered.end(), [](const record_t* a, const record_t* b) { return a->name < b->name; });
  return ordered;
}

quicklink_info_t lookup(const store_t& merged, std::int32_t number, const store_env_t& env) {
  const std::vector<const record_t*> ordered = in_name_order(merged);
  const std::int64_t position = static_cast<std::int64_t>(number) - 2;
  if (position < 0 || position >= static_cast<std::int64_t>(ordered.size()))
    throw std::out_of_range("no quick link with this number");
  const record_t& r = *ordered[static_cast<std::size_t>(position)];
  quicklink_info_t info;
  info.url = r.url;
  info.manifest = expanded(env, r.manifest);
  info.profile = r.profile;
  info.ok = true;
  return info;
}

// ---- which profile links may fill ----

namespace {

nsISupports* identity(nsISupports* p, nsCOMPtr<nsISupports>& holder) {
  holder = do_QueryInterface(p);
  return holder.get();
}

}  // namespace

void profile_links_t::granted(std::u16string link, std::uint32_t now) {
  grants_.erase(std::remove_if(grants_.begin(), grants_.end(),
                               [&](const grant_t& g) { return now - g.at > kGrantLifetimeMs || g.link == link; }),
                grants_.end());
  if (grants_.size() >= kMaxGrants) grants_.erase(grants_.begin());
  grants_.push_back({std::move(link), now});
}

bool profile_links_t::opened(nsISupports* browser, std::u16string_view link, std::u16string_view site_url,
                             std::int32_t profile, std::uint32_t now) {
  drop(browser);
  const auto it = std::find_if(grants_.begin(), grants_.end(), [&](const grant_t& g) { return g.link == link; });
  if (it == grants_.end()) return false;
  const bool fresh = now - it->at <= kGrantLifetimeMs;
  grants_.erase(it);  // once
  const std::string host = manifest::hostOfUrl(site_url);
  if (!fresh || host.empty() || profile < 0) return false;
  binding_t b;
  identity(browser, b.browser);
  if (!b.browser) return false;
  b.host = host;
  b.profile = profile;
  bindings_.push_back(std::move(b));
  return true;
}

std::int32_t profile_links_t::profile_for(nsISupports* browser, nsISupports* document, std::u16string_view url) {
  nsCOMPtr<nsISupports> b, d;
  identity(browser, b);
  identity(document, d);
  const auto it = std::find_if(bindings_.begin(), bindings_.end(), [&](const binding_t& x) { return x.browser == b; });
  if (it == bindings_.end() || !b || !d) return -1;
  const bool same_document = it->document ? it->document == d : manifest::hostOfUrl(url) == it->host;
  if (!same_document) {
    bindings_.erase(it);
    return -1;
  }
  it->document = d;
  return it->profile;
}

void profile_links_t::drop(nsISupports* browser) {
  nsCOMPtr<nsISupports> b;
  identity(browser, b);
  bindings_.erase(std::remove_if(bindings_.begin(), bindings_.end(), [&](const binding_t& x) { return x.browser == b; }),
                  bindings_.end());
}

}  // namespace kxext::quicklinks
