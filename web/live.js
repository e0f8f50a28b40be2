// Images of one location as they come: the live WebSocket of the server when it answers,
// else polling of the latest image. The socket sends one binary message per new image: a
// 128-byte little-endian header (parseLiveHeader) and the payload (JPEG or raw pixels).
// A frame handed on is { header, bitmap } (JPEG, PNG) or { header, pixels } (raw: Uint8Array
// for Mono8 and RGB8, Uint16Array for Mono16), header as parseLiveHeader gives it.
import { getImage } from './api.js';

export const HEADER_BYTES = 128;
export const LAYOUT_MONO8 = 0, LAYOUT_MONO16 = 1, LAYOUT_RGB8 = 2;
export const ENCODING_RAW = 0, ENCODING_JPEG = 1;
const POLL_MS = 250;          // fallback: at most four images per second
const RETRY_SOCKET_MS = 15000; // while polling, try the socket again now and then
// Decodes run off the page's thread; with one at a time, a slow decode (tens of ms while the
// browser is busy) let the next message wait behind it. Two overlap that wait.
const MAX_DECODES = 2;

// The header of one live message; throws on a message that is not one.
export function parseLiveHeader(buffer) {
  if (!(buffer instanceof ArrayBuffer) || buffer.byteLength < HEADER_BYTES) {
    throw new Error(`live message of ${buffer?.byteLength ?? 0} bytes is shorter than its header`);
  }
  const d = new DataView(buffer);
  const magic = String.fromCharCode(d.getUint8(0), d.getUint8(1), d.getUint8(2), d.getUint8(3));
  if (magic !== 'MLV1') throw new Error(`live message starts with "${magic}", not "MLV1"`);
  const headerBytes = d.getUint16(4, true);
  if (headerBytes < HEADER_BYTES || headerBytes > buffer.byteLength) {
    throw new Error(`live header of ${headerBytes} bytes does not fit the message of ${buffer.byteLength}`);
  }
  const u32 = (o) => d.getUint32(o, true);
  const f32 = (o) => d.getFloat32(o, true);
  return {
    headerBytes,
    version: d.getUint16(6, true),
    frame: Number(d.getBigUint64(8, true)),
    timestampUs: Number(d.getBigUint64(16, true)),
    width: u32(24),
    height: u32(28),
    deliveredWidth: u32(32),
    deliveredHeight: u32(36),
    bytesPerPixel: d.getUint8(40),
    effectiveBits: d.getUint8(41),
    layout: d.getUint8(42),
    encoding: d.getUint8(43),
    region: { x: u32(44), y: u32(48), width: u32(52), height: u32(56) },
    binning: { x: d.getUint16(60, true) || 1, y: d.getUint16(62, true) || 1 },
    stats: {
      valid: u32(104) === 1,
      cx: f32(64), cy: f32(68), sx: f32(72), sy: f32(76),
      peak: f32(80), peakX: u32(84), peakY: u32(88),
      saturated: u32(92), sum: d.getFloat64(96, true),
    },
    dropped: u32(108),
    sequence: u32(112),
  };
}

// The raw payload as pixels of the header's layout (a view, not a copy).
export function rawPixels(buffer, header) {
  const n = header.width * header.height;
  const offset = header.headerBytes;
  if (header.layout === LAYOUT_MONO16) {
    if (buffer.byteLength - offset < n * 2) throw new Error('raw Mono16 payload shorter than its image');
    // the payload starts at 128, so the 16-bit view is aligned
    return new Uint16Array(buffer, offset, n);
  }
  const need = header.layout === LAYOUT_RGB8 ? n * 3 : n;
  if (buffer.byteLength - offset < need) throw new Error('raw payload shorter than its image');
  return new Uint8Array(buffer, offset, need);
}

// The query of the live socket.
export function liveQuery({ format = 'jpeg', quality = 80, scale = 1 } = {}) {
  const s = Math.min(1, Math.max(0.1, scale));
  return `format=${format}&quality=${quality}&scale=${Number(s.toFixed(3))}`;
}

// A header in the live layout from the polled image's HTTP headers (or raw JSON header).
function headerFromPoll(img) {
  const h = img.header;
  const num = (v, d = 0) => (Number.isFinite(Number(v)) && v !== null && v !== '' ? Number(v) : d);
  const pick = (...keys) => {
    for (const k of keys) {
      let v = h;
      for (const p of k.split('.')) v = v == null ? undefined : v[p];
      if (v !== undefined && v !== null && v !== '') return v;
    }
    return undefined;
  };
  const region = String(pick('region') ?? '').split(',').map(Number);
  const binning = String(pick('binning') ?? '').split(',').map(Number);
  const width = num(pick('width', 'img_ext_prm.width', 'img_prm.w'));
  const height = num(pick('height', 'img_ext_prm.height', 'img_prm.h'));
  const bpp = num(pick('bytes_per_pixel', 'img_prm.bpp'), img.raw ? 2 : 1);
  const rx = num(pick('img_ext_prm.x_start'), region[0] || 0);
  const ry = num(pick('img_ext_prm.y_start'), region[1] || 0);
  return {
    frame: num(pick('frame', 'img_prm.frame')),
    timestampUs: Math.round(num(pick('timestamp')) * 1e6),
    width, height, deliveredWidth: width, deliveredHeight: height,
    bytesPerPixel: bpp,
    effectiveBits: num(pick('effective_bits', 'img_ext_prm.ebitpp'), bpp * 8),
    layout: bpp === 2 ? LAYOUT_MONO16 : bpp >= 3 ? LAYOUT_RGB8 : LAYOUT_MONO8,
    encoding: img.raw ? ENCODING_RAW : -1,  // -1: PNG
    region: { x: rx, y: ry, width: region[2] || width, height: region[3] || height },
    binning: { x: binning[0] || num(pick('img_ext_prm.hbin'), 1) || 1, y: binning[1] || num(pick('img_ext_prm.vbin'), 1) || 1 },
    stats: { valid: false },
    dropped: 0,
    sequence: 0,
  };
}

// Items numbered 1, 2, 3, ... that arrive in any order, given back in the order of their
// numbers: put() returns the items that are now next in line (an item of null stands for a
// number that gives nothing, so it does not hold up the ones after it).
export class InOrder {
  constructor() {
    this.next = 1;
    this.held = new Map();
  }

  put(number, item) {
    this.held.set(number, item);
    const ready = [];
    for (; this.held.has(this.next); this.next++) {
      const it = this.held.get(this.next);
      this.held.delete(this.next);
      if (it !== null) ready.push(it);
    }
    return ready;
  }
}

// Opens the live socket of one location; falls back to polling when it cannot be opened.
// onFrame(frame) gets every decoded image; onState({ transport, error }) the transport
// ('live', 'poll', 'connecting') and the last error. At most MAX_DECODES messages are decoded
// at once and images are handed on in the order they came; a message that arrives while all
// decoders are busy replaces the waiting one.
export class LiveSource {
  constructor(loc, { onFrame, onState, want = () => ({}) }) {
    this.loc = loc;
    this.onFrame = onFrame;
    this.onState = onState;
    this.want = want;             // () => { format, quality, scale }: what to ask the socket for
    this.ws = null;
    this.closed = false;
    this.transport = 'connecting';
    this.decoding = 0;            // decodes running
    this.waiting = null;          // newest undecoded message
    this.received = 0;            // messages taken for decoding, numbered in arrival order
    this.order = new InOrder();   // decoded images back into the order of their messages
    this.skipped = 0;             // messages replaced before they were decoded or drawn
    this.pollTimer = null;
    this.retryTimer = null;
    this.query = '';
    this.raw16 = false;           // polling: the location sends 16-bit images, fetch raw data
    this.openSocket();
  }

  setState(transport, error = '') {
    this.transport = transport;
    this.onState?.({ transport, error });
  }

  openSocket() {
    if (this.closed) return;
    clearTimeout(this.retryTimer);
    if (typeof WebSocket === 'undefined') return this.startPolling('no WebSocket in this browser');
    const proto = location.protocol === 'https:' ? 'wss:' : 'ws:';
    this.query = liveQuery(this.want());
    const url = `${proto}//${location.host}/api/locations/${encodeURIComponent(this.loc)}/live?${this.query}`;
    let opened = false;
    let ws;
    try {
      ws = new WebSocket(url);
    } catch (e) {
      return this.startPolling(e.message);
    }
    ws.binaryType = 'arraybuffer';
    this.ws = ws;
    ws.onopen = () => {
      opened = true;
      this.stopPolling();
      this.setState('live');
    };
    ws.onmessage = (ev) => {
      if (typeof ev.data === 'string') {
        let text = ev.data;
        try { text = JSON.parse(ev.data).error || text; } catch { /* plain text */ }
        this.setState(this.transport, text);
        return;
      }
      if (this.waiting) this.skipped++;
      this.waiting = ev.data;
      this.decodeNext();
    };
    ws.onclose = () => {
      if (this.ws !== ws) return;
      this.ws = null;
      if (this.closed) return;
      // opened once: the server went away or restarted; try again soon, poll meanwhile
      this.startPolling(opened ? 'live connection closed' : '');
    };
  }

  // Asks again with new settings (scale, format) when they differ from the open socket's.
  refresh() {
    if (this.closed || !this.ws || this.transport !== 'live') return;
    const q = liveQuery(this.want());
    if (q === this.query) return;
    const old = this.ws;
    this.ws = null;
    old.onclose = null;
    old.close();
    this.openSocket();
  }

  decodeNext() {
    while (this.decoding < MAX_DECODES && this.waiting && !this.closed) {
      const buffer = this.waiting;
      this.waiting = null;
      this.decoding++;
      this.decode(buffer, ++this.received).finally(() => {
        this.decoding--;
        this.decodeNext();
      });
    }
  }

  // Decodes message `number`; images are handed on in the order of their numbers, so one
  // that finishes before an older one waits for it (a failed decode hands on nothing).
  async decode(buffer, number) {
    let frame = null;
    try {
      const header = parseLiveHeader(buffer);
      if (header.encoding === ENCODING_JPEG) {
        const blob = new Blob([new Uint8Array(buffer, header.headerBytes)], { type: 'image/jpeg' });
        frame = { header, bitmap: await createImageBitmap(blob) };
      } else {
        frame = { header, pixels: rawPixels(buffer, header) };
      }
    } catch (e) {
      this.onState?.({ transport: this.transport, error: `live image not shown: ${e.message}` });
    }
    for (const f of this.order.put(number, frame)) {
      if (this.closed) {
        f.bitmap?.close?.();
        continue;
      }
      f.skipped = this.skipped;
      this.onFrame(f);
    }
  }

  startPolling(reason) {
    if (this.closed) return;
    this.setState('poll', reason);
    if (!this.pollTimer) this.poll();
    clearTimeout(this.retryTimer);
    this.retryTimer = setTimeout(() => this.openSocket(), RETRY_SOCKET_MS);
  }

  stopPolling() {
    clearTimeout(this.pollTimer);
    this.pollTimer = null;
  }

  async poll() {
    this.pollTimer = -1;  // running
    try {
      if (!document.hidden) {
        const img = await getImage(this.loc, this.raw16);
        if (this.closed || this.transport !== 'poll') {
          this.pollTimer = null;
          return;
        }
        if (!img) {
          this.onState?.({ transport: 'poll', error: 'no image yet', noImage: true });
        } else if (img.raw) {
          const header = headerFromPoll(img);
          if (header.bytesPerPixel !== 2) {
            this.raw16 = false;  // no longer 16-bit: PNG again
          } else {
            header.headerBytes = 0;
            const words = new Uint16Array(img.bytes.buffer, img.bytes.byteOffset, header.width * header.height);
            this.onFrame({ header, pixels: words });
          }
        } else {
          const header = headerFromPoll(img);
          if (header.bytesPerPixel === 2) this.raw16 = true;  // 16-bit values need the raw data
          this.onFrame({ header, bitmap: await createImageBitmap(img.blob) });
        }
      }
      this.onState?.({ transport: 'poll', error: '' });
    } catch (e) {
      if (!this.closed) this.onState?.({ transport: 'poll', error: e.message, unreachable: e.status === 0 });
    }
    if (!this.closed && this.transport === 'poll') this.pollTimer = setTimeout(() => this.poll(), POLL_MS);
    else this.pollTimer = null;
  }

  close() {
    this.closed = true;
    this.stopPolling();
    clearTimeout(this.retryTimer);
    if (this.ws) {
      this.ws.onclose = null;
      this.ws.close();
      this.ws = null;
    }
  }
}
