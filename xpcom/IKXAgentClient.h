// The interface the suite's browser extension calls on the component, one object per browser window.
#pragma once

#include "xpcom/nsISupports.h"
#include "xpcom/nsStringAPI.h"

// {6B1E2C4A-9D37-4F0E-A5C1-3E8D72B40F19}
#define IKXAGENTCLIENT_IID \
  { 0x6b1e2c4a, 0x9d37, 0x4f0e, { 0xa5, 0xc1, 0x3e, 0x8d, 0x72, 0xb4, 0x0f, 0x19 } }

// The component's class: {D4A3F6E2-51B8-4C7D-9E20-7F16C8A5B3E4}
#define KXAGENTCLIENT_CID \
  { 0xd4a3f6e2, 0x51b8, 0x4c7d, { 0x9e, 0x20, 0x7f, 0x16, 0xc8, 0xa5, 0xb3, 0xe4 } }
#define KXAGENTCLIENT_CONTRACTID "@kestrix.example/kxagentclient;20.0"

class IKXAgentClient : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(IKXAGENTCLIENT_IID)

  NS_IMETHOD Initialize(nsISupports* unused) = 0;
  NS_IMETHOD Uninitialize(nsISupports* unused) = 0;
  NS_IMETHOD OnLoad(nsISupports* browser, nsISupports* document, nsISupports* unused) = 0;
  NS_IMETHOD OnUnload(nsISupports* browser, nsISupports* document, nsISupports* unused) = 0;
  NS_IMETHOD OnActivate(nsISupports* browser, nsISupports* document, nsISupports* unused) = 0;
  NS_IMETHOD OnDeactivate(nsISupports* unused) = 0;
  NS_IMETHOD OnProfileLink(nsISupports* browser, nsISupports* document, const nsAString& inURI,
                           nsAString& outURI, PRBool* result) = 0;
  NS_IMETHOD OnWindowLoad(nsISupports* browser, nsISupports* document, const nsAString& windowURI,
                          PRBool* handled) = 0;
  NS_IMETHOD OnWindowUnload(nsISupports* browser, nsISupports* document, const nsAString& windowURI,
                            PRBool* handled) = 0;
  NS_IMETHOD OnDOMNodeModified(nsISupports* node, PRBool* result) = 0;
  NS_IMETHOD QuickLinkToProfileLink(const nsAString& inURI, nsAString& outURI) = 0;

 protected:
  ~IKXAgentClient() = default;
};
