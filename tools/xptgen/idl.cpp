#include "tools/xptgen/idl.h"

#include <cctype>
#include <cstdio>
#include <map>
#include <stdexcept>

namespace xptgen {
namespace {

int hex(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

struct token_t {
  std::string text;  // an identifier or one punctuation character; empty at the end
  int line = 0;
};

struct parse_error : std::runtime_error {
  int line;
  parse_error(int l, const std::string& what) : std::runtime_error(what), line(l) {}
};

// Identifiers, numbers and single punctuation characters; comments and preprocessor lines dropped.
class lexer_t {
 public:
  explicit lexer_t(std::string_view text) : text_(text) {}

  token_t next() {
    skip();
    token_t t;
    t.line = line_;
    if (pos_ >= text_.size()) return t;
    const char c = text_[pos_];
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
      const auto start = pos_;
      while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) || text_[pos_] == '_'))
        ++pos_;
      t.text = std::string(text_.substr(start, pos_ - start));
      return t;
    }
    if (std::string_view("[](){}:;,").find(c) == std::string_view::npos)
      throw parse_error(line_, std::string("unexpected character '") + c + "'");
    ++pos_;
    t.text = std::string(1, c);
    return t;
  }

  // The raw text up to (not with) the next ')', for uuid(...).
  token_t until_paren() {
    token_t t;
    t.line = line_;
    const auto end = text_.find(')', pos_);
    if (end == std::string_view::npos) throw parse_error(line_, "missing ')'");
    t.text = std::string(text_.substr(pos_, end - pos_));
    pos_ = end;
    return t;
  }

 private:
  void skip() {
    while (pos_ < text_.size()) {
      const char c = text_[pos_];
      if (c == '\n') {
        ++line_;
        ++pos_;
        at_line_start_ = true;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
        ++pos_;
      } else if (c == '#' && at_line_start_) {
        // #include "nsISupports.idl": the base interface is built in.
        const auto end = text_.find('\n', pos_);
        const auto line = text_.substr(pos_, end == std::string_view::npos ? std::string_view::npos : end - pos_);
        if (line.substr(0, 8) != "#include") throw parse_error(line_, "only #include lines are understood");
        pos_ = end == std::string_view::npos ? text_.size() : end;
      } else if (text_.substr(pos_, 2) == "//") {
        const auto end = text_.find('\n', pos_);
        pos_ = end == std::string_view::npos ? text_.size() : end;
      } else if (text_.substr(pos_, 2) == "/*") {
        const auto end = text_.find("*/", pos_ + 2);
        if (end == std::string_view::npos) throw parse_error(line_, "comment not closed");
        for (auto i = pos_; i < end; ++i) line_ += text_[i] == '\n';
        pos_ = end + 2;
        at_line_start_ = false;
      } else {
        at_line_start_ = false;
        return;
      }
    }
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  int line_ = 1;
  bool at_line_start_ = true;
};

const std::map<std::string, base_type_t>& simple_types() {
  static const std::map<std::string, base_type_t> types = {
      {"octet", base_type_t::uint8},           {"short", base_type_t::int16},
      {"long", base_type_t::int32},            {"long long", base_type_t::int64},
      {"unsigned short", base_type_t::uint16}, {"unsigned long", base_type_t::uint32},
      {"unsigned long long", base_type_t::uint64}, {"float", base_type_t::float32},
      {"double", base_type_t::float64},        {"boolean", base_type_t::boolean},
      {"char", base_type_t::character},        {"wchar", base_type_t::wide_character},
      {"string", base_type_t::string},         {"wstring", base_type_t::wide_string},
      {"DOMString", base_type_t::dom_string},  {"AString", base_type_t::a_string},
      {"ACString", base_type_t::c_string},     {"AUTF8String", base_type_t::utf8_string},
  };
  return types;
}

class parser_t {
 public:
  explicit parser_t(std::string_view text) : lex_(text) { advance(); }

  idl_file_t file() {
    idl_file_t f;
    while (!tok_.text.empty()) {
      std::vector<std::string> attributes;
      std::optional<iid_t> iid;
      if (tok_.text == "[") attributes_into(attributes, iid);
      expect("interface");
      const token_t name = identifier("an interface name");
      if (tok_.text == ";") throw parse_error(name.line, "forward declarations are not supported: the IID is needed");
      interface_t itf;
      itf.name = name.text;
      if (!iid) throw parse_error(name.line, "interface " + itf.name + " has no uuid");
      itf.iid = *iid;
      for (const auto& a : attributes) itf.scriptable |= a == "scriptable";
      expect(":");
      itf.parent = identifier("the parent interface").text;
      if (itf.parent != "nsISupports" && !defined(f, itf.parent))
        throw parse_error(name.line, "parent " + itf.parent + " of " + itf.name + " is not defined before it");
      expect("{");
      while (tok_.text != "}") {
        if (tok_.text.empty()) throw parse_error(tok_.line, "expected '}', found the end");
        itf.methods.push_back(method(f, itf));
      }
      advance();
      expect(";");
      if (defined(f, itf.name)) throw parse_error(name.line, "interface " + itf.name + " is defined twice");
      f.interfaces.push_back(std::move(itf));
    }
    return f;
  }

 private:
  static bool defined(const idl_file_t& f, const std::string& name) {
    for (const auto& i : f.interfaces)
      if (i.name == name) return true;
    return false;
  }

  void advance() { tok_ = lex_.next(); }

  void expect(const std::string& text) {
    if (tok_.text != text)
      throw parse_error(tok_.line, "expected '" + text + "', found " + (tok_.text.empty() ? "the end" : "'" + tok_.text + "'"));
    advance();
  }

  token_t identifier(const char* what) {
    const token_t t = tok_;
    if (t.text.empty() || !(std::isalpha(static_cast<unsigned char>(t.text[0])) || t.text[0] == '_'))
      throw parse_error(t.line, std::string("expected ") + what);
    advance();
    return t;
  }

  void attributes_into(std::vector<std::string>& attributes, std::optional<iid_t>& iid) {
    advance();  // [
    for (;;) {
      const token_t a = identifier("an attribute");
      if (a.text == "uuid") {
        if (tok_.text != "(") throw parse_error(a.line, "expected '(' after uuid");
        const token_t value = lex_.until_paren();
        iid = parse_iid(value.text);
        if (!iid) throw parse_error(value.line, "malformed uuid '" + value.text + "'");
        advance();  // onto the closing parenthesis
        expect(")");
      } else if (a.text == "scriptable") {
        attributes.push_back(a.text);
      } else {
        throw parse_error(a.line, "attribute '" + a.text + "' is not supported");
      }
      if (tok_.text == "]") break;
      expect(",");
    }
    advance();
  }

  method_t method(const idl_file_t& f, const interface_t& itf) {
    if (tok_.text == "attribute" || tok_.text == "readonly" || tok_.text == "const")
      throw parse_error(tok_.line, "only methods are supported, not " + tok_.text);
    if (tok_.text == "[") throw parse_error(tok_.line, "method attributes are not supported");
    if (tok_.text != "void") throw parse_error(tok_.line, "methods must return void (their result code only)");
    advance();
    method_t m;
    const token_t name = identifier("a method name");
    m.name = name.text;
    for (const auto& other : itf.methods)
      if (other.name == m.name) throw parse_error(name.line, "method " + m.name + " is declared twice");
    expect("(");
    while (tok_.text != ")") {
      if (!m.params.empty()) expect(",");
      m.params.push_back(param(f, itf));
    }
    advance();
    expect(";");
    return m;
  }

  param_t param(const idl_file_t& f, const interface_t& itf) {
    param_t p;
    const token_t dir = tok_;
    if (dir.text != "in" && dir.text != "out" && dir.text != "inout")
      throw parse_error(dir.line, "a parameter starts with in, out or inout");
    p.in = dir.text != "out";
    p.out = dir.text != "in";
    advance();
    const token_t first = identifier("a type");
    std::string type = first.text;
    if (type == "unsigned" || type == "long") {
      while (tok_.text == "long" || tok_.text == "short") {
        type += " " + tok_.text;
        advance();
      }
    }
    const auto& simple = simple_types();
    if (const auto found = simple.find(type); found != simple.end()) {
      p.type = found->second;
    } else if (type == "nsISupports" || type == itf.name || defined(f, type)) {
      p.type = base_type_t::interface;
      p.interface_name = type;
    } else {
      throw parse_error(first.line, "unknown type '" + type + "'");
    }
    p.name = identifier("a parameter name").text;
    return p;
  }

  lexer_t lex_;
  token_t tok_;
};

}  // namespace

std::optional<iid_t> parse_iid(std::string_view t) {
  // 8-4-4-4-12 hexadecimal digits
  if (t.size() != 36 || t[8] != '-' || t[13] != '-' || t[18] != '-' || t[23] != '-') return std::nullopt;
  std::array<std::uint8_t, 16> bytes{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < t.size(); ++i) {
    if (i == 8 || i == 13 || i == 18 || i == 23) continue;
    const int h = hex(t[i]), l = i + 1 < t.size() ? hex(t[i + 1]) : -1;
    if (h < 0 || l < 0) return std::nullopt;
    bytes[n++] = static_cast<std::uint8_t>(h * 16 + l);
    ++i;
  }
  iid_t iid;
  iid.m0 = (std::uint32_t{bytes[0]} << 24) | (std::uint32_t{bytes[1]} << 16) | (std::uint32_t{bytes[2]} << 8) | bytes[3];
  iid.m1 = static_cast<std::uint16_t>((bytes[4] << 8) | bytes[5]);
  iid.m2 = static_cast<std::uint16_t>((bytes[6] << 8) | bytes[7]);
  for (int i = 0; i < 8; ++i) iid.m3[i] = bytes[8 + i];
  return iid;
}

std::string format_iid(const iid_t& iid) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x", iid.m0, iid.m1, iid.m2, iid.m3[0],
                iid.m3[1], iid.m3[2], iid.m3[3], iid.m3[4], iid.m3[5], iid.m3[6], iid.m3[7]);
  return buf;
}

std::optional<idl_file_t> parse_idl(std::string_view text, std::string& error) {
  try {
    parser_t parser(text);
    return parser.file();
  } catch (const parse_error& e) {
    error = "line " + std::to_string(e.line) + ": " + e.what();
    return std::nullopt;
  }
}

}  // namespace xptgen
