// DOM access: the result checks every DOM call goes through, document attributes, a document's
// window and the markup of a node for traces. The native window searches are in UtilsWin.h.
//
// Every multi-step DOM operation runs its steps in order; each call is wrapped in NSOK, and a call
// that yields a pointer is followed by NSOK(NSPTR(p)), so an empty out-pointer counts as a failure.
// The first non-zero result ends the operation; nothing is retried and nothing is thrown.
//
//   if (NSOK(doc->GetDocumentElement(getter_AddRefs(root))) || NSOK(NSPTR(root))) return ...;
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "xpcom/nsIDOM.h"

// Fixed DOM strings.
inline constexpr char16_t ES_TAG_DIV[] = u"div";
inline constexpr char16_t ES_TAG_INPUT[] = u"input";
inline constexpr char16_t ES_TAG_LABEL[] = u"label";
inline constexpr char16_t ES_ATTR_NAME[] = u"name";
inline constexpr char16_t ES_ATTR_ID[] = u"id";
inline constexpr char16_t ES_ATTR_FOR[] = u"for";
inline constexpr char16_t ES_ATTR_CONTROL[] = u"control";
inline constexpr char16_t ES_KEYBOARDEVENT[] = u"KeyboardEvent";
inline constexpr char16_t ES_EVENT_KEYDOWN[] = u"keydown";
inline constexpr char16_t ES_EVENT_KEYPRESS[] = u"keypress";
inline constexpr char16_t ES_EVENT_KEYUP[] = u"keyup";
// The tags whose elements can be page controls, in enumeration order.
inline constexpr const char16_t* s_aesEnumTags[] = {u"input", u"textbox", u"select"};

// Traces "NSOK(<expression>) = 0x<rv> [<line> : <unit>]" when |rv| is non-zero (every non-zero
// value is a failure here, success codes with a value included) and returns |rv| unchanged. |unit|
// may be a path; its file name without extension is traced.
nsresult nsok(nsresult rv, const char* expression, const char* unit, int line);
#define NSOK(expr) ::nsok((expr), #expr, __FILE__, __LINE__)
// The positive companion: true when |expr| gives NS_OK, traced as NSOK traces a failure. Reads
// better where the next step runs on success: if (NSDONE(a->GetB(getter_AddRefs(b))) && NSDONE(NSPTR(b)))
#define NSDONE(expr) (::nsok((expr), #expr, __FILE__, __LINE__) == NS_OK)
// The same with the expression text and place given, for callers that report on another's behalf.
#define NSOK_AT(rv, text, unit, line) ::nsok((rv), (text), (unit), (line))

// 0 for a non-null pointer, else NS_ERROR_INVALID_POINTER. Always used inside NSOK.
template <class P>
nsresult NSPTR(const P& p) {
  return p ? NS_OK : NS_ERROR_INVALID_POINTER;
}

// The named check: true when |rv| is non-zero, after tracing "<name> [<rv>]".
bool nsfailed(const char* name, nsresult rv);

// Case-insensitive (ASCII) comparison; an empty text never equals anything.
bool iequals_nonempty(std::u16string_view a, std::u16string_view b);

// Document attributes (on the document element).
std::string GetDocAttr(nsIDOMDocument* document, std::u16string_view name);
bool SetDocAttr(nsIDOMDocument* document, std::u16string_view name, std::string_view value);
bool RemoveDocAttr(nsIDOMDocument* document, std::u16string_view name);

// The attribute of |node| when it is an element; NS_ERROR_NO_INTERFACE (value untouched) when not.
nsresult GetNodeAttr(nsIDOMNode* node, std::u16string_view name, std::u16string& value);

nsresult GetDocumentWindow(nsIDOMDocument* document, nsCOMPtr<nsIDOMWindow>& window);

// The markup of an element without its children, the value of a text node, else "".
std::string getInnerHTML(nsIDOMNode* node);

// Milliseconds since the system started, wrapping like the platform's tick count.
std::int32_t kx_tick_count();
