// The browser's native windows, found among the windows of the calling thread (the browser's UI
// thread): its top-level frame, the page's content area and a modal authentication dialog.
#pragma once

#include <windows.h>

// The search data of findPopupAuth.
struct popup_search_t {
  HWND hwndTopLevel = nullptr;   // in: the browser's top-level window
  HWND hwndPopupAuth = nullptr;  // out: the dialog found
};

// The first top-level window of this thread of class "MozillaWindowClass"; null when none.
HWND findTopLevel();
// The first child of |top| of class "MozillaContentWindowClass" when it is visible; null otherwise.
HWND findBrowserContent(HWND top);
// The first window of this thread with a caption and a modal frame, owned by |top|.
HWND findPopupAuth(HWND top);
// The first child of the authentication dialog, or else of the content area; null when neither.
HWND findPageWindow(HWND top);
