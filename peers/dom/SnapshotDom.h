// A DOM over a page snapshot: the browser's DOM interfaces (xpcom/nsIDOM*.h) implemented over the
// element tree that tools/pagesnap records from a rendered page (format: docs/snapshot-format.md),
// or over a small HTML text for tests.
//
//   auto page = snapdom::page_t::load_file("tests/pages/login.json");
//   nsCOMPtr<nsIDOMDocument> doc = page->document();
//   ... the component's code works on |doc| ...
//   page->events();            // focus, value, checked, click, key events, submissions, in order
//   page->fail_call("GetParentNode", 3, NS_ERROR_FAILURE);   // the third call fails
//
// Every object belongs to its page and lives as long as the page; the reference counts are kept so
// that tests can check that all references the component took were given back (outside_refs()).
// Single-threaded, like the browser's DOM.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xpcom/nsIDOM.h"

namespace snapdom {

class node_t;
class window_t;
class object_t;

// One entry of the event log.
struct event_record_t {
  std::string type;    // "focus", "value", "checked", "selectedIndex", "click", "keydown", "keypress",
                       // "keyup", "submit", "setAttribute", "removeAttribute"
  std::string target;  // description of the node, see describe()
  std::string detail;  // the new value, the key code, the submitter, ...

  bool operator==(const event_record_t&) const = default;
};

// A fault armed on a DOM method. |method| is "Interface::Method" or the bare method name (then it
// matches that method of every interface). The |nth| matching call (1-based; 0 = every call) fails
// with |rv|, or, with |null_out|, succeeds but yields an empty pointer.
struct fault_t {
  std::string method;
  int nth = 1;
  nsresult rv = NS_ERROR_FAILURE;
  bool null_out = false;
  int seen = 0;
};

class page_t {
 public:
  // Throw std::runtime_error on malformed input.
  static std::unique_ptr<page_t> load_json(std::string_view json);
  static std::unique_ptr<page_t> load_file(const std::string& path);
  // A small HTML dialect for tests: elements, attributes, text; frames as <iframe src="URL"> with
  // their documents given in |frames| (by that URL). Layout: every element is 100x20 CSS pixels at
  // (0, 0) except hidden inputs and elements under "hidden" or "display:none", which are 0x0.
  struct frame_html_t {
    std::string url;
    std::string html;
  };
  static std::unique_ptr<page_t> from_html(std::string_view html, std::string url = "https://www.example.test/",
                                           std::vector<frame_html_t> frames = {});

  page_t();
  ~page_t();
  page_t(const page_t&) = delete;
  page_t& operator=(const page_t&) = delete;

  // The top document and window (no reference is added; wrap in nsCOMPtr to keep one).
  nsIDOMDocument* document() const;
  nsIDOMWindow* window() const;
  // The documents of the page: the top one first, then the frame documents depth first.
  std::vector<nsIDOMDocument*> documents() const;
  // The element with this id in any document of the page (the first in the order above).
  nsIDOMElement* element_by_id(std::string_view id) const;

  // Layout and window settings.
  void set_screen_pixels_per_css_pixel(float scale) { scale_ = scale; }
  void set_window_utils_available(bool on) { window_utils_ = on; }
  // Overrides the layout of one element (CSS pixels).
  static void set_rect(nsIDOMElement* element, float left, float top, float right, float bottom);
  static void set_offset_size(nsIDOMElement* element, std::int32_t width, std::int32_t height);

  // Faults.
  void fail_call(std::string method, int nth, nsresult rv) { faults_.push_back({std::move(method), nth, rv, false}); }
  void null_result(std::string method, int nth) { faults_.push_back({std::move(method), nth, NS_OK, true}); }
  void clear_faults() { faults_.clear(); }
  // Names of the methods called since the last clear, in order (for finding the call to break).
  void record_calls(bool on) { record_calls_ = on; calls_.clear(); }
  const std::vector<std::string>& calls() const { return calls_; }

  // The event log.
  const std::vector<event_record_t>& events() const { return events_; }
  // Called with every event as it happens, inside the DOM call that caused it, the way a page's
  // script runs inside focus, value and click calls (null: none).
  void on_event(std::function<void(const event_record_t&)> script) { script_ = std::move(script); }
  void clear_events() { events_.clear(); }
  // Events as JSON text: [{"type":..,"target":..,"detail":..}, ...]
  std::string events_json() const;

  // References held on the page's objects from outside the page.
  std::size_t outside_refs() const;

  // "input#user", "select[name=country]", "form#login", "frame0:input#user" (in the first frame's
  // document), "#text", "#document". Elements of one document with the same tag and id are told
  // apart by their place among them in document order: "input#user@1", "input#user@2".
  static std::string describe(nsISupports* node);
  // The attributes of an element of any page, in document order (UTF-8); empty for anything else.
  static std::vector<std::pair<std::string, std::string>> attributes(nsISupports* element);

  // --- used by the DOM objects themselves ---
  struct hook_t {
    nsresult rv = NS_OK;
    bool null_out = false;
  };
  hook_t hook(const char* iface, const char* method);
  void log(std::string type, std::string target, std::string detail = {});
  template <class T, class... A>
  T* make(A&&... args) {
    auto p = std::make_unique<T>(this, std::forward<A>(args)...);
    T* raw = p.get();
    adopt(std::move(p));
    return raw;
  }
  void adopt(std::unique_ptr<object_t> object);
  float scale() const { return scale_; }
  bool window_utils_available() const { return window_utils_; }
  std::uint64_t generation() const { return generation_; }
  void touch() { ++generation_; }
  void set_top(window_t* top) { top_ = top; }
  window_t* top() const { return top_; }

 private:
  std::vector<std::unique_ptr<object_t>> objects_;
  window_t* top_ = nullptr;
  float scale_ = 1.0f;
  bool window_utils_ = true;
  std::vector<fault_t> faults_;
  bool record_calls_ = false;
  std::vector<std::string> calls_;
  std::vector<event_record_t> events_;
  std::function<void(const event_record_t&)> script_;
  std::uint64_t generation_ = 0;
};

}  // namespace snapdom
