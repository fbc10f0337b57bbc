// A window: its document, its frames and, for a frame, the element that holds it.
#pragma once

#include "xpcom/nsISupports.h"

class nsIDOMDocument;
class nsIDOMElement;
class nsIDOMWindowCollection;

// {83547A60-BD2D-42E2-B7A3-796D6CC5F720}
#define NS_IDOMWINDOW_IID \
  { 0x83547a60, 0xbd2d, 0x42e2, { 0xb7, 0xa3, 0x79, 0x6d, 0x6c, 0xc5, 0xf7, 0x20 } }

class nsIDOMWindow : public nsISupports {
 public:
  NS_DECLARE_STATIC_IID_ACCESSOR(NS_IDOMWINDOW_IID)

  NS_IMETHOD GetDocument(nsIDOMDocument** document) = 0;
  NS_IMETHOD GetFrames(nsIDOMWindowCollection** frames) = 0;
  // The <iframe>/<frame> element of the parent document that shows this window; empty for a
  // top-level window.
  NS_IMETHOD GetFrameElement(nsIDOMElement** frameElement) = 0;

 protected:
  ~nsIDOMWindow() = default;
};
