#!/usr/bin/env node
// pagesnap: renders one HTML file in headless Chromium and prints the page's snapshot JSON (the
// format is described in docs/snapshot-format.md).
//
//   node pagesnap.js PAGE.html [--url URL [--origin ORIGIN]...] [--out FILE]
//
// With --url the file is served under that address (its frames and other files from the same folder
// under the same origin), so that frames, form actions and the document URL look like the real
// site's. Each --origin (such as https://other.example, or a bare host name for both http and https)
// serves the same folder from its root as well, so that frames of other sites load from files beside
// the page. Every other address is answered with an empty page: the browser never reaches the network.
//
// Frames of the page's origin are recorded with their documents, and so are frames of a served
// origin, marked with that origin: Chromium reaches every frame's document through its debugging
// protocol, out-of-process frames included, as the browser's own code reaches every frame. Frames of
// any other address (which got the empty stand-in page) are recorded as cross-origin, without document.
'use strict';

const fs = require('fs');
const os = require('os');
const path = require('path');
const { chromium } = require('playwright-core');

const CHROMIUM_FLAGS = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

function usage() {
  process.stderr.write('usage: pagesnap.js PAGE.html [--url URL [--origin ORIGIN]...] [--out FILE]\n');
  process.exit(2);
}

function parseArgs(argv) {
  const args = { page: null, url: null, out: null, origins: [] };
  for (let i = 0; i < argv.length; i++) {
    const a = argv[i];
    if (a === '--url') args.url = argv[++i];
    else if (a === '--out') args.out = argv[++i];
    else if (a === '--origin') args.origins.push(argv[++i]);
    else if (!args.page) args.page = a;
    else usage();
  }
  if (!args.page || (args.url === undefined) || (args.out === undefined)) usage();
  if (args.origins.some((o) => !o)) usage();
  if (args.origins.length && !args.url) {
    process.stderr.write('pagesnap: --origin needs --url\n');
    process.exit(2);
  }
  return args;
}

// Whether |url| belongs to one of the --origin values: a full origin, or a bare host name (any scheme).
function servedExtra(url, origins) {
  return origins.some((o) => (o.includes('://') ? new URL(o).origin === url.origin : url.hostname === o.toLowerCase()));
}

// The file of |rel| inside |baseDir|, or null when it leaves the folder or does not exist.
function fileIn(baseDir, rel) {
  const file = path.resolve(baseDir, rel);
  if (!file.startsWith(baseDir + path.sep) || !fs.existsSync(file) || !fs.statSync(file).isFile()) return null;
  return file;
}

const MIME = { '.html': 'text/html', '.htm': 'text/html', '.css': 'text/css', '.js': 'text/javascript',
               '.png': 'image/png', '.gif': 'image/gif', '.svg': 'image/svg+xml' };

// Runs inside each frame: the document's element tree with attributes, text, geometry and control
// state. Frame elements are marked with their position among the document's frame elements; the
// caller fills in their documents.
function serializeDocument() {
  const forms = Array.from(document.forms);
  const frames = Array.from(document.querySelectorAll('iframe, frame'));
  const round = (v) => Math.round(v * 1000) / 1000;
  function control(el) {
    const formIndex = (f) => (f ? forms.indexOf(f) : null);
    const tag = el.localName;
    if (tag === 'input') {
      return { type: el.type, value: el.value, checked: el.checked, form: formIndex(el.form) };
    }
    if (tag === 'select') {
      return { multiple: el.multiple, selectedIndex: el.selectedIndex, form: formIndex(el.form) };
    }
    if (tag === 'button' || tag === 'textarea') return { form: formIndex(el.form) };
    return null;
  }
  function node(n, anonymousOf) {
    if (n.nodeType === Node.TEXT_NODE) return { text: n.data };
    if (n.nodeType !== Node.ELEMENT_NODE) return null;
    const el = n;
    const out = { tag: el.localName };
    if (el.localName === 'textbox') out.xul = true;
    out.attrs = Array.from(el.attributes).map((a) => [a.name, a.value]);
    const r = el.getBoundingClientRect();
    out.rect = [round(r.left), round(r.top), round(r.right), round(r.bottom)];
    out.offset = [el.offsetWidth || 0, el.offsetHeight || 0];
    const c = control(el);
    if (c) out.control = c;
    const fi = frames.indexOf(el);
    if (fi >= 0) out.frameIndex = fi;
    const children = [];
    const anonymous = [];
    for (const child of el.childNodes) {
      const s = node(child);
      if (!s) continue;
      // The inner parts of a XUL-style textbox are its anonymous content.
      if (out.xul && child.nodeType === Node.ELEMENT_NODE && child.hasAttribute('anonid')) anonymous.push(s);
      else children.push(s);
    }
    if (children.length) out.children = children;
    if (anonymous.length) out.anonymous = anonymous;
    return out;
  }
  const children = [];
  for (const child of document.childNodes) {
    const s = node(child);
    if (s) children.push(s);
  }
  return { url: document.URL, title: document.title, children };
}

function findFrameNodes(tree, found) {
  if (!tree || typeof tree !== 'object') return found;
  if (Object.prototype.hasOwnProperty.call(tree, 'frameIndex')) found[tree.frameIndex] = tree;
  for (const key of ['children', 'anonymous']) for (const c of tree[key] || []) findFrameNodes(c, found);
  return found;
}

// |served(origin)|: whether that origin's frames are recorded with their documents.
async function snapFrame(frame, topOrigin, served, depth) {
  const doc = await frame.evaluate(serializeDocument);
  const placeholders = {};
  for (const c of doc.children) findFrameNodes(c, placeholders);
  const handles = await frame.$$('iframe, frame');
  for (let i = 0; i < handles.length; i++) {
    const holder = placeholders[i];
    if (!holder) continue;
    delete holder.frameIndex;
    const child = await handles[i].contentFrame();
    const src = (holder.attrs.find((a) => a[0] === 'src') || [null, ''])[1];
    if (!child || depth > 8) {
      holder.frame = { url: src, crossOrigin: true };
      continue;
    }
    const origin = await child.evaluate(() => location.origin).catch(() => 'null');
    const same = origin === topOrigin && origin !== 'null';
    if (!same && (origin === 'null' || !served(origin))) {
      holder.frame = { url: child.url(), crossOrigin: true };
      continue;
    }
    const document = await snapFrame(child, topOrigin, served, depth + 1);
    holder.frame = same ? { url: child.url(), document } : { url: child.url(), origin, document };
  }
  for (const h of handles) await h.dispose();
  return doc;
}

async function main() {
  const args = parseArgs(process.argv.slice(2));
  const pageFile = path.resolve(args.page);
  if (!fs.existsSync(pageFile)) {
    process.stderr.write(`no such file: ${args.page}\n`);
    process.exit(1);
  }
  const userDataDir = fs.mkdtempSync(path.join(os.tmpdir(), 'pagesnap-'));
  const executablePath = process.env.PAGESNAP_CHROMIUM || '/usr/bin/chromium';
  const context = await chromium.launchPersistentContext(userDataDir, {
    executablePath, headless: true, args: CHROMIUM_FLAGS,  // the fresh profile folder is passed as --user-data-dir
    viewport: { width: 1280, height: 800 }, deviceScaleFactor: 1, offline: false,
  });
  try {
    let target = 'file://' + pageFile;
    if (args.url) {
      const pose = new URL(args.url);
      const baseDir = path.dirname(pageFile);
      const poseDir = pose.pathname.replace(/[^/]*$/, '');
      await context.route('**/*', async (route) => {
        const req = new URL(route.request().url());
        const sameOrigin = req.origin === pose.origin;
        if (sameOrigin && req.pathname === pose.pathname) {
          return route.fulfill({ status: 200, contentType: 'text/html', body: fs.readFileSync(pageFile) });
        }
        const extra = !sameOrigin && servedExtra(req, args.origins);
        if ((sameOrigin && req.pathname.startsWith(poseDir)) || extra) {
          const rel = decodeURIComponent(req.pathname.slice(extra ? 1 : poseDir.length));
          const file = fileIn(baseDir, rel);
          if (file) {
            return route.fulfill({ status: 200, contentType: MIME[path.extname(file)] || 'application/octet-stream',
                                   body: fs.readFileSync(file) });
          }
          return route.fulfill({ status: 404, contentType: 'text/html', body: '' });
        }
        return route.fulfill({ status: 200, contentType: 'text/html', body: '<!DOCTYPE html><html><body></body></html>' });
      });
      target = args.url;
    }
    const page = context.pages()[0] || (await context.newPage());
    await page.goto(target, { waitUntil: 'load' });
    const topOrigin = await page.evaluate(() => location.origin);
    const snapshot = {
      format: 'kx-page-snapshot',
      version: 1,
      url: page.url(),
      screenPixelsPerCSSPixel: await page.evaluate(() => window.devicePixelRatio),
      viewport: [1280, 800],
      document: await snapFrame(page.mainFrame(), topOrigin,
                                (origin) => servedExtra(new URL(origin), args.origins), 0),
    };
    // One line per node and its small arrays, so that snapshots diff well.
    const text = JSON.stringify(snapshot, null, 1)
      .replace(/\[\n\s*([^\[\]{}]*?)\n\s*\]/g, (m, inner) => '[' + inner.split(/,\n\s*/).join(', ') + ']') + '\n';
    if (args.out) fs.writeFileSync(args.out, text);
    else process.stdout.write(text);
  } finally {
    await context.close();
    fs.rmSync(userDataDir, { recursive: true, force: true });
  }
}

main().catch((e) => {
  process.stderr.write(`pagesnap: ${e && e.message ? e.message : e}\n`);
  process.exit(1);
});
