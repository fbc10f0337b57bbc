/* The browser-window script of the extension: every browser window gets one IKXAgentClient
 * component and tells it about the window's pages (load, activation, leaving, unload), its
 * authentication popups, DOM insertions into the active page and quick links.
 *
 * Written for the browser release the component is built against, whose script engine has no
 * arrow functions, classes or template strings. The same file runs under Node for its tests
 * (package/tests/overlay_test.js), with stand-ins for the browser's objects: everything the script
 * takes from the browser comes in through |host|.
 */
var KXAgentClientOverlay = (function () {
  "use strict";

  var CONTRACT_ID = "@kestrix.example/kxagentclient;20.0";
  // Quick links open this page with "#id=N" after it; other pages' "#id=" fragments are theirs.
  var QUICKLINK_PAGE = "chrome://kxagentclient/content/quicklink.html";
  var AUTH_DIALOG = "chrome://global/content/commonDialog.xul";
  // DOM insertions are gathered this long before the component checks them for controls.
  var DOM_SETTLE_MS = 300;
  var STATE_START = 0x1, STATE_IS_DOCUMENT = 0x20000;
  var NS_BINDING_ABORTED = 0x804b0002;

  function isQuickLink(uri) {
    return uri.indexOf(QUICKLINK_PAGE) === 0 && uri.indexOf("#id=") >= 0;
  }

  function isProfileLink(uri) {
    return uri.indexOf("kxprofileid=") >= 0;
  }

  // host: window, gBrowser, windowWatcher, createComponent(), setTimeout(f, ms), clearTimeout(id),
  // log(text).
  function WindowClient(host) {
    this.host = host;
    this.win = host.window;
    this.gBrowser = host.gBrowser;
    this.component = null;
    this.pages = [];     // {document, browser, onInsert}: top-level pages the component was told about
    this.active = null;  // the page the component holds as active
    this.popups = [];    // {popup, browser, uri}
    this.inserted = [];  // element nodes inserted into the active page, not yet checked
    this.timer = null;
    this.bound = [];     // [target, type, handler, capture] to remove at the end
  }

  WindowClient.prototype = {
    start: function () {
      try {
        this.component = this.host.createComponent();
      } catch (e) {
        this.host.log("the component is not available (" + e + "); this window goes without it");
        this.component = null;
        return false;
      }
      this.call("Initialize", [this.win]);
      var self = this;
      this.listen(this.gBrowser, "pageshow", function (e) { self.pageShown(e.originalTarget); }, true);
      this.listen(this.gBrowser, "pagehide", function (e) { self.pageHidden(e.originalTarget); }, true);
      this.listen(this.gBrowser.tabContainer, "TabSelect", function (e) { self.tabSelected(e.target); }, false);
      this.listen(this.gBrowser.tabContainer, "TabClose", function (e) { self.tabClosed(e.target); }, false);
      this.observer = { observe: function (subject, topic) { self.windowNotice(subject, topic); } };
      this.host.windowWatcher.registerNotification(this.observer);
      this.progress = {
        onStateChange: function (browser, webProgress, request, flags) {
          self.stateChanged(browser, webProgress, request, flags);
        }
      };
      this.gBrowser.addTabsProgressListener(this.progress);
      // The first tab's page may have loaded before this window's script ran.
      var browser = this.gBrowser.selectedBrowser;
      var doc = browser && browser.contentDocument;
      if (doc && doc.readyState === "complete") this.pageShown(doc);
      return true;
    },

    stop: function () {
      if (!this.component) return;
      var i;
      for (i = 0; i < this.bound.length; ++i) {
        var b = this.bound[i];
        b[0].removeEventListener(b[1], b[2], b[3]);
      }
      this.bound = [];
      for (i = 0; i < this.pages.length; ++i)
        this.pages[i].document.removeEventListener("DOMNodeInserted", this.pages[i].onInsert, false);
      this.pages = [];
      this.popups = [];
      this.host.windowWatcher.unregisterNotification(this.observer);
      this.gBrowser.removeTabsProgressListener(this.progress);
      if (this.timer !== null) this.host.clearTimeout(this.timer);
      this.timer = null;
      this.inserted = [];
      this.active = null;
      this.call("Uninitialize", [this.win]);
      this.component = null;
    },

    // The component never fails towards the script; a broken wrapper must not break the window.
    call: function (method, args) {
      try {
        this.component[method].apply(this.component, args);
      } catch (e) {
        this.host.log(method + ": " + e);
      }
    },

    listen: function (target, type, handler, capture) {
      target.addEventListener(type, handler, capture);
      this.bound.push([target, type, handler, capture]);
    },

    page: function (doc) {
      for (var i = 0; i < this.pages.length; ++i)
        if (this.pages[i].document === doc) return this.pages[i];
      return null;
    },

    activate: function (page) {
      this.active = page;
      this.call("OnActivate", [page.browser, page.document, null]);
    },

    deactivate: function () {
      if (!this.active) return;
      this.active = null;
      this.inserted = [];
      this.call("OnDeactivate", [null]);
    },

    // A tab's top-level page is shown: loaded, or back from the history cache. Frames are left to
    // the component, which walks them from the top-level document.
    pageShown: function (doc) {
      var view = doc && doc.defaultView;
      if (!view || view.top !== view || this.page(doc)) return;
      var browser = this.gBrowser.getBrowserForDocument(doc);
      if (!browser) return;
      var self = this;
      var page = { document: doc, browser: browser, onInsert: null };
      page.onInsert = function (e) { self.nodeInserted(page, e.target); };
      this.pages.push(page);
      this.call("OnLoad", [browser, doc, null]);
      doc.addEventListener("DOMNodeInserted", page.onInsert, false);
      if (browser === this.gBrowser.selectedBrowser) this.activate(page);
    },

    pageHidden: function (doc) {
      var page = this.page(doc);
      if (page) this.pageGone(page);
    },

    // The page the component holds as active is left before it unloads.
    pageGone: function (page) {
      if (page === this.active) this.deactivate();
      page.document.removeEventListener("DOMNodeInserted", page.onInsert, false);
      this.pages.splice(this.pages.indexOf(page), 1);
      this.call("OnUnload", [page.browser, page.document, null]);
    },

    tabSelected: function (tab) {
      var browser = this.gBrowser.getBrowserForTab(tab);
      var page = browser && this.page(browser.contentDocument);
      if (page) this.activate(page);
      else this.deactivate();  // the new tab's page activates once it has loaded
    },

    tabClosed: function (tab) {
      var browser = this.gBrowser.getBrowserForTab(tab);
      var page = browser && this.page(browser.contentDocument);
      if (page) this.pageGone(page);
      else if (browser === this.gBrowser.selectedBrowser) this.deactivate();
    },

    nodeInserted: function (page, node) {
      if (page !== this.active || !node || node.nodeType !== 1) return;
      this.inserted.push(node);
      if (this.timer !== null) return;
      var self = this;
      this.timer = this.host.setTimeout(function () { self.timer = null; self.checkInserted(); }, DOM_SETTLE_MS);
    },

    // Each outermost inserted element is checked once; the first that holds controls has the page
    // recognised again.
    checkInserted: function () {
      var nodes = this.inserted, page = this.active;
      this.inserted = [];
      if (!page) return;
      for (var i = 0; i < nodes.length; ++i) {
        var node = nodes[i];
        if (node.ownerDocument !== page.document || insideAnother(node, nodes)) continue;
        var hasControls = { value: false };
        this.call("OnDOMNodeModified", [node, hasControls]);
        if (hasControls.value) {
          this.activate(page);
          return;
        }
      }
    },

    windowNotice: function (popup, topic) {
      var self = this;
      if (topic === "domwindowopened") {
        var onload = function () {
          popup.removeEventListener("load", onload, false);
          self.popupLoaded(popup);
        };
        popup.addEventListener("load", onload, false);
      } else if (topic === "domwindowclosed") {
        for (var i = 0; i < this.popups.length; ++i) {
          var p = this.popups[i];
          if (p.popup !== popup) continue;
          this.popups.splice(i, 1);
          this.call("OnWindowUnload", [p.browser, popup.document, p.uri, { value: false }]);
          return;
        }
      }
    },

    // An authentication prompt of this window. The site it asks for is the one the prompt itself
    // names, never the selected tab's: another site (a frame, a background tab) can raise a prompt
    // over any tab. A prompt that names no site gets an empty URI and is not recognised.
    popupLoaded: function (popup) {
      if (!this.component || popup.opener !== this.win || !popup.document ||
          popup.document.documentURI !== AUTH_DIALOG) return;
      var browser = this.gBrowser.selectedBrowser;
      var uri = promptOrigin(popup);
      this.popups.push({ popup: popup, browser: browser, uri: uri });
      this.call("OnWindowLoad", [browser, popup.document, uri, { value: false }]);
    },

    // A tab starts loading a quick link or a profile link: the load stops, the component turns it
    // into the site's own URL (keeping the profile for the fill-in) and the tab loads that instead.
    stateChanged: function (browser, webProgress, request, flags) {
      if (!(flags & STATE_START) || !(flags & STATE_IS_DOCUMENT)) return;
      if (!webProgress || webProgress.DOMWindow !== browser.contentWindow) return;
      var uri = request && request.name;
      if (!uri || (!isQuickLink(uri) && !isProfileLink(uri))) return;
      request.cancel(NS_BINDING_ABORTED);
      if (isQuickLink(uri)) {
        var profileLink = { value: "" };
        this.call("QuickLinkToProfileLink", [uri, profileLink]);
        if (!profileLink.value) {
          this.host.log("no site for the quick link " + uri);
          return;
        }
        uri = profileLink.value;
      }
      var siteURI = { value: uri }, found = { value: false };
      this.call("OnProfileLink", [browser, browser.contentDocument, uri, siteURI, found]);
      if (!found.value || isProfileLink(siteURI.value)) {
        // No agent to take the profile: the site still opens, without it (and without coming back here).
        this.host.log("the profile of " + uri + " was not taken");
        siteURI.value = withoutProfileId(uri);
      }
      browser.loadURI(siteURI.value);
    }
  };

  // The text the prompt shows, from its arguments (the property bag the prompt service hands the
  // common dialog); empty when it cannot be read.
  function promptText(popup) {
    var args = popup.arguments && popup.arguments[0];
    if (!args) return "";
    try {
      if (typeof args.getProperty === "function") return String(args.getProperty("text") || "");
    } catch (e) {
      return "";
    }
    return typeof args.text === "string" ? args.text : "";
  }

  // The origin an authentication prompt names ("https://host[:port]/"), the first one in its text.
  function promptOrigin(popup) {
    var m = /\b(https?|ftp):\/\/([^\s"'\/<>?#]+)/i.exec(promptText(popup));
    return m ? m[1].toLowerCase() + "://" + m[2] + "/" : "";
  }

  // The URI without "kxprofileid=N" and the separator that introduced it.
  function withoutProfileId(uri) {
    var at = uri.indexOf("kxprofileid=");
    var next = uri.indexOf("&", at);
    return next >= 0 ? uri.substring(0, at) + uri.substring(next + 1) : uri.substring(0, Math.max(at - 1, 0));
  }

  function insideAnother(node, nodes) {
    for (var up = node.parentNode; up; up = up.parentNode)
      if (nodes.indexOf(up) >= 0) return true;
    return false;
  }

  // Gives a browser window its component, for as long as the window lives.
  function attach(win) {
    var Cc = Components.classes, Ci = Components.interfaces;
    var client = new WindowClient({
      window: win,
      gBrowser: win.gBrowser,
      windowWatcher: Cc["@mozilla.org/embedcomp/window-watcher;1"].getService(Ci.nsIWindowWatcher),
      createComponent: function () { return Cc[CONTRACT_ID].createInstance(Ci.IKXAgentClient); },
      setTimeout: function (f, ms) { return win.setTimeout(f, ms); },
      clearTimeout: function (id) { win.clearTimeout(id); },
      log: function (text) {
        Cc["@mozilla.org/consoleservice;1"].getService(Ci.nsIConsoleService)
          .logStringMessage("kxagentclient: " + text);
      }
    });
    client.start();
    win.addEventListener("unload", function onunload() {
      win.removeEventListener("unload", onunload, false);
      client.stop();
    }, false);
    return client;
  }

  return {
    CONTRACT_ID: CONTRACT_ID,
    QUICKLINK_PAGE: QUICKLINK_PAGE,
    AUTH_DIALOG: AUTH_DIALOG,
    DOM_SETTLE_MS: DOM_SETTLE_MS,
    WindowClient: WindowClient,
    attach: attach
  };
})();

if (typeof module === "object" && module.exports) {
  module.exports = KXAgentClientOverlay;
} else {
  window.addEventListener("load", function kxagentclientLoad() {
    window.removeEventListener("load", kxagentclientLoad, false);
    KXAgentClientOverlay.attach(window);
  }, false);
}
