// Label detection: the text a page shows for a control, from label elements that point at it or
// from the text around it in the document tree.
//
// The page is written by whoever serves it, so the search is bounded:
// - it walks with an explicit stack, never by recursion over the tree;
// - one walk goes at most kLabelDepthLimit levels away from where it started (levels descended into
//   plus levels climbed); a walk that reaches the limit ends there with the text found so far;
// - all label searches of one page (one fflabel_cache) visit at most kLabelNodeBudget nodes
//   together. The search during which the budget runs out yields no text and the page's remaining
//   controls get no label from the search; both limits are traced once per page;
// - text pieces are gathered and joined once, a control's label elements are found through an
//   index of the document's "for" and "control" values, and the position of the start node in a
//   child list longer than kScannedChildren comes from an index of that list (built once per page),
//   so a control costs the nodes its walk visits, not a scan of every label or sibling of the page.
// On ordinary pages none of this changes a label: the limits lie far beyond real layouts, and the
// indexes give the same label elements and the same start position as a scan.
#include <algorithm>
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "include_extension/Controls.h"
#include "include_extension/Utils.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

// Levels one walk may go away from its starting point (descended plus climbed). Real pages nest a
// few dozen levels; Chromium's HTML parser stops nesting at 512.
constexpr std::size_t kLabelDepthLimit = 512;
// Nodes all label searches of one page may visit together: child nodes looked at, label elements
// read and entries of child-list indexes built. Ordinary pages use fewer than ten per control; this
// leaves fifty for each of the 5,000 controls an enumeration yields at most.
constexpr std::size_t kLabelNodeBudget = 250000;
// Child lists longer than this find the start node through an index instead of a scan.
constexpr PRUint32 kScannedChildren = 64;

// What the label searches of one page share; lives in fflabel_cache::search.
struct fflabel_search_state {
  std::size_t visited = 0;
  bool spent = false;
  bool spent_traced = false;
  bool depth_traced = false;

  // The label elements of fflabel_cache::document by their folded "for" (or, when that is empty,
  // "control") value: positions in fflabel_cache::labels, in document order.
  std::unordered_map<std::u16string, std::vector<std::size_t>> labels_by_value;

  // Positions of the children of long child lists, by the identity of their parent.
  struct positions_t {
    nsCOMPtr<nsISupports> parent;  // keeps the key alive
    bool usable = false;           // false when reading the list failed: the list is scanned
    std::unordered_map<nsISupports*, PRUint32> at;
  };
  std::unordered_map<nsISupports*, positions_t> positions;

  // Counts |n| visits; false (and spent) once the budget is exceeded.
  bool visit(std::size_t n = 1) {
    if (spent) return false;
    visited += n;
    if (visited > kLabelNodeBudget) spent = true;
    return !spent;
  }
};

namespace {

enum label_status { ls_undefined = 0, ls_stop = 1, ls_handle = 2, ls_donthandle = 3 };

const char* status_name(label_status s) {
  switch (s) {
    case ls_stop: return "stop";
    case ls_handle: return "handle";
    case ls_donthandle: return "donthandle";
    case ls_undefined: break;
  }
  return "undefined";
}

bool in_trim_set(char16_t c) {
  return c == u' ' || c == u'\t' || c == u'\v' || c == u'\n' || c == u'&' || c == u'*' || c == 0xA0;
}

std::u16string_view trim(std::u16string_view s) {
  while (!s.empty() && in_trim_set(s.front())) s.remove_prefix(1);
  while (!s.empty() && in_trim_set(s.back())) s.remove_suffix(1);
  return s;
}

// ASCII lower case, the folding under which iequals_nonempty compares.
std::u16string fold(std::u16string_view s) {
  std::u16string out(s);
  for (char16_t& c : out)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return out;
}

nsISupports* identity_of(nsISupports* p, nsCOMPtr<nsISupports>& holder) {
  holder = do_QueryInterface(p);
  return holder.get();
}

bool same_node(nsIDOMNode* a, nsIDOMNode* b) {
  nsCOMPtr<nsISupports> x = do_QueryInterface(a);
  nsCOMPtr<nsISupports> y = do_QueryInterface(b);
  return x && x.get() == y.get();
}

// The text of one search: its pieces in walking order, joined by one space at the end. (Prepending
// each piece to the text as it is found would copy the text once per piece.)
class label_text_t {
 public:
  bool empty() const { return pieces_.empty(); }
  void add(std::string piece) { pieces_.push_back(std::move(piece)); }
  std::string join(bool backwards) const {
    std::string out;
    auto append = [&](const std::string& p) {
      if (!out.empty()) out += ' ';
      out += p;
    };
    if (backwards) std::for_each(pieces_.rbegin(), pieces_.rend(), append);
    else std::for_each(pieces_.begin(), pieces_.end(), append);
    return out;
  }

 private:
  std::vector<std::string> pieces_;
};

class label_search_t {
 public:
  label_search_t(bool backwards, fflabel_search_state& state) : backwards_(backwards), state_(state) {}

  // Collects text below |parent|: all of it when |start| is null, else the text on the walking side of
  // |start|, then climbs to the parent and goes on with |parent|'s siblings. Returns the text; empty
  // when the page's budget ran out during the walk.
  std::string find(nsIDOMNode* parent, nsIDOMNode* start) {
    if (!parent || state_.spent) return {};
    nsCOMPtr<nsIDOMNode> level = parent;
    nsCOMPtr<nsIDOMNode> from = start;
    std::size_t depth = 0;
    while (true) {
      walk(level, from, depth);
      if (stop_ || !from) break;
      nsCOMPtr<nsIDOMNode> grandparent;
      if (NSOK(level->GetParentNode(getter_AddRefs(grandparent))) || !grandparent) break;
      if (status(level) != ls_handle) break;
      if (!deeper(depth)) break;
      ++depth;
      from = level;
      level = grandparent;
    }
    return state_.spent ? std::string() : text_.join(backwards_);
  }

 private:
  // One open level of the walk: a node whose children are being looked at.
  struct level_t {
    nsCOMPtr<nsIDOMNode> node;
    nsCOMPtr<nsIDOMNodeList> children;
    PRUint32 count = 0;
    PRUint32 step = 0;   // children looked at so far, in walking order
    bool found = true;   // the start node was passed (always, without one)
    nsIDOMNode* start = nullptr;
    std::size_t depth = 0;
  };

  // The children of |node| on the walking side of |start| (all without one), and everything below
  // those that status() lets the walk enter, depth first.
  void walk(nsIDOMNode* node, nsIDOMNode* start, std::size_t depth) {
    std::vector<level_t> stack;
    open(stack, node, start, depth);
    while (!stack.empty() && !stop_) {
      level_t& top = stack.back();
      if (top.step >= top.count) {
        stack.pop_back();
        continue;
      }
      const PRUint32 i = backwards_ ? top.count - 1 - top.step : top.step;
      ++top.step;
      if (!state_.visit()) {
        stop_ = true;
        break;
      }
      nsCOMPtr<nsIDOMNode> child;
      if (NSOK(top.children->Item(i, getter_AddRefs(child))) || NSOK(NSPTR(child))) {
        top.step = top.count;  // a failed item ends this level
        continue;
      }
      PRUint16 type = 0;
      if (NSOK(child->GetNodeType(&type))) continue;
      if (type == nsIDOMNode::ELEMENT_NODE) {
        if (!top.found) {
          top.found = same_node(child, top.start);
          continue;
        }
        if (status(child) != ls_handle) continue;
        const std::size_t below = top.depth;
        if (!deeper(below)) break;
        open(stack, child, nullptr, below + 1);  // |top| may move: not used below
      } else if (type == nsIDOMNode::TEXT_NODE && top.found) {
        nsString value;
        if (NSOK(child->GetNodeValue(value))) continue;
        std::string piece = tracecore::to_utf8(trim(value.view()));
        if (!piece.empty()) text_.add(std::move(piece));
      }
    }
  }

  void open(std::vector<level_t>& stack, nsIDOMNode* node, nsIDOMNode* start, std::size_t depth) {
    if (tracecore::category_on(tracecore::cat_label_detection))
      KXTRACE("%s findlabel", std::string(depth * 3, ' ').c_str());
    level_t level;
    level.node = node;
    level.start = start;
    level.found = start == nullptr;
    level.depth = depth;
    if (NSOK(node->GetChildNodes(getter_AddRefs(level.children))) || NSOK(NSPTR(level.children)) ||
        NSOK(level.children->GetLength(&level.count)))
      level.count = 0;
    if (start && level.count > kScannedChildren) seek(level);
    stack.push_back(std::move(level));
  }

  // Puts |level| just past its start node, found through the index of its child list.
  void seek(level_t& level) {
    nsCOMPtr<nsISupports> parent_holder, start_holder;
    nsISupports* parent = identity_of(level.node, parent_holder);
    nsISupports* start = identity_of(level.start, start_holder);
    if (!parent || !start) return;
    auto [it, added] = state_.positions.try_emplace(parent);
    fflabel_search_state::positions_t& index = it->second;
    if (added) {
      index.parent = parent_holder;
      if (!state_.visit(level.count)) {
        stop_ = true;
        return;
      }
      index.usable = true;
      for (PRUint32 i = 0; i < level.count && index.usable; ++i) {
        nsCOMPtr<nsIDOMNode> child;
        nsCOMPtr<nsISupports> id;
        index.usable = NSDONE(level.children->Item(i, getter_AddRefs(child))) && child &&
                       identity_of(child, id) != nullptr;
        if (index.usable) index.at.emplace(id.get(), i);
      }
      if (!index.usable) index.at.clear();
    }
    if (!index.usable) return;  // scanned as a short list is
    const auto at = index.at.find(start);
    level.found = true;
    if (at == index.at.end()) {
      level.step = level.count;  // the start node is not among the children: nothing on this level
      return;
    }
    level.step = backwards_ ? level.count - at->second : at->second + 1;
  }

  // Whether the walk may go one level further than |depth|; ends the walk at the limit.
  bool deeper(std::size_t depth) {
    if (depth + 1 <= kLabelDepthLimit) return true;
    if (!state_.depth_traced) {
      state_.depth_traced = true;
      KXTRACE("'`I04`'Label search ends at the depth limit of %u levels", static_cast<unsigned>(kLabelDepthLimit));
    }
    stop_ = true;
    return false;
  }

  label_status status(nsIDOMNode* node) {
    PRUint16 type = 0;
    if (NSOK(node->GetNodeType(&type)) || type != nsIDOMNode::ELEMENT_NODE) return ls_handle;
    nsString tag;
    NSOK(node->GetNodeName(tag));
    const std::u16string_view t = tag.view();
    label_status s = ls_handle;
    if (iequals_nonempty(t, u"input")) {
      nsCOMPtr<nsIDOMHTMLInputElement> input = do_QueryInterface(node);
      nsString input_type;
      const bool hidden = input && NSDONE(input->GetType(input_type)) && iequals_nonempty(input_type.view(), u"hidden");
      s = hidden ? ls_handle : ls_stop;
    } else if (iequals_nonempty(t, u"form") || iequals_nonempty(t, u"select")) {
      s = ls_stop;
    } else if (iequals_nonempty(t, u"div") || iequals_nonempty(t, u"td") || iequals_nonempty(t, u"tr")) {
      s = text_.empty() ? ls_handle : ls_stop;
    } else if (iequals_nonempty(t, u"script") || iequals_nonempty(t, u"noscript")) {
      s = ls_donthandle;
    }
    if (s == ls_stop) stop_ = true;
    if (s == ls_stop || s == ls_donthandle)
      KXTRACE("LabelStatus = %s, StopFindLabel = %d, Node = %s", status_name(s), stop_ ? 1 : 0,
              getInnerHTML(node).c_str());
    return s;
  }

  bool backwards_;
  fflabel_search_state& state_;
  bool stop_ = false;
  label_text_t text_;
};

// The label elements of |document| with their attributes, read when |cache| holds another document.
void read_labels(nsIDOMDocument* document, fflabel_cache& cache, fflabel_search_state& state) {
  nsCOMPtr<nsISupports> identity = do_QueryInterface(document);
  if (cache.document && cache.document == identity) return;
  cache.document = identity;
  cache.rv = NS_OK;
  cache.labels.clear();
  state.labels_by_value.clear();
  nsCOMPtr<nsIDOMNodeList> labels;
  PRUint32 count = 0;
  cache.rv = NSOK(document->GetElementsByTagName(nsString(ES_TAG_LABEL), getter_AddRefs(labels)));
  if (cache.rv == NS_OK) cache.rv = NSOK(NSPTR(labels));
  if (cache.rv == NS_OK) cache.rv = NSOK(labels->GetLength(&count));
  if (cache.rv != NS_OK) return;
  const nsString forName(ES_ATTR_FOR), controlName(ES_ATTR_CONTROL);
  nsString value;
  for (PRUint32 i = 0; i < count; ++i) {
    if (!state.visit()) break;
    fflabel_cache::entry_t entry;
    if (NSOK(labels->Item(i, getter_AddRefs(entry.node))) || NSOK(NSPTR(entry.node))) break;
    nsCOMPtr<nsIDOMElement> label = do_QueryInterface(entry.node);
    entry.forRv = label ? NSOK(label->GetAttribute(forName, value)) : NS_ERROR_NO_INTERFACE;
    if (entry.forRv == NS_OK) entry.forAttr = value.view();
    if (entry.forRv == NS_OK && entry.forAttr.empty()) {
      entry.controlRv = NSOK(label->GetAttribute(controlName, value));
      if (entry.controlRv == NS_OK) entry.controlAttr = value.view();
    }
    const std::u16string& key = entry.forAttr.empty() ? entry.controlAttr : entry.forAttr;
    const bool usable = entry.forRv == NS_OK && (!entry.forAttr.empty() || entry.controlRv == NS_OK);
    if (usable && !key.empty()) state.labels_by_value[fold(key)].push_back(cache.labels.size());
    cache.labels.push_back(std::move(entry));
  }
}

// The positions of the label elements whose value names |esName| or |esId|, in document order.
std::vector<std::size_t> labels_naming(const fflabel_search_state& state, const std::u16string& esName,
                                       const std::u16string& esId) {
  std::vector<std::size_t> out;
  for (const std::u16string* name : {&esName, &esId}) {
    if (name->empty()) continue;
    const auto it = state.labels_by_value.find(fold(*name));
    if (it != state.labels_by_value.end()) out.insert(out.end(), it->second.begin(), it->second.end());
  }
  std::sort(out.begin(), out.end());
  out.erase(std::unique(out.begin(), out.end()), out.end());
  return out;
}

bool has_label_elements(std::int32_t type) {
  return type == ctl_edit || type == ctl_psw || type == ctl_check || type == ctl_listbx;
}

}  // namespace

nsresult ffcontrol::label(nsIDOMHTMLElement* element, std::int32_t type, const std::u16string& esName,
                          const std::u16string& esId, std::string& text, fflabel_cache* cache) {
  KXTRACE("'`I06`'For <%s>, From: %s", ffcontrol_type_name(type).c_str(), getInnerHTML(element).c_str());
  if (!element) return NS_ERROR_INVALID_POINTER;
  text.clear();
  const bool backwards = type != ctl_check;
  fflabel_cache local;
  fflabel_cache& labels = cache ? *cache : local;
  if (!labels.search) labels.search = std::make_shared<fflabel_search_state>();
  fflabel_search_state& state = *labels.search;

  nsCOMPtr<nsIDOMDocument> document;
  nsresult rv = NSOK(element->GetOwnerDocument(getter_AddRefs(document)));
  if (rv == NS_OK) rv = NSOK(NSPTR(document));

  if (rv == NS_OK && has_label_elements(type)) {
    if (!state.spent) {
      read_labels(document, labels, state);
      rv = labels.rv;
    }
    if (esName.empty() && esId.empty()) {
      KXTRACE("m_esName and m_esId are empty");
      return NS_ERROR_FAILURE;
    }
    for (const std::size_t at : state.spent ? std::vector<std::size_t>() : labels_naming(state, esName, esId)) {
      if (!text.empty() || state.spent) break;
      const fflabel_cache::entry_t& label = labels.labels[at];
      if (!label.forAttr.empty()) {
        text = label_search_t(backwards, state).find(label.node, nullptr);
        continue;
      }
      if (!state.visit()) break;
      nsCOMPtr<nsIDOMElement> element = do_QueryInterface(label.node);
      nsString value;
      if (element && NSDONE(element->GetAttribute(nsString(u"value"), value))) text = tracecore::to_utf8(value.view());
    }
  }

  if (text.empty() && !state.spent) {
    nsCOMPtr<nsIDOMNode> parent;
    rv = NSOK(element->GetParentNode(getter_AddRefs(parent)));
    if (rv == NS_OK && parent) text = label_search_t(backwards, state).find(parent, element);
  }
  if (state.spent) {
    text.clear();
    if (!state.spent_traced) {
      state.spent_traced = true;
      KXTRACE("'`I04`'Label search budget of %u nodes spent: the page's remaining controls get no label",
              static_cast<unsigned>(kLabelNodeBudget));
    }
  }
  KXTRACE("'`I08`'Done with label = '%s', ns = 0x%X", text.c_str(), static_cast<unsigned>(rv));
  return rv;
}
