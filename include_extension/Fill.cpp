// Fill-in and submit: values into the page's controls through the DOM, then the form's one submit
// button is clicked or Enter is pressed in the last filled text field.
#include <cstdint>
#include <string>

#include "include_extension/Controls.h"
#include "include_extension/Utils.h"
#include "manifest/Escape.h"
#include "manifest/Matching.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"

namespace {

unsigned ptr_bits(const void* p) { return static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(p)); }

bool fillable_type(std::int32_t type) {
  return type == ctl_psw || type == ctl_edit || type == ctl_check || type == ctl_radio || type == ctl_listbx ||
         type == ctl_combo;
}

bool same_object(nsISupports* a, nsISupports* b) {
  nsCOMPtr<nsISupports> x = do_QueryInterface(a);
  nsCOMPtr<nsISupports> y = do_QueryInterface(b);
  return x && x.get() == y.get();
}

const ffprofileitem* item_for(const ManifestField& field, const fffilldata& data) {
  for (const ffprofileitem& item : data.profileitems)
    if (item.dbname == field.dbname && (item.memid == -1 || item.memid == field.fieldId)) return &item;
  return nullptr;
}

}  // namespace

bool ffcontrols::skipField(const ManifestField& field) {
  const bool isbtn = field.type == field_button;
  if (isbtn)
    KXTRACE("'`I01`'IE field skipped: <%s>, useit = %d, isbtn = %d, path = %s", fieldTypeWord(field.type),
            field.useit ? 1 : 0, 1, field.path.c_str());
  return isbtn;
}

nsresult ffcontrols::sendValue(ffcontrol& control, const ManifestField* field, const ffprofileitem& item) {
  KXTRACE("Sent value for <%s> %s", ffcontrol_type_name(control.type).c_str(), getInnerHTML(control.element).c_str());
  KXTRACE("field_ = %s:%d, profileitem_ = %s:%d", field ? field->dbname.c_str() : "", field ? field->fieldId : -1,
          item.dbname.c_str(), item.memid);
  nsresult rv = NS_OK;
  if (nsCOMPtr<nsIDOMHTMLInputElement> input = do_QueryInterface(control.element)) {
    if (control.type == ctl_edit || control.type == ctl_psw) {
      NSOK(input->Focus());
      rv = NSOK(input->SetValue(nsString(item.value.view())));
    } else if (control.type == ctl_check || control.type == ctl_radio) {
      const bool checked = item.value == u"1";
      NSOK(input->Focus());
      rv = NSOK(input->SetChecked(checked));
    }
  } else if (control.type == ctl_listbx) {
    if (nsCOMPtr<nsIDOMHTMLSelectElement> select = do_QueryInterface(control.element)) {
      NSOK(select->Focus());
      nsCOMPtr<nsIDOMHTMLOptionsCollection> options;
      PRUint32 count = 0;
      if (NSDONE(select->GetOptions(getter_AddRefs(options))) && NSDONE(NSPTR(options)) &&
          NSDONE(options->GetLength(&count)) && count > 0) {
        PRInt32 selected = -1;
        NSOK(select->GetSelectedIndex(&selected));
        const std::u16string_view wanted = item.value.view();
        PRInt32 found = -1;
        for (PRUint32 i = 0; i < count && found < 0; ++i) {
          nsCOMPtr<nsIDOMNode> option;
          nsCOMPtr<nsIDOMNode> first;
          nsString text;
          if (NSOK(options->Item(i, getter_AddRefs(option))) || NSOK(NSPTR(option)) ||
              NSOK(option->GetFirstChild(getter_AddRefs(first))) || NSOK(NSPTR(first)) ||
              NSOK(first->GetNodeValue(text)))
            continue;
          if (iequals_nonempty(text.view(), wanted)) found = static_cast<PRInt32>(i);
        }
        if (found != selected) NSOK(select->SetSelectedIndex(found));
      }
    }
    rv = NS_OK;
  }
  KXTRACE("rv = 0x%X", static_cast<unsigned>(rv));
  return rv;
}

nsresult ffcontrols::send(const ManifestForm* form, const fffilldata& data) {
  if (!form) {
    KXERROR("no current form");
    return NS_ERROR_INVALID_POINTER;
  }
  const std::vector<std::string> formNames = manifest::splitNames(form->detection.names);
  nsCOMPtr<nsIDOMHTMLInputElement> enterTarget;
  bool passwordFilled = false;
  nsresult rv = NS_OK;

  for (const ManifestField& field : form->fields) {
    if (skipField(field)) continue;
    rv = NS_ERROR_FAILURE;
    for (std::size_t c = 0; c < list_.size() && rv != NS_OK; ++c) {
      ffcontrol& control = list_[c];
      if (!manifest::controlMatchesField(control, strings_, field, formNames)) continue;
      rv = NS_OK;
      bool sent = false;
      if (fillable_type(control.type)) {
        if (const ffprofileitem* item = item_for(field, data)) {
          rv = sendValue(control, &field, *item);
          sent = rv == NS_OK;
        }
      } else {
        rv = sendValue(control, &field, ffprofileitem());
      }
      if (sent && (control.type == ctl_psw || control.type == ctl_edit)) {
        nsCOMPtr<nsIDOMHTMLInputElement> input = do_QueryInterface(control.element);
        if (NSDONE(NSPTR(input))) {
          if (control.type == ctl_psw) {
            enterTarget = input;
            passwordFilled = true;
          } else if (!passwordFilled) {
            enterTarget = input;
          }
        }
      }
    }
    if (rv != NS_OK) {
      KXTRACE("'`I04`'unresolved field %s", field.displayname.c_str());
      KXTRACE("'`I04`'ns = 0x%X", static_cast<unsigned>(rv));
      return rv;
    }
  }

  rv = data.submitprofile == 1 ? submit(enterTarget) : NS_OK;
  KXTRACE("'`I08`'done ns = 0x%X", static_cast<unsigned>(rv));
  return rv;
}

nsresult ffcontrols::submit(nsIDOMHTMLInputElement* enterTarget) {
  nsCOMPtr<nsIDOMDocument> document;
  if (!enterTarget || enterTarget->GetOwnerDocument(getter_AddRefs(document)) != NS_OK || !document) {
    KXERROR("no document to submit");
    return NS_ERROR_INVALID_POINTER;
  }
  nsCOMPtr<nsIDOMHTMLFormElement> form;
  NSOK(enterTarget->GetForm(getter_AddRefs(form)));

  // The form's one submit button: a single "submit" or "image" input, else a single "button" input.
  nsCOMPtr<nsIDOMHTMLInputElement> submitButton;
  std::u16string submitType;
  nsCOMPtr<nsIDOMNodeList> inputs;
  PRUint32 count = 0;
  if (form && NSDONE(document->GetElementsByTagName(nsString(ES_TAG_INPUT), getter_AddRefs(inputs))) &&
      NSDONE(NSPTR(inputs)) && NSDONE(inputs->GetLength(&count))) {
    for (PRUint32 i = 0; i < count; ++i) {
      nsCOMPtr<nsIDOMNode> node;
      if (NSOK(inputs->Item(i, getter_AddRefs(node))) || NSOK(NSPTR(node))) break;
      nsCOMPtr<nsIDOMHTMLInputElement> input = do_QueryInterface(node);
      if (!input) continue;
      nsCOMPtr<nsIDOMHTMLFormElement> inputForm;
      if (NSOK(input->GetForm(getter_AddRefs(inputForm))) || !same_object(inputForm, form)) continue;
      bool visible = false;
      if (CDOMNSHTMLElement::getVisibility(input, visible) != NS_OK || !visible) continue;
      KXTRACE("'`I02`'cphtmlformelement = 0x%X, cpdhfeSubmit = 0x%X", ptr_bits(form.get()), ptr_bits(inputForm.get()));
      nsString t;
      if (NSOK(input->GetType(t))) continue;
      const std::u16string_view type = t.view();
      KXTRACE("'`I02`'phtmlinputelement = 0x%X, cpdhieSubmit = %s, pdomnode = %s", ptr_bits(input.get()),
              tracecore::to_utf8(type).c_str(), getInnerHTML(node).c_str());
      const bool submitLike = iequals_nonempty(type, u"submit") || iequals_nonempty(type, u"image");
      const bool candidateIsButton = iequals_nonempty(submitType, u"button");
      if (submitLike) {
        if (submitType.empty() || candidateIsButton) {
          submitButton = input;
          submitType = type;
        } else {
          submitButton = nullptr;  // two submit inputs: the form has no one submit button
          break;
        }
      } else if (iequals_nonempty(type, u"button")) {
        if (submitType.empty()) {
          submitButton = input;
          submitType = type;
        } else if (candidateIsButton) {
          submitButton = nullptr;
        }
      }
    }
  }
  KXTRACE("   cpdhieSubmit = 0x%X, esSubmitType = %s, cpdhieSubmitEnter = 0x%X[%s]", ptr_bits(submitButton.get()),
          tracecore::to_utf8(submitType).c_str(), ptr_bits(enterTarget), getInnerHTML(enterTarget).c_str());
  KXTRACE("   cpdhfeSubmit = 0x%X[%s]", ptr_bits(form.get()), getInnerHTML(form).c_str());

  if (submitButton) {
    NSOK(submitButton->Focus());
    NSOK(submitButton->Click());
    return NS_OK;
  }

  nsCOMPtr<nsIDOMEventTarget> target = do_QueryInterface(enterTarget);
  if (!target) {
    KXERROR("no cpdomeventtarget");
    return NS_ERROR_INVALID_POINTER;
  }
  nsCOMPtr<nsIDOMEvent> down, press, up;
  CFireFoxControls::CreateKeyboardEvent(document, ES_EVENT_KEYDOWN, nsIDOMKeyEvent::DOM_VK_RETURN, down);
  CFireFoxControls::CreateKeyboardEvent(document, ES_EVENT_KEYPRESS, nsIDOMKeyEvent::DOM_VK_RETURN, press);
  CFireFoxControls::CreateKeyboardEvent(document, ES_EVENT_KEYUP, nsIDOMKeyEvent::DOM_VK_RETURN, up);
  if (!down || !press || !up) {
    KXERROR("0x%X, 0x%X, 0x%X", ptr_bits(down.get()), ptr_bits(press.get()), ptr_bits(up.get()));
    return NS_ERROR_INVALID_POINTER;
  }
  NSOK(enterTarget->Focus());
  bool enabled = true;
  nsresult rv = NSOK(target->DispatchEvent(down, &enabled));
  if (rv == NS_OK) rv = NSOK(target->DispatchEvent(press, &enabled));
  if (rv == NS_OK) rv = NSOK(target->DispatchEvent(up, &enabled));
  KXTRACE("done with enter");
  return rv;
}

nsresult ffcontrols::changePassword(const fffilldata& data) {
  if (data.profileitems.size() < 2) {
    KXERROR("bad change password profile");
    return NS_ERROR_UNEXPECTED;
  }
  std::size_t passwords = 0;
  for (const ffcontrol& c : list_)
    if (c.type == ctl_psw) ++passwords;
  if (passwords < 2) {
    KXERROR("less 2 password on the form");
    return NS_ERROR_UNEXPECTED;
  }
  std::size_t k = passwords == 2 ? 1 : 0;
  nsresult rv = NS_OK;
  for (std::size_t c = 0; c < list_.size() && rv == NS_OK; ++c) {
    if (list_[c].type != ctl_psw) continue;
    rv = sendValue(list_[c], nullptr, data.profileitems[k]);
    if (k < 1) k = 1;
  }
  return rv;
}

nsresult CFireFoxControls::CreateKeyboardEvent(nsIDOMDocument* document, std::u16string_view type, PRUint32 keyCode,
                                               nsCOMPtr<nsIDOMEvent>& event) {
  event = nullptr;
  nsCOMPtr<nsIDOMWindow> window;
  nsresult rv = GetDocumentWindow(document, window);
  if (rv != NS_OK) {
    KXERROR("no cpdomwindow");
    return rv;
  }
  nsCOMPtr<nsIDOMEvent> created;
  rv = NSOK(document->CreateEvent(nsString(ES_KEYBOARDEVENT), getter_AddRefs(created)));
  if (rv == NS_OK) rv = NSOK(NSPTR(created));
  if (rv != NS_OK) {
    KXERROR("no cpdomevent");
    return rv;
  }
  nsCOMPtr<nsIDOMKeyEvent> key = do_QueryInterface(created);
  if (!key) {
    KXERROR("no cpdomkeyevent");
    return NS_ERROR_NO_INTERFACE;
  }
  rv = NSOK(key->InitKeyEvent(nsString(type), true, true, window, false, false, false, false, keyCode, 0));
  if (rv == NS_OK) event = created;
  else KXERROR("InitKeyEvent failed");
  return rv;
}
