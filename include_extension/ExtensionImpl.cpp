#include "include_extension/ExtensionImpl.h"

#include <exception>
#include <new>
#include <string>

#include "tracecore/com_error.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"
#include "tracecore/win_handles.h"
#include "xpcom/mozalloc.h"
#include "xpcom/nsIDOMElement.h"
#include "xpcom/nsIDOMHTMLDocument.h"
#include "xpcom/nsIDOMNode.h"
#include "xpcom/nsStringAPI.h"

namespace {

// Every interface method: a named scope, the optional agent-ready gate, the work, and a handler
// that traces whatever the work throws. The script always gets NS_OK.
template <class Work>
nsresult guarded(const char* scope, const bool* agent_ready, Work&& work) noexcept {
  KXSCOPE(scope);
  try {
    if (agent_ready && !*agent_ready) {
      KXTRACE("'`I04`'Invalid KXAgent");
      return NS_OK;
    }
    work();
  } catch (const errors::com_error& e) {
    KXERROR_CODE(e.Error(), "com %s", e.ErrorMessage().c_str());
  } catch (const std::exception& e) {
    KXERROR("std:%s", e.what());
  } catch (...) {
    KXERROR("oo");
  }
  return NS_OK;
}

std::string long_path(HMODULE module) {
  wchar_t name[520] = {}, full[520] = {};
  if (!GetModuleFileNameW(module, name, 520)) return {};
  const DWORD n = GetLongPathNameW(name, full, 520);
  if (n == 0 || n >= 520) return {};
  return tracecore::to_utf8(std::wstring_view(full, n));
}

// The document's URL: an HTML document's own; empty for others until they carry a window URI.
std::string url_of(nsIDOMDocument* doc) {
  nsCOMPtr<nsIDOMHTMLDocument> html = do_QueryInterface(doc);
  if (!html) return {};
  nsString url;
  if (html->GetURL(url) != NS_OK) return {};
  return tracecore::to_utf8(url.view());
}

// "<prefix><document>[<address>].<url>", the URL cut before its query.
void trace_document(const char* prefix, nsIDOMDocument* doc) {
  if (!tracecore::on()) return;
  std::string url = url_of(doc);
  if (url.empty()) {
    KXTRACE("%s[%p].empty URL", prefix, static_cast<void*>(doc));
    return;
  }
  const size_t q = url.find('?');
  if (q != std::string::npos) url = url.substr(0, q) + " + params ...";
  KXTRACE("%s[%p].%s", prefix, static_cast<void*>(doc), url.c_str());
}

// The top-level browser window of the calling thread.
BOOL CALLBACK match_top_level(HWND hwnd, LPARAM lp) {
  wchar_t cls[261] = {};
  GetClassNameW(hwnd, cls, 260);
  if (CompareStringOrdinal(cls, -1, L"MozillaWindowClass", -1, TRUE) != CSTR_EQUAL) return TRUE;
  *reinterpret_cast<HWND*>(lp) = hwnd;
  return FALSE;
}

HWND find_top_level() {
  HWND found = nullptr;
  EnumThreadWindows(GetCurrentThreadId(), &match_top_level, reinterpret_cast<LPARAM>(&found));
  KXTRACE("Found hwnd = %p", static_cast<void*>(found));
  return found;
}

}  // namespace

CExtensionImpl::CExtensionImpl(std::unique_ptr<ffagent_window::feedback_i> feedback)
    : ffcomm_t(std::move(feedback)) {}
CExtensionImpl::~CExtensionImpl() = default;

NS_IMETHODIMP CExtensionImpl::QueryInterface(REFNSIID iid, void** result) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  if (iid.Equals(NS_GET_IID(IKXAgentClient)) || iid.Equals(NS_GET_IID(nsISupports))) {
    *result = static_cast<IKXAgentClient*>(this);
    AddRef();
    return NS_OK;
  }
  *result = nullptr;
  return NS_ERROR_NO_INTERFACE;
}

NS_IMETHODIMP_(PRUint32) CExtensionImpl::AddRef() { return ++m_refCount; }

NS_IMETHODIMP_(PRUint32) CExtensionImpl::Release() {
  if (--m_refCount != 0) return m_refCount;
  m_refCount = 1;  // calls made while destroying must not destroy again
  this->~CExtensionImpl();
  moz_free(this);
  return 0;
}

// ---- the interface methods ----

NS_IMETHODIMP CExtensionImpl::Initialize(nsISupports*) {
  return guarded("Mozilla::Initialize", nullptr, [&] { startup(); });
}

NS_IMETHODIMP CExtensionImpl::Uninitialize(nsISupports*) {
  return guarded("Mozilla::Uninitialize", nullptr, [&] { shutdown(); });
}

NS_IMETHODIMP CExtensionImpl::OnLoad(nsISupports* browser, nsISupports* document, nsISupports*) {
  return guarded("Mozilla::OnLoad", &m_agentReady, [&] { pageload(browser, document); });
}

NS_IMETHODIMP CExtensionImpl::OnUnload(nsISupports*, nsISupports* document, nsISupports*) {
  return guarded("Mozilla::OnUnlo", &m_agentReady, [&] { pageunload(document); });
}

NS_IMETHODIMP CExtensionImpl::OnActivate(nsISupports* browser, nsISupports* document, nsISupports*) {
  return guarded("Mozilla::OnActi", &m_agentReady, [&] { activate(browser, document); });
}

NS_IMETHODIMP CExtensionImpl::OnDeactivate(nsISupports*) {
  return guarded("Mozilla::OnDeacti", &m_agentReady, [&] { deactivate(); });
}

NS_IMETHODIMP CExtensionImpl::OnProfileLink(nsISupports*, nsISupports*, const nsAString&, nsAString&,
                                            PRBool*) {
  // Quick links come with their own layer.
  return guarded("Mozilla::OnProfileLink", &m_agentReady, [] {});
}

NS_IMETHODIMP CExtensionImpl::OnWindowLoad(nsISupports* browser, nsISupports* document,
                                           const nsAString& windowURI, PRBool* handled) {
  return guarded("Mozilla::OnWindowLoad", &m_agentReady,
                 [&] { windowload(browser, document, windowURI, handled); });
}

NS_IMETHODIMP CExtensionImpl::OnWindowUnload(nsISupports* browser, nsISupports* document, const nsAString&,
                                             PRBool* handled) {
  return guarded("Mozilla::OnWindowUnload", &m_agentReady, [&] { windowunload(browser, document, handled); });
}

NS_IMETHODIMP CExtensionImpl::OnDOMNodeModified(nsISupports* node, PRBool* result) {
  return guarded("Mozilla::OnDOMNodeModified", &m_agentReady, [&] { domnodemodified(node, result); });
}

NS_IMETHODIMP CExtensionImpl::QuickLinkToProfileLink(const nsAString&, nsAString&) {
  // Quick links come with their own layer.
  return guarded("Mozilla::QuickLinkToProfileLink", nullptr, [] {});
}

// ---- the work ----

void CExtensionImpl::startup() {
  KXTRACE("'`I09`'APP: %s", long_path(nullptr).c_str());
  KXTRACE("'`I09`'DLL: %s", long_path(tracecore::this_module()).c_str());
  HWND top = find_top_level();
  if (!IsWindow(comm_window())) createwindow(top);  // raises when there is no agent
  m_agentReady = IsWindow(agent_window()) != FALSE;
  KXTRACE("'`I09`'done");
}

void CExtensionImpl::shutdown() {
  KXTRACE("'`I09`'start");
  destroy_window();
  m_activeDocument = nullptr;
  KXTRACE("'`I09`'done");
}

void CExtensionImpl::pageload(nsISupports* browser, nsISupports* document) {
  nsCOMPtr<nsIDOMElement> element = do_QueryInterface(browser);
  nsCOMPtr<nsIDOMDocument> doc = do_QueryInterface(document);
  if (!element) {
    KXERROR("null webbrowser");
  } else if (!doc) {
    KXERROR("null document");
  } else {
    trace_document("'`I0A`'Loaded document ", doc);
  }
}

void CExtensionImpl::pageunload(nsISupports* document) {
  nsCOMPtr<nsIDOMDocument> doc = do_QueryInterface(document);
  if (!doc) {
    KXERROR("null document");
    return;
  }
  trace_document("'`I0A`'Unload document", doc);
  // Dropping the document's page state and pending request comes with document identity.
  KXTRACE("done");
}

void CExtensionImpl::deactivate() {
  feedback().hide();
  if (m_activeDocument) {
    trace_document("'`I02`'Active document ", m_activeDocument);
    m_activeDocument = nullptr;
    KXTRACE("done");
  } else {
    KXTRACE("'`I04`'null entry[startup] document.");
  }
}

void CExtensionImpl::activate(nsISupports* browser, nsISupports* document) {
  deactivate();
  nsCOMPtr<nsIDOMElement> element = do_QueryInterface(browser);
  nsCOMPtr<nsIDOMDocument> doc = do_QueryInterface(document);
  if (!element) {
    KXERROR("null webbrowser");
    return;
  }
  if (!doc) {
    KXTRACE("'`I04`'null entry[startup] document.");
    return;
  }
  trace_document("'`I02`'Active document ", doc);
  // Document identity, recognition, quick links and the feedback decision join here.
  m_activeDocument = doc;
  feedback().hide();
  KXTRACE("done");
}

// Steps 1 to 3 of popup load and unload: handled starts false, both arguments must be there, and the
// browser's top-level window must own an authentication popup. True when the caller may go on.
bool CExtensionImpl::popup_window_found(nsISupports* browser, nsISupports* document, PRBool* handled) {
  if (handled) *handled = PR_FALSE;
  nsCOMPtr<nsIDOMElement> element = do_QueryInterface(browser);
  nsCOMPtr<nsIDOMDocument> doc = do_QueryInterface(document);
  if (!element) {
    KXERROR("null webbrowser");
    return false;
  }
  if (!doc) {
    KXERROR("No current document");
    return false;
  }
  // The authentication popup search comes with the window searches.
  KXTRACE("'`I04`'Skipped. ffTopWindow = %08X, hwndPopup = %X",
          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(browser_window())), 0u);
  return false;
}

void CExtensionImpl::windowload(nsISupports* browser, nsISupports* document, const nsAString&, PRBool* handled) {
  if (!popup_window_found(browser, document, handled)) return;
}

void CExtensionImpl::windowunload(nsISupports* browser, nsISupports* document, PRBool* handled) {
  if (!popup_window_found(browser, document, handled)) return;
}

void CExtensionImpl::domnodemodified(nsISupports* node, PRBool* result) {
  nsCOMPtr<nsIDOMElement> element = do_QueryInterface(node);
  if (!element) {
    KXERROR("NSOK(%s) = 0x%X [%d : %s]", "NSPTR(cpdomelement)", 0x80004003u, 975, "ExtensionImpl");
    return;
  }
  // Counting the element's controls comes with control enumeration.
  if (result) *result = PR_FALSE;
}

// ---- creation ----

nsresult CreateKXAgentClient(nsISupports* outer, const nsIID& iid, void** result, feedback_factory_t feedback) {
  if (!result) return NS_ERROR_INVALID_POINTER;
  *result = nullptr;
  if (outer) return NS_ERROR_NO_AGGREGATION;
  void* memory = moz_xmalloc(sizeof(CExtensionImpl));
  CExtensionImpl* object = nullptr;
  if (memory) {
    try {
      object = new (memory) CExtensionImpl(feedback ? feedback() : nullptr);
    } catch (...) {
      moz_free(memory);
    }
  }
  if (!object) return NS_ERROR_OUT_OF_MEMORY;
  object->AddRef();
  const nsresult rv = object->QueryInterface(iid, result);
  object->Release();
  return rv;
}
