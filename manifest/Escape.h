// The small text escapes used inside manifest texts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace manifest {

// "&", "<", ">", '"' and "'" as XML entities; tab, line feed and carriage return as character
// references; characters XML forbids (C0 controls, U+FFFE, U+FFFF, surrogates, broken UTF-8) as
// U+FFFD; every other byte unchanged.
std::string xmlEscape(std::string_view text);
void appendXmlEscaped(std::string& out, std::string_view text);

// Bytes 0x01..0x1F and "%" as "%xx" (lower-case hex); everything else, 0x80 and up included, as is.
std::string percentEscape(std::string_view text);
// "%" and two hex digits become that byte; anything else is kept.
std::string percentUnescape(std::string_view text);

// Captions of wildcard patterns: ":" -> "^2dot;", "^" -> "^up;".
std::string captionEscape(std::string_view text);
// The reverse; unknown words "^w;" give "w;", a caret without ";" after it is dropped.
std::string captionUnescape(std::string_view text);

// Names joined into one text: "." -> "^dot;", ":" -> "^2dot;", "@" -> "^at;", "^" -> "^up;".
std::string nameEscape(std::string_view text);
std::string nameUnescape(std::string_view text);

// Each name escaped, joined with ":".
std::string joinNames(const std::vector<std::string>& names);
// The reverse: split at every ":" and unescape each piece. An empty text gives no names.
std::vector<std::string> splitNames(std::string_view text);

}  // namespace manifest
