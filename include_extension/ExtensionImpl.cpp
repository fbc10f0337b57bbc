#include "include_extension/ExtensionImpl.h"

#include <algorithm>
#include <atomic>
#include <exception>
#include <fstream>
#include <new>
#include <sstream>
#include <string>

#include "agentcomm/window/AgentCalls.h"
#include "environment/Branding.h"
#include "environment/BrandingResources.h"
#include "include_extension/AgentRequests.h"
#include "environment/LookupCache.h"
#include "environment/Paths.h"
#include "environment/Settings.h"
#include "include_extension/Controls.h"
#include "include_extension/DOMNSElement.h"
#include "include_extension/FillGuard.h"
#include "include_extension/Recognition.h"
#include "include_extension/Utils.h"
#include "include_extension/UtilsWin.h"
#include "manifest/CreateFromWindow.h"
#include "manifest/Escape.h"
#include "manifest/ManifestCache.h"
#include "manifest/ManifestReader.h"
#include "manifest/Matching.h"
#include "tracecore/com_error.h"
#include "tracecore/secret.h"
#include "tracecore/trace.h"
#include "tracecore/utf.h"
#include "tracecore/win_handles.h"
#include "xpcom/mozalloc.h"
#include "xpcom/nsIDOMHTMLDocument.h"
#include "xpcom/nsIDOMNode.h"
#include "xpcom/nsIDOMWindow.h"
#include "xpcom/nsStringAPI.h"

namespace {

using kxext::PageState;
using kxext::trace_document;

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

using tracecore::as_u16;
using tracecore::as_wide;

// The URLs for which the training prompt is not shown while the browser runs (every window).
kxext::suppressed_urls_t& suppressed_urls() {
  static kxext::suppressed_urls_t urls;
  return urls;
}

// Parsed manifests by file, shared by the components of this process; emptied on "cacheupdated".
manifest::manifest_cache_t& parsed_manifests() {
  static manifest::manifest_cache_t cache;
  return cache;
}

// Manifests for a page: the agent's lookup cache names them, the file reader loads them (or the
// parsed-manifest cache gives a copy of an unchanged file).
const kxext::recognition_sources_t& machine_sources() {
  static const kxext::recognition_sources_t sources{
      [](std::u16string_view url, bool traceOn) { return lookupcache::cached_url(url, traceOn); },
      [](std::u16string_view name, Manifest& m) { return parsed_manifests().load(name, m); }};
  return sources;
}

// Switching a setting off: "-1" through the settings write with its flag set.
void switch_off(const wchar_t* key) { kxsettings::settings().set(key, L"-1", true); }

RECT rect_of(const dom_rect_t& r) { return RECT{r.left, r.top, r.right, r.bottom}; }

// The rectangle of the control the icon points at (kxext::attach_control); |field| gets its element.
RECT attach_rect(const ffcontrols& controls, const std::u16string& url, const PageState* state,
                 nsCOMPtr<nsIDOMHTMLElement>* field = nullptr) {
  const ffcontrol* target = kxext::attach_control(controls, url, state);
  if (!target) return RECT{};
  if (field) *field = target->element;
  return rect_of(target->getRect());
}

// Quick-link store: environment variables through the system, files through the suite's folders.
kxext::quicklinks::store_env_t machine_store_env() {
  kxext::quicklinks::store_env_t env;
  env.expand = [](std::u16string_view text) {
    const std::wstring in = as_wide(text);
    wchar_t out[2048];
    const DWORD n = ExpandEnvironmentStringsW(in.c_str(), out, 2048);
    return n == 0 || n > 2048 ? std::u16string(text) : as_u16(std::wstring_view(out, n - 1));
  };
  env.file_exists = [](std::u16string_view path) {
    const std::wstring file = as_wide(kxpaths::expand_path(path));
    const DWORD attributes = GetFileAttributesW(file.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
  };
  return env;
}

// A registry of the component's pending requests for the call gate, carrying the request's manifest.
class pending_gate_t final : public ffagent_window::operation_registry_i {
 public:
  pending_gate_t(kxext::CRequestTable& table, const Manifest& manifest, nsIDOMDocument* document, std::u16string url)
      : table_(table), manifest_(manifest), document_(do_QueryInterface(document)), url_(std::move(url)) {}
  bool try_begin(kxext::document_id_t docid, std::int32_t operation, std::int32_t& current) override {
    kxext::PendingRequest request;
    request.currentoperation = operation;
    request.manifest = manifest_;
    request.document = document_;
    request.url = url_;
    return table_.try_insert(docid, request, current);
  }
  void cancel(kxext::document_id_t docid) override { table_.remove(docid); }

 private:
  kxext::CRequestTable& table_;
  const Manifest& manifest_;
  nsCOMPtr<nsISupports> document_;
  std::u16string url_;
};

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

NS_IMETHODIMP CExtensionImpl::OnProfileLink(nsISupports* browser, nsISupports*, const nsAString& inURI,
                                            nsAString& outURI, PRBool* result) {
  return guarded("Mozilla::OnProfileLink", &m_agentReady, [&] { profilelink(browser, inURI, outURI, result); });
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

NS_IMETHODIMP CExtensionImpl::QuickLinkToProfileLink(const nsAString& inURI, nsAString& outURI) {
  return guarded("Mozilla::QuickLinkToProfileLink", nullptr, [&] { quicklinktoprofilelink(inURI, outURI); });
}

// ---- documents ----

nsCOMPtr<nsIDOMDocument> CExtensionImpl::getActiveDocument() {
  KXTRACE("'`I02`'getActiveDocument = 0x%X",
          static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(m_activeDocument.get())));
  return m_activeDocument;
}

std::u16string CExtensionImpl::getURL(nsIDOMDocument* document) {
  try {
    nsCOMPtr<nsIDOMHTMLDocument> html = do_QueryInterface(document);
    if (html) {
      nsString url;
      const nsresult rv = html->GetURL(url);
      if (rv != NS_OK) {
        KXERROR_CODE(static_cast<std::int32_t>(rv), "bad URL");
        return {};
      }
      return std::u16string(url.view());
    }
    // Not an HTML document: the URI this component was given for its popup window, else the
    // document's own URI. The "kxffagent_windowuri" attribute is written for others but never read
    // back: the page could write it too.
    nsCOMPtr<nsISupports> identity = do_QueryInterface(document);
    for (const auto& [popup, uri] : m_windowUris)
      if (identity && popup == identity) return uri;
    nsString uri;
    if (!document || document->GetDocumentURI(uri) != NS_OK || uri.view().empty()) {
      KXERROR("null document");
      return {};
    }
    return std::u16string(uri.view());
  } catch (...) {
    KXERROR("getURL oo");
    return {};
  }
}

// ---- the interface methods' work ----

void CExtensionImpl::startup() {
  KXTRACE("'`I09`'APP: %s", long_path(nullptr).c_str());
  KXTRACE("'`I09`'DLL: %s", long_path(tracecore::this_module()).c_str());
  HWND top = findTopLevel();
  if (!IsWindow(comm_window())) createwindow(top);  // raises when there is no agent
  // Without a communication window (made or not, whether or not it raised) the component stays
  // idle: no agent reply could reach it.
  m_agentReady = IsWindow(comm_window()) && IsWindow(agent_window());
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
    trace_document("'`I0A`'Loaded document ", doc, getURL(doc));
  }
}

void CExtensionImpl::pageunload(nsISupports* document) {
  nsCOMPtr<nsIDOMDocument> doc = do_QueryInterface(document);
  if (!doc) {
    KXERROR("null document");
    return;
  }
  trace_document("'`I0A`'Unload document", doc, getURL(doc));
  m_pageStates.cached_erase(doc);
  m_requests.remove_for_document(doc);
  kxext::remove_docID(doc);
  KXTRACE("done");
}

void CExtensionImpl::deactivate() {
  feedback().hide();
  if (m_activeDocument) {
    trace_document("'`I02`'Active document ", m_activeDocument, getURL(m_activeDocument));
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
  trace_document("'`I02`'Active document ", doc, getURL(doc));
  if (!kxext::set_docID(doc)) return;
  m_activeDocument = doc;
  // One enumeration for the whole activation: recognition, the feedback decision and the icon's
  // control read the same controls (a fill builds its own, fresh, before writing).
  ffcontrols controls;
  controls.build(doc);
  updatePageState(&controls);
  fillInQuickLink(element);
  showFeedback(&controls);
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
  HWND popup = findPopupAuth(browser_window());
  if (!IsWindow(popup)) {
    KXTRACE("'`I04`'Skipped. ffTopWindow = %08X, hwndPopup = %X",
            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(browser_window())),
            static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(popup)));
    return false;
  }
  if (handled) *handled = PR_TRUE;
  return true;
}

void CExtensionImpl::windowload(nsISupports* browser, nsISupports* document, const nsAString& windowURI,
                                PRBool* handled) {
  if (!popup_window_found(browser, document, handled)) return;
  const std::string uri = tracecore::to_utf8(nsString::view_of(windowURI));
  KXTRACE("asInURI = %s", uri.c_str());
  nsCOMPtr<nsIDOMDocument> doc = do_QueryInterface(document);
  SetDocAttr(doc, kxext::kWindowUriAttr, uri);
  forgetWindowUri(doc);
  m_windowUris.emplace_back(do_QueryInterface(doc), std::u16string(nsString::view_of(windowURI)));
  pageload(browser, document);
  KXTRACE("done");
}

void CExtensionImpl::windowunload(nsISupports* browser, nsISupports* document, PRBool* handled) {
  if (!popup_window_found(browser, document, handled)) return;
  pageunload(document);
  nsCOMPtr<nsIDOMDocument> doc = do_QueryInterface(document);
  RemoveDocAttr(doc, kxext::kWindowUriAttr);
  forgetWindowUri(doc);
}

void CExtensionImpl::domnodemodified(nsISupports* node, PRBool* result) {
  nsCOMPtr<nsIDOMElement> element = do_QueryInterface(node);
  if (!element) {
    NSOK_AT(NSPTR(element), "NSPTR(cpdomelement)", "ExtensionImpl", 975);
    return;
  }
  if (result) *result = ffcontrols::HasFirefoxControls(element) ? PR_TRUE : PR_FALSE;
}

// ---- recognition and training ----

bool CExtensionImpl::recognizePage(PageState& state, const ffcontrols* controls) {
  KXSCOPE("KXIntrn::recognizePage");
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  const std::u16string url = doc ? getURL(doc) : std::u16string();
  kxext::recognition_stop stop = kxext::recognition_stop::done;
  const bool recognized = kxext::recognize_page(doc, url, machine_sources(), state, &stop, controls);
  if (stop != kxext::recognition_stop::done) return false;
  if (!m_pageStates.cached_insert(doc, std::move(state))) {
    KXERROR("'`I04`'null cached_insert.");
    return false;
  }
  return recognized;
}

bool CExtensionImpl::updatePageState(const ffcontrols* controls) {
  KXSCOPE("CExtensionImpl::updatePageState");
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXTRACE("'`I04`'null entry[startup] document.");
    return false;
  }
  m_pageStates.cached_erase(doc);
  PageState state;
  return recognizePage(state, controls);
}

bool CExtensionImpl::getPageState(PageState& state) {
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXTRACE("'`I04`'null entry[startup] document.");
    return false;
  }
  const std::u16string url = getURL(doc);
  if (url.empty()) {
    KXERROR("url is empty");
    return false;
  }
  trace_document("document ", doc, url);
  if (!m_pageStates.cached_state(doc, state, false)) {
    KXERROR("null page state");
    return false;
  }
  return true;
}

bool CExtensionImpl::thepage_is_trained() {
  KXSCOPE("CExtensionImpl :: thepage_is_trained");
  PageState state;
  bool trained = false;
  if (getPageState(state)) {
    KXTRACE("recognized %d form(s) in page state cache ", static_cast<int>(state.recognized_count()));
    trained = state.recognized_count() > 0;
  }
  KXTRACE("fRet = %d", trained ? 1 : 0);
  return trained;
}

bool CExtensionImpl::thescreen_is_passwordchange() {
  KXSCOPE("CExtensionImpl :: thescreen_is_passwordchange");
  PageState state;
  const bool yes = getPageState(state) && state.is_password_change_screen();
  KXTRACE("fRet = %d", yes ? 1 : 0);
  return yes;
}

bool CExtensionImpl::thepage_is_goodforlogon() {
  KXSCOPE("CExtensionImpl :: thepage_is_goodforlogon");
  PageState state;
  const bool yes = getPageState(state) && state.good_for_logon();
  KXTRACE("fRet = %d", yes ? 1 : 0);
  return yes;
}

void CExtensionImpl::thepage_manifestoptions(std::wstring& iconkey, std::wstring& iconlocation) {
  KXSCOPE("CExtensionImpl :: thepage_manifestoptions");
  iconkey.clear();
  iconlocation.clear();
  PageState state;
  if (!getPageState(state) || state.recognized_count() != 1) return;
  const Manifest* m = state.single_recognized_manifest();
  if (const ManifestForm* form = m ? m->findForm(m->slot) : nullptr) {
    iconkey = tracecore::to_wide(form->options.iconkey);
    iconlocation = tracecore::to_wide(form->options.iconlocation);
  }
}

bool CExtensionImpl::isShowFeedback(std::int32_t& mode, PageState& state, bool& cached, const ffcontrols* controls) {
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  cached = doc && getPageState(state);
  kxext::feedback_inputs_t in;
  in.controls = controls;
  in.cached = cached ? &state : nullptr;
  in.show_training_prompt = kxsettings::settings().get_bool_default(L"show_training_prompt", true);
  in.document = doc;
  in.url = doc ? getURL(doc) : std::u16string();
  in.suppressed = &suppressed_urls();
  return kxext::decide_feedback(in, mode);
}

std::u16string CExtensionImpl::getwebdomainname() {
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXERROR("null document");
    return {};
  }
  const std::u16string url = getURL(doc);
  if (url.empty()) {
    KXERROR("empty url");
    return {};
  }
  return kxext::web_domain_name(url);
}

void CExtensionImpl::showFeedback(const ffcontrols* controls) {
  std::int32_t mode = 0;
  PageState state;
  bool cached = false;
  if (!isShowFeedback(mode, state, cached, controls)) {
    feedback().hide();
    return;
  }
  const std::u16string domain = getwebdomainname();
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  ffcontrols built;
  if (!controls && doc) built.build(doc);
  nsCOMPtr<nsIDOMHTMLElement> field;
  feedback().set_attach(attach_rect(controls ? *controls : built, doc ? getURL(doc) : std::u16string(),
                                    cached ? &state : nullptr, &field));
  // The icon follows its control when the page scrolls; the menu's flag says the page has a
  // password field to train.
  feedback().set_attach_source(field ? std::function<RECT()>([field] {
    dom_rect_t r;
    CDOMNSElementImpl::getBoundingClientRect(field, r);
    return rect_of(r);
  })
                                     : std::function<RECT()>());
  feedback().set_menu_flag(cached && state.good_for_logon());
  feedback().show(as_wide(domain), mode);
}

kxmessages::callheader_t CExtensionImpl::callHeader() const {
  kxmessages::callheader_t header;
  header.targetwnd = header.activewnd = static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(browser_window()));
  return header;
}

template <class M>
bool CExtensionImpl::callAgent(nsIDOMDocument* document, std::int32_t operation, M& message, const Manifest& manifest) {
  pending_gate_t gate(m_requests, manifest, document, document ? getURL(document) : std::u16string());
  return ffagent_window::call_kxagent(gate, kxext::get_assoc(document, true), operation, message);
}

std::optional<Manifest> CExtensionImpl::selectedManifest(const PageState& state) {
  return kxext::selected_manifest(
      state,
      [this](const std::vector<std::u16string>& choices) {
        std::vector<std::wstring> texts;
        for (const auto& c : choices) texts.push_back(as_wide(c));
        return feedback().selectoneform(texts);
      },
      as_u16(kxbranding::branding_string(IDS_KX_RELATEDFORM_CHOICE)));
}

bool CExtensionImpl::requestFillData(nsIDOMDocument* document, const Manifest& manifest, std::int32_t profile) {
  kxmessages::block_filldata_request_t ask = kxext::requests::fill_in_request(callHeader(), manifest, profile);
  return callAgent(document, kxext::op_preparefillindata, ask, manifest);
}

bool CExtensionImpl::startTraining(bool passwordRequired) {
  KXSCOPE("KXIntrn::startTraining");
  KXTRACE("is psw required = %d", passwordRequired ? 1 : 0);
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXERROR("null document");
    return false;
  }
  const std::u16string url = getURL(doc);
  if (url.empty()) {
    KXERROR("url is empty");
    return false;
  }
  PageState state;
  if (!getPageState(state)) state = PageState();  // traced there as "null page state"

  HWND top = browser_window();
  const kxext::training_plan_t plan = kxext::plan_training(
      doc, url, state, passwordRequired,
      [top](const std::vector<ffcontrol_record>& controls, const ffstring_table& strings, Manifest& m) {
        manifest::createmanifest_from_controls(top, controls, strings, m);
      });

  bool sent = false;
  if (plan.kind == kxext::training_plan_t::changepassword) {
    kxmessages::block_domain_manifests_t request = kxext::requests::change_password_request(callHeader(), plan);
    sent = callAgent(doc, kxext::op_changepassword, request, Manifest());
  } else if (plan.kind == kxext::training_plan_t::createmanifest) {
    kxmessages::block_newmanifest_t request = kxext::requests::new_manifest_request(callHeader(), plan);
    sent = callAgent(doc, kxext::op_createmani, request, plan.manifest);
  }
  if (sent) KXTRACE("done");
  return sent;
}

bool CExtensionImpl::sendModifyRequest(kxext::requests::modify_op_t op, bool& recognized) {
  recognized = false;
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXERROR("null document");
    return false;
  }
  // Editing asks the page question the menu asks; training reads the cached state.
  PageState state;
  const bool cached = op == kxext::requests::modify_op_t::edit_profile ? thepage_is_trained() && getPageState(state)
                                                                        : getPageState(state);
  recognized = kxext::requests::may_modify(op, cached ? &state : nullptr);
  if (!recognized) return false;
  const std::optional<Manifest> selected = selectedManifest(state);
  if (!selected) return false;
  kxmessages::block_profile_operation_t request = kxext::requests::modify_request(callHeader(), op, *selected);
  return callAgent(doc, kxext::op_modifyprof, request, *selected);
}

// ---- the agent's requests ----

void CExtensionImpl::onfillin(kxmessages::fillin_reply_context_t& reply) {
  KXSCOPE("KXIntrn::onfillin");
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    ffagent_window::reply_fillin(reply, false);
    KXERROR("null document");
    return;
  }
  const std::u16string url = getURL(doc);
  trace_document("Fill-in for ", doc, url);
  if (url.empty()) {
    ffagent_window::reply_fillin(reply, false);
    KXERROR("empty url");
    return;
  }
  updatePageState();
  if (thepage_is_trained()) {
    PageState state;
    getPageState(state);
    const std::optional<Manifest> selected = selectedManifest(state);
    if (!selected) return;  // the choice was cancelled: no reply
    const bool sent = requestFillData(doc, *selected, reply.profileindex);
    ffagent_window::reply_fillin(reply, sent);
    if (sent) KXTRACE("done");
    return;
  }
  KXTRACE("This is not our page yet");
  ffagent_window::reply_fillin(reply, startTraining(true));
}

void CExtensionImpl::onrequestaborted(const kxmessages::notice_requestaborted_t& n) {
  KXSCOPE("KXIntrn::onrequestaborted");
  KXTRACE("v_.requestID = %08x", static_cast<unsigned>(n.requestID));
  m_requests.remove(kxext::document_id_t::of_request(n.requestID));
}

namespace {
std::atomic<std::int32_t> g_lastKnownVersion{0};
}  // namespace

std::int32_t CExtensionImpl::last_known_version() { return g_lastKnownVersion.load(); }

void CExtensionImpl::onkxagentversion(const kxmessages::notice_kxaversion_t& n) {
  KXSCOPE("KXIntrn::onkxagentversion");
  g_lastKnownVersion.store(n.version);
  if (n.version < kMinimumAgentVersion) {
    m_agentReady = false;
    KXERROR("'`I04`'Invalid version. current version = %x, agent version = %x",
            static_cast<unsigned>(kMinimumAgentVersion), static_cast<unsigned>(n.version));
  } else {
    m_agentReady = true;
    KXTRACE("'`I09`'KXIntrn::onkxagentversion version is OK");
  }
}

void CExtensionImpl::onhighlight(const kxmessages::notice_highlight_t& n) {
  KXSCOPE("KXIntrn::onhighlight");
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXERROR("null document");
    return;
  }
  kxext::PendingRequest pending;
  if (!m_requests.match(doc, kxext::document_id_t::of_request(n.requestID), pending)) return;
  ffcontrols controls;
  controls.build(doc);
  const ffcontrol* target = kxext::requests::highlight_control(pending.manifest, n.accID, controls);
  RECT control = target ? rect_of(target->getRect()) : RECT{};
  if (IsRectEmpty(&control)) return;

  nsCOMPtr<nsIDOMWindow> window;
  if (GetDocumentWindow(doc, window) != NS_OK) {
    KXERROR("cannot get doc window");
    return;
  }
  if (!window) {
    KXERROR("null doc window ptr");
    return;
  }
  RECT content{};
  HWND page = findPageWindow(browser_window());
  if (IsWindow(page)) {
    GetClientRect(page, &content);
    MapWindowPoints(page, nullptr, reinterpret_cast<POINT*>(&content), 2);
    MapWindowPoints(page, nullptr, reinterpret_cast<POINT*>(&control), 2);
  } else {
    dom_rect_t r;
    if (NSOK_AT(CDOMWindowUtils::getContentRect(window, r), "CDOMWindowUtils(cpdomw).getContentRect(rtContent)",
                "ExtensionImpl", 2041) == NS_OK) {
      content = rect_of(r);
      OffsetRect(&control, content.left, content.top);
    }
  }
  RECT visible{};
  if (!IntersectRect(&visible, &control, &content)) return;
  kxmessages::block_highlight_t highlight;
  highlight.accIDrect = {visible.left, visible.top, visible.right, visible.bottom};
  highlight.highlightagent = n.highlightagent;
  ffagent_window::send_block(highlight);
  KXTRACE("done");
}

void CExtensionImpl::onsenddata(const kxmessages::notice_senddata_t& n) {
  // A page script run by a fill can pump messages and so deliver the next answer in the middle of
  // the fill: that answer waits until the fill is done.
  if (fillguard::fill_running()) {
    KXTRACE("'`I04`'a fill is running: the answer for %x follows it", static_cast<unsigned>(n.requestID));
    if (m_laterAnswers.size() < kMaxLaterAnswers) m_laterAnswers.push_back(n);
    return;
  }
  senddata(n);
  while (!m_laterAnswers.empty()) {
    kxmessages::notice_senddata_t next = std::move(m_laterAnswers.front());
    m_laterAnswers.pop_front();
    senddata(next);
    for (kxmessages::profileitem_t& item : next.datatofillin.profileitems) tracecore::wipe(item.value);
  }
}

void CExtensionImpl::senddata(const kxmessages::notice_senddata_t& n) {
  KXSCOPE("KXIntrn::onsenddata");
  const kxext::document_id_t requested = kxext::document_id_t::of_request(n.requestID);
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    m_requests.remove(requested);
    KXERROR("null document");
    return;
  }
  KXTRACE("pcurrentdocument = %p, v_.requestID = %x", static_cast<void*>(doc.get()), requested.value());
  kxext::PendingRequest pending;
  if (!m_requests.match(doc, requested, pending)) return;
  KXTRACE("currentoperation.is = %d", static_cast<int>(pending.currentoperation));
  kxext::requests::use_answer(pending, n, {doc, getURL(doc)});
  m_requests.remove(requested);
}

void CExtensionImpl::onchecklogon(kxmessages::checklogon_reply_context_t& reply) {
  KXSCOPE("KXIntrn::onchecklogon");
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    ffagent_window::reply_checklogon(reply, false, false);
    KXERROR("null document");
    return;
  }
  const bool trained = thepage_is_trained();
  ffagent_window::reply_checklogon(reply, trained, true);
  KXTRACE("done: isalreadytrained = %d, islogon = %d", trained ? 1 : 0, 1);
}

void CExtensionImpl::onstarttraining() {
  KXSCOPE("KXIntrn::onstarttraining");
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXERROR("null document");
    return;
  }
  bool recognized = false;
  sendModifyRequest(kxext::requests::modify_op_t::add_profile, recognized);
  if (!recognized) startTraining(false);
  KXTRACE("done");
}

void CExtensionImpl::oncacheupdated() {
  KXSCOPE("KXIntrn::oncacheupdated");
  parsed_manifests().clear();
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) return;
  ffcontrols controls;
  controls.build(doc);
  updatePageState(&controls);
  showFeedback(&controls);
  KXTRACE("done");
}

void CExtensionImpl::onaddprofile() {
  KXSCOPE("KXIntrn::onaddprofile");
  onstarttraining();
  KXTRACE("done");
}

void CExtensionImpl::oneditprofile() {
  KXSCOPE("KXIntrn::oneditprofile");
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXERROR("null document");
    return;
  }
  bool recognized = false;
  sendModifyRequest(kxext::requests::modify_op_t::edit_profile, recognized);
  KXTRACE("done");
}

void CExtensionImpl::onstartFLM() {
  KXSCOPE("KXIntrn::onstartFLM");
  PageState state;
  getPageState(state);  // none: traced, and the name stays empty
  std::string name;
  if (!state.recognized.empty()) name = tracecore::to_utf8(kxext::agent_manifest_name(*state.recognized.front().manifest));
  ffagent_window::spawn_flm(name, static_cast<std::int32_t>(reinterpret_cast<std::intptr_t>(browser_window())));
  KXTRACE("done");
}

bool CExtensionImpl::activeDocumentUrl(std::u16string& url) {
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXERROR("null document");
    return false;
  }
  url = getURL(doc);
  if (url.empty()) {
    KXERROR("documenturl is empty");
    return false;
  }
  return true;
}

void CExtensionImpl::ondontprompttrainG() {
  KXSCOPE("KXIntrn::ondontprompttrainG");
  switch_off(L"show_training_prompt");
  feedback().hide();
  KXTRACE("done");
}

void CExtensionImpl::ondontprompttrainL() {
  KXSCOPE("KXIntrn::ondontprompttrainL");
  std::u16string url;
  if (!activeDocumentUrl(url)) return;
  suppressed_urls().add(url);
  feedback().hide();
  KXTRACE("done");
}

void CExtensionImpl::onshowiconsettings() {
  KXSCOPE("KXIntrn::onshowiconsettings");
  std::u16string url;
  if (!activeDocumentUrl(url)) return;
  const bool prompt = kxsettings::settings().get_bool_default(L"show_training_prompt", true);
  const int choice = feedback().iconsettings(prompt ? 0 : 2);
  if (choice == 1) {
    suppressed_urls().add(url);
    feedback().hide();
  } else if (choice == 2) {
    switch_off(L"show_training_prompt");
    feedback().hide();
  }
  KXTRACE("done");
}

void CExtensionImpl::onrequestfillin() {
  KXSCOPE("KXIntrn::onrequestfillin");
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  if (!doc) {
    KXERROR("null document");
    return;
  }
  updatePageState();
  if (!thepage_is_trained()) {
    KXERROR("null page state");
    return;
  }
  PageState state;
  getPageState(state);
  const std::optional<Manifest> selected = selectedManifest(state);
  if (!selected) return;
  requestFillData(doc, *selected, -1);
  trace_document("Fill-in SentOut ", doc, getURL(doc));
}

void CExtensionImpl::onstarttrainingpsw() {
  KXSCOPE("KXIntrn::onstarttrainingpsw");
  startTraining(true);
}

void CExtensionImpl::onhelp() {
  KXSCOPE("KXIntrn::onhelp");
  const LPARAM topic = kxsettings::is_personalmode() && thepage_is_trained() ? 8 : 1;
  ffagent_window::spawn_help(reinterpret_cast<WPARAM>(browser_window()), topic);
  KXTRACE("done");
}

// ---- quick links ----

kxext::quicklinks::quicklink_info_t CExtensionImpl::get_quicklinkinfo(std::int32_t number) {
  KXSCOPE("get_quicklinkinfo");
  const std::wstring file = kxsettings::settings().get_path(L"quicklink_filename");
  std::string text;
  if (!file.empty()) {
    std::ifstream in(file.c_str(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    text = bytes.str();
  }
  const kxext::quicklinks::store_env_t env = machine_store_env();
  const kxext::quicklinks::store_t store = kxext::quicklinks::read_store(text, env, kxext::quicklinks::read_mode::merge);
  return kxext::quicklinks::lookup(store, number, env);
}

void CExtensionImpl::quicklinktoprofilelink(const nsAString& inURI, nsAString& outURI) {
  const std::u16string in(nsString::view_of(inURI));
  const std::int32_t number = kxext::quicklinks::quicklink_number(in);
  KXTRACE("Quicklink res:");
  KXTRACE("  URI = %s", tracecore::to_utf8(in).c_str());
  KXTRACE("  ID = %d", static_cast<int>(number));
  if (number == -1) {
    nsString::assign_to(outURI, nsString::view_of(inURI));
    return;
  }
  kxext::quicklinks::quicklink_info_t info;
  try {
    info = get_quicklinkinfo(number);
  } catch (const std::exception&) {
    KXERROR("bad quicklink id = %d", static_cast<int>(number));
  }
  if (!info.ok) {
    KXERROR("Failed to convert QL # = %d", static_cast<int>(number));
    nsString::assign_to(outURI, info.url);
    return;
  }
  const std::u16string link = kxext::quicklinks::profile_link(info.url, info.profile);
  m_profileLinks.granted(link, GetTickCount());
  KXTRACE("Quicklink url:");
  KXTRACE("  URL = %s", tracecore::to_utf8(link).c_str());
  KXTRACE("  profileID = %d", static_cast<int>(info.profile));
  nsString::assign_to(outURI, link);
}

void CExtensionImpl::profilelink(nsISupports* browser, const nsAString& inURI, nsAString& outURI, PRBool* result) {
  const std::u16string in(nsString::view_of(inURI));
  KXTRACE("  wstInURI = %s", tracecore::to_utf8(in).c_str());
  const kxext::quicklinks::opened_link_t link = kxext::quicklinks::strip_profile_link(in);
  nsString::assign_to(outURI, link.out);
  if (result) *result = link.found ? PR_TRUE : PR_FALSE;
  if (!link.found) return;
  nsCOMPtr<nsIDOMElement> element = do_QueryInterface(browser);
  if (!m_profileLinks.opened(element, in, link.out, link.profile, GetTickCount())) {
    // Not a link this window's quick link produced (a page's own "?kxprofileid="): the parameter is
    // still taken out, but no profile is kept for the tab.
    KXTRACE("'`I04`'profile link not made here: no profile kept");
    if (element) element->RemoveAttribute(nsString(kxext::quicklinks::kProfileIdAttr));
    return;
  }
  if (!element ||
      element->SetAttribute(nsString(kxext::quicklinks::kProfileIdAttr), nsString(link.id_text)) != NS_OK)
    KXERROR("Failed to set QL ATTR");
  KXTRACE("  profileID = %d", static_cast<int>(link.profile));
  KXTRACE("  prbRet = %d, wstOutURI = %s", link.found ? 1 : 0, tracecore::to_utf8(link.out).c_str());
}

void CExtensionImpl::fillInQuickLink(nsIDOMElement* browser) {
  KXSCOPE("CExtensionImpl::fillInQuickLink");
  if (!browser) return;
  const nsString attr(kxext::quicklinks::kProfileIdAttr);
  nsString text;
  bool present = false;
  if (browser->HasAttribute(attr, &present) != NS_OK || !present || browser->GetAttribute(attr, text) != NS_OK) return;
  const std::string digits = tracecore::to_utf8(text.view());
  if (digits.empty()) return;
  const std::int32_t profile = static_cast<std::int32_t>(std::strtol(digits.c_str(), nullptr, 10));
  KXTRACE("'`I0E`'quicklink_profileID = %x", static_cast<unsigned>(profile));
  nsCOMPtr<nsIDOMDocument> active = getActiveDocument();
  if (!active || m_profileLinks.profile_for(browser, active, getURL(active)) != profile) {
    // Written by someone else, or the tab has moved on to another document since the quick link.
    KXTRACE("'`I04`'quicklink profile not for this document: dropped");
    m_profileLinks.drop(browser);
    browser->RemoveAttribute(attr);
    return;
  }
  PageState state;
  if (!getPageState(state)) return;  // "null page state" traced there
  const std::optional<Manifest> selected = selectedManifest(state);
  if (!selected) return;  // the profile stays for a later activation
  if (browser->RemoveAttribute(attr) != NS_OK) {
    KXERROR("cannot remove profile ID");
    return;
  }
  m_profileLinks.drop(browser);  // once
  nsCOMPtr<nsIDOMDocument> doc = getActiveDocument();
  requestFillData(doc, *selected, profile);
  trace_document("Fill-in SentOut ", doc, getURL(doc));
}

void CExtensionImpl::forgetWindowUri(nsIDOMDocument* document) {
  nsCOMPtr<nsISupports> identity = do_QueryInterface(document);
  std::erase_if(m_windowUris, [&](const auto& entry) { return entry.first == identity; });
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
