#include <algorithm>
#include <cstdio>

#include "nlohmann/json.hpp"
#include "peers/dom/SnapshotNodes.h"
#include "tracecore/utf.h"

namespace snapdom {

namespace {

constexpr nsresult kDomSecurityErr = 0x805303E8;
constexpr nsresult kDomNotSupportedErr = 0x80530009;
constexpr nsresult kDomInvalidStateErr = 0x8053000B;
constexpr nsresult kDomHierarchyErr = 0x80530003;

std::string u8(std::u16string_view s) { return tracecore::to_utf8(s); }
std::u16string_view view(const nsAString& s) { return nsString::view_of(s); }
nsresult assign(nsAString& out, std::u16string_view text) { return nsString::assign_to(out, text); }

template <class I>
nsresult hand_out(I* p, I** out) {
  if (p) p->AddRef();
  *out = p;
  return NS_OK;
}

// Arms the fault hook of one method; returns from the method when a fault fires.
#define SNAPDOM_HOOK(iface, method)                           \
  const page_t::hook_t hk_ = page_->hook(iface, method);      \
  if (hk_.rv != NS_OK) return hk_.rv
// For methods with a pointer out-parameter |out|.
#define SNAPDOM_HOOK_PTR(iface, method, out)                  \
  if (!(out)) return NS_ERROR_INVALID_POINTER;                \
  *(out) = nullptr;                                           \
  SNAPDOM_HOOK(iface, method);                                \
  if (hk_.null_out) return NS_OK

bool is_void_element(std::u16string_view tag) {
  static const char16_t* const kVoid[] = {u"area", u"base", u"br", u"col", u"embed", u"hr", u"img", u"input",
                                          u"link", u"meta", u"param", u"source", u"track", u"wbr"};
  return std::any_of(std::begin(kVoid), std::end(kVoid), [&](const char16_t* v) { return tag == v; });
}

void escape_into(std::string& out, std::u16string_view text, bool attribute) {
  for (char16_t c : text) {
    switch (c) {
      case u'&': out += "&amp;"; break;
      case u'<': out += attribute ? "<" : "&lt;"; break;
      case u'>': out += attribute ? ">" : "&gt;"; break;
      case u'"': out += attribute ? "&quot;" : "\""; break;
      case 0xA0: out += "&nbsp;"; break;
      default: out += u8(std::u16string_view(&c, 1));
    }
  }
}

void open_tag_into(const node_t* n, std::string& out) {
  out += '<';
  out += u8(n->tag);
  for (const auto& [k, v] : n->attrs) {
    out += ' ';
    out += u8(k);
    out += "=\"";
    escape_into(out, v, true);
    out += '"';
  }
  out += '>';
}

// The markup of |n| and everything below it. The tree is walked with a stack of its own: a page's
// nesting is chosen by its author.
void serialize(const node_t* n, std::string& out) {
  struct open_t {
    const node_t* node;
    std::size_t next;
  };
  std::vector<open_t> stack;
  auto enter = [&](const node_t* e) {
    if (e->kind == node_kind::text) {
      escape_into(out, e->text, false);
      return;
    }
    if (e->kind == node_kind::element) {
      open_tag_into(e, out);
      if (!e->xul && is_void_element(e->tag)) return;
    }
    stack.push_back({e, 0});
  };
  enter(n);
  while (!stack.empty()) {
    open_t& top = stack.back();
    if (top.next < top.node->children.size()) {
      enter(top.node->children[top.next++]);  // |top| may move
      continue;
    }
    const node_t* done = top.node;
    stack.pop_back();
    if (done->kind != node_kind::element) continue;
    out += "</";
    out += u8(done->tag);
    out += '>';
  }
}

// Pre-order walk of the elements below |n| (children only, as getElementsByTagName does, or also
// the anonymous content when |anonymous|), without recursion.
template <class F>
void for_each_element_below(node_t* n, F&& visit, bool anonymous = false) {
  struct open_t {
    node_t* node;
    std::size_t next;  // children first, then (with |anonymous|) the anonymous content
  };
  std::vector<open_t> stack{{n, 0}};
  while (!stack.empty()) {
    open_t& top = stack.back();
    const std::size_t nc = top.node->children.size();
    const std::size_t na = anonymous ? top.node->anonymous.size() : 0;
    if (top.next >= nc + na) {
      stack.pop_back();
      continue;
    }
    const std::size_t k = top.next++;
    node_t* c = k < nc ? top.node->children[k] : top.node->anonymous[k - nc];
    if (c->kind != node_kind::element) continue;
    visit(c);
    stack.push_back({c, 0});  // |top| may move
  }
}

void collect_by_tag(node_t* n, std::u16string_view tag, std::vector<node_t*>& out) {
  for_each_element_below(n, [&](node_t* c) {
    if (tag == u"*" || iequals(c->tag, tag)) out.push_back(c);
  });
}

node_t* find_anonymous(node_t* n, std::u16string_view name, std::u16string_view value) {
  for (node_t* c : n->anonymous) {
    const std::u16string* v = c->attr(name);
    if (v && *v == value) return c;
    for (node_t* d : c->children) {
      const std::u16string* dv = d->attr(name);
      if (d->kind == node_kind::element && dv && *dv == value) return d;
    }
  }
  return nullptr;
}

void copy_state(const node_t* from, node_t* to) {
  to->attrs = from->attrs;
  to->text = from->text;
  to->rect = from->rect;
  to->offset_width = from->offset_width;
  to->offset_height = from->offset_height;
  to->value = from->value;
  to->checked = from->checked;
  to->selected_index = from->selected_index;
  to->multiple = from->multiple;
  to->input_type = from->input_type;
  to->form_index = -2;
}

void clone_into(const node_t* from, node_t* to, bool deep, page_t* page) {
  copy_state(from, to);
  if (!deep) return;
  std::vector<std::pair<const node_t*, node_t*>> pending{{from, to}};
  while (!pending.empty()) {
    const auto [source, copy] = pending.back();
    pending.pop_back();
    for (const node_t* c : source->children) {
      node_t* child = c->kind == node_kind::text ? new_text(page, copy->doc, c->text)
                                                 : new_element(page, copy->doc, c->tag, c->xul);
      copy_state(c, child);
      copy->append(child);
      pending.emplace_back(c, child);
    }
  }
}

// Input types whose fields keep a form from being submitted by Enter when there is no submit
// button and more than one of them.
bool blocks_implicit_submission(std::u16string_view type) {
  static const char16_t* const kTypes[] = {u"text", u"search", u"url", u"tel", u"email", u"password",
                                           u"date", u"month", u"week", u"time", u"datetime-local",
                                           u"number"};
  return std::any_of(std::begin(kTypes), std::end(kTypes), [&](const char16_t* t) { return type == t; });
}

bool is_submit_button(const node_t* n) {
  if (n->is_html(u"input")) return n->input_type == u"submit" || n->input_type == u"image";
  if (n->is_html(u"button")) {
    const std::u16string* t = n->attr(u"type");
    return !t || iequals(*t, u"submit") || (!iequals(*t, u"button") && !iequals(*t, u"reset"));
  }
  return false;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// Helpers

std::u16string lower(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = char16_t(c - u'A' + u'a');
  return out;
}

bool iequals(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char16_t x = a[i], y = b[i];
    if (x >= u'A' && x <= u'Z') x = char16_t(x - u'A' + u'a');
    if (y >= u'A' && y <= u'Z') y = char16_t(y - u'A' + u'a');
    if (x != y) return false;
  }
  return true;
}

node_t* new_document(page_t* page, std::u16string url, std::string label) {
  node_t* d = page->make<node_t>(node_kind::document);
  d->doc = d;
  d->url = std::move(url);
  d->label = std::move(label);
  return d;
}

node_t* new_element(page_t* page, node_t* doc, std::u16string tag, bool xul) {
  node_t* e = page->make<node_t>(node_kind::element);
  e->doc = doc;
  e->tag = lower(tag);
  e->xul = xul;
  return e;
}

node_t* new_text(page_t* page, node_t* doc, std::u16string text) {
  node_t* t = page->make<node_t>(node_kind::text);
  t->doc = doc;
  t->text = std::move(text);
  return t;
}

window_t* new_window(page_t* page, node_t* document, std::u16string url) {
  window_t* w = page->make<window_t>();
  w->document = document;
  w->url = std::move(url);
  if (document) document->window = w;
  return w;
}

void init_control_state(node_t* e) {
  if (e->is_html(u"input")) {
    static const char16_t* const kKnown[] = {
        u"text", u"password", u"checkbox", u"radio", u"submit", u"image", u"button", u"reset", u"hidden",
        u"email", u"search", u"tel", u"url", u"number", u"date", u"month", u"week", u"time",
        u"datetime-local", u"color", u"range", u"file"};
    const std::u16string* t = e->attr(u"type");
    std::u16string type = t ? lower(*t) : u"text";
    if (std::none_of(std::begin(kKnown), std::end(kKnown), [&](const char16_t* k) { return type == k; }))
      type = u"text";
    e->input_type = type;
    if (const std::u16string* v = e->attr(u"value")) e->value = *v;
    e->checked = e->attr(u"checked") != nullptr;
  } else if (e->is_html(u"select")) {
    e->multiple = e->attr(u"multiple") != nullptr;
    const auto opts = e->options();
    e->selected_index = -1;
    for (std::size_t i = 0; i < opts.size(); ++i)
      if (opts[i]->attr(u"selected")) {
        e->selected_index = static_cast<PRInt32>(i);
        if (!e->multiple) break;
      }
    if (e->selected_index < 0 && !e->multiple && !opts.empty()) e->selected_index = 0;
  }
}

// ---------------------------------------------------------------------------------------------
// node_t: tree helpers

node_t* node_t::from(nsISupports* p) {
  if (!p) return nullptr;
  void* raw = nullptr;
  if (p->QueryInterface(object_iid(), &raw) != NS_OK || !raw) return nullptr;
  return dynamic_cast<node_t*>(static_cast<object_t*>(raw));
}

const std::u16string* node_t::attr(std::u16string_view name) const {
  for (const auto& [k, v] : attrs)
    if (iequals(k, name)) return &v;
  return nullptr;
}

void node_t::set_attr(std::u16string_view name, std::u16string_view v) {
  for (auto& [k, old] : attrs)
    if (iequals(k, name)) {
      old = v;
      return;
    }
  attrs.emplace_back(lower(name), std::u16string(v));
}

void node_t::append(node_t* child) {
  if (child->parent) {
    auto& sib = child->parent->children;
    sib.erase(std::remove(sib.begin(), sib.end(), child), sib.end());
  }
  child->parent = this;
  children.push_back(child);
  page_->touch();
}

bool node_t::text_like_input() const { return is_html(u"input") && blocks_implicit_submission(input_type); }

std::vector<node_t*> node_t::descendants_by_tag(std::u16string_view t) {
  std::vector<node_t*> out;
  collect_by_tag(this, t, out);
  return out;
}

std::vector<node_t*> node_t::options() { return descendants_by_tag(u"option"); }

std::vector<node_t*> node_t::forms() { return doc->descendants_by_tag(u"form"); }

node_t* node_t::form_owner() {
  if (form_index >= 0) {
    const auto f = forms();
    return static_cast<std::size_t>(form_index) < f.size() ? f[form_index] : nullptr;
  }
  if (form_index == -1) return nullptr;
  if (const std::u16string* id = attr(u"form")) {
    for (node_t* f : forms())
      if (const std::u16string* fid = f->attr(u"id"); fid && *fid == *id) return f;
    return nullptr;
  }
  for (node_t* p = parent; p; p = p->parent)
    if (p->is_html(u"form")) return p;
  return nullptr;
}

std::string node_t::outer_html() const {
  std::string out;
  serialize(this, out);
  return out;
}

std::string node_t::inner_html() const {
  std::string out;
  for (const node_t* c : children) serialize(c, out);
  return out;
}

const char* node_t::iface_for(const char* input_iface) const {
  if (is_html(u"select")) return "nsIDOMHTMLSelectElement";
  if (is_html(u"form")) return "nsIDOMHTMLFormElement";
  return input_iface;
}

// ---------------------------------------------------------------------------------------------
// node_t: nsISupports

NS_IMETHODIMP node_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) {
    *result = static_cast<object_t*>(this);
    return NS_OK;
  }
  nsISupports* found = nullptr;
  const bool element = kind == node_kind::element;
  const bool html = element && !xul;
  if (iid == NS_GET_IID(nsISupports) || iid == NS_GET_IID(nsIDOMNode)) found = as_node();
  else if (iid == NS_GET_IID(nsIDOMEventTarget)) found = static_cast<nsIDOMEventTarget*>(this);
  else if (element && iid == NS_GET_IID(nsIDOMElement)) found = as_element();
  else if (html && iid == NS_GET_IID(nsIDOMHTMLElement)) found = static_cast<nsIDOMHTMLElement*>(static_cast<nsIDOMHTMLInputElement*>(this));
  else if (is_html(u"input") && iid == NS_GET_IID(nsIDOMHTMLInputElement)) found = static_cast<nsIDOMHTMLInputElement*>(this);
  else if (is_html(u"select") && iid == NS_GET_IID(nsIDOMHTMLSelectElement)) found = static_cast<nsIDOMHTMLSelectElement*>(this);
  else if (is_html(u"form") && iid == NS_GET_IID(nsIDOMHTMLFormElement)) found = static_cast<nsIDOMHTMLFormElement*>(this);
  else if (kind == node_kind::document && iid == NS_GET_IID(nsIDOMDocument)) found = as_document();
  else if (kind == node_kind::document && iid == NS_GET_IID(nsIDOMHTMLDocument)) found = static_cast<nsIDOMHTMLDocument*>(this);
  else if (kind == node_kind::document && iid == NS_GET_IID(nsIDOMDocumentXBL)) found = static_cast<nsIDOMDocumentXBL*>(this);
  if (!found) return NS_ERROR_NO_INTERFACE;
  add_ref();
  *result = found;
  return NS_OK;
}

// ---------------------------------------------------------------------------------------------
// node_t: nsIDOMNode

NS_IMETHODIMP node_t::GetNodeName(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMNode", "GetNodeName");
  switch (kind) {
    case node_kind::text: return assign(out, u"#text");
    case node_kind::document: return assign(out, u"#document");
    case node_kind::element: break;
  }
  if (xul) return assign(out, tag);
  std::u16string upper = tag;
  for (char16_t& c : upper)
    if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  return assign(out, upper);
}

NS_IMETHODIMP node_t::GetNodeValue(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMNode", "GetNodeValue");
  return assign(out, kind == node_kind::text ? std::u16string_view(text) : std::u16string_view());
}

NS_IMETHODIMP node_t::GetNodeType(PRUint16* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMNode", "GetNodeType");
  *out = kind == node_kind::element ? ELEMENT_NODE : kind == node_kind::text ? TEXT_NODE : DOCUMENT_NODE;
  return NS_OK;
}

NS_IMETHODIMP node_t::GetParentNode(nsIDOMNode** out) {
  SNAPDOM_HOOK_PTR("nsIDOMNode", "GetParentNode", out);
  return hand_out(parent ? parent->as_node() : nullptr, out);
}

NS_IMETHODIMP node_t::GetChildNodes(nsIDOMNodeList** out) {
  SNAPDOM_HOOK_PTR("nsIDOMNode", "GetChildNodes", out);
  if (!child_list_) child_list_ = page_->make<node_list_t>(this, node_list_t::mode::children);
  return hand_out<nsIDOMNodeList>(child_list_, out);
}

NS_IMETHODIMP node_t::GetFirstChild(nsIDOMNode** out) {
  SNAPDOM_HOOK_PTR("nsIDOMNode", "GetFirstChild", out);
  return hand_out(children.empty() ? nullptr : children.front()->as_node(), out);
}

NS_IMETHODIMP node_t::GetOwnerDocument(nsIDOMDocument** out) {
  SNAPDOM_HOOK_PTR("nsIDOMNode", "GetOwnerDocument", out);
  return hand_out(kind == node_kind::document ? nullptr : doc->as_document(), out);
}

NS_IMETHODIMP node_t::CloneNode(bool deep, nsIDOMNode** out) {
  SNAPDOM_HOOK_PTR("nsIDOMNode", "CloneNode", out);
  if (kind == node_kind::document) return NS_ERROR_NOT_IMPLEMENTED;
  node_t* copy = kind == node_kind::text ? new_text(page_, doc, text) : new_element(page_, doc, tag, xul);
  clone_into(this, copy, deep, page_);
  return hand_out(copy->as_node(), out);
}

NS_IMETHODIMP node_t::AppendChild(nsIDOMNode* newChild, nsIDOMNode** out) {
  SNAPDOM_HOOK_PTR("nsIDOMNode", "AppendChild", out);
  node_t* child = from(newChild);
  if (!child) return NS_ERROR_NULL_POINTER;
  if (kind == node_kind::text || child->kind == node_kind::document) return kDomHierarchyErr;
  for (node_t* a = this; a; a = a->parent)
    if (a == child) return kDomHierarchyErr;
  append(child);
  return hand_out(child->as_node(), out);
}

// ---------------------------------------------------------------------------------------------
// node_t: nsIDOMElement

NS_IMETHODIMP node_t::GetTagName(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMElement", "GetTagName");
  std::u16string t = xul ? tag : tag;
  if (!xul)
    for (char16_t& c : t)
      if (c >= u'a' && c <= u'z') c = char16_t(c - u'a' + u'A');
  return assign(out, t);
}

NS_IMETHODIMP node_t::GetAttribute(const nsAString& name, nsAString& out) {
  SNAPDOM_HOOK("nsIDOMElement", "GetAttribute");
  const std::u16string* v = attr(view(name));
  return assign(out, v ? std::u16string_view(*v) : std::u16string_view());
}

NS_IMETHODIMP node_t::SetAttribute(const nsAString& name, const nsAString& value) {
  SNAPDOM_HOOK("nsIDOMElement", "SetAttribute");
  set_attr(view(name), view(value));
  page_->log("setAttribute", page_t::describe(as_node()), u8(view(name)) + "=" + u8(view(value)));
  return NS_OK;
}

NS_IMETHODIMP node_t::HasAttribute(const nsAString& name, bool* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMElement", "HasAttribute");
  *out = attr(view(name)) != nullptr;
  return NS_OK;
}

NS_IMETHODIMP node_t::RemoveAttribute(const nsAString& name) {
  SNAPDOM_HOOK("nsIDOMElement", "RemoveAttribute");
  const auto n = view(name);
  const auto it = std::find_if(attrs.begin(), attrs.end(), [&](const auto& kv) { return iequals(kv.first, n); });
  if (it != attrs.end()) {
    attrs.erase(it);
    page_->log("removeAttribute", page_t::describe(as_node()), u8(n));
  }
  return NS_OK;
}

NS_IMETHODIMP node_t::GetElementsByTagName(const nsAString& tagName, nsIDOMNodeList** out) {
  SNAPDOM_HOOK_PTR(kind == node_kind::document ? "nsIDOMDocument" : "nsIDOMElement", "GetElementsByTagName", out);
  std::u16string key = lower(view(tagName));
  node_list_t*& list = tag_lists_[key];
  if (!list) list = page_->make<node_list_t>(this, node_list_t::mode::by_tag, key);
  return hand_out<nsIDOMNodeList>(list, out);
}

NS_IMETHODIMP node_t::GetBoundingClientRect(nsIDOMClientRect** out) {
  SNAPDOM_HOOK_PTR("nsIDOMElement", "GetBoundingClientRect", out);
  if (!rect_object_) rect_object_ = page_->make<client_rect_t>(this);
  return hand_out<nsIDOMClientRect>(rect_object_, out);
}

// ---------------------------------------------------------------------------------------------
// node_t: nsIDOMHTMLElement

NS_IMETHODIMP node_t::GetId(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMHTMLElement", "GetId");
  const std::u16string* v = attr(u"id");
  return assign(out, v ? std::u16string_view(*v) : std::u16string_view());
}

NS_IMETHODIMP node_t::GetOffsetWidth(PRInt32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMHTMLElement", "GetOffsetWidth");
  *out = offset_width;
  return NS_OK;
}

NS_IMETHODIMP node_t::GetOffsetHeight(PRInt32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMHTMLElement", "GetOffsetHeight");
  *out = offset_height;
  return NS_OK;
}

NS_IMETHODIMP node_t::GetInnerHTML(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMHTMLElement", "GetInnerHTML");
  return assign(out, tracecore::to_utf16(inner_html()));
}

NS_IMETHODIMP node_t::Focus() {
  SNAPDOM_HOOK("nsIDOMHTMLElement", "Focus");
  if (doc->focused != this) {
    doc->focused = this;
    page_->log("focus", page_t::describe(as_node()));
  }
  return NS_OK;
}

NS_IMETHODIMP node_t::Click() {
  SNAPDOM_HOOK("nsIDOMHTMLElement", "Click");
  page_->log("click", page_t::describe(as_node()));
  if (is_html(u"input")) {
    if (input_type == u"checkbox") set_checked_state(!checked);
    else if (input_type == u"radio") set_checked_state(true);
  }
  if (is_submit_button(this))
    if (node_t* f = form_owner()) submit_form(f, this);
  return NS_OK;
}

// ---------------------------------------------------------------------------------------------
// node_t: forms, inputs, selects

NS_IMETHODIMP node_t::GetName(nsAString& out) {
  SNAPDOM_HOOK(iface_for("nsIDOMHTMLInputElement"), "GetName");
  const std::u16string* v = attr(u"name");
  return assign(out, v ? std::u16string_view(*v) : std::u16string_view());
}

NS_IMETHODIMP node_t::Submit() {
  SNAPDOM_HOOK("nsIDOMHTMLFormElement", "Submit");
  submit_form(this, nullptr);
  return NS_OK;
}

NS_IMETHODIMP node_t::GetType(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMHTMLInputElement", "GetType");
  return assign(out, input_type);
}

NS_IMETHODIMP node_t::GetForm(nsIDOMHTMLFormElement** out) {
  SNAPDOM_HOOK_PTR(iface_for("nsIDOMHTMLInputElement"), "GetForm", out);
  node_t* f = form_owner();
  return hand_out<nsIDOMHTMLFormElement>(f, out);
}

NS_IMETHODIMP node_t::GetChecked(bool* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMHTMLInputElement", "GetChecked");
  *out = checked;
  return NS_OK;
}

NS_IMETHODIMP node_t::SetChecked(bool on) {
  SNAPDOM_HOOK("nsIDOMHTMLInputElement", "SetChecked");
  set_checked_state(on);
  return NS_OK;
}

void node_t::set_checked_state(bool on) {
  if (checked == on) return;
  checked = on;
  page_->log("checked", page_t::describe(as_node()), on ? "true" : "false");
  if (!on || input_type != u"radio") return;
  // Checking a radio button unchecks the others of its group.
  const std::u16string* name = attr(u"name");
  if (!name || name->empty()) return;
  node_t* form = form_owner();
  for (node_t* other : doc->descendants_by_tag(u"input"))
    if (other != this && other->input_type == u"radio" && other->checked && other->form_owner() == form)
      if (const std::u16string* n = other->attr(u"name"); n && *n == *name) {
        other->checked = false;
        page_->log("checked", page_t::describe(other->as_node()), "false");
      }
}

NS_IMETHODIMP node_t::GetValue(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMHTMLInputElement", "GetValue");
  return assign(out, value);
}

NS_IMETHODIMP node_t::SetValue(const nsAString& v) {
  SNAPDOM_HOOK("nsIDOMHTMLInputElement", "SetValue");
  value = view(v);
  page_->log("value", page_t::describe(as_node()), u8(value));
  return NS_OK;
}

NS_IMETHODIMP node_t::GetMultiple(bool* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMHTMLSelectElement", "GetMultiple");
  *out = multiple;
  return NS_OK;
}

NS_IMETHODIMP node_t::GetOptions(nsIDOMHTMLOptionsCollection** out) {
  SNAPDOM_HOOK_PTR("nsIDOMHTMLSelectElement", "GetOptions", out);
  if (!option_list_) option_list_ = page_->make<node_list_t>(this, node_list_t::mode::options);
  return hand_out<nsIDOMHTMLOptionsCollection>(option_list_, out);
}

NS_IMETHODIMP node_t::GetSelectedIndex(PRInt32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMHTMLSelectElement", "GetSelectedIndex");
  *out = selected_index;
  return NS_OK;
}

NS_IMETHODIMP node_t::SetSelectedIndex(PRInt32 index) {
  SNAPDOM_HOOK("nsIDOMHTMLSelectElement", "SetSelectedIndex");
  const auto n = static_cast<PRInt32>(options().size());
  selected_index = (index >= 0 && index < n) ? index : -1;
  page_->log("selectedIndex", page_t::describe(as_node()), std::to_string(selected_index));
  return NS_OK;
}

void node_t::submit_form(node_t* form, node_t* submitter) {
  page_->log("submit", page_t::describe(form->as_node()), submitter ? page_t::describe(submitter->as_node()) : "");
}

// Enter in a text field of a form: the form's default button is clicked; without one, the form is
// submitted only when this is its one field that blocks implicit submission.
void node_t::implicit_submission() {
  if (!text_like_input()) return;
  node_t* form = form_owner();
  if (!form) return;
  int blocking = 0;
  for (node_t* e : doc->descendants_by_tag(u"*")) {
    if (e->form_owner() != form) continue;
    if (is_submit_button(e)) {
      e->Click();
      return;
    }
    if (e->text_like_input()) ++blocking;
  }
  if (blocking <= 1) submit_form(form, nullptr);
}

// ---------------------------------------------------------------------------------------------
// node_t: documents

NS_IMETHODIMP node_t::GetDocumentElement(nsIDOMElement** out) {
  SNAPDOM_HOOK_PTR("nsIDOMDocument", "GetDocumentElement", out);
  for (node_t* c : children)
    if (c->kind == node_kind::element) return hand_out(c->as_element(), out);
  return NS_OK;
}

NS_IMETHODIMP node_t::CreateElement(const nsAString& tagName, nsIDOMElement** out) {
  SNAPDOM_HOOK_PTR("nsIDOMDocument", "CreateElement", out);
  if (view(tagName).empty()) return 0x80530005;  // invalid character
  node_t* e = new_element(page_, this, std::u16string(view(tagName)));
  return hand_out(e->as_element(), out);
}

NS_IMETHODIMP node_t::CreateEvent(const nsAString& eventType, nsIDOMEvent** out) {
  SNAPDOM_HOOK_PTR("nsIDOMDocument", "CreateEvent", out);
  static const char16_t* const kKinds[] = {u"keyboardevent", u"keyevents", u"event", u"events", u"htmlevents",
                                           u"uievent", u"uievents"};
  const std::u16string k = lower(view(eventType));
  if (std::none_of(std::begin(kKinds), std::end(kKinds), [&](const char16_t* x) { return k == x; }))
    return kDomNotSupportedErr;
  event_t* e = page_->make<event_t>();
  return hand_out<nsIDOMEvent>(e, out);
}

NS_IMETHODIMP node_t::GetDefaultView(nsIDOMWindow** out) {
  SNAPDOM_HOOK_PTR("nsIDOMDocument", "GetDefaultView", out);
  return hand_out<nsIDOMWindow>(window, out);
}

NS_IMETHODIMP node_t::GetDocumentURI(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMDocument", "GetDocumentURI");
  return assign(out, url);
}

NS_IMETHODIMP node_t::GetURL(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMHTMLDocument", "GetURL");
  return assign(out, url);
}

NS_IMETHODIMP node_t::GetAnonymousElementByAttribute(nsIDOMElement* element, const nsAString& attrName,
                                                     const nsAString& attrValue, nsIDOMElement** out) {
  SNAPDOM_HOOK_PTR("nsIDOMDocumentXBL", "GetAnonymousElementByAttribute", out);
  node_t* e = from(element);
  if (!e) return NS_ERROR_INVALID_ARG;
  node_t* found = find_anonymous(e, view(attrName), view(attrValue));
  return hand_out(found ? found->as_element() : nullptr, out);
}

// ---------------------------------------------------------------------------------------------
// node_t: events

NS_IMETHODIMP node_t::DispatchEvent(nsIDOMEvent* event, bool* defaultActionEnabled) {
  if (!defaultActionEnabled) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMEventTarget", "DispatchEvent");
  void* raw = nullptr;
  if (!event || event->QueryInterface(object_iid(), &raw) != NS_OK) return NS_ERROR_INVALID_ARG;
  auto* e = dynamic_cast<event_t*>(static_cast<object_t*>(raw));
  if (!e) return NS_ERROR_INVALID_ARG;
  if (!e->initialized) return kDomInvalidStateErr;
  page_->log(u8(e->type), page_t::describe(as_node()), std::to_string(e->key_code));
  *defaultActionEnabled = true;
  if (e->type == u"keypress" && e->key_code == nsIDOMKeyEvent::DOM_VK_RETURN) implicit_submission();
  return NS_OK;
}

// ---------------------------------------------------------------------------------------------
// Lists, rectangles, windows, events

NS_IMETHODIMP node_list_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) { *result = static_cast<object_t*>(this); return NS_OK; }
  if (iid == NS_GET_IID(nsISupports) || iid == NS_GET_IID(nsIDOMNodeList)) *result = static_cast<nsIDOMNodeList*>(this);
  else if (mode_ == mode::options && iid == NS_GET_IID(nsIDOMHTMLOptionsCollection))
    *result = static_cast<nsIDOMHTMLOptionsCollection*>(this);
  if (!*result) return NS_ERROR_NO_INTERFACE;
  add_ref();
  return NS_OK;
}

const std::vector<node_t*>& node_list_t::items() {
  if (generation_ != page_->generation()) {
    switch (mode_) {
      case mode::children: cache_ = owner_->children; break;
      case mode::by_tag: cache_ = owner_->descendants_by_tag(tag_); break;
      case mode::options: cache_ = owner_->options(); break;
    }
    generation_ = page_->generation();
  }
  return cache_;
}

NS_IMETHODIMP node_list_t::GetLength(PRUint32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK(iface(), "GetLength");
  *out = static_cast<PRUint32>(items().size());
  return NS_OK;
}

NS_IMETHODIMP node_list_t::Item(PRUint32 index, nsIDOMNode** out) {
  SNAPDOM_HOOK_PTR(iface(), "Item", out);
  const auto& v = items();
  return hand_out(index < v.size() ? v[index]->as_node() : nullptr, out);
}

NS_IMETHODIMP client_rect_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) { *result = static_cast<object_t*>(this); return NS_OK; }
  if (iid != NS_GET_IID(nsISupports) && iid != NS_GET_IID(nsIDOMClientRect)) return NS_ERROR_NO_INTERFACE;
  *result = static_cast<nsIDOMClientRect*>(this);
  add_ref();
  return NS_OK;
}

nsresult client_rect_t::read(const char* method, float value, float* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMClientRect", method);
  *out = value;
  return NS_OK;
}

NS_IMETHODIMP client_rect_t::GetLeft(float* v) { return read("GetLeft", element_->rect[0], v); }
NS_IMETHODIMP client_rect_t::GetTop(float* v) { return read("GetTop", element_->rect[1], v); }
NS_IMETHODIMP client_rect_t::GetRight(float* v) { return read("GetRight", element_->rect[2], v); }
NS_IMETHODIMP client_rect_t::GetBottom(float* v) { return read("GetBottom", element_->rect[3], v); }
NS_IMETHODIMP client_rect_t::GetWidth(float* v) { return read("GetWidth", element_->rect[2] - element_->rect[0], v); }
NS_IMETHODIMP client_rect_t::GetHeight(float* v) { return read("GetHeight", element_->rect[3] - element_->rect[1], v); }

NS_IMETHODIMP window_utils_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid != NS_GET_IID(nsISupports) && iid != NS_GET_IID(nsIDOMWindowUtils)) return NS_ERROR_NO_INTERFACE;
  *result = static_cast<nsIDOMWindowUtils*>(this);
  add_ref();
  return NS_OK;
}

NS_IMETHODIMP window_utils_t::GetScreenPixelsPerCSSPixel(float* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMWindowUtils", "GetScreenPixelsPerCSSPixel");
  *out = page_->scale();
  return NS_OK;
}

NS_IMETHODIMP window_collection_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid != NS_GET_IID(nsISupports) && iid != NS_GET_IID(nsIDOMWindowCollection)) return NS_ERROR_NO_INTERFACE;
  *result = static_cast<nsIDOMWindowCollection*>(this);
  add_ref();
  return NS_OK;
}

NS_IMETHODIMP window_collection_t::GetLength(PRUint32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMWindowCollection", "GetLength");
  *out = static_cast<PRUint32>(owner_->frames.size());
  return NS_OK;
}

NS_IMETHODIMP window_collection_t::Item(PRUint32 index, nsIDOMWindow** out) {
  SNAPDOM_HOOK_PTR("nsIDOMWindowCollection", "Item", out);
  return hand_out<nsIDOMWindow>(index < owner_->frames.size() ? owner_->frames[index] : nullptr, out);
}

NS_IMETHODIMP window_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) { *result = static_cast<object_t*>(this); return NS_OK; }
  if (iid == NS_GET_IID(nsISupports) || iid == NS_GET_IID(nsIDOMWindow)) *result = static_cast<nsIDOMWindow*>(this);
  else if (iid == NS_GET_IID(nsIInterfaceRequestor)) *result = static_cast<nsIInterfaceRequestor*>(this);
  if (!*result) return NS_ERROR_NO_INTERFACE;
  add_ref();
  return NS_OK;
}

NS_IMETHODIMP window_t::GetDocument(nsIDOMDocument** out) {
  SNAPDOM_HOOK_PTR("nsIDOMWindow", "GetDocument", out);
  if (cross_origin) return kDomSecurityErr;
  return hand_out(document ? document->as_document() : nullptr, out);
}

NS_IMETHODIMP window_t::GetFrames(nsIDOMWindowCollection** out) {
  SNAPDOM_HOOK_PTR("nsIDOMWindow", "GetFrames", out);
  if (!frames_object_) frames_object_ = page_->make<window_collection_t>(this);
  return hand_out<nsIDOMWindowCollection>(frames_object_, out);
}

NS_IMETHODIMP window_t::GetFrameElement(nsIDOMElement** out) {
  SNAPDOM_HOOK_PTR("nsIDOMWindow", "GetFrameElement", out);
  return hand_out(frame_element ? frame_element->as_element() : nullptr, out);
}

NS_IMETHODIMP window_t::GetInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  SNAPDOM_HOOK("nsIInterfaceRequestor", "GetInterface");
  if (iid == NS_GET_IID(nsIDOMWindowUtils)) {
    if (!page_->window_utils_available()) return NS_ERROR_NO_INTERFACE;
    if (!utils_) utils_ = page_->make<window_utils_t>();
    return utils_->QueryInterface(iid, result);
  }
  return QueryInterface(iid, result);
}

NS_IMETHODIMP event_t::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (iid == object_iid()) { *result = static_cast<object_t*>(this); return NS_OK; }
  if (iid == NS_GET_IID(nsISupports) || iid == NS_GET_IID(nsIDOMEvent) || iid == NS_GET_IID(nsIDOMKeyEvent))
    *result = static_cast<nsIDOMKeyEvent*>(this);
  if (!*result) return NS_ERROR_NO_INTERFACE;
  add_ref();
  return NS_OK;
}

NS_IMETHODIMP event_t::GetType(nsAString& out) {
  SNAPDOM_HOOK("nsIDOMEvent", "GetType");
  return assign(out, type);
}

NS_IMETHODIMP event_t::InitEvent(const nsAString& eventType, bool, bool) {
  SNAPDOM_HOOK("nsIDOMEvent", "InitEvent");
  type = view(eventType);
  initialized = true;
  return NS_OK;
}

NS_IMETHODIMP event_t::InitKeyEvent(const nsAString& t, bool, bool, nsIDOMWindow*, bool, bool, bool, bool,
                                    PRUint32 keyCode, PRUint32 charCode) {
  SNAPDOM_HOOK("nsIDOMKeyEvent", "InitKeyEvent");
  type = view(t);
  key_code = keyCode;
  char_code = charCode;
  initialized = true;
  return NS_OK;
}

NS_IMETHODIMP event_t::GetKeyCode(PRUint32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMKeyEvent", "GetKeyCode");
  *out = key_code;
  return NS_OK;
}

NS_IMETHODIMP event_t::GetCharCode(PRUint32* out) {
  if (!out) return NS_ERROR_INVALID_POINTER;
  SNAPDOM_HOOK("nsIDOMKeyEvent", "GetCharCode");
  *out = char_code;
  return NS_OK;
}

// ---------------------------------------------------------------------------------------------
// page_t

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
