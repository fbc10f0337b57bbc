// The component object: one per browser window, called by the suite's browser extension through
// IKXAgentClient and by the agent through the communication window.
#pragma once

#include <windows.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "agentcomm/window/ffcomm.h"
#include "include_extension/AgentRequests.h"
#include "include_extension/Controls.h"
#include "include_extension/PageState.h"
#include "include_extension/QuickLinks.h"
#include "xpcom/IKXAgentClient.h"
#include "xpcom/nsCOMPtr.h"
#include "xpcom/nsIDOMDocument.h"
#include "xpcom/nsIDOMElement.h"

class CExtensionImpl final : public ffagent_window::ffcomm_t, public IKXAgentClient {
 public:
  explicit CExtensionImpl(std::unique_ptr<ffagent_window::feedback_i> feedback = nullptr);
  ~CExtensionImpl();

  // nsISupports. The count is not atomic: the component lives on the browser's main thread.
  NS_IMETHOD QueryInterface(REFNSIID iid, void** result) override;
  NS_IMETHOD_(PRUint32) AddRef() override;
  NS_IMETHOD_(PRUint32) Release() override;

  // IKXAgentClient.
  NS_IMETHOD Initialize(nsISupports* unused) override;
  NS_IMETHOD Uninitialize(nsISupports* unused) override;
  NS_IMETHOD OnLoad(nsISupports* browser, nsISupports* document, nsISupports* unused) override;
  NS_IMETHOD OnUnload(nsISupports* browser, nsISupports* document, nsISupports* unused) override;
  NS_IMETHOD OnActivate(nsISupports* browser, nsISupports* document, nsISupports* unused) override;
  NS_IMETHOD OnDeactivate(nsISupports* unused) override;
  NS_IMETHOD OnProfileLink(nsISupports* browser, nsISupports* document, const nsAString& inURI,
                           nsAString& outURI, PRBool* result) override;
  NS_IMETHOD OnWindowLoad(nsISupports* browser, nsISupports* document, const nsAString& windowURI,
                          PRBool* handled) override;
  NS_IMETHOD OnWindowUnload(nsISupports* browser, nsISupports* document, const nsAString& windowURI,
                            PRBool* handled) override;
  NS_IMETHOD OnDOMNodeModified(nsISupports* node, PRBool* result) override;
  NS_IMETHOD QuickLinkToProfileLink(const nsAString& inURI, nsAString& outURI) override;

  // The eighteen request handlers (slots 0 to 17).
  void onfillin(kxmessages::fillin_reply_context_t& reply) override;
  void onrequestaborted(const kxmessages::notice_requestaborted_t& n) override;
  void onkxagentversion(const kxmessages::notice_kxaversion_t& n) override;
  void onhighlight(const kxmessages::notice_highlight_t& n) override;
  void onsenddata(const kxmessages::notice_senddata_t& n) override;
  void onchecklogon(kxmessages::checklogon_reply_context_t& reply) override;
  void onstarttraining() override;
  void oncacheupdated() override;
  void onreserved() override {}
  void onaddprofile() override;
  void oneditprofile() override;
  void onstartFLM() override;
  void ondontprompttrainG() override;
  void ondontprompttrainL() override;
  void onshowiconsettings() override;
  void onrequestfillin() override;
  void onstarttrainingpsw() override;
  void onhelp() override;

  // The page questions, answered from the active document's cached state.
  bool thepage_is_trained() override;
  bool thescreen_is_passwordchange() override;
  bool thepage_is_goodforlogon() override;
  void thepage_manifestoptions(std::wstring& iconkey, std::wstring& iconlocation) override;

  // The agent's version threshold (signed comparison).
  static constexpr std::int32_t kMinimumAgentVersion = 0x03140918;
  // The last version an agent announced to any component of this module (0 before any), for the
  // export get_lastknownversion.
  static std::int32_t last_known_version();

  bool agent_ready() const { return m_agentReady; }
  nsIDOMDocument* active_document() const { return m_activeDocument.get(); }
  const kxext::CRequestTable& request_table() const { return m_requests; }
  const kxext::CPageStateCache& page_states() const { return m_pageStates; }

 private:
  void startup();
  void shutdown();
  void pageload(nsISupports* browser, nsISupports* document);
  void pageunload(nsISupports* document);
  void deactivate();
  void activate(nsISupports* browser, nsISupports* document);
  void windowload(nsISupports* browser, nsISupports* document, const nsAString& windowURI, PRBool* handled);
  void windowunload(nsISupports* browser, nsISupports* document, PRBool* handled);
  bool popup_window_found(nsISupports* browser, nsISupports* document, PRBool* handled);
  void domnodemodified(nsISupports* node, PRBool* result);
  void profilelink(nsISupports* browser, const nsAString& inURI, nsAString& outURI, PRBool* result);
  void quicklinktoprofilelink(const nsAString& inURI, nsAString& outURI);

  // Documents.
  nsCOMPtr<nsIDOMDocument> getActiveDocument();
  std::u16string getURL(nsIDOMDocument* document);
  // The active document's URL; false after "null document" or "documenturl is empty".
  bool activeDocumentUrl(std::u16string& url);

  // Recognition and training.
  // |controls|: the activation's controls, built once (null: recognition builds its own). |state|
  // is moved into the page-state cache.
  bool recognizePage(kxext::PageState& state, const ffcontrols* controls = nullptr);
  bool updatePageState(const ffcontrols* controls = nullptr);
  bool getPageState(kxext::PageState& state);
  // The feedback decision; |state| gets the cached state it was made on (|cached| says whether there
  // was one), for placing the icon.
  bool isShowFeedback(std::int32_t& mode, kxext::PageState& state, bool& cached, const ffcontrols* controls = nullptr);
  std::u16string getwebdomainname();
  // Shows the icon as activation decides it, or hides it.
  void showFeedback(const ffcontrols* controls = nullptr);
  bool startTraining(bool passwordRequired);
  // The profile operation on a recognised page (from training or from editing).
  bool sendModifyRequest(kxext::requests::modify_op_t op, bool& recognized);
  std::optional<Manifest> selectedManifest(const kxext::PageState& state);
  // Asks the agent for the fill-in data of |manifest| with |profile|; false when the gate refused.
  bool requestFillData(nsIDOMDocument* document, const Manifest& manifest, std::int32_t profile);
  // The call gate: |message| goes out when the document has nothing pending; |manifest| is kept
  // with the pending request.
  template <class M>
  bool callAgent(nsIDOMDocument* document, std::int32_t operation, M& message, const Manifest& manifest);
  kxmessages::callheader_t callHeader() const;

  // onsenddata's work; answers that arrive while a fill runs wait in m_laterAnswers.
  void senddata(const kxmessages::notice_senddata_t& n);
  static constexpr std::size_t kMaxLaterAnswers = 4;

  // The popup URI this component was given for |document| is forgotten.
  void forgetWindowUri(nsIDOMDocument* document);

  // Quick links.
  void fillInQuickLink(nsIDOMElement* browser);
  kxext::quicklinks::quicklink_info_t get_quicklinkinfo(std::int32_t number);

  nsCOMPtr<nsIDOMDocument> m_activeDocument;
  bool m_agentReady = false;
  kxext::CRequestTable m_requests;
  kxext::CPageStateCache m_pageStates;
  // The URIs of popup documents, as OnWindowLoad gave them (a page cannot write here).
  std::vector<std::pair<nsCOMPtr<nsISupports>, std::u16string>> m_windowUris;
  kxext::quicklinks::profile_links_t m_profileLinks;
  std::deque<kxmessages::notice_senddata_t> m_laterAnswers;
  PRUint32 m_refCount = 0;
};

// Makes the feedback UI of one component.
using feedback_factory_t = std::unique_ptr<ffagent_window::feedback_i> (*)();

// The work of the class-ID entry's constructor (module/): no aggregation, the object allocated with
// the browser's allocator, |iid| queried. |feedback| makes the component's feedback UI (null: none).
nsresult CreateKXAgentClient(nsISupports* outer, const nsIID& iid, void** result, feedback_factory_t feedback);
