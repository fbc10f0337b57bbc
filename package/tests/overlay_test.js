// The browser-window script under Node, over stand-ins of the browser's tab, window and window
// watcher objects and a component that records its calls.
"use strict";
const test = require("node:test");
const assert = require("node:assert/strict");
const path = require("node:path");

const overlay = require(path.join(__dirname, "..", "content", "overlay.js"));

class Target {
  constructor() { this.listeners = []; }
  addEventListener(type, fn, capture) { this.listeners.push({ type, fn, capture: !!capture }); }
  removeEventListener(type, fn, capture) {
    this.listeners = this.listeners.filter((l) => !(l.type === type && l.fn === fn && l.capture === !!capture));
  }
  dispatch(type, event) {
    for (const l of this.listeners.slice()) if (l.type === type) l.fn(event);
  }
}

class Node {
  constructor(doc, name, parent, hasControls) {
    this.nodeType = 1;
    this.ownerDocument = doc;
    this.name = name;
    this.parentNode = parent || null;
    this.hasControls = !!hasControls;
  }
  toString() { return this.name; }
}

class Document extends Target {
  constructor(url, { top = null, readyState = "complete", documentURI } = {}) {
    super();
    this.url = url;
    this.documentURI = documentURI || url;
    this.readyState = readyState;
    this.defaultView = {};
    this.defaultView.top = top ? top.defaultView : this.defaultView;
  }
  toString() { return this.url; }
  insert(name, { parent = null, hasControls = false, text = false } = {}) {
    const node = new Node(this, name, parent, hasControls);
    if (text) node.nodeType = 3;
    this.dispatch("DOMNodeInserted", { target: node });
    return node;
  }
}

class Browser {
  constructor(name) {
    this.name = name;
    this.contentDocument = new Document("about:blank", { readyState: "uninitialized" });
    this.contentWindow = {};
    this.loads = [];
  }
  get currentURI() { return { spec: this.contentDocument.url }; }
  loadURI(uri) { this.loads.push(uri); }
  toString() { return this.name; }
}

// The tabbrowser: tabs, the selected one, page events from the tabs' documents.
class TabBrowser extends Target {
  constructor() {
    super();
    this.tabContainer = new Target();
    this.tabs = [];
    this.progressListeners = [];
    this.selectedBrowser = null;
  }
  getBrowserForTab(tab) { return tab.linkedBrowser; }
  getBrowserForDocument(doc) {
    const tab = this.tabs.find((t) => t.linkedBrowser.contentDocument === doc);
    return tab ? tab.linkedBrowser : null;
  }
  addTabsProgressListener(l) { this.progressListeners.push(l); }
  removeTabsProgressListener(l) { this.progressListeners = this.progressListeners.filter((x) => x !== l); }

  openTab(name) {
    const tab = { linkedBrowser: new Browser(name) };
    this.tabs.push(tab);
    if (!this.selectedBrowser) this.selectedBrowser = tab.linkedBrowser;
    this.tabContainer.dispatch("TabOpen", { target: tab });
    return tab;
  }
  select(tab) {
    this.selectedBrowser = tab.linkedBrowser;
    this.tabContainer.dispatch("TabSelect", { target: tab });
  }
  // A top-level navigation: the old page hides, the new one shows.
  load(tab, url) {
    const browser = tab.linkedBrowser;
    const old = browser.contentDocument;
    if (old.readyState === "complete") this.dispatch("pagehide", { originalTarget: old });
    browser.contentDocument = new Document(url);
    this.dispatch("pageshow", { originalTarget: browser.contentDocument });
    return browser.contentDocument;
  }
  loadFrame(tab, url) {
    const doc = new Document(url, { top: tab.linkedBrowser.contentDocument });
    this.dispatch("pageshow", { originalTarget: doc });
    return doc;
  }
  close(tab) {
    this.tabContainer.dispatch("TabClose", { target: tab });
    this.tabs = this.tabs.filter((t) => t !== tab);
    this.dispatch("pagehide", { originalTarget: tab.linkedBrowser.contentDocument });
    if (this.selectedBrowser === tab.linkedBrowser && this.tabs.length) this.select(this.tabs[0]);
  }
  // The start of a top-level document load, as the tabs progress listeners see it.
  startLoad(tab, uri) {
    const browser = tab.linkedBrowser;
    const request = { name: uri, cancelled: null, cancel(status) { this.cancelled = status; } };
    for (const l of this.progressListeners)
      l.onStateChange(browser, { DOMWindow: browser.contentWindow }, request, 0x1 | 0x20000 | 0x40000, 0);
    return request;
  }
}

class WindowWatcher {
  constructor() { this.observers = []; }
  registerNotification(o) { this.observers.push(o); }
  unregisterNotification(o) { this.observers = this.observers.filter((x) => x !== o); }
  open(popup) {
    for (const o of this.observers) o.observe(popup, "domwindowopened", null);
    popup.dispatch("load", {});
  }
  close(popup) {
    for (const o of this.observers) o.observe(popup, "domwindowclosed", null);
  }
}

class Popup extends Target {
  constructor(opener, documentURI, text) {
    super();
    this.opener = opener;
    this.document = new Document(documentURI, { documentURI });
    // The prompt's arguments: a property bag with the text it shows.
    this.arguments = [{ getProperty: (name) => (name === "text" ? text : undefined) }];
  }
}

// Records each call as "Method(arg, ...)"; out values as a component with a running agent gives them.
class Component {
  constructor({ agentReady = true, quickLinks = {} } = {}) {
    this.calls = [];
    this.agentReady = agentReady;
    this.quickLinks = quickLinks;
  }
  record(name, args) { this.calls.push(name + "(" + args.map((a) => (a === null ? "null" : String(a))).join(", ") + ")"); }
  Initialize(w) { this.record("Initialize", [w]); }
  Uninitialize(w) { this.record("Uninitialize", [w]); }
  OnLoad(b, d) { this.record("OnLoad", [b, d]); }
  OnUnload(b, d) { this.record("OnUnload", [b, d]); }
  OnActivate(b, d) { this.record("OnActivate", [b, d]); }
  OnDeactivate() { this.record("OnDeactivate", []); }
  OnWindowLoad(b, d, uri, handled) { this.record("OnWindowLoad", [b, d, uri]); handled.value = true; }
  OnWindowUnload(b, d, uri, handled) { this.record("OnWindowUnload", [b, d, uri]); handled.value = true; }
  OnDOMNodeModified(node, out) { this.record("OnDOMNodeModified", [node]); out.value = node.hasControls; }
  QuickLinkToProfileLink(uri, out) {
    this.record("QuickLinkToProfileLink", [uri]);
    const id = uri.split("#id=")[1];
    out.value = this.quickLinks[id] || "";
  }
  OnProfileLink(b, d, uri, out, found) {
    this.record("OnProfileLink", [b, uri]);
    if (!this.agentReady) return;  // the gate leaves the out values alone
    out.value = uri.replace(/[?&#]kxprofileid=\d*$/, "").replace(/kxprofileid=\d*&/, "");
    found.value = true;
  }
}

function browserWindow({ component = new Component(), firstPage = "https://start.example.test/" } = {}) {
  const gBrowser = new TabBrowser();
  const win = new Target();
  win.toString = () => "window";
  const watcher = new WindowWatcher();
  const timers = [];
  const log = [];
  const tab1 = gBrowser.openTab("b1");
  if (firstPage) {
    tab1.linkedBrowser.contentDocument = new Document(firstPage);
  }
  const client = new overlay.WindowClient({
    window: win,
    gBrowser,
    windowWatcher: watcher,
    createComponent() {
      if (!component) throw new Error("Components.classes[contract] is undefined");
      return component;
    },
    setTimeout(fn, ms) { timers.push({ fn, ms }); return timers.length; },
    clearTimeout(id) { timers[id - 1] = null; },
    log(text) { log.push(text); },
  });
  const runTimers = () => {
    const due = timers.splice(0).filter(Boolean);
    for (const t of due) {
      assert.equal(t.ms, overlay.DOM_SETTLE_MS);
      t.fn();
    }
  };
  // The calls made by |step| alone.
  const callsOf = (step) => {
    const from = component.calls.length;
    step();
    return component.calls.slice(from);
  };
  return { gBrowser, win, watcher, client, component, tab1, log, runTimers, callsOf };
}

test("start-up: the window's component is initialised and the page already shown is loaded and activated", () => {
  const w = browserWindow();
  assert.equal(w.client.start(), true);
  assert.deepEqual(w.component.calls, [
    "Initialize(window)",
    "OnLoad(b1, https://start.example.test/)",
    "OnActivate(b1, https://start.example.test/)",
  ]);
});

test("tabs: open, switch and close", () => {
  const w = browserWindow();
  w.client.start();
  const { gBrowser, tab1, callsOf } = w;
  let tab2;
  // A tab opened in the background: its page is loaded, not activated.
  assert.deepEqual(callsOf(() => { tab2 = gBrowser.openTab("b2"); gBrowser.load(tab2, "https://two.example.test/"); }),
    ["OnLoad(b2, https://two.example.test/)"]);
  assert.deepEqual(callsOf(() => gBrowser.select(tab2)), ["OnActivate(b2, https://two.example.test/)"]);
  assert.deepEqual(callsOf(() => gBrowser.select(tab1)), ["OnActivate(b1, https://start.example.test/)"]);
  // Closing the selected tab: its page is left, unloaded once, and the next tab activates.
  gBrowser.select(tab2);
  assert.deepEqual(callsOf(() => gBrowser.close(tab2)), [
    "OnDeactivate()",
    "OnUnload(b2, https://two.example.test/)",
    "OnActivate(b1, https://start.example.test/)",
  ]);
  // A background tab closes without touching the active page.
  const tab3 = gBrowser.openTab("b3");
  gBrowser.load(tab3, "https://three.example.test/");
  assert.deepEqual(callsOf(() => gBrowser.close(tab3)), ["OnUnload(b3, https://three.example.test/)"]);
});

test("tabs: a new tab selected before its page has loaded", () => {
  const w = browserWindow();
  w.client.start();
  const { gBrowser, callsOf } = w;
  const tab2 = gBrowser.openTab("b2");
  assert.deepEqual(callsOf(() => gBrowser.select(tab2)), ["OnDeactivate()"]);
  assert.deepEqual(callsOf(() => gBrowser.load(tab2, "https://two.example.test/")), [
    "OnLoad(b2, https://two.example.test/)",
    "OnActivate(b2, https://two.example.test/)",
  ]);
  // Closing it again before the next selection: nothing is left active twice.
  assert.deepEqual(callsOf(() => gBrowser.close(tab2)), [
    "OnDeactivate()",
    "OnUnload(b2, https://two.example.test/)",
    "OnActivate(b1, https://start.example.test/)",
  ]);
});

test("pages: navigation in the selected tab, frames, and a page back from the history cache", () => {
  const w = browserWindow();
  w.client.start();
  const { gBrowser, tab1, callsOf } = w;
  assert.deepEqual(callsOf(() => gBrowser.load(tab1, "https://login.example.test/")), [
    "OnDeactivate()",
    "OnUnload(b1, https://start.example.test/)",
    "OnLoad(b1, https://login.example.test/)",
    "OnActivate(b1, https://login.example.test/)",
  ]);
  assert.deepEqual(callsOf(() => gBrowser.loadFrame(tab1, "https://ads.example.test/frame")), []);
  // The same document shown twice is told once.
  assert.deepEqual(callsOf(() => gBrowser.dispatch("pageshow", { originalTarget: tab1.linkedBrowser.contentDocument })), []);
  const doc = tab1.linkedBrowser.contentDocument;
  gBrowser.dispatch("pagehide", { originalTarget: doc });
  assert.deepEqual(callsOf(() => gBrowser.dispatch("pageshow", { originalTarget: doc })), [
    "OnLoad(b1, https://login.example.test/)",
    "OnActivate(b1, https://login.example.test/)",
  ]);
});

test("authentication popups of this window", () => {
  const w = browserWindow();
  w.client.start();
  const { watcher, win, callsOf } = w;
  // The selected tab shows https://start.example.test/; the prompt was raised by another site, and
  // that site is what the component is told.
  const prompt = new Popup(win, overlay.AUTH_DIALOG,
                           'https://auth.other.example:8443 is requesting your username and password. The site says: "x"');
  prompt.document.toString = () => "prompt";
  assert.deepEqual(callsOf(() => watcher.open(prompt)), ["OnWindowLoad(b1, prompt, https://auth.other.example:8443/)"]);
  assert.deepEqual(callsOf(() => watcher.close(prompt)), ["OnWindowUnload(b1, prompt, https://auth.other.example:8443/)"]);
  // A prompt that names no site is never taken for the tab's site.
  const vague = new Popup(win, overlay.AUTH_DIALOG, "Enter your password");
  vague.document.toString = () => "vague";
  assert.deepEqual(callsOf(() => watcher.open(vague)), ["OnWindowLoad(b1, vague, )"]);
  watcher.close(vague);
  // Another window's prompt, and a window of this one that is no prompt, are not ours.
  const other = new Popup(new Target(), overlay.AUTH_DIALOG);
  const downloads = new Popup(win, "chrome://mozapps/content/downloads/downloads.xul");
  assert.deepEqual(callsOf(() => {
    watcher.open(other);
    watcher.open(downloads);
    watcher.close(other);
    watcher.close(downloads);
  }), []);
});

test("quick links and profile links", () => {
  const component = new Component({ quickLinks: { 3: "https://bank.example.test/login?kxprofileid=17" } });
  const w = browserWindow({ component });
  w.client.start();
  const { gBrowser, tab1, callsOf } = w;
  const link = overlay.QUICKLINK_PAGE + "#id=3";
  let request;
  assert.deepEqual(callsOf(() => { request = gBrowser.startLoad(tab1, link); }), [
    "QuickLinkToProfileLink(" + link + ")",
    "OnProfileLink(b1, https://bank.example.test/login?kxprofileid=17)",
  ]);
  assert.equal(request.cancelled, 0x804b0002);
  assert.deepEqual(tab1.linkedBrowser.loads, ["https://bank.example.test/login"]);

  // A profile link from outside (the agent opening a site) loses its profile ID before loading.
  tab1.linkedBrowser.loads = [];
  assert.deepEqual(callsOf(() => gBrowser.startLoad(tab1, "https://mail.example.test/?kxprofileid=4&lang=en")),
    ["OnProfileLink(b1, https://mail.example.test/?kxprofileid=4&lang=en)"]);
  assert.deepEqual(tab1.linkedBrowser.loads, ["https://mail.example.test/?lang=en"]);

  // A quick link without a site stops there; a site's own "#id=" is no quick link.
  tab1.linkedBrowser.loads = [];
  assert.deepEqual(callsOf(() => gBrowser.startLoad(tab1, overlay.QUICKLINK_PAGE + "#id=99")),
    ["QuickLinkToProfileLink(" + overlay.QUICKLINK_PAGE + "#id=99)"]);
  const plain = gBrowser.startLoad(tab1, "https://wiki.example.test/page#id=3");
  assert.equal(plain.cancelled, null);
  assert.deepEqual(tab1.linkedBrowser.loads, []);
});

test("profile links while the agent is not running still open the site, once", () => {
  const w = browserWindow({ component: new Component({ agentReady: false }) });
  w.client.start();
  const { gBrowser, tab1 } = w;
  gBrowser.startLoad(tab1, "https://mail.example.test/inbox?kxprofileid=4");
  assert.deepEqual(tab1.linkedBrowser.loads, ["https://mail.example.test/inbox"]);
  gBrowser.startLoad(tab1, "https://mail.example.test/?kxprofileid=4&lang=en");
  assert.deepEqual(tab1.linkedBrowser.loads.slice(1), ["https://mail.example.test/?lang=en"]);
});

test("DOM insertions into the active page: outermost elements checked once, controls recognise again", () => {
  const w = browserWindow();
  w.client.start();
  const { gBrowser, tab1, runTimers, callsOf } = w;
  const doc = tab1.linkedBrowser.contentDocument;
  const tab2 = gBrowser.openTab("b2");
  const background = gBrowser.load(tab2, "https://two.example.test/");
  assert.deepEqual(callsOf(() => {
    const panel = doc.insert("panel");
    doc.insert("label", { parent: panel });
    doc.insert("#text", { text: true });
    background.insert("elsewhere", { hasControls: true });
    doc.insert("banner");
  }), []);
  assert.deepEqual(callsOf(runTimers), ["OnDOMNodeModified(panel)", "OnDOMNodeModified(banner)"]);
  assert.deepEqual(callsOf(() => {
    doc.insert("menu");
    doc.insert("loginform", { hasControls: true });
    doc.insert("footer");
    runTimers();
  }), [
    "OnDOMNodeModified(menu)",
    "OnDOMNodeModified(loginform)",
    "OnActivate(b1, https://start.example.test/)",
  ]);
  // Insertions pending when the page is left are dropped.
  assert.deepEqual(callsOf(() => { doc.insert("late", { hasControls: true }); gBrowser.select(tab2); runTimers(); }),
    ["OnActivate(b2, https://two.example.test/)"]);
});

test("window close: the component is uninitialised and nothing of the script stays behind", () => {
  const w = browserWindow();
  w.client.start();
  const { gBrowser, watcher, tab1, callsOf } = w;
  const doc = tab1.linkedBrowser.contentDocument;
  doc.insert("pending");
  assert.deepEqual(callsOf(() => w.client.stop()), ["Uninitialize(window)"]);
  assert.deepEqual(gBrowser.listeners, []);
  assert.deepEqual(gBrowser.tabContainer.listeners, []);
  assert.deepEqual(doc.listeners, []);
  assert.deepEqual(watcher.observers, []);
  assert.deepEqual(gBrowser.progressListeners, []);
  assert.deepEqual(callsOf(() => { w.runTimers(); gBrowser.load(tab1, "https://after.example.test/"); }), []);
});

test("a window without the component goes on without it", () => {
  const w = browserWindow({ component: null });
  assert.equal(w.client.start(), false);
  assert.match(w.log[0], /the component is not available/);
  assert.deepEqual(w.gBrowser.listeners, []);
  w.client.stop();
});

test("a component call that throws does not stop the window's script", () => {
  const component = new Component();
  component.OnLoad = () => { throw new Error("NS_ERROR_XPC_BAD_CONVERT_JS"); };
  const w = browserWindow({ component });
  w.client.start();
  assert.deepEqual(component.calls, ["Initialize(window)", "OnActivate(b1, https://start.example.test/)"]);
  assert.match(w.log[0], /^OnLoad: Error: NS_ERROR_XPC_BAD_CONVERT_JS/);
});

// The browser release the script runs in parses none of these; Node would not notice them.
test("the script keeps to the language of the browser release it runs in", () => {
  const fs = require("node:fs");
  const source = fs.readFileSync(path.join(__dirname, "..", "content", "overlay.js"), "utf8")
    .replace(/\/\*[\s\S]*?\*\//g, "").replace(/\/\/.*$/gm, "").replace(/"(?:[^"\\]|\\.)*"/g, '""');
  for (const [what, pattern] of [["arrow function", /=>/], ["template string", /`/], ["class", /\bclass\b/],
                                 ["let", /\blet\b/], ["spread", /\.\.\./], ["for-of", /\bfor\s*\([^)]*\bof\b/]])
    assert.doesNotMatch(source, pattern, what);
});
