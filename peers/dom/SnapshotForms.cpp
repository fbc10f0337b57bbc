// Controls of the snapshot DOM: the state of inputs and selects, clicks and key events on them, and
// the forms they submit.
#include <algorithm>

#include "peers/dom/SnapshotMethods.h"

namespace snapdom {

namespace {

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
// Control state from the attributes

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
// node_t: form owners and options

bool node_t::text_like_input() const { return is_html(u"input") && blocks_implicit_submission(input_type); }

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

const char* node_t::iface_for(const char* input_iface) const {
  if (is_html(u"select")) return "nsIDOMHTMLSelectElement";
  if (is_html(u"form")) return "nsIDOMHTMLFormElement";
  return input_iface;
}

// ---------------------------------------------------------------------------------------------
// node_t: clicks

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

}  // namespace snapdom
