// Quick links: stored shortcuts that open a site and log on with a chosen profile. The browser sees a
// quick link as a URI with "#id=<number>"; it becomes the site's URL with "kxprofileid=<profile>",
// which is stripped again when the browser navigates, the profile being kept on the tab.
//
//   kxext::quicklinks::store_t store = kxext::quicklinks::read_store(text, env, read_mode::merge);
//   auto info = kxext::quicklinks::lookup(store, 2);      // the first record in name order
//   std::u16string link = kxext::quicklinks::profile_link(info.url, info.profile);
//   auto opened = kxext::quicklinks::strip_profile_link(link);   // back to the URL, profile found
//
// Portable: file checks and environment expansion come in through store_env_t.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "xpcom/nsCOMPtr.h"
#include "xpcom/nsISupports.h"

namespace kxext::quicklinks {

inline constexpr char16_t kProfileIdAttr[] = u"kxffagent_profileid";

// The quick-link number after "#id=" (read as a decimal number); -1 without "#id=" or digits.
std::int32_t quicklink_number(std::u16string_view uri);

// |url| + ("?" when it has neither "?" nor "#", else "&") + "kxprofileid=" + |profile|.
std::u16string profile_link(std::u16string_view url, std::int32_t profile);

struct opened_link_t {
  std::u16string out;     // the URI to navigate to
  bool found = false;     // it carried "kxprofileid="
  std::u16string id_text; // the profile ID text as it stood
  std::int32_t profile = -1;
};
// Takes "kxprofileid=<id>" out of |uri|: with a "&" after it the parameter and that "&" go; at the end
// the parameter and the separator before it go.
opened_link_t strip_profile_link(std::u16string_view uri);

// A record of the store; one per "[shortcutrecord]" section.
struct record_t {
  enum kind_t : std::int32_t { none = 0, web = 1, desktop = 2 };
  std::int32_t kind = none;
  std::u16string url;
  std::u16string dlgpath;
  std::u16string manifest;
  std::u16string manifestid;
  std::int32_t profile = 0;
  std::int32_t reserved = 0;
  std::u16string name;
  bool qlwocred = false;

  bool empty() const;
};

// The store's keys: "manifest" 1, "url" 2, "name" 3, "profile" 4, "vlturls" 5, "dlgpath" 6,
// "vltdlgpaths" 7, "manifestid" 8, "qlwocred" 9; anything else 0.
int key_number(std::u16string_view key);

struct store_t {
  std::vector<record_t> records;
  std::u16string vlturls;      // the web sites the vault already covers
  std::u16string vltdlgpaths;  // the applications the vault already covers
};

// What the reader needs of the machine.
struct store_env_t {
  // Environment variables expanded ("%APPDATA%\...").
  std::function<std::u16string(std::u16string_view text)> expand;
  // Whether the file exists; given a path with its environment variables expanded, the suite's
  // folder prefixes ("idv::" and the others) still in place.
  std::function<bool(std::u16string_view path)> file_exists;
};

enum class read_mode {
  plain,  // every record
  merge,  // the suite's own ("idv::") quick links the vault does not cover already (see read_store)
};

// Reads the store's text. A section's record is kept when it is not empty and its manifest file
// exists, and every section starts with a fresh record. Merge mode keeps the records whose manifest
// path begins with "idv::", without those whose site (domain key of the url) or application (dlgpath)
// is listed in "vlturls" / "vltdlgpaths" or belongs to one of the store's other records: the web
// records are checked against the web lists and the desktop records against the desktop lists,
// and both kinds stay.
store_t read_store(std::string_view text, const store_env_t& env, read_mode mode);

struct quicklink_info_t {
  bool ok = false;
  std::u16string url;
  std::u16string manifest;  // environment variables expanded
  std::int32_t profile = 0;
};
// The records in quick-link order: by name (text comparison, ascending), equal names in store order.
std::vector<const record_t*> in_name_order(const store_t& store);

// Quick link |number| of a merged store: the record at position number - 2 in name order. Throws
// std::out_of_range for a number without a record.
quicklink_info_t lookup(const store_t& merged, std::int32_t number, const store_env_t& env);

// Which profile links may fill a page. A "kxprofileid=" is honoured only on a navigation to a link
// that this window's QuickLinkToProfileLink produced (the same text, once, within kGrantLifetimeMs);
// the profile is then bound to that tab and to the link's host, and to the first document of that
// host the tab activates. Any other page's "?kxprofileid=" fills nothing, and a binding is dropped
// at the tab's next profile link or when the tab shows another document.
class profile_links_t {
 public:
  static constexpr std::uint32_t kGrantLifetimeMs = 60000;
  static constexpr std::size_t kMaxGrants = 8;

  // |link| was produced now (|now| in milliseconds of a wrapping clock).
  void granted(std::u16string link, std::uint32_t now);
  // A profile link is opened in |browser|'s tab: true, with the profile bound to the tab and the host
  // of |site_url|, when |link| was granted; the tab's earlier binding goes either way.
  bool opened(nsISupports* browser, std::u16string_view link, std::u16string_view site_url, std::int32_t profile,
              std::uint32_t now);
  // The profile bound to |browser| for |document| at |url|; -1 when there is none or the document is
  // not the one it was bound to (the binding is then dropped).
  std::int32_t profile_for(nsISupports* browser, nsISupports* document, std::u16string_view url);
  // The tab's profile was used (or must not be used any more).
  void drop(nsISupports* browser);

 private:
  struct grant_t {
    std::u16string link;
    std::uint32_t at = 0;
  };
  struct binding_t {
    nsCOMPtr<nsISupports> browser;
    std::string host;
    std::int32_t profile = -1;
    nsCOMPtr<nsISupports> document;  // the document it was first offered to
  };
  std::vector<grant_t> grants_;
  std::vector<binding_t> bindings_;
};

}  // namespace kxext::quicklinks
