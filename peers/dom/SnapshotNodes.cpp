// Nodes of the snapshot DOM: building the tree, its markup, and what elements, text and documents
// answer through the node, element, HTML element and document interfaces.
#include <algorithm>

#include "peers/dom/SnapshotMethods.h"

namespace snapdom {

namespace {

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

std::vector<node_t*> node_t::descendants_by_tag(std::u16string_view t) {
  std::vector<node_t*> out;
  collect_by_tag(this, t, out);
  return out;
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

}  // namespace snapdom
