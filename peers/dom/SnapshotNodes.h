// The objects behind the snapshot DOM (private to peers/dom).
#pragma once

#include <array>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "peers/dom/SnapshotDom.h"

namespace snapdom {

// Base of every object of a page: the page owns it, the reference count only tells who holds it.
class object_t {
 public:
  explicit object_t(page_t* page) : page_(page) {}
  virtual ~object_t() = default;
  page_t* page() const { return page_; }
  PRUint32 refs() const { return refs_; }

 protected:
  PRUint32 add_ref() { return ++refs_; }
  PRUint32 release() { return refs_ ? --refs_ : 0; }
  page_t* page_;

 private:
  PRUint32 refs_ = 0;
};

#define SNAPDOM_REFCOUNT                                   \
  NS_IMETHOD_(PRUint32) AddRef() override { return add_ref(); } \
  NS_IMETHOD_(PRUint32) Release() override { return release(); }

// Private interface by which the DOM recognises its own objects behind an interface pointer.
// {A38940B8-EDBE-4101-A9D2-412694F06FA6}
#define SNAPDOM_OBJECT_IID \
  { 0xa38940b8, 0xedbe, 0x4101, { 0xa9, 0xd2, 0x41, 0x26, 0x94, 0xf0, 0x6f, 0xa6 } }
inline const nsIID& object_iid() {
  static const nsIID iid = SNAPDOM_OBJECT_IID;
  return iid;
}

class window_t;
class node_list_t;
class client_rect_t;

enum class node_kind { element, text, document };

class node_t final : public object_t,
                     public nsIDOMHTMLInputElement,
                     public nsIDOMHTMLSelectElement,
                     public nsIDOMHTMLFormElement,
                     public nsIDOMHTMLDocument,
                     public nsIDOMDocumentXBL,
                     public nsIDOMEventTarget {
 public:
  node_t(page_t* page, node_kind kind) : object_t(page), kind(kind) {}

  // Recognises a node of this DOM behind any of its interfaces; null for anything else.
  static node_t* from(nsISupports* p);
  nsIDOMNode* as_node() { return static_cast<nsIDOMHTMLInputElement*>(this); }
  nsIDOMElement* as_element() { return static_cast<nsIDOMHTMLInputElement*>(this); }
  nsIDOMDocument* as_document() { return static_cast<nsIDOMHTMLDocument*>(this); }
  nsISupports* canonical() { return as_node(); }

  // --- tree data ---
  node_kind kind;
  std::u16string tag;     // lower case local name
  bool xul = false;       // an element outside the HTML namespace (XUL textbox)
  std::vector<std::pair<std::u16string, std::u16string>> attrs;
  std::u16string text;    // text nodes
  node_t* parent = nullptr;
  node_t* doc = nullptr;  // owner document (itself for a document)
  std::vector<node_t*> children;
  std::vector<node_t*> anonymous;  // anonymous content of a bound element (XUL textbox)
  // Layout in CSS pixels.
  std::array<float, 4> rect{0, 0, 0, 0};
  PRInt32 offset_width = 0, offset_height = 0;
  // Control state.
  std::u16string value;
  bool checked = false;
  PRInt32 selected_index = -1;
  bool multiple = false;
  std::u16string input_type;  // normalised type of an input ("text" when absent or unknown)
  int form_index = -2;        // form owner: index among the document's forms, -1 none, -2 by ancestry
  // Documents.
  std::u16string url;
  std::string label;          // "" for the top document, "frame0", "frame0.1", ... for frames
  window_t* window = nullptr;
  node_t* focused = nullptr;
  // Frame elements.
  window_t* frame_window = nullptr;

  const std::u16string* attr(std::u16string_view name) const;
  void set_attr(std::u16string_view name, std::u16string_view value);
  void append(node_t* child);
  bool is_html(std::u16string_view t) const { return kind == node_kind::element && !xul && tag == t; }
  bool text_like_input() const;
  node_t* form_owner();
  std::vector<node_t*> descendants_by_tag(std::u16string_view tag);
  std::vector<node_t*> options();
  std::vector<node_t*> forms();  // of a document
  std::string outer_html() const;
  std::string inner_html() const;

  // --- nsISupports ---
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) override;
  SNAPDOM_REFCOUNT

  // --- nsIDOMNode ---
  NS_IMETHOD GetNodeName(nsAString& nodeName) override;
  NS_IMETHOD GetNodeValue(nsAString& nodeValue) override;
  NS_IMETHOD GetNodeType(PRUint16* nodeType) override;
  NS_IMETHOD GetParentNode(nsIDOMNode** parentNode) override;
  NS_IMETHOD GetChildNodes(nsIDOMNodeList** childNodes) override;
  NS_IMETHOD GetFirstChild(nsIDOMNode** firstChild) override;
  NS_IMETHOD GetOwnerDocument(nsIDOMDocument** ownerDocument) override;
  NS_IMETHOD CloneNode(bool deep, nsIDOMNode** result) override;
  NS_IMETHOD AppendChild(nsIDOMNode* newChild, nsIDOMNode** result) override;
  // --- nsIDOMElement ---
  NS_IMETHOD GetTagName(nsAString& tagName) override;
  NS_IMETHOD GetAttribute(const nsAString& name, nsAString& value) override;
  NS_IMETHOD SetAttribute(const nsAString& name, const nsAString& value) override;
  NS_IMETHOD HasAttribute(const nsAString& name, bool* result) override;
  NS_IMETHOD RemoveAttribute(const nsAString& name) override;
  NS_IMETHOD GetElementsByTagName(const nsAString& tagName, nsIDOMNodeList** result) override;
  NS_IMETHOD GetBoundingClientRect(nsIDOMClientRect** result) override;
  // --- nsIDOMHTMLElement ---
  NS_IMETHOD GetId(nsAString& id) override;
  NS_IMETHOD GetOffsetWidth(PRInt32* width) override;
  NS_IMETHOD GetOffsetHeight(PRInt32* height) override;
  NS_IMETHOD GetInnerHTML(nsAString& html) override;
  NS_IMETHOD Focus() override;
  NS_IMETHOD Click() override;
  // --- form, input, select ---
  NS_IMETHOD GetName(nsAString& name) override;
  NS_IMETHOD Submit() override;
  NS_IMETHOD GetType(nsAString& type) override;
  NS_IMETHOD GetForm(nsIDOMHTMLFormElement** form) override;
  NS_IMETHOD GetChecked(bool* checked) override;
  NS_IMETHOD SetChecked(bool checked) override;
  NS_IMETHOD GetValue(nsAString& value) override;
  NS_IMETHOD SetValue(const nsAString& value) override;
  NS_IMETHOD GetMultiple(bool* multiple) override;
  NS_IMETHOD GetOptions(nsIDOMHTMLOptionsCollection** options) override;
  NS_IMETHOD GetSelectedIndex(PRInt32* index) override;
  NS_IMETHOD SetSelectedIndex(PRInt32 index) override;
  // --- documents ---
  NS_IMETHOD GetDocumentElement(nsIDOMElement** documentElement) override;
  NS_IMETHOD CreateElement(const nsAString& tagName, nsIDOMElement** result) override;
  NS_IMETHOD CreateEvent(const nsAString& eventType, nsIDOMEvent** result) override;
  NS_IMETHOD GetDefaultView(nsIDOMWindow** defaultView) override;
  NS_IMETHOD GetDocumentURI(nsAString& documentURI) override;
  NS_IMETHOD GetURL(nsAString& url) override;
  NS_IMETHOD GetAnonymousElementByAttribute(nsIDOMElement* element, const nsAString& attrName,
                                            const nsAString& attrValue, nsIDOMElement** result) override;
  // --- nsIDOMEventTarget ---
  NS_IMETHOD DispatchEvent(nsIDOMEvent* event, bool* defaultActionEnabled) override;

 private:
  const char* iface_for(const char* input_iface) const;
  void submit_form(node_t* form, node_t* submitter);
  void implicit_submission();
  void set_checked_state(bool on);
  node_list_t* child_list_ = nullptr;
  std::map<std::u16string, node_list_t*> tag_lists_;
  node_list_t* option_list_ = nullptr;
  client_rect_t* rect_object_ = nullptr;
};

class node_list_t final : public object_t, public nsIDOMNodeList, public nsIDOMHTMLOptionsCollection {
 public:
  enum class mode { children, by_tag, options };
  node_list_t(page_t* page, node_t* owner, mode m, std::u16string tag = {})
      : object_t(page), owner_(owner), mode_(m), tag_(std::move(tag)) {}
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) override;
  SNAPDOM_REFCOUNT
  NS_IMETHOD GetLength(PRUint32* length) override;
  NS_IMETHOD Item(PRUint32 index, nsIDOMNode** result) override;

 private:
  const std::vector<node_t*>& items();
  const char* iface() const { return mode_ == mode::options ? "nsIDOMHTMLOptionsCollection" : "nsIDOMNodeList"; }
  node_t* owner_;
  mode mode_;
  std::u16string tag_;
  std::vector<node_t*> cache_;
  std::uint64_t generation_ = ~std::uint64_t(0);
};

class client_rect_t final : public object_t, public nsIDOMClientRect {
 public:
  client_rect_t(page_t* page, node_t* element) : object_t(page), element_(element) {}
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) override;
  SNAPDOM_REFCOUNT
  NS_IMETHOD GetLeft(float* v) override;
  NS_IMETHOD GetTop(float* v) override;
  NS_IMETHOD GetRight(float* v) override;
  NS_IMETHOD GetBottom(float* v) override;
  NS_IMETHOD GetWidth(float* v) override;
  NS_IMETHOD GetHeight(float* v) override;

 private:
  nsresult read(const char* method, float value, float* out);
  node_t* element_;
};

class window_utils_t final : public object_t, public nsIDOMWindowUtils {
 public:
  using object_t::object_t;
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) override;
  SNAPDOM_REFCOUNT
  NS_IMETHOD GetScreenPixelsPerCSSPixel(float* result) override;
};

class window_collection_t final : public object_t, public nsIDOMWindowCollection {
 public:
  window_collection_t(page_t* page, window_t* owner) : object_t(page), owner_(owner) {}
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) override;
  SNAPDOM_REFCOUNT
  NS_IMETHOD GetLength(PRUint32* length) override;
  NS_IMETHOD Item(PRUint32 index, nsIDOMWindow** result) override;

 private:
  window_t* owner_;
};

class window_t final : public object_t, public nsIDOMWindow, public nsIInterfaceRequestor {
 public:
  using object_t::object_t;
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) override;
  SNAPDOM_REFCOUNT
  NS_IMETHOD GetDocument(nsIDOMDocument** document) override;
  NS_IMETHOD GetFrames(nsIDOMWindowCollection** frames) override;
  NS_IMETHOD GetFrameElement(nsIDOMElement** frameElement) override;
  NS_IMETHOD GetInterface(REFNSIID iid, void** result) override;

  node_t* document = nullptr;
  bool cross_origin = false;  // a frame of another origin: its document cannot be reached
  std::u16string url;
  std::vector<window_t*> frames;
  node_t* frame_element = nullptr;  // the element of the parent document that holds this frame

 private:
  window_collection_t* frames_object_ = nullptr;
  window_utils_t* utils_ = nullptr;
};

class event_t final : public object_t, public nsIDOMKeyEvent {
 public:
  using object_t::object_t;
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) override;
  SNAPDOM_REFCOUNT
  NS_IMETHOD GetType(nsAString& type) override;
  NS_IMETHOD InitEvent(const nsAString& eventType, bool canBubble, bool cancelable) override;
  NS_IMETHOD InitKeyEvent(const nsAString& type, bool canBubble, bool cancelable, nsIDOMWindow* view,
                          bool ctrlKey, bool altKey, bool shiftKey, bool metaKey, PRUint32 keyCode,
                          PRUint32 charCode) override;
  NS_IMETHOD GetKeyCode(PRUint32* keyCode) override;
  NS_IMETHOD GetCharCode(PRUint32* charCode) override;

  std::u16string type;
  bool initialized = false;
  PRUint32 key_code = 0, char_code = 0;
};

// Building pages (used by the loaders).
node_t* new_document(page_t* page, std::u16string url, std::string label);
node_t* new_element(page_t* page, node_t* doc, std::u16string tag, bool xul = false);
node_t* new_text(page_t* page, node_t* doc, std::u16string text);
window_t* new_window(page_t* page, node_t* document, std::u16string url);
// Sets the derived state of a control element from its attributes (type, value, checked, selection).
void init_control_state(node_t* element);

std::u16string lower(std::u16string_view s);
bool iequals(std::u16string_view a, std::u16string_view b);

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

}  // namespace snapdom
