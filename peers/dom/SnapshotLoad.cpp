// Building a page from snapshot JSON or from a small HTML text.
#include <cctype>
#include <cmath>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <limits>
#include <stdexcept>
#include <unordered_set>

#include "nlohmann/json.hpp"
#include "peers/dom/SnapshotNodes.h"
#include "tracecore/utf.h"

namespace snapdom {

namespace {

using json = nlohmann::json;

std::u16string u16(const std::string& s) { return tracecore::to_utf16(s); }

// Numbers of a snapshot, checked: a value the field cannot hold is a malformed snapshot (a bare
// conversion of 1e70 to an int or a float is undefined).
double number_of(const json& v, const char* what) {
  if (!v.is_number()) throw std::runtime_error(std::string("snapshot: ") + what + " must be a number");
  const double d = v.get<double>();
  if (!std::isfinite(d)) throw std::runtime_error(std::string("snapshot: ") + what + " is out of range");
  return d;
}

float float_of(const json& v, const char* what) {
  const double d = number_of(v, what);
  if (std::fabs(d) > std::numeric_limits<float>::max())
    throw std::runtime_error(std::string("snapshot: ") + what + " is out of range");
  return static_cast<float>(d);
}

std::int32_t int_of(const json& v, const char* what) {
  const double d = number_of(v, what);
  if (d < std::numeric_limits<std::int32_t>::min() || d > std::numeric_limits<std::int32_t>::max())
    throw std::runtime_error(std::string("snapshot: ") + what + " is out of range");
  return v.is_number_float() ? static_cast<std::int32_t>(d) : static_cast<std::int32_t>(v.get<std::int64_t>());
}

std::string frame_label(const std::string& parent_label, std::size_t index) {
  return parent_label.empty() ? "frame" + std::to_string(index) : parent_label + "." + std::to_string(index);
}

// ----- JSON -----

// Builds the documents of a snapshot with an explicit stack, so that the nesting of a page (which
// its author chooses) never becomes the nesting of calls here.
class json_loader_t {
 public:
  explicit json_loader_t(page_t* page) : page_(page) {}

  // The window of a frame record (or of the top document, |url| and |document| given): readable when
  // the record has a document, whatever its origin; without one (older snapshots of other origins,
  // or a frame that could not be recorded) its document cannot be reached.
  window_t* top(const std::string& url, const json& document) {
    window_t* w = open_window(url, &document, "");
    build();
    return w;
  }

 private:
  // One element (or document) whose children are being added.
  struct open_t {
    node_t* node;       // the element, or the document itself
    node_t* doc;
    window_t* window;   // the window of |doc|
    const json* item;   // the element's record; null for a document
    const json* children;
    std::size_t next = 0;
    bool anonymous = false;  // adding the anonymous content now
  };

  window_t* open_window(const std::string& url, const json* document, const std::string& label) {
    if (!document) {
      window_t* w = new_window(page_, nullptr, u16(url));
      w->cross_origin = true;
      return w;
    }
    node_t* doc = new_document(page_, u16(document->value("url", url)), label);
    window_t* w = new_window(page_, doc, doc->url);
    stack_.push_back({doc, doc, w, nullptr, children_of(*document, "children")});
    return w;
  }

  window_t* frame_window(const json& frame, const std::string& label) {
    const std::string url = frame.value("url", std::string());
    return open_window(url, frame.contains("document") ? &frame.at("document") : nullptr, label);
  }

  static const json* children_of(const json& j, const char* key) {
    static const json kNone = json::array();
    if (!j.contains(key)) return &kNone;
    const json& c = j.at(key);
    if (!c.is_array()) throw std::runtime_error(std::string("snapshot: ") + key + " must be an array");
    return &c;
  }

  void build() {
    while (!stack_.empty()) {
      open_t& top = stack_.back();
      if (top.next < top.children->size()) {
        const json& c = (*top.children)[top.next++];
        if (!c.is_object()) throw std::runtime_error("snapshot: a node must be an object");
        if (!top.anonymous && c.contains("text")) {
          top.node->append(new_text(page_, top.doc, u16(c.at("text").get<std::string>())));
          continue;
        }
        node_t* e = element(top.doc, c);
        if (top.anonymous) {
          e->parent = top.node;
          top.node->anonymous.push_back(e);
        } else {
          top.node->append(e);
        }
        const open_t child{e, top.doc, top.window, &c, children_of(c, "children")};
        stack_.push_back(child);  // |top| may move
        continue;
      }
      if (top.item && !top.anonymous) {
        top.anonymous = true;
        top.children = children_of(*top.item, "anonymous");
        top.next = 0;
        continue;
      }
      const open_t done = top;
      stack_.pop_back();
      if (done.item) finish(done.node, done.doc, done.window, *done.item);
    }
  }

  // An element with its attributes and layout; its children come later.
  node_t* element(node_t* doc, const json& j) {
    node_t* e = new_element(page_, doc, u16(j.at("tag").get<std::string>()), j.value("xul", false));
    for (const json& a : j.value("attrs", json::array())) {
      if (!a.is_array() || a.size() != 2) throw std::runtime_error("snapshot: an attribute is a [name, value] pair");
      e->attrs.emplace_back(lower(u16(a[0].get<std::string>())), u16(a[1].get<std::string>()));
    }
    if (j.contains("rect")) {
      const json& r = j.at("rect");
      if (!r.is_array() || r.size() != 4) throw std::runtime_error("snapshot: rect is [left, top, right, bottom]");
      for (int i = 0; i < 4; ++i) e->rect[i] = float_of(r[i], "rect");
    }
    if (j.contains("offset")) {
      const json& o = j.at("offset");
      if (!o.is_array() || o.size() != 2) throw std::runtime_error("snapshot: offset is [width, height]");
      e->offset_width = int_of(o[0], "offset");
      e->offset_height = int_of(o[1], "offset");
    }
    return e;
  }

  // Control state (which needs the children, for a select's options) and the frame, once the
  // element's children are in.
  void finish(node_t* e, node_t* doc, window_t* w, const json& j) {
    init_control_state(e);
    if (j.contains("control")) {
      const json& c = j.at("control");
      if (c.contains("type")) e->input_type = u16(c.at("type").get<std::string>());
      if (c.contains("value")) e->value = u16(c.at("value").get<std::string>());
      e->checked = c.value("checked", e->checked);
      if (c.contains("selectedIndex")) e->selected_index = int_of(c.at("selectedIndex"), "selectedIndex");
      e->multiple = c.value("multiple", e->multiple);
      if (c.contains("form")) e->form_index = c.at("form").is_null() ? -1 : int_of(c.at("form"), "form");
    }
    if (j.contains("frame") && j.at("frame").is_object()) {
      window_t* child = frame_window(j.at("frame"), frame_label(doc->label, w->frames.size()));
      w->frames.push_back(child);
      e->frame_window = child;
      child->frame_element = e;
    }
  }

  page_t* page_;
  std::vector<open_t> stack_;
};

// ----- HTML -----

bool is_void(std::string_view tag) {
  static const char* const kVoid[] = {"area", "base", "br", "col", "embed", "hr", "img", "input",
                                      "link", "meta", "param", "source", "track", "wbr"};
  for (const char* v : kVoid)
    if (tag == v) return true;
  return false;
}

std::string decode_entities(std::string_view s) {
  std::string out;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if (s[i] != '&') {
      out += s[i];
      continue;
    }
    const std::size_t semi = s.find(';', i);
    if (semi == std::string_view::npos || semi - i > 10) {
      out += '&';
      continue;
    }
    const std::string_view name = s.substr(i + 1, semi - i - 1);
    if (name == "amp") out += '&';
    else if (name == "lt") out += '<';
    else if (name == "gt") out += '>';
    else if (name == "quot") out += '"';
    else if (name == "apos") out += '\'';
    else if (name == "nbsp") out += "\xC2\xA0";
    else if (!name.empty() && name[0] == '#') {
      const unsigned long cp = name.size() > 1 && (name[1] == 'x' || name[1] == 'X')
                                   ? std::stoul(std::string(name.substr(2)), nullptr, 16)
                                   : std::stoul(std::string(name.substr(1)));
      out += tracecore::to_utf8(std::u16string(1, char16_t(cp)));
    } else {
      out += '&';
      continue;
    }
    i = semi;
  }
  return out;
}

class html_loader_t {
 public:
  html_loader_t(page_t* page, const std::vector<page_t::frame_html_t>& frames) : page_(page), frames_(frames) {}

  window_t* window(std::string_view html, const std::string& url, const std::string& label, int depth) {
    node_t* doc = new_document(page_, u16(url), label);
    window_t* w = new_window(page_, doc, doc->url);
    std::string text(html);
    // Bare fragments get the html and body elements a browser would give them.
    std::string start;
    for (char c : text.substr(0, 16)) start += char(std::tolower(static_cast<unsigned char>(c)));
    if (start.find("<html") == std::string::npos && start.find("<!doctype") == std::string::npos)
      text = "<html><body>" + text + "</body></html>";
    parse(doc, text, w, depth);
    return w;
  }

 private:
  void parse(node_t* doc, std::string_view s, window_t* w, int depth) {
    std::vector<node_t*> stack{doc};
    std::size_t i = 0;
    while (i < s.size()) {
      if (s[i] != '<') {
        const std::size_t next = s.find('<', i);
        const std::size_t end = next == std::string_view::npos ? s.size() : next;
        stack.back()->append(new_text(page_, doc, u16(decode_entities(s.substr(i, end - i)))));
        i = end;
        continue;
      }
      if (s.compare(i, 4, "<!--") == 0) {
        const std::size_t end = s.find("-->", i);
        i = end == std::string_view::npos ? s.size() : end + 3;
        continue;
      }
      if (s.compare(i, 2, "<!") == 0) {
        const std::size_t end = s.find('>', i);
        i = end == std::string_view::npos ? s.size() : end + 1;
        continue;
      }
      if (s.compare(i, 2, "</") == 0) {
        const std::size_t end = s.find('>', i);
        const std::u16string tag =
            u16(lower_ascii(s.substr(i + 2, (end == std::string_view::npos ? s.size() : end) - i - 2)));
        for (std::size_t k = stack.size(); k-- > 1;)
          if (stack[k]->kind == node_kind::element && stack[k]->tag == tag) {
            for (std::size_t m = stack.size(); m-- > k;) finish(stack[m]);
            stack.resize(k);
            break;
          }
        i = end == std::string_view::npos ? s.size() : end + 1;
        continue;
      }
      i = open_tag(doc, s, i + 1, stack, w, depth);
    }
    for (std::size_t m = stack.size(); m-- > 1;) finish(stack[m]);
  }

  static std::string lower_ascii(std::string_view s) {
    std::string out;
    for (char c : s)
      if (!std::isspace(static_cast<unsigned char>(c))) out += char(std::tolower(static_cast<unsigned char>(c)));
    return out;
  }

  std::size_t open_tag(node_t* doc, std::string_view s, std::size_t i, std::vector<node_t*>& stack, window_t* w,
                       int depth) {
    std::size_t j = i;
    while (j < s.size() && !std::isspace(static_cast<unsigned char>(s[j])) && s[j] != '>' && s[j] != '/') ++j;
    const std::string tag = lower_ascii(s.substr(i, j - i));
    const bool xul = tag == "textbox";
    node_t* e = new_element(page_, doc, u16(tag), xul);
    bool self_closing = false;
    while (j < s.size() && s[j] != '>') {
      if (std::isspace(static_cast<unsigned char>(s[j]))) { ++j; continue; }
      if (s[j] == '/') { self_closing = true; ++j; continue; }
      std::size_t k = j;
      while (k < s.size() && s[k] != '=' && s[k] != '>' && s[k] != '/' && !std::isspace(static_cast<unsigned char>(s[k]))) ++k;
      const std::string name = lower_ascii(s.substr(j, k - j));
      std::string value;
      if (k < s.size() && s[k] == '=') {
        ++k;
        if (k < s.size() && (s[k] == '"' || s[k] == '\'')) {
          const char q = s[k];
          const std::size_t end = s.find(q, k + 1);
          value = decode_entities(s.substr(k + 1, (end == std::string_view::npos ? s.size() : end) - k - 1));
          k = end == std::string_view::npos ? s.size() : end + 1;
        } else {
          std::size_t end = k;
          while (end < s.size() && s[end] != '>' && !std::isspace(static_cast<unsigned char>(s[end]))) ++end;
          value = decode_entities(s.substr(k, end - k));
          k = end;
        }
      }
      e->attrs.emplace_back(u16(name), u16(value));
      j = k;
    }
    std::size_t next = j < s.size() ? j + 1 : s.size();
    node_t* parent = stack.back();
    // Anonymous content of a XUL textbox: its children marked with "anonid".
    if (parent->xul && e->attr(u"anonid")) {
      e->parent = parent;
      parent->anonymous.push_back(e);
    } else {
      parent->append(e);
    }
    if (hidden_.count(parent) || hidden_by_markup(e)) hidden_.insert(e);
    if (tag == "script" || tag == "style") {
      const std::string close = "</" + tag;
      std::size_t end = next;
      while (end < s.size() && lower_ascii(s.substr(end, close.size())) != close) ++end;
      if (end > next) e->append(new_text(page_, doc, u16(std::string(s.substr(next, end - next)))));
      const std::size_t gt = s.find('>', end);
      finish(e);
      return gt == std::string_view::npos ? s.size() : gt + 1;
    }
    if (tag == "iframe" || tag == "frame") attach_frame(e, doc, w, depth);
    if (self_closing || is_void(tag)) {
      finish(e);
    } else {
      stack.push_back(e);
    }
    return next;
  }

  void attach_frame(node_t* e, node_t* doc, window_t* w, int depth) {
    const std::u16string* src = e->attr(u"src");
    const std::string url = src ? tracecore::to_utf8(*src) : "about:blank";
    const std::string label = frame_label(doc->label, w->frames.size());
    window_t* child = nullptr;
    for (const auto& f : frames_)
      if (f.url == url && depth < 8) child = window(f.html, url, label, depth + 1);
    if (!child) {
      child = new_window(page_, nullptr, u16(url));
      child->cross_origin = true;
    }
    w->frames.push_back(child);
    e->frame_window = child;
    child->frame_element = e;
  }

  // Whether the element's own markup hides it (its ancestors' is in |hidden_|).
  static bool hidden_by_markup(const node_t* e) {
    if (e->attr(u"hidden")) return true;
    if (const std::u16string* st = e->attr(u"style")) {
      std::u16string compact;
      for (char16_t c : *st)
        if (c != u' ') compact += c;
      if (lower(compact).find(u"display:none") != std::u16string::npos) return true;
    }
    return false;
  }

  // Every element is finished once: when it is closed, or right away when it has no content.
  void finish(node_t* e) {
    init_control_state(e);
    const bool hidden = hidden_.count(e) || (e->is_html(u"input") && e->input_type == u"hidden");
    e->offset_width = hidden ? 0 : 100;
    e->offset_height = hidden ? 0 : 20;
    e->rect = hidden ? std::array<float, 4>{0, 0, 0, 0} : std::array<float, 4>{0, 0, 100, 20};
  }

  page_t* page_;
  const std::vector<page_t::frame_html_t>& frames_;
  std::unordered_set<const node_t*> hidden_;  // elements hidden by their own or an ancestor's markup
};

}  // namespace

std::unique_ptr<page_t> page_t::load_json(std::string_view text) {
  json j;
  try {
    j = json::parse(text);
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("snapshot: ") + e.what());
  }
  if (!j.is_object() || !j.contains("document")) throw std::runtime_error("snapshot: no document");
  auto page = std::make_unique<page_t>();
  try {
    json_loader_t loader(page.get());
    page->set_top(loader.top(j.value("url", std::string()), j.at("document")));
    if (j.contains("screenPixelsPerCSSPixel"))
      page->set_screen_pixels_per_css_pixel(float_of(j.at("screenPixelsPerCSSPixel"), "screenPixelsPerCSSPixel"));
  } catch (const json::exception& e) {
    throw std::runtime_error(std::string("snapshot: ") + e.what());
  }
  return page;
}

std::unique_ptr<page_t> page_t::load_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot open " + path);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return load_json(bytes);
}

std::unique_ptr<page_t> page_t::from_html(std::string_view html, std::string url, std::vector<frame_html_t> frames) {
  auto page = std::make_unique<page_t>();
  html_loader_t loader(page.get(), frames);
  page->set_top(loader.window(html, url, "", 0));
  return page;
}

}  // namespace snapdom
