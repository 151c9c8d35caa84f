// The updater's core (the C++ protocol core and update logic as WebAssembly, src/web) and the
// line that runs it over a Web Serial port. The core never waits: this file feeds it the bytes
// that arrive and the time, writes what it asks for after the delay it names, makes its speed
// changes (drain, close, reopen), and hands its typed events to the page.

// The module made by orvane-core.js (`OrvaneCore`), with the functions the page calls.
export class Core {
  static async load(factory, options = {}) {
    const module = await factory(options);
    return new Core(module);
  }

  constructor(module) {
    this.m = module;
    this.call = (name, ret, types, args) => module.ccall(name, ret, types, args);
  }

  setNow(ms) { return this.m._orvane_set_now(ms); }
  link(simulated, label) { return this.call('orvane_link', 'number', ['number', 'string'], [simulated ? 1 : 0, label]) === 1; }
  unlink() { this.m._orvane_unlink(); }
  portLost() { this.m._orvane_port_lost(); }
  isLinked() { return this.m._orvane_is_linked() === 1; }
  update(confirmed = false) { this.m._orvane_update(confirmed ? 1 : 0); }
  setStallLimit(ms) { this.m._orvane_set_stall_limit(ms); }

  feed(bytes) {
    if (!bytes.length) return;
    const p = this.m._malloc(bytes.length);
    this.m.HEAPU8.set(bytes, p);
    this.m._orvane_feed(p, bytes.length);
    this.m._free(p);
  }

  // [{kind: 'frame', delay, bytes} | {kind: 'speed', baud}], in order.
  takeOutput() {
    const n = this.m._orvane_take_output();
    const out = [];
    for (let i = 0; i < n; i++) {
      if (this.m._orvane_output_kind(i) === 1) {
        out.push({ kind: 'speed', baud: this.m._orvane_output_baud(i) });
      } else {
        const p = this.m._orvane_output_data(i);
        const size = this.m._orvane_output_size(i);
        out.push({ kind: 'frame', delay: this.m._orvane_output_delay(i), bytes: this.m.HEAPU8.slice(p, p + size) });
      }
    }
    return out;
  }

  takeEvents() { return JSON.parse(this.m.UTF8ToString(this.m._orvane_take_events())); }
  report() { return JSON.parse(this.m.UTF8ToString(this.m._orvane_report())); }
  addTrustedKey(text, label) { return this.call('orvane_add_trusted_key', 'string', ['string', 'string'], [text, label]); }

  // files: [{name, bytes}] of one package folder. Checked completely in the core.
  loadPackage(folder, files) {
    this.m._orvane_package_clear();
    for (const { name, bytes } of files) {
      const p = this.m._malloc(Math.max(1, bytes.length));
      this.m.HEAPU8.set(bytes, p);
      this.call('orvane_package_add', null, ['string', 'number', 'number'], [name, p, bytes.length]);
      this.m._free(p);
    }
    return JSON.parse(this.call('orvane_package_load', 'string', ['string'], [folder]));
  }
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// Runs a core over one port with the Web Serial interface (open({baudRate}), readable,
// writable, getInfo, close). onEvents(events) gets the core's events as they come.
export class SerialLine {
  constructor(core, { onEvents = () => {}, now = () => performance.now(), log = () => {} } = {}) {
    this.core = core;
    this.onEvents = onEvents;
    this.now = now;
    this.log = log;
    this.port = null;
    this.queue = [];
    this.writing = false;
    this.timer = null;
    this.reopenGaps = []; // ms from closing the port to writing again at the new speed
    this.bytesWritten = 0;
  }

  // Opens the port at 9600 baud, as every boot loader starts, and links the core to it.
  async connect(port, { simulated = false, label = '' } = {}) {
    this.port = port;
    await port.open({ baudRate: 9600 });
    this.baud = 9600;
    this.startReading();
    this.core.link(simulated, label);
    this.service();
  }

  async disconnect() {
    this.core.unlink();
    this.queue = [];
    this.service();
    await this.closePort();
    this.port = null;
  }

  update(confirmed = false) {
    this.core.update(confirmed);
    this.service();
  }

  startReading() {
    const reader = this.port.readable.getReader();
    this.reader = reader;
    this.reading = (async () => {
      for (;;) {
        let chunk;
        try {
          chunk = await reader.read();
        } catch (e) {
          if (this.reader === reader) this.lost(e);
          return;
        }
        if (chunk.done) return;
        this.core.feed(chunk.value);
        this.service();
      }
    })();
  }

  async closePort() {
    const port = this.port;
    if (!port) return;
    if (this.reader) {
      const reader = this.reader;
      this.reader = null;
      try { await reader.cancel(); } catch (e) { /* already gone */ }
      reader.releaseLock();
      await this.reading;
    }
    if (this.writer) {
      const writer = this.writer;
      this.writer = null;
      try { await writer.ready; } catch (e) { /* already gone */ }
      writer.releaseLock();
    }
    try { await port.close(); } catch (e) { /* already closed */ }
  }

  lost(error) {
    this.log(`port lost: ${error}`);
    this.queue = [];
    this.core.portLost();
    this.service();
  }

  // After every call into the core: the time (timers that are due run), what it wants
  // written, its events, and a wake-up for its next timer.
  service() {
    if (this.timer !== null) clearTimeout(this.timer);
    this.timer = null;
    const next = this.core.setNow(this.now());
    const taken = this.now();
    for (const out of this.core.takeOutput()) {
      this.queue.push({ ...out, notBefore: taken + (out.delay || 0) });
    }
    if (this.queue.length && !this.writing) this.writeQueue();
    const events = this.core.takeEvents();
    if (events.length) this.onEvents(events);
    if (next >= 0) {
      this.timer = setTimeout(() => { this.timer = null; this.service(); }, Math.max(1, Math.ceil(next)));
    }
  }

  async writeQueue() {
    this.writing = true;
    try {
      while (this.queue.length && this.port) {
        const out = this.queue.shift();
        if (out.kind === 'speed') {
          await this.reopen(out.baud);
          continue;
        }
        const wait = out.notBefore - this.now();
        if (wait > 0) await sleep(wait);
        if (!this.port) break;
        if (!this.writer) this.writer = this.port.writable.getWriter();
        await this.writer.write(out.bytes);
        this.bytesWritten += out.bytes.length;
        if (this.gapStart !== undefined) {
          this.reopenGaps.push(this.now() - this.gapStart);
          this.gapStart = undefined;
        }
      }
    } catch (e) {
      this.lost(e);
    } finally {
      this.writing = false;
    }
  }

  // Web Serial cannot change the speed of an open port: what was written drains, the port
  // closes and opens again at the new speed, and reading goes on.
  async reopen(baud) {
    if (baud === this.baud) return;
    this.gapStart = this.now();
    await this.closePort();
    await this.port.open({ baudRate: baud });
    this.baud = baud;
    this.startReading();
    this.log(`reopened at ${baud} baud in ${(this.now() - this.gapStart).toFixed(1)} ms`);
  }
}
