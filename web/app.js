// The page: the desktop window's parts around the same core. It shows the core's list lines
// and boxes as they are, and decides everything from the core's typed events.
import './crypto.js';
import { Core, SerialLine } from './core.js';

const $ = (id) => document.getElementById(id);
const ui = {
  connect: $('connect'), disconnect: $('disconnect'), update: $('update'), save: $('save-report'),
  packageList: $('package-list'), packageFolder: $('package-folder'), packageInput: $('package-input'),
  port: $('port'), firmware: $('firmware'), messages: $('messages'), progress: $('progress'),
  progressText: $('progress-text'), language: $('language'), box: $('box'),
};

const page = {
  core: null, line: null, linked: false, packageLoaded: false, busy: false,
  state: 'idle', // idle, handshake, transfer, awaiting, then the outcome of the ended event
  transfer: null, lastEnd: null, events: 0, boxes: [],
};
window.orvanePage = page; // for a look from the console (and the tests)

// ---- Language: the desktop window's Chinese translation file, read as it is.
const translation = new Map();
async function loadTranslation() {
  try {
    const text = await (await fetch('orvane_zh_CN.ts')).text();
    const doc = new DOMParser().parseFromString(text, 'application/xml');
    for (const message of doc.querySelectorAll('message')) {
      const source = message.querySelector('source')?.textContent;
      const target = message.querySelector('translation')?.textContent;
      if (source && target) translation.set(source, target);
    }
  } catch (e) {
    console.warn('no translation file', e);
  }
}

// "&Update" -> "Update"; "升级(&U)" -> "升级": a page has no mnemonics.
const plain = (text) => text.replace(/\(&.\)/, '').replace(/&(.)/, '$1');

function applyLanguage(language) {
  document.documentElement.lang = language === 'zh' ? 'zh-CN' : 'en';
  for (const element of document.querySelectorAll('[data-text]')) {
    const source = element.dataset.text;
    element.textContent = plain(language === 'zh' && translation.has(source) ? translation.get(source) : source);
  }
  ui.language.value = language;
  localStorage.setItem('orvane-language', language);
}

// ---- The message list and the progress bar, as the core's list and bar peers say. The list
// is kept here and drawn once a frame: a fast line acknowledges blocks far quicker than a
// screen is drawn, and the line must not wait for the drawing.
const lines = [];
let drawn = 0; // lines of `lines` already in the list element
let redraw = false;
let frame = null;
function addLine(index, text) { lines.splice(index, 0, text); drawn = Math.min(drawn, index); }
function deleteLine(index) { lines.splice(index, 1); drawn = Math.min(drawn, index); }
function draw() {
  frame = null;
  const items = ui.messages.children;
  while (items.length > drawn) items[items.length - 1].remove();
  for (let i = drawn; i < lines.length; i++) {
    const item = document.createElement('li');
    item.textContent = lines[i];
    ui.messages.append(item);
  }
  drawn = lines.length;
  ui.messages.querySelector('li.selected')?.classList.remove('selected');
  const last = ui.messages.lastElementChild;
  if (last) {
    last.classList.add('selected');
    last.scrollIntoView({ block: 'nearest' });
  }
  setProgress();
  if (redraw) refresh();
  redraw = false;
}
function drawSoon() {
  if (frame === null) frame = requestAnimationFrame(draw);
}

function setProgress() {
  const t = page.transfer;
  if (!t) {
    ui.progressText.textContent = '';
    return;
  }
  ui.progress.max = Math.max(1, t.upper);
  ui.progress.value = t.position;
  const elapsed = (performance.now() - t.started) / 1000;
  const rate = elapsed > 0.2 ? t.position / elapsed : 0;
  const left = rate > 0 ? Math.round((t.upper - t.position) / rate) : null;
  const time = left === null ? '--:--' : `${Math.floor(left / 60)}:${String(left % 60).padStart(2, '0')}`;
  ui.progressText.textContent = `${t.blocks} blocks, ${Math.round((100 * t.position) / Math.max(1, t.upper))}%, ${time} left`;
}

// ---- Boxes: a notice is shown; a question was answered No by the core, and asks here: Yes
// runs the command again with the answer given (a new handshake after a stall).
const boxQueue = [];
let shownBox = null;
function showBox(box) {
  page.boxes.push(box);
  // A question the operator has answered already (Yes, and the command ran again) is not asked
  // twice.
  if (box.question && box.answered) return;
  boxQueue.push(box);
  if (!ui.box.open) nextBox();
}
function nextBox() {
  const box = boxQueue.shift();
  shownBox = box || null;
  if (!box) return;
  $('box-caption').textContent = box.caption;
  $('box-text').textContent = box.text;
  $('box-yes').hidden = $('box-no').hidden = !box.question;
  $('box-ok').hidden = box.question;
  ui.box.dataset.question = box.question ? 'yes' : 'no';
  ui.box.returnValue = '';
  ui.box.showModal();
}
ui.box.addEventListener('close', () => {
  if (shownBox?.question && ui.box.returnValue === 'yes') page.line.update(true);
  nextBox();
});

// ---- The core's events.
function onEvents(events) {
  for (const e of events) {
    page.events++;
    switch (e.type) {
      case 'line': addLine(e.index, e.text); break;
      case 'deleteLine': deleteLine(e.index); break;
      case 'range': ui.progress.max = Math.max(1, e.upper - e.lower); break;
      case 'pos': ui.progress.value = e.pos; break;
      case 'marquee': if (e.on) ui.progress.removeAttribute('value'); else ui.progress.value = 0; break;
      case 'box': showBox(e); break;
      case 'handshakeStarted': page.state = 'handshake'; page.transfer = null; break;
      case 'answered': page.answered = e; break;
      case 'blockSent':
        if (e.index === 1) page.transfer = { started: performance.now(), blocks: 0, position: 0, upper: e.upper };
        page.state = 'transfer';
        Object.assign(page.transfer, { blocks: e.index, position: e.position, upper: e.upper });
        break;
      case 'blockAcknowledged': if (page.transfer) page.transfer.acknowledged = e.index; break;
      case 'awaitingCompletion': page.state = 'awaiting'; break;
      case 'ended': page.state = e.outcome; page.lastEnd = e; break;
      default: break;
    }
  }
  redraw = true;
  // The state the tests and the buttons read is current at once; the drawing follows.
  document.body.dataset.state = page.state;
  drawSoon();
}

function refresh() {
  const serial = 'serial' in navigator;
  ui.connect.disabled = !serial || page.linked || page.busy;
  ui.disconnect.disabled = !page.linked || page.busy;
  ui.update.disabled = !page.linked || !page.packageLoaded || page.busy;
  ui.save.disabled = !page.lastEnd && page.state === 'idle';
  document.body.dataset.state = page.state;
  document.body.dataset.linked = page.linked ? 'yes' : 'no';
  document.body.dataset.package = page.packageLoaded ? 'yes' : 'no';
}

// ---- Firmware packages: every file goes into the core, which checks them all.
function describe(result) {
  return `${result.release}${result.date ? ` (${result.date})` : ''}, signed by key ${result.signedBy}`;
}
function takePackage(folder, files) {
  const result = page.core.loadPackage(folder, files);
  if (result.ok) {
    page.packageLoaded = true;
    ui.firmware.textContent = describe(result);
  } else {
    showBox({ caption: 'Orvane Update', text: result.error, error: true, question: false });
  }
  document.body.dataset.packageResult = result.ok ? 'ok' : 'refused';
  refresh();
  return result;
}

async function loadServerPackage(folder) {
  const base = new URL(folder.endsWith('/') ? folder : `${folder}/`, location.href);
  const fetchBytes = async (name) => {
    const response = await fetch(new URL(name, base));
    return response.ok ? new Uint8Array(await response.arrayBuffer()) : null;
  };
  const files = [];
  for (const name of ['manifest.json', 'manifest.json.minisig']) {
    const bytes = await fetchBytes(name);
    if (bytes) files.push({ name, bytes });
  }
  // Which image files to fetch: the names the manifest lists. The core checks the manifest and
  // every file against its signature; nothing here is trusted.
  let listed = [];
  try {
    const manifest = JSON.parse(new TextDecoder().decode(files.find((f) => f.name === 'manifest.json')?.bytes));
    listed = Object.values(manifest.images || {}).map((image) => image.file).filter((f) => typeof f === 'string' && !f.includes('/'));
  } catch { /* the core says what is wrong with it */ }
  for (const name of listed) {
    const bytes = await fetchBytes(name);
    if (bytes) files.push({ name, bytes });
  }
  return takePackage(folder.replace(/\/$/, ''), files);
}

async function loadLocalPackage(fileList) {
  const files = [];
  let folder = '';
  for (const file of fileList) {
    const parts = (file.webkitRelativePath || file.name).split('/');
    if (parts.length > 2) continue; // only the package folder itself
    if (parts.length === 2) folder = parts[0];
    files.push({ name: parts[parts.length - 1], bytes: new Uint8Array(await file.arrayBuffer()) });
  }
  return takePackage(folder, files);
}

// ---- The port.
async function connect() {
  page.busy = true;
  refresh();
  try {
    const port = await navigator.serial.requestPort();
    const info = port.getInfo();
    const label = info.usbVendorId !== undefined
      ? `USB ${info.usbVendorId.toString(16).padStart(4, '0')}:${(info.usbProductId ?? 0).toString(16).padStart(4, '0')}`
      : 'serial port';
    await page.line.connect(port, { simulated: port.simulatedReceiver === true, label });
    page.linked = page.core.isLinked();
    ui.port.textContent = label;
    port.addEventListener?.('disconnect', () => page.line.lost('disconnected'));
  } catch (e) {
    if (e.name !== 'NotFoundError') showBox({ caption: 'Orvane Update', text: `The port cannot be opened: ${e.message}`, error: true, question: false });
  } finally {
    page.busy = false;
    refresh();
  }
}

async function disconnect() {
  page.busy = true;
  refresh();
  await page.line.disconnect();
  page.linked = false;
  page.busy = false;
  ui.port.textContent = '-';
  refresh();
}

function saveReport() {
  const report = page.core.report();
  const blob = new Blob([`${JSON.stringify(report, null, 2)}\n`], { type: 'application/json' });
  const a = document.createElement('a');
  a.href = URL.createObjectURL(blob);
  a.download = `orvane-report-${(report.identifier || 'receiver').replace(/[^A-Za-z0-9_-]/g, '_')}.json`;
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(a.href), 1000);
  page.savedReport = report;
}

async function start() {
  await loadTranslation();
  const stored = localStorage.getItem('orvane-language');
  applyLanguage(stored || (navigator.language.startsWith('zh') ? 'zh' : 'en'));
  $('no-serial').hidden = 'serial' in navigator;

  page.core = await Core.load(globalThis.OrvaneCore);
  page.line = new SerialLine(page.core, { onEvents, log: (m) => console.log(m) });
  const stall = Number(new URLSearchParams(location.search).get('stall'));
  if (stall > 0) page.core.setStallLimit(stall * 1000);

  // The trusted keys and the packages the page's publisher put beside it.
  let config = { trustedKeys: [], packages: [] };
  try { config = await (await fetch('orvane-web.json')).json(); } catch { /* none */ }
  for (const key of config.trustedKeys || []) {
    const response = await fetch(key);
    const problem = page.core.addTrustedKey(response.ok ? await response.text() : '', key);
    if (problem) console.warn(problem);
  }
  for (const p of config.packages || []) {
    const option = document.createElement('option');
    option.value = p.folder;
    option.textContent = p.label || p.folder;
    ui.packageList.append(option);
  }

  ui.language.addEventListener('change', () => applyLanguage(ui.language.value));
  ui.connect.addEventListener('click', connect);
  ui.disconnect.addEventListener('click', disconnect);
  ui.update.addEventListener('click', () => page.line.update(false));
  ui.save.addEventListener('click', saveReport);
  ui.packageList.addEventListener('change', () => { if (ui.packageList.value) loadServerPackage(ui.packageList.value); });
  ui.packageFolder.addEventListener('click', () => ui.packageInput.click());
  ui.packageInput.addEventListener('change', () => loadLocalPackage(ui.packageInput.files));
  page.loadServerPackage = loadServerPackage;
  document.body.dataset.ready = 'yes';
  refresh();
}

start();
