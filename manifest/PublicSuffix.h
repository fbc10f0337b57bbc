// Sites of URLs: registrable domains from the Public Suffix List, compiled in at build time (the list
// is never read at run time).
//
//   registrableDomain("login.bank.co.uk")  -> "bank.co.uk"
//   registrableDomain("evil.co.uk")        -> "evil.co.uk"
//   registrableDomain("co.uk")             -> ""            (a public suffix has no registrable domain)
//   siteOfUrl(u"https://alice.github.io/") -> u"alice.github.io"
//   siteOfUrl(u"http://10.1.2.3:8080/")    -> u"10.1.2.3"   (an address is its own site)
//
// Two URLs are the same site when their sites are equal and not empty. Recognition's domain-strength
// URL matches and the fill guard use this; the agent's lookup key (the last two labels of the host)
// stays what it is, because the agent's cache is built with it.
#pragma once

#include <string>
#include <string_view>

namespace manifest {

// The host of a URL as the browser resolves it: the text between "://" (or the start) and the first
// "/", "?", "#" or "\", without user information, port and a trailing dot, lower-cased (ASCII).
std::string hostOfUrl(std::u16string_view url);
std::string hostOfUrl(std::string_view url);

// The scheme of a URL, lower-cased ("https"); empty when the text has no "scheme:" prefix.
std::string schemeOfUrl(std::u16string_view url);
std::string schemeOfUrl(std::string_view url);

// Whether |host| is an IPv4 address in dotted form or an IPv6 literal.
bool isAddressHost(std::string_view host);

// The public suffix of a (lower-case) host name: the longest matching rule of the list, the
// exception rules taking precedence; a host no rule names has its last label as public suffix.
std::string_view publicSuffix(std::string_view host);

// The public suffix plus one more label; empty for a public suffix itself, an address, or an empty
// host.
std::string_view registrableDomain(std::string_view host);

// The site of a host: its registrable domain, or the whole host when it has none (an address, a
// single label such as "localhost", or a public suffix such as "github.io" used as a host).
std::string siteOfHost(std::string_view host);
std::string siteOfUrl(std::u16string_view url);

// Both URLs have a host, and the hosts are the same site.
bool sameSite(std::u16string_view a, std::u16string_view b);

}  // namespace manifest
