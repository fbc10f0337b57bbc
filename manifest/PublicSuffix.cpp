#include "manifest/PublicSuffix.h"

#include <algorithm>
#include <cstdint>
#include <iterator>

#include "tracecore/utf.h"

namespace manifest {
namespace {

enum : std::uint8_t { kExact = 1, kWildcard = 2, kException = 4 };

struct rule_t {
  std::string_view suffix;
  std::uint8_t kinds;
};

constexpr rule_t kRules[] = {
#include "public_suffix_rules.inc"
};

std::uint8_t kindsOf(std::string_view suffix) {
  const auto it = std::lower_bound(std::begin(kRules), std::end(kRules), suffix,
                                   [](const rule_t& r, std::string_view s) { return r.suffix < s; });
  return it != std::end(kRules) && it->suffix == suffix ? it->kinds : 0;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

template <class Char>
std::string schemeOf(std::basic_string_view<Char> url);

template <class Char>
std::string hostOf(std::basic_string_view<Char> url) {
  // "about:blank", "data:...", "javascript:...": a scheme without an authority has no host.
  const std::string scheme = schemeOf(url);
  const std::size_t after = scheme.size() + 1;
  if (!scheme.empty() && !(url.size() >= after + 2 && url[after] == Char('/') && url[after + 1] == Char('/')))
    return {};
  std::size_t start = 0;
  for (std::size_t i = 0; i + 2 < url.size(); ++i) {
    if (url[i] == Char('/') || url[i] == Char('?') || url[i] == Char('#')) break;
    if (url[i] == Char(':') && url[i + 1] == Char('/') && url[i + 2] == Char('/')) {
      start = i + 3;
      break;
    }
  }
  std::size_t end = start;
  while (end < url.size() && url[end] != Char('/') && url[end] != Char('?') && url[end] != Char('#') &&
         url[end] != Char('\\'))
    ++end;
  std::basic_string_view<Char> authority = url.substr(start, end - start);
  const std::size_t at = authority.rfind(Char('@'));
  if (at != std::basic_string_view<Char>::npos) authority.remove_prefix(at + 1);
  if (!authority.empty() && authority.front() == Char('[')) {
    const std::size_t close = authority.find(Char(']'));
    authority = authority.substr(0, close == std::basic_string_view<Char>::npos ? authority.size() : close + 1);
  } else {
    const std::size_t colon = authority.find(Char(':'));
    if (colon != std::basic_string_view<Char>::npos) authority = authority.substr(0, colon);
  }
  while (!authority.empty() && authority.back() == Char('.')) authority.remove_suffix(1);
  std::string host;
  if constexpr (sizeof(Char) == 1) host.assign(authority.begin(), authority.end());
  else host = tracecore::to_utf8(authority);
  for (char& c : host) c = lower(c);
  return host;
}

template <class Char>
std::string schemeOf(std::basic_string_view<Char> url) {
  std::string scheme;
  for (std::size_t i = 0; i < url.size(); ++i) {
    const Char c = url[i];
    if (c == Char(':')) return i == 0 ? std::string() : scheme;
    const bool alpha = (c >= Char('a') && c <= Char('z')) || (c >= Char('A') && c <= Char('Z'));
    // No "." although the URL grammar allows it: "www.example.com:8080/" is a host with a port.
    const bool other = (c >= Char('0') && c <= Char('9')) || c == Char('+') || c == Char('-');
    if (!alpha && !(i > 0 && other)) return {};
    scheme += lower(static_cast<char>(c));
  }
  return {};
}

}  // namespace

std::string hostOfUrl(std::u16string_view url) { return hostOf(url); }
std::string hostOfUrl(std::string_view url) { return hostOf(url); }
std::string schemeOfUrl(std::u16string_view url) { return schemeOf(url); }
std::string schemeOfUrl(std::string_view url) { return schemeOf(url); }

bool isAddressHost(std::string_view host) {
  if (host.empty()) return false;
  if (host.front() == '[' || host.find(':') != std::string_view::npos) return true;
  int parts = 0;
  std::size_t digits = 0;
  for (char c : host) {
    if (c == '.') {
      if (digits == 0) return false;
      ++parts;
      digits = 0;
    } else if (c >= '0' && c <= '9') {
      if (++digits > 3) return false;
    } else {
      return false;
    }
  }
  return digits > 0 && parts == 3;
}

std::string_view publicSuffix(std::string_view host) {
  if (host.empty()) return {};
  // Positions where the candidate suffixes start, longest first.
  std::size_t start = 0;
  while (true) {
    const std::string_view candidate = host.substr(start);
    const std::uint8_t kinds = kindsOf(candidate);
    if (kinds & kException) {
      const std::size_t dot = candidate.find('.');
      return dot == std::string_view::npos ? std::string_view() : candidate.substr(dot + 1);
    }
    if (kinds & kExact) return candidate;
    const std::size_t dot = candidate.find('.');
    if (dot == std::string_view::npos) return candidate;  // the default rule "*": the last label
    if (kindsOf(candidate.substr(dot + 1)) & kWildcard) return candidate;
    start += dot + 1;
  }
}

std::string_view registrableDomain(std::string_view host) {
  if (host.empty() || isAddressHost(host)) return {};
  const std::string_view suffix = publicSuffix(host);
  if (suffix.size() >= host.size()) return {};
  const std::string_view rest = host.substr(0, host.size() - suffix.size());  // ends with "."
  if (rest.size() < 2) return {};
  const std::size_t dot = rest.rfind('.', rest.size() - 2);
  return host.substr(dot == std::string_view::npos ? 0 : dot + 1);
}

std::string siteOfHost(std::string_view host) {
  const std::string_view domain = registrableDomain(host);
  return std::string(domain.empty() ? host : domain);
}

std::string siteOfUrl(std::u16string_view url) { return siteOfHost(hostOfUrl(url)); }

bool sameSite(std::u16string_view a, std::u16string_view b) {
  const std::string sa = siteOfUrl(a);
  return !sa.empty() && sa == siteOfUrl(b);
}

}  // namespace manifest
