// The controls of a page: their enumeration over the page's documents and frames, their labels, and
// filling them in and submitting their form.
//
//   ffcontrols controls;
//   controls.build(document);          // text, password, check box, radio inputs, textboxes, selects
//   controls.label();                  // display names from the page's labels
//   controls.send(&form, filldata);    // values in, then a click on the submit button or Enter
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "include_extension/DOMNSElement.h"
#include "manifest/ControlRecord.h"
#include "manifest/Manifest.h"
#include "tracecore/secret.h"
#include "xpcom/nsIDOM.h"

// The form-name marker of a form without a usable name or id.
inline constexpr char kUnnamedFormMarker[] = "#kx#<;)lid=";

// One value the agent sends for a form. The value stays UTF-16 from the agent's notice to the page,
// and is wiped when it goes.
struct ffprofileitem {
  std::string dbname;
  std::int32_t memid = -1;  // -1: any field of that dbname
  tracecore::secret_u16_t value;
};

// The data of a fill-in: whether to submit afterwards and the values.
struct fffilldata {
  std::int32_t submitprofile = 0;  // 1 = submit after filling
  std::vector<ffprofileitem> profileitems;
};

// Positions of the strings of an ffstring_table, kept beside it to find a string without a scan.
using ffstring_index = std::unordered_map<std::string, std::size_t>;

struct fflabel_search_state;  // Labels.cpp

// The label elements of one document with their "for" and "control" attributes, read once while
// many controls of that document are labelled.
struct fflabel_cache {
  struct entry_t {
    nsCOMPtr<nsIDOMNode> node;
    nsresult forRv = NS_OK;
    std::u16string forAttr;
    nsresult controlRv = NS_OK;  // "control" is read only when "for" is empty
    std::u16string controlAttr;
  };
  nsCOMPtr<nsISupports> document;  // the document the entries belong to
  nsresult rv = NS_OK;             // the result of reading the label list
  std::vector<entry_t> labels;
  // What all label searches of one page share (Labels.cpp): the nodes visited against the page's
  // budget and the indexes over long lists. Kept when the document changes.
  std::shared_ptr<fflabel_search_state> search;
};

class ffcontrol : public ffcontrol_record {
 public:
  // Builds the record of |node| of |document|; NS_OK and a valid record (type != 0) when the node is
  // a usable control. The identity's strings go into |strings| (and |index|, when given, which
  // must index |strings|).
  nsresult build(nsIDOMDocument* document, nsIDOMNode* node, ffstring_table& strings,
                 ffstring_index* index = nullptr);

  bool isValid() const { return type != ctl_unknown; }
  bool isVisible() const;
  dom_rect_t getRect() const;

  // The label text of a control (see Labels.cpp); NS_ERROR_INVALID_POINTER for a null element,
  // NS_ERROR_FAILURE when a labelled type has neither name nor id.
  // |cache|, when given, keeps the label elements of the element's document between calls.
  static nsresult label(nsIDOMHTMLElement* element, std::int32_t type, const std::u16string& esName,
                        const std::u16string& esId, std::string& text, fflabel_cache* cache = nullptr);
  // label() of this control; a non-empty text becomes its dispname.
  nsresult label(fflabel_cache* cache = nullptr);

  std::u16string m_esName;
  std::u16string m_esId;
  nsCOMPtr<nsIDOMHTMLElement> element;  // for a XUL textbox, its inner input
  std::string composed;                 // the composed name inside the identity ("form.id.name")
  // Where the control lives: in a frame document (its URL is |parent|), and whether every frame
  // element between it and the top document is shown (non-zero size).
  bool in_frame = false;
  bool frame_shown = true;
};

// The composed name of a control: the three parts with their dots made "_", joined by ".".
std::string composeControlName(std::string_view formname, std::string_view id, std::string_view name);
// The identity "[sid]101.<composed>.<form>.<p3>.<p4>" with every non-empty item replaced by its
// hexadecimal index in |strings| (appended when new); empty when |flags| is 0 or every part is empty.
std::string encodeControlIdentity(std::uint32_t flags, const std::string& composed, const std::string& formname,
                                  const std::string& part3, const std::string& part4, ffstring_table& strings,
                                  ffstring_index* index = nullptr);
// The memID of a control built now: the tick count, unique among the controls built by this module
// (one more than the last when the clock has not moved on). UI thread only.
std::int32_t next_memid();
// Whether |candidate| is a usable form name: not empty and no GUID in braces.
bool usableFormName(std::u16string_view candidate);

class ffcontrols {
 public:
  // Bounds of one enumeration, so that a hostile page cannot make activation unbounded: frames
  // beyond kMaxFrames (or nested deeper than kMaxFrameDepth) and controls beyond kMaxControls are
  // not looked at (traced once per enumeration).
  static constexpr std::size_t kMaxControls = 5000;
  static constexpr std::size_t kMaxFrames = 64;
  static constexpr int kMaxFrameDepth = 16;

  // Enumerates the controls of |top| and of all its frames: frame documents first (depth first), then
  // the top document; in each, the inputs, then the textboxes, then the selects, in document order.
  void build(nsIDOMDocument* top);
  // Labels every control (ffcontrol::label()).
  void label();

  std::vector<ffcontrol>& list() { return list_; }
  const std::vector<ffcontrol>& list() const { return list_; }
  const ffstring_table& strings() const { return strings_; }
  // The records as the manifest side takes them.
  std::vector<ffcontrol_record> records() const;
  // Keeps only the controls at |order| (indexes into list()), in that order; the string table stays.
  void keep(const std::vector<std::size_t>& order);

  // Whether anything below |element| is a usable control.
  static bool HasFirefoxControls(nsIDOMElement* element);

  // Fills the controls that match the fields of |form| and submits when the data asks for it.
  nsresult send(const ManifestForm* form, const fffilldata& data);
  // Fills the password fields of a password-change page by position (nothing is submitted).
  nsresult changePassword(const fffilldata& data);

  // Writes one value into one control.
  static nsresult sendValue(ffcontrol& control, const ManifestField* field, const ffprofileitem& item);
  // A button field is never filled.
  static bool skipField(const ManifestField& field);

 private:
  nsresult submit(nsIDOMHTMLInputElement* enterTarget);
  std::vector<ffcontrol> list_;
  ffstring_table strings_;
  ffstring_index index_;
};

class CFireFoxControls {
 public:
  // A trusted-looking keyboard event of |type| with |keyCode| for |document|'s window.
  static nsresult CreateKeyboardEvent(nsIDOMDocument* document, std::u16string_view type, PRUint32 keyCode,
                                      nsCOMPtr<nsIDOMEvent>& event);
};
