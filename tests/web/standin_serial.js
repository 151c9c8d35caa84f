// A stand-in for a Web Serial port (the SerialPort interface: open({baudRate}), readable,
// writable, getInfo, setSignals, getSignals, close) whose far end is the tests' WebSocket bridge
// to the simulated receiver (tools/web/bridge.mjs). Headless Chromium cannot choose a real port;
// everything above this object is the page's own code. Runs in the page and in Node.
export class StandInPort {
  constructor(url, { WebSocketImpl = globalThis.WebSocket, info = { usbVendorId: 0x0403, usbProductId: 0x6001 } } = {}) {
    this.url = url;
    this.WebSocketImpl = WebSocketImpl;
    this.info = info;
    this.readable = null;
    this.writable = null;
    this.controller = null;
    this.pending = [];
    // Only the tests' port says this: a real Web Serial port never leads to the simulated
    // receiver, so the page sends it no placeholder images.
    this.simulatedReceiver = true;
  }

  getInfo() { return { ...this.info }; }
  async setSignals() {}
  async getSignals() { return { dataCarrierDetect: true, clearToSend: true, ringIndicator: false, dataSetReady: true }; }

  async connectSocket() {
    if (this.ws && this.ws.readyState === 1) return;
    const ws = new this.WebSocketImpl(this.url);
    ws.binaryType = 'arraybuffer';
    await new Promise((resolve, reject) => {
      ws.addEventListener('open', resolve, { once: true });
      ws.addEventListener('error', () => reject(new Error(`cannot reach ${this.url}`)), { once: true });
    });
    ws.addEventListener('message', (event) => {
      if (typeof event.data === 'string') {
        const waiter = this.pending.shift();
        if (waiter) waiter(JSON.parse(event.data));
        return;
      }
      if (this.controller) this.controller.enqueue(new Uint8Array(event.data));
    });
    ws.addEventListener('close', () => {
      // The cable is gone: a reader sees an error, as when a USB adapter is pulled.
      if (this.controller) this.controller.error(new DOMException('The device has been lost.', 'NetworkError'));
      this.controller = null;
    });
    this.ws = ws;
  }

  step(message) {
    return new Promise((resolve) => {
      this.pending.push(resolve);
      this.ws.send(JSON.stringify(message));
    });
  }

  async open({ baudRate }) {
    if (this.readable) throw new DOMException('The port is already open.', 'InvalidStateError');
    if (!Number.isInteger(baudRate) || baudRate <= 0) throw new TypeError('baudRate must be a positive integer');
    await this.connectSocket();
    await this.step({ open: baudRate });
    this.baudRate = baudRate;
    this.readable = new ReadableStream({
      start: (controller) => { this.controller = controller; },
      cancel: () => { this.controller = null; },
    });
    this.writable = new WritableStream({
      write: (chunk) => {
        if (!this.ws || this.ws.readyState !== 1) throw new DOMException('The device has been lost.', 'NetworkError');
        this.ws.send(chunk);
      },
    });
  }

  async close() {
    if (!this.readable) throw new DOMException('The port is already closed.', 'InvalidStateError');
    if (this.readable.locked || this.writable.locked) throw new TypeError('Cannot close a port with locked streams.');
    this.controller = null;
    this.readable = null;
    this.writable = null;
    await this.step({ close: true });
  }

  // The tests' way to pull the cable.
  unplug() { this.ws?.close(); }
}
