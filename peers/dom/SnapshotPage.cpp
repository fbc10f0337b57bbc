// The page: it owns every object of its documents, and keeps the faults armed on the DOM's methods,
// the event log with its script hook, and the names describe() gives nodes.
#include <string>

#include "nlohmann/json.hpp"
#include "peers/dom/SnapshotNodes.h"
#include "tracecore/utf.h"

namespace snapdom {

page_t::page_t() = default;
page_t::~page_t() = default;

void page_t::adopt(std::unique_ptr<object_t> object) { objects_.push_back(std::move(object)); }

nsIDOMDocument* page_t::document() const {
  return top_ && top_->document ? top_->document->as_document() : nullptr;
}

nsIDOMWindow* page_t::window() const { return top_; }

std::vector<nsIDOMDocument*> page_t::documents() const {
  std::vector<nsIDOMDocument*> out;
  std::vector<window_t*> pending;
  if (top_) pending.push_back(top_);
  while (!pending.empty()) {
    window_t* w = pending.back();
    pending.pop_back();
    if (w->document && !w->cross_origin) out.push_back(w->document->as_document());
    pending.insert(pending.end(), w->frames.rbegin(), w->frames.rend());  // the first frame next
  }
  return out;
}

nsIDOMElement* page_t::element_by_id(std::string_view id) const {
  const std::u16string want = tracecore::to_utf16(id);
  for (nsIDOMDocument* d : documents())
    for (node_t* e : node_t::from(d)->descendants_by_tag(u"*"))
      if (const std::u16string* v = e->attr(u"id"); v && *v == want) return e->as_element();
  return nullptr;
}

void page_t::set_rect(nsIDOMElement* element, float left, float top, float right, float bottom) {
  if (node_t* n = node_t::from(element)) n->rect = {left, top, right, bottom};
}

void page_t::set_offset_size(nsIDOMElement* element, std::int32_t width, std::int32_t height) {
  if (node_t* n = node_t::from(element)) {
    n->offset_width = width;
    n->offset_height = height;
  }
}

page_t::hook_t page_t::hook(const char* iface, const char* method) {
  if (record_calls_) calls_.push_back(std::string(iface) + "::" + method);
  hook_t out;
  for (fault_t& f : faults_) {
    const std::string_view m = f.method;
    const auto sep = m.find("::");
    const bool match = sep == std::string_view::npos ? m == method
                                                     : (m.substr(0, sep) == iface && m.substr(sep + 2) == method);
    if (!match) continue;
    ++f.seen;
    if (f.nth == 0 || f.seen == f.nth) {
      out.rv = f.rv;
      out.null_out = f.null_out;
    }
  }
  return out;
}

void page_t::log(std::string type, std::string target, std::string detail) {
  events_.push_back({std::move(type), std::move(target), std::move(detail)});
  if (script_) {
    const event_record_t event = events_.back();  // the script may log more
    script_(event);
  }
}

std::string page_t::events_json() const {
  nlohmann::ordered_json out = nlohmann::ordered_json::array();
  for (const auto& e : events_) out.push_back({{"type", e.type}, {"target", e.target}, {"detail", e.detail}});
  return out.dump();
}

std::size_t page_t::outside_refs() const {
  std::size_t n = 0;
  for (const auto& o : objects_) n += o->refs();
  return n;
}

std::vector<std::pair<std::string, std::string>> page_t::attributes(nsISupports* element) {
  std::vector<std::pair<std::string, std::string>> out;
  node_t* n = node_t::from(element);
  if (!n || n->kind != node_kind::element) return out;
  for (const auto& [name, value] : n->attrs) out.emplace_back(tracecore::to_utf8(name), tracecore::to_utf8(value));
  return out;
}

namespace {

// What describe() names an element by: its tag and its id, else its name, else nothing more.
struct element_key_t {
  const std::u16string* tag;
  const std::u16string* id = nullptr;
  const std::u16string* name = nullptr;

  explicit element_key_t(const node_t* e) : tag(&e->tag) {
    if (const std::u16string* v = e->attr(u"id"); v && !v->empty()) id = v;
    else if (const std::u16string* v = e->attr(u"name"); v && !v->empty()) name = v;
  }
  bool operator==(const element_key_t& o) const {
    auto same = [](const std::u16string* a, const std::u16string* b) { return a == b || (a && b && *a == *b); };
    return *tag == *o.tag && same(id, o.id) && same(name, o.name);
  }
};

}  // namespace

std::string page_t::describe(nsISupports* p) {
  node_t* n = node_t::from(p);
  if (!n) return p ? "(foreign)" : "(null)";
  if (n->kind == node_kind::text) return "#text";
  if (n->kind == node_kind::document) return "#document";
  std::string out = n->doc->label.empty() ? "" : n->doc->label + ":";
  out += tracecore::to_utf8(n->tag);
  const element_key_t key(n);
  if (key.id) out += "#" + tracecore::to_utf8(*key.id);
  else if (key.name) out += "[name=" + tracecore::to_utf8(*key.name) + "]";
  // Elements of one document with the same tag and id get their place among them. (Names repeat in
  // ordinary forms, radio groups for one, and keep today's text.)
  if (!key.id) return out;
  std::size_t alike = 0, place = 0;
  for_each_element_below(n->doc, [&](node_t* e) {
    if (!(element_key_t(e) == key)) return;
    ++alike;
    if (e == n) place = alike;
  }, true);
  if (alike > 1 && place > 0) out += "@" + std::to_string(place);
  return out;
}

}  // namespace snapdom
