// Live image of one location: draws the images at the display's pace (one draw per
// animation frame, the oldest of at most DRAW_QUEUE waiting images first), with zoom, a grey or false-colour scale over an adjustable
// window, the pixel under the cursor in sensor coordinates, profiles through the cursor or
// the beam's centroid, the beam's centroid and RMS ellipse, a histogram and the region tool.
import { LiveSource, LAYOUT_MONO16, LAYOUT_RGB8, ENCODING_JPEG, ENCODING_RAW } from './live.js';

// False-colour palette (black - blue - cyan - green - yellow - red - white), 256 RGB entries.
function makePalette() {
  const stops = [[0, 0, 0, 0], [0.15, 0, 0, 160], [0.35, 0, 170, 255], [0.5, 0, 200, 60],
    [0.7, 255, 230, 0], [0.88, 255, 40, 0], [1, 255, 255, 255]];
  const pal = new Uint8Array(256 * 3);
  for (let i = 0; i < 256; i++) {
    const t = i / 255;
    let k = 0;
    while (k < stops.length - 2 && t > stops[k + 1][0]) k++;
    const [t0, r0, g0, b0] = stops[k];
    const [t1, r1, g1, b1] = stops[k + 1];
    const f = (t - t0) / (t1 - t0);
    pal[i * 3] = Math.round(r0 + (r1 - r0) * f);
    pal[i * 3 + 1] = Math.round(g0 + (g1 - g0) * f);
    pal[i * 3 + 2] = Math.round(b0 + (b1 - b0) * f);
  }
  return pal;
}
export const PALETTE = makePalette();

const SCALE_STEPS = [0.25, 0.5, 0.75, 1];  // few sizes, so viewers share the server's encodings
const RATE_WINDOW_MS = 2000;
// Decoded images that wait for an animation frame. Decodes finish in bursts (two or three
// within one display refresh when the browser is busy, more so as they are handed on in
// order); keeping three draws them a refresh apart instead of dropping all but the newest.
// The display refreshes faster than cameras deliver, so the queue empties again at once.
const DRAW_QUEUE = 3;
const PROFILE_MS = 100;
const HISTOGRAM_MS = 1000;

function fmtRate(r) {
  return Number.isFinite(r) ? `${r.toFixed(1)} fps` : '–';
}

// A rate in a narrow box: the figure, then a smaller unit.
function showRate(box, r) {
  const text = fmtRate(r);
  if (box.textContent === text) return;
  if (!Number.isFinite(r)) {
    box.textContent = text;
    return;
  }
  const unit = document.createElement('small');
  unit.className = 'unit';
  unit.textContent = ' fps';
  box.replaceChildren(r.toFixed(1), unit);
}

// A camera that delivers nothing for this long gets a note on its image (a triggered camera
// may be that slow, so the image is not greyed for it).
export const QUIET_MS = 5000;

// The scroll offset along one axis that keeps the image point at the middle of the view where
// it was while the shown image changes from `before` to `after` CSS pixels; an image smaller
// than the view sits in its middle, unscrolled.
export function scrollKeepingMiddle({ scroll, viewBefore, viewAfter = viewBefore, before, after }) {
  if (!(before > 0) || !(after > 0)) return 0;
  const margin = (view, size) => Math.max(0, (view - size) / 2);
  const f = (scroll + viewBefore / 2 - margin(viewBefore, before)) / before;  // fraction of the image
  const at = Math.min(1, Math.max(0, f)) * after + margin(viewAfter, after) - viewAfter / 2;
  return Math.round(Math.max(0, Math.min(Math.max(0, after - viewAfter), at)));
}

// Local wall-clock time HH:MM:SS of a time in ms since the epoch.
export function formatClock(ms) {
  const d = new Date(ms);
  return [d.getHours(), d.getMinutes(), d.getSeconds()].map((v) => String(v).padStart(2, '0')).join(':');
}

// An age in ms for people: "8 s", "2 min 5 s", "1 h 3 min".
export function formatAge(ms) {
  const s = Math.max(0, Math.floor(ms / 1000));
  if (s < 60) return `${s} s`;
  if (s < 3600) return `${Math.floor(s / 60)} min ${s % 60} s`;
  return `${Math.floor(s / 3600)} h ${Math.floor((s % 3600) / 60)} min`;
}

// What the image area says about the age of its image. stale: the image and its beam marks
// are greyed (the server is not reachable, or the location is off line); corner: a quiet note
// beside the image instead of a message across it; text null: nothing to say about the age
// (the area keeps its own message while it has no image).
export function imageNotice({ hasImage, online, unreachable, receivedAt, now }) {
  const dated = hasImage && Number.isFinite(receivedAt);
  const since = () => `${formatClock(receivedAt)}, ${formatAge(now - receivedAt)} ago`;
  if (unreachable) return { stale: true, corner: false, text: dated ? `Server not reachable: last image at ${since()}` : 'Server not reachable' };
  if (!online) return { stale: true, corner: false, text: dated ? `Off line: last image at ${since()}` : 'The location is off line' };
  if (dated && now - receivedAt > QUIET_MS) return { stale: false, corner: true, text: `No new image since ${since()}` };
  return { stale: false, corner: false, text: hasImage ? '' : null };
}

function fmtNum(v, digits = 1) {
  if (!Number.isFinite(v)) return '–';
  const a = Math.abs(v);
  if (a >= 1e6) return v.toExponential(3);
  return v.toFixed(a >= 1000 || Number.isInteger(v) ? 0 : digits);
}

export class ImageView {
  // el: { canvas, overlay, stage, viewport, message, info, histogram, zoomLabel, falseColour,
  //       profileH, profileV, profileMode, beamOverlay, transfer, cursor, beam, beamNote, levels,
  //       colourBar, windowMin, windowMax, windowAuto, windowFull, lut, rateDrawn,
  //       rateCamera, dropped, transport, regionTool, fullFrame }
  // onRegion(rect in feature units {x, y, width, height}), onFullFrame()
  constructor(el, { onRegion, onFullFrame } = {}) {
    this.el = el;
    this.onRegion = onRegion;
    this.onFullFrame = onFullFrame;
    this.ctx = el.canvas.getContext('2d', { willReadFrequently: true });
    this.octx = el.overlay.getContext('2d');
    this.loc = null;
    this.source = null;
    this.zoom = 0;               // 0: fit the viewport
    this.frame = null;           // the image on the canvas
    this.queue = [];             // decoded, waiting for animation frames (oldest first)
    this.drawn = 0;
    this.drawTimes = [];
    this.skippedLocal = 0;
    this.cameraRate = null;
    this.online = true;
    this.unreachable = false;
    this.receivedAt = NaN;       // wall-clock time (ms) the image on the canvas was drawn
    this.waitingText = '';       // the image area's message while it has no image
    this.transport = '';
    this.cursor = null;          // delivered-image pixel under the mouse
    this.drag = null;
    this.propStats = null;       // statistics from the location's STATS.* properties
    this.window = null;          // { lo, hi, top } in pixel units
    this.imageData = null;
    this.lastProfile = 0;
    this.lastHistogram = 0;
    this.histogram = null;
    this.overlayDirty = true;
    this.rafPending = false;
    this.bindEvents();
    new ResizeObserver(() => this.layout()).observe(el.viewport);
    setInterval(() => this.renderNotice(), 1000);  // the age in the notice, and images that stop coming
  }

  // ---- location and source ----------------------------------------------------------------

  show(loc) {
    if (loc === this.loc) return;
    this.source?.close();
    this.source = null;
    this.loc = loc;
    this.frame?.bitmap?.close?.();
    this.frame = null;
    for (const f of this.queue) f.bitmap?.close?.();
    this.queue = [];
    this.drawn = 0;
    this.drawTimes = [];
    this.skippedLocal = 0;
    this.window = null;
    this.propStats = null;
    this.histogram = null;
    const c = this.el.canvas;
    c.width = c.width;  // clears
    c.dataset.frame = '';
    c.dataset.drawn = '0';
    c.dataset.transport = 'connecting';
    this.el.info.textContent = '';
    this.receivedAt = NaN;
    // another camera's image starts whole: a zoom and scroll made for one sensor hide the
    // beam of another
    this.zoom = 0;
    this.el.zoomLabel.textContent = 'fit';
    this.el.viewport.scrollLeft = this.el.viewport.scrollTop = 0;
    this.waitingText = loc ? 'Waiting for the first image…' : 'No location selected';
    this.renderNotice();
    if (!loc) return;
    this.source = new LiveSource(loc, {
      onFrame: (f) => this.accept(f),
      onState: (s) => this.sourceState(s),
      want: () => this.wanted(),
    });
    this.schedule();
  }

  // What to ask the live socket for: JPEG for 8-bit and colour, raw for 16-bit (exact values
  // for the window), at the smallest of a few scales that still fills the displayed size.
  wanted() {
    const h = this.frame?.header;
    const mode = this.el.transfer.value;
    const sixteen = h ? h.layout === LAYOUT_MONO16 : false;
    const format = mode === 'raw' || (mode === 'auto' && sixteen) ? 'raw' : 'jpeg';
    let scale = 1;
    if (h && this.zoom === 0) {
      const dpr = window.devicePixelRatio || 1;
      const need = this.displayScale() * dpr;
      scale = SCALE_STEPS.find((s) => s >= need - 1e-6) || 1;
    } else if (h && this.zoom < 1) {
      scale = SCALE_STEPS.find((s) => s >= this.zoom * (window.devicePixelRatio || 1) - 1e-6) || 1;
    }
    return { format, quality: 80, scale };
  }

  sourceState({ transport, error, noImage, unreachable }) {
    this.transport = transport;
    this.el.canvas.dataset.transport = transport;
    this.el.transport.textContent = transport === 'live' ? 'live' : transport === 'poll' ? 'polling' : '…';
    this.el.transport.title = transport === 'live'
      ? 'Images come through the live connection as the camera delivers them'
      : `Images are fetched a few times per second${error ? ` (${error})` : ''}`;
    this.el.transport.className = `pill ${transport === 'live' ? 'on' : 'neutral'}`;
    if (unreachable) this.unreachable = true;
    if (noImage) this.waitingText = 'No image yet';
    else if (error && transport !== 'poll') this.waitingText = error;
    this.renderNotice();
  }

  setCameraRate(fps, online) {
    this.cameraRate = fps;
    this.online = online;
    this.renderNotice();
    this.renderRates();
  }

  setUnreachable(bad) {
    this.unreachable = bad;
    this.renderNotice();
    this.renderRates();
  }

  // Greys the image, its beam marks and statistics while they are old, and says since when.
  renderNotice() {
    const n = imageNotice({ hasImage: !!this.frame, online: this.online, unreachable: this.unreachable,
      receivedAt: this.receivedAt, now: Date.now() });
    const key = `${n.stale}|${n.corner}|${n.text ?? this.waitingText}`;
    if (key === this.noticeKey) return;  // called for every image drawn: touch the page only on a change
    this.noticeKey = key;
    this.el.canvas.classList.toggle('stale', n.stale);
    this.el.stage.classList.toggle('stale', n.stale);
    this.el.beam.classList.toggle('stale', n.stale);
    const note = n.stale ? 'sensor pixels · of the last image' : 'sensor pixels';
    if (this.el.beamNote.textContent !== note) this.el.beamNote.textContent = note;
    this.el.message.classList.toggle('corner', n.corner);
    this.setMessage(n.text ?? this.waitingText);
  }

  setPropertyStats(stats) {
    this.propStats = stats;
    this.overlayDirty = true;
    this.schedule();
  }

  setMessage(text) {
    if (this.el.message.textContent !== (text || '')) this.el.message.textContent = text || '';
    this.el.message.hidden = !text;
  }

  // ---- frames -----------------------------------------------------------------------------

  accept(frame) {
    this.queue.push(frame);
    while (this.queue.length > DRAW_QUEUE) {
      this.skippedLocal++;
      this.queue.shift().bitmap?.close?.();
    }
    this.schedule();
  }

  schedule() {
    if (this.rafPending) return;
    this.rafPending = true;
    requestAnimationFrame(() => {
      this.rafPending = false;
      this.tick();
    });
  }

  tick() {
    const now = performance.now();
    if (this.queue.length) {
      const f = this.queue.shift();
      this.draw(f);
      this.drawn++;
      this.drawTimes.push(now);
      this.el.canvas.dataset.drawn = String(this.drawn);
    }
    while (this.drawTimes.length && now - this.drawTimes[0] > RATE_WINDOW_MS) this.drawTimes.shift();
    if (this.frame && now - this.lastProfile > PROFILE_MS) {
      this.lastProfile = now;
      this.drawProfiles();
      this.updateCursorReadout();
    }
    if (this.frame && now - this.lastHistogram > HISTOGRAM_MS) {
      this.lastHistogram = now;
      this.computeHistogram();
    }
    if (this.overlayDirty) this.drawOverlay();
    if (!this.lastRates || now - this.lastRates > 500) {
      this.lastRates = now;
      this.renderRates();
    }
    // keep ticking while images come (the rate display falls to 0 when they stop)
    if (this.source && (this.drawTimes.length || this.queue.length)) this.schedule();
  }

  drawnRate() {
    const t = this.drawTimes;
    if (t.length < 2 || performance.now() - t[t.length - 1] > RATE_WINDOW_MS / 2) return 0;
    return (t.length - 1) * 1000 / (t[t.length - 1] - t[0]);
  }

  renderRates() {
    // the last rate heard from a server that went away is not the camera's rate now
    const camera = this.unreachable ? NaN : this.online ? this.cameraRate : 0;
    showRate(this.el.rateDrawn, this.source ? this.drawnRate() : 0);
    showRate(this.el.rateCamera, camera ?? NaN);
    const server = this.frame?.header?.dropped ?? 0;
    const local = this.skippedLocal + (this.frame?.skipped ?? 0);
    this.el.dropped.textContent = String(server + local);
    this.el.dropped.title = `${server} dropped by the server for this viewer, ${local} not drawn by the viewer`;
  }

  draw(f) {
    const h = f.header;
    const c = this.el.canvas;
    const prev = this.frame;
    if (c.width !== h.width || c.height !== h.height) {
      c.width = h.width;
      c.height = h.height;
      this.imageData = null;
    }
    const newShape = !prev || prev.header.deliveredWidth !== h.deliveredWidth ||
      prev.header.deliveredHeight !== h.deliveredHeight;
    const newDepth = !prev || prev.header.layout !== h.layout || prev.header.effectiveBits !== h.effectiveBits;
    const newKind = newDepth || !!prev.bitmap !== !!f.bitmap;  // decoded image or raw values
    if (newDepth || !this.window) this.resetWindow(h);
    if (f.bitmap) {
      this.ctx.drawImage(f.bitmap, 0, 0);
    } else {
      this.putPixels(f.pixels, h);
    }
    prev?.bitmap?.close?.();
    this.frame = f;
    c.dataset.frame = String(h.frame);
    c.dataset.delivered = `${h.deliveredWidth}x${h.deliveredHeight}`;
    if (newShape) this.layout();
    if (newKind) this.applyLevels();
    if (newDepth) this.source?.refresh();  // 16-bit wants raw data
    this.receivedAt = Date.now();
    this.renderNotice();
    this.overlayDirty = true;
    this.renderInfo();
  }

  putPixels(px, h) {
    const n = h.width * h.height;
    if (!this.imageData) this.imageData = this.ctx.createImageData(h.width, h.height);
    const out = new Uint32Array(this.imageData.data.buffer);
    if (h.layout === LAYOUT_RGB8) {
      for (let i = 0, j = 0; i < n; i++, j += 3) out[i] = 0xff000000 | (px[j + 2] << 16) | (px[j + 1] << 8) | px[j];
    } else if (h.layout === LAYOUT_MONO16) {
      const lut = this.lut16();
      for (let i = 0; i < n; i++) out[i] = lut[px[i]];
    } else {
      for (let i = 0; i < n; i++) { const v = px[i]; out[i] = 0xff000000 | (v << 16) | (v << 8) | v; }
    }
    this.ctx.putImageData(this.imageData, 0, 0);
  }

  // 16-bit values through the window to grey (the palette is the filter's job).
  lut16() {
    const w = this.window;
    const key = `${w.lo}|${w.hi}`;
    if (this.lutKey === key) return this.lut;
    this.lutKey = key;
    this.lut = this.lut || new Uint32Array(65536);
    const span = Math.max(1, w.hi - w.lo);
    for (let v = 0; v < 65536; v++) {
      const g = Math.max(0, Math.min(255, Math.round(((v - w.lo) / span) * 255)));
      this.lut[v] = 0xff000000 | (g << 16) | (g << 8) | g;
    }
    return this.lut;
  }

  renderInfo() {
    const h = this.frame.header;
    const key = `${h.frame >= 0}|${h.deliveredWidth}|${h.deliveredHeight}|${h.width}|${h.layout}|${h.encoding}|${h.region.x}|${h.region.y}|${h.region.width}|${h.region.height}|${h.binning.x}|${h.binning.y}|${h.effectiveBits}`;
    if (key === this.infoKey) return;  // the text changes with the image's shape, not every frame
    this.infoKey = key;
    const kind = h.layout === LAYOUT_RGB8 ? 'RGB' : h.layout === LAYOUT_MONO16 ? `16-bit (${h.effectiveBits} effective)` : '8-bit grey';
    const enc = h.encoding === ENCODING_JPEG ? 'JPEG' : h.encoding === ENCODING_RAW ? 'raw' : 'PNG';
    const scaled = h.width !== h.deliveredWidth ? ` shown at ${h.width} × ${h.height}` : '';
    this.el.info.textContent = `${h.deliveredWidth} × ${h.deliveredHeight} ${kind} · ` +
      `region ${h.region.x}, ${h.region.y} ${h.region.width} × ${h.region.height}` +
      (h.binning.x > 1 || h.binning.y > 1 ? ` · binning ${h.binning.x} × ${h.binning.y}` : '') +
      ` · ${enc}${scaled}`;
  }

  // ---- levels: window and false colour ----------------------------------------------------

  resetWindow(h) {
    const top = h.layout === LAYOUT_MONO16 ? (2 ** Math.min(16, h.effectiveBits || 16)) - 1 : 255;
    this.window = { lo: 0, hi: top, top };
    this.lutKey = null;
    this.el.windowMin.max = this.el.windowMax.max = String(top);
    this.el.windowMin.value = '0';
    this.el.windowMax.value = String(top);
  }

  setWindow(lo, hi) {
    if (!this.window) return;
    const top = this.window.top;
    lo = Math.max(0, Math.min(top - 1, Math.round(lo)));
    hi = Math.max(lo + 1, Math.min(top, Math.round(hi)));
    this.window.lo = lo;
    this.window.hi = hi;
    this.el.windowMin.value = String(lo);
    this.el.windowMax.value = String(hi);
    this.applyLevels();
    if (this.frame?.pixels && this.frame.header.layout === LAYOUT_MONO16) this.putPixels(this.frame.pixels, this.frame.header);
  }

  autoWindow() {
    const hist = this.histogram;
    if (!hist) return;
    // from the 0.1 % to the 99.9 % point of the histogram
    const total = hist.counts.reduce((a, b) => a + b, 0);
    let acc = 0, lo = 0, hi = hist.counts.length - 1;
    for (let i = 0; i < hist.counts.length; i++) { acc += hist.counts[i]; if (acc >= total * 0.001) { lo = i; break; } }
    acc = 0;
    for (let i = hist.counts.length - 1; i >= 0; i--) { acc += hist.counts[i]; if (acc >= total * 0.001) { hi = i; break; } }
    this.setWindow(lo * hist.binWidth, (hi + 1) * hist.binWidth - 1);
  }

  // The canvas shows grey; a CSS filter with a lookup table applies window and palette.
  applyLevels() {
    const h = this.frame?.header;
    const mono = h && h.layout !== LAYOUT_RGB8;
    this.el.levels.hidden = !mono;
    this.el.falseColour.disabled = !mono;
    const fc = mono && this.el.falseColour.checked;
    const w = this.window;
    // raw 16-bit data has the window applied already; a JPEG of 16-bit data holds its
    // effective bits shifted down to 8
    const raw16 = h?.layout === LAYOUT_MONO16 && !!this.frame.pixels;
    const k = h?.layout === LAYOUT_MONO16 ? 255 / w.top : 1;
    const lo = !mono || raw16 ? 0 : Math.round(w.lo * k);
    const hi = !mono || raw16 ? 255 : Math.round(w.hi * k);
    const identity = !fc && lo === 0 && hi === 255;
    this.el.canvas.style.filter = mono && !identity ? 'url(#image-lut)' : '';
    const r = [], g = [], b = [];
    for (let i = 0; i < 256; i++) {
      const t = Math.max(0, Math.min(1, (i - lo) / Math.max(1, hi - lo)));
      if (fc) {
        const k = Math.round(t * 255) * 3;
        r.push((PALETTE[k] / 255).toFixed(4)); g.push((PALETTE[k + 1] / 255).toFixed(4)); b.push((PALETTE[k + 2] / 255).toFixed(4));
      } else {
        const v = t.toFixed(4);
        r.push(v); g.push(v); b.push(v);
      }
    }
    const [fr, fg, fb] = this.el.lut.querySelectorAll('feFuncR, feFuncG, feFuncB');
    fr.setAttribute('tableValues', r.join(' '));
    fg.setAttribute('tableValues', g.join(' '));
    fb.setAttribute('tableValues', b.join(' '));
    this.drawColourBar(fc);
  }

  drawColourBar(fc) {
    const c = this.el.colourBar;
    const ctx = c.getContext('2d');
    if (c.width !== 256) { c.width = 256; c.height = 1; }
    const img = ctx.createImageData(256, 1);
    for (let i = 0; i < 256; i++) {
      img.data[i * 4] = fc ? PALETTE[i * 3] : i;
      img.data[i * 4 + 1] = fc ? PALETTE[i * 3 + 1] : i;
      img.data[i * 4 + 2] = fc ? PALETTE[i * 3 + 2] : i;
      img.data[i * 4 + 3] = 255;
    }
    ctx.putImageData(img, 0, 0);
  }

  // ---- histogram ----------------------------------------------------------------------------

  computeHistogram() {
    const f = this.frame;
    const h = f.header;
    const bins = 256;
    const counts = new Uint32Array(bins);
    const top = this.window?.top ?? 255;
    const binWidth = Math.max(1, Math.ceil((top + 1) / bins));
    if (f.pixels && h.layout === LAYOUT_MONO16) {
      const px = f.pixels;
      for (let i = 0; i < px.length; i += 3) counts[Math.min(bins - 1, (px[i] / binWidth) | 0)]++;
    } else if (f.pixels && h.layout !== LAYOUT_RGB8) {
      const px = f.pixels;
      for (let i = 0; i < px.length; i += 3) counts[px[i]]++;
    } else {
      const c = this.el.canvas;
      const d = this.ctx.getImageData(0, 0, c.width, c.height).data;
      const rgb = h.layout === LAYOUT_RGB8;
      for (let i = 0; i < d.length; i += 12) counts[rgb ? ((d[i] * 77 + d[i + 1] * 150 + d[i + 2] * 29) >> 8) : d[i]]++;
    }
    this.histogram = { counts, binWidth };
    drawHistogram(this.el.histogram, counts, this.window && h.layout !== LAYOUT_RGB8 ? [this.window.lo / binWidth, this.window.hi / binWidth] : null);
  }

  // ---- geometry -----------------------------------------------------------------------------

  // CSS pixels per delivered pixel.
  displayScale() {
    const h = this.frame?.header;
    if (!h) return 1;
    if (this.zoom > 0) return this.zoom;
    const vw = this.el.viewport.clientWidth - 2, vh = this.el.viewport.clientHeight - 2;
    return Math.max(0.02, Math.min(4, vw / h.deliveredWidth, vh / h.deliveredHeight));
  }

  // A new zoom keeps the image point at the middle of the view where it is (the beam one
  // looks at stays in sight).
  setZoom(z) {
    const vp = this.el.viewport, st = this.el.stage;
    const before = { w: st.offsetWidth, h: st.offsetHeight, vw: vp.clientWidth, vh: vp.clientHeight, x: vp.scrollLeft, y: vp.scrollTop };
    this.zoom = z;
    this.layout();
    if (this.frame) {
      vp.scrollLeft = scrollKeepingMiddle({ scroll: before.x, viewBefore: before.vw, viewAfter: vp.clientWidth, before: before.w, after: st.offsetWidth });
      vp.scrollTop = scrollKeepingMiddle({ scroll: before.y, viewBefore: before.vh, viewAfter: vp.clientHeight, before: before.h, after: st.offsetHeight });
    }
    this.source?.refresh();
  }

  zoomBy(factor) {
    const z = Math.min(16, Math.max(1 / 16, this.displayScale() * factor));
    this.setZoom(z);
  }

  layout() {
    const h = this.frame?.header;
    if (!h) return;
    const s = this.displayScale();
    const w = Math.round(h.deliveredWidth * s), hh = Math.round(h.deliveredHeight * s);
    const st = this.el.stage.style;
    st.width = `${w}px`;
    st.height = `${hh}px`;
    this.el.canvas.classList.toggle('pixelated', s * h.deliveredWidth / h.width > 1.5);
    const dpr = window.devicePixelRatio || 1;
    const o = this.el.overlay;
    if (o.width !== Math.round(w * dpr) || o.height !== Math.round(hh * dpr)) {
      o.width = Math.round(w * dpr);
      o.height = Math.round(hh * dpr);
    }
    this.el.zoomLabel.textContent = this.zoom === 0 ? `fit (${Math.round(s * 100)} %)` : `${Math.round(s * 100)} %`;
    this.overlayDirty = true;
    this.lastProfile = 0;
    this.schedule();
    clearTimeout(this.refreshTimer);
    this.refreshTimer = setTimeout(() => this.source?.refresh(), 500);
  }

  // Delivered-image pixel (fractional) under a mouse event.
  pixelAt(ev) {
    const h = this.frame?.header;
    if (!h) return null;
    const r = this.el.stage.getBoundingClientRect();
    return {
      x: ((ev.clientX - r.left) / r.width) * h.deliveredWidth,
      y: ((ev.clientY - r.top) / r.height) * h.deliveredHeight,
    };
  }

  // Sensor coordinates of a delivered-image pixel.
  toSensor(px, py) {
    const h = this.frame.header;
    return { x: h.region.x + px * h.binning.x, y: h.region.y + py * h.binning.y };
  }

  // Statistics in delivered-image pixels: the live header's, else the properties'.
  stats() {
    const h = this.frame?.header;
    if (!h) return null;
    let s = h.stats?.valid ? h.stats : null;
    if (!s && this.propStats && Number.isFinite(this.propStats.cx)) s = this.propStats;
    if (!s) return null;
    return {
      ...s,
      px: (s.cx - h.region.x) / h.binning.x,
      py: (s.cy - h.region.y) / h.binning.y,
      rx: s.sx / h.binning.x,
      ry: s.sy / h.binning.y,
    };
  }

  // ---- pixel values and profiles ------------------------------------------------------------

  // Value of delivered pixel (x, y): a number (mono) or [r, g, b]; exact for raw data.
  valueAt(x, y) {
    const f = this.frame;
    const h = f.header;
    const sx = Math.min(h.width - 1, Math.floor(x * h.width / h.deliveredWidth));
    const sy = Math.min(h.height - 1, Math.floor(y * h.height / h.deliveredHeight));
    if (f.pixels) {
      const i = sy * h.width + sx;
      return h.layout === LAYOUT_RGB8 ? [f.pixels[i * 3], f.pixels[i * 3 + 1], f.pixels[i * 3 + 2]] : f.pixels[i];
    }
    const d = this.ctx.getImageData(sx, sy, 1, 1).data;
    if (h.layout === LAYOUT_MONO16) return Math.round(d[0] * this.window.top / 255);
    return h.layout === LAYOUT_RGB8 ? [d[0], d[1], d[2]] : d[0];
  }

  // Values along row y or column x of the shown image (mono value or luminance).
  line(horizontal, index) {
    const f = this.frame;
    const h = f.header;
    const n = horizontal ? h.width : h.height;
    const out = new Float32Array(n);
    const row = Math.min(h.height - 1, Math.floor(index * h.height / h.deliveredHeight));
    const col = Math.min(h.width - 1, Math.floor(index * h.width / h.deliveredWidth));
    const rgb = h.layout === LAYOUT_RGB8;
    if (f.pixels) {
      for (let k = 0; k < n; k++) {
        const i = horizontal ? row * h.width + k : k * h.width + col;
        out[k] = rgb ? (f.pixels[i * 3] * 0.299 + f.pixels[i * 3 + 1] * 0.587 + f.pixels[i * 3 + 2] * 0.114) : f.pixels[i];
      }
    } else {
      const d = horizontal ? this.ctx.getImageData(0, row, h.width, 1).data : this.ctx.getImageData(col, 0, 1, h.height).data;
      const k16 = h.layout === LAYOUT_MONO16 ? this.window.top / 255 : 1;
      for (let k = 0; k < n; k++) {
        out[k] = rgb ? (d[k * 4] * 0.299 + d[k * 4 + 1] * 0.587 + d[k * 4 + 2] * 0.114) : d[k * 4] * k16;
      }
    }
    return out;
  }

  profilePoint() {
    const mode = this.el.profileMode.value;
    if (mode === 'cursor') return this.cursor;
    if (mode === 'centroid') {
      const s = this.stats();
      return s ? { x: s.px, y: s.py } : null;
    }
    return null;
  }

  drawProfiles() {
    const p = this.profilePoint();
    const h = this.frame.header;
    const showH = this.el.profileH, showV = this.el.profileV;
    const on = this.el.profileMode.value !== 'off';
    showH.hidden = showV.hidden = !on;
    this.el.profileCorner.hidden = !on;
    if (!on) return;
    const top = h.layout === LAYOUT_MONO16 ? this.window.top : 255;
    const vp = this.el.viewport.getBoundingClientRect();
    const st = this.el.stage.getBoundingClientRect();
    const inside = p && p.x >= 0 && p.y >= 0 && p.x < h.deliveredWidth && p.y < h.deliveredHeight;
    const none = this.el.profileMode.value === 'centroid' ? 'profiles: no beam statistics' : '';
    plotProfile(showH, inside ? this.line(true, p.y) : null, top, {
      horizontal: true, from: st.left - vp.left, span: st.width, label: inside ? `y ${Math.floor(this.toSensor(0, Math.floor(p.y)).y)}` : none,
    });
    plotProfile(showV, inside ? this.line(false, p.x) : null, top, {
      horizontal: false, from: st.top - vp.top, span: st.height, label: inside ? `x ${Math.floor(this.toSensor(Math.floor(p.x), 0).x)}` : '',
    });
  }

  updateCursorReadout() {
    const out = this.el.cursor;
    const c = this.cursor;
    const h = this.frame?.header;
    if (!c || !h || c.x < 0 || c.y < 0 || c.x >= h.deliveredWidth || c.y >= h.deliveredHeight) {
      out.textContent = 'Move the mouse over the image for the pixel value';
      out.classList.add('muted');
      return;
    }
    const px = Math.floor(c.x), py = Math.floor(c.y);
    const s = this.toSensor(px, py);
    const v = this.valueAt(px, py);
    const approx = this.frame.bitmap && h.encoding === ENCODING_JPEG ? ' (JPEG, approximate)' : '';
    const value = Array.isArray(v) ? `R ${v[0]} G ${v[1]} B ${v[2]}` : String(v);
    out.textContent = `x ${s.x}  y ${s.y}  value ${value}${approx}`;
    out.dataset.x = String(s.x);
    out.dataset.y = String(s.y);
    out.classList.remove('muted');
  }

  // ---- overlay: beam, region being drawn ----------------------------------------------------

  drawOverlay() {
    this.overlayDirty = false;
    const o = this.el.overlay;
    const ctx = this.octx;
    ctx.setTransform(1, 0, 0, 1, 0, 0);
    ctx.clearRect(0, 0, o.width, o.height);
    const h = this.frame?.header;
    if (!h) return;
    const k = o.width / h.deliveredWidth;   // overlay pixels per delivered pixel
    const s = this.stats();
    this.renderBeam(s);
    if (s && this.el.beamOverlay.checked) {
      const x = s.px * k, y = s.py * k;
      const lw = Math.max(1, (window.devicePixelRatio || 1) * 1.5);
      const arm = Math.max(12, 2.5 * Math.max(s.rx, s.ry) * k);
      ctx.beginPath();
      ctx.moveTo(x - arm, y); ctx.lineTo(x + arm, y);
      ctx.moveTo(x, y - arm); ctx.lineTo(x, y + arm);
      if (s.rx > 0 && s.ry > 0) {
        ctx.moveTo(x + s.rx * k, y);
        ctx.ellipse(x, y, s.rx * k, s.ry * k, 0, 0, 2 * Math.PI);
      }
      // a dark edge keeps the marks visible on bright and dark images alike
      ctx.strokeStyle = 'rgba(0, 0, 0, 0.6)';
      ctx.lineWidth = lw + 2;
      ctx.stroke();
      ctx.strokeStyle = '#ff3b8d';
      ctx.lineWidth = lw;
      ctx.stroke();
    }
    if (this.drag) {
      const a = this.drag.from, b = this.drag.to;
      ctx.strokeStyle = '#ffd000';
      ctx.fillStyle = 'rgba(255, 208, 0, 0.12)';
      ctx.lineWidth = 2;
      ctx.setLineDash([6, 4]);
      const rx = Math.min(a.x, b.x) * k, ry = Math.min(a.y, b.y) * k;
      const rw = Math.abs(b.x - a.x) * k, rh = Math.abs(b.y - a.y) * k;
      ctx.fillRect(rx, ry, rw, rh);
      ctx.strokeRect(rx, ry, rw, rh);
      ctx.setLineDash([]);
    }
  }

  renderBeam(s) {
    const box = this.el.beam;
    box.hidden = !s;
    this.el.beamOverlay.closest('label').hidden = !s;
    if (!s) return;
    const set = (name, text) => { box.querySelector(`[data-stat="${name}"]`).textContent = text; };
    set('cx', fmtNum(s.cx, 2));
    set('cy', fmtNum(s.cy, 2));
    set('sx', fmtNum(s.sx, 2));
    set('sy', fmtNum(s.sy, 2));
    set('peak', fmtNum(s.peak, 0));
    set('peakat', Number.isFinite(s.peakX) ? `${s.peakX}, ${s.peakY}` : '–');
    set('sum', fmtNum(s.sum, 0));
    set('saturated', fmtNum(s.saturated, 0));
    box.querySelector('[data-stat="saturated"]').classList.toggle('is-error', s.saturated > 0);
  }

  // ---- events -------------------------------------------------------------------------------

  bindEvents() {
    const el = this.el;
    el.stage.addEventListener('mousemove', (ev) => {
      this.cursor = this.pixelAt(ev);
      if (this.drag) {
        const h = this.frame.header;
        this.drag.to = { x: Math.max(0, Math.min(h.deliveredWidth, this.cursor.x)), y: Math.max(0, Math.min(h.deliveredHeight, this.cursor.y)) };
        this.overlayDirty = true;
      }
      this.updateCursorReadout();
      if (el.profileMode.value === 'cursor') this.lastProfile = 0;
      this.schedule();
    });
    el.stage.addEventListener('mouseleave', () => {
      this.cursor = null;
      this.updateCursorReadout();
    });
    el.stage.addEventListener('mousedown', (ev) => {
      if (ev.button !== 0 || !this.frame || el.regionTool.getAttribute('aria-pressed') !== 'true') return;
      ev.preventDefault();
      const p = this.pixelAt(ev);
      this.drag = { from: p, to: p };
      this.overlayDirty = true;
      this.schedule();
    });
    window.addEventListener('mouseup', () => {
      if (!this.drag) return;
      const { from, to } = this.drag;
      this.drag = null;
      this.overlayDirty = true;
      this.schedule();
      el.regionTool.setAttribute('aria-pressed', 'false');
      el.stage.classList.remove('drawing');
      const k = this.displayScale();
      if (Math.abs(to.x - from.x) * k < 4 || Math.abs(to.y - from.y) * k < 4) return;  // a click, not a rectangle
      const h = this.frame.header;
      const a = this.toSensor(Math.min(from.x, to.x), Math.min(from.y, to.y));
      const b = this.toSensor(Math.max(from.x, to.x), Math.max(from.y, to.y));
      // feature units: the region's own pixels (sensor pixels divided by the binning)
      this.onRegion?.({ x: a.x / h.binning.x, y: a.y / h.binning.y, width: (b.x - a.x) / h.binning.x, height: (b.y - a.y) / h.binning.y });
    });
    window.addEventListener('keydown', (ev) => {
      if (ev.key === 'Escape' && (this.drag || el.regionTool.getAttribute('aria-pressed') === 'true')) {
        this.drag = null;
        el.regionTool.setAttribute('aria-pressed', 'false');
        el.stage.classList.remove('drawing');
        this.overlayDirty = true;
        this.schedule();
      }
    });
    el.regionTool.addEventListener('click', () => {
      const on = el.regionTool.getAttribute('aria-pressed') !== 'true';
      el.regionTool.setAttribute('aria-pressed', on ? 'true' : 'false');
      el.stage.classList.toggle('drawing', on);
    });
    el.fullFrame.addEventListener('click', () => this.onFullFrame?.());
    el.falseColour.addEventListener('change', () => this.applyLevels());
    el.windowMin.addEventListener('change', () => this.setWindow(Number(el.windowMin.value), this.window?.hi));
    el.windowMax.addEventListener('change', () => this.setWindow(this.window?.lo, Number(el.windowMax.value)));
    el.windowAuto.addEventListener('click', () => this.autoWindow());
    el.windowFull.addEventListener('click', () => this.window && this.setWindow(0, this.window.top));
    el.profileMode.addEventListener('change', () => { this.lastProfile = 0; this.schedule(); });
    el.beamOverlay.addEventListener('change', () => { this.overlayDirty = true; this.schedule(); });
    el.transfer.addEventListener('change', () => this.source?.refresh());
    el.viewport.addEventListener('scroll', () => { this.lastProfile = 0; this.schedule(); });
  }
}

function drawHistogram(canvas, hist, window) {
  const ctx = canvas.getContext('2d');
  const w = canvas.width, h = canvas.height;
  ctx.clearRect(0, 0, w, h);
  let max = 1;
  for (let i = 0; i < hist.length; i++) if (hist[i] > max) max = hist[i];
  const lmax = Math.log1p(max);
  const bw = w / hist.length;
  if (window) {
    ctx.fillStyle = '#eef3fb';
    ctx.fillRect(window[0] * bw, 0, Math.max(1, (window[1] - window[0]) * bw), h);
  }
  ctx.fillStyle = '#4a78b5';
  for (let i = 0; i < hist.length; i++) {
    const bh = (Math.log1p(hist[i]) / lmax) * (h - 2);
    ctx.fillRect(i * bw, h - bh, Math.max(1, bw), bh);
  }
}

// A profile along the image: horizontal below it (values upwards), vertical beside it (values
// to the right); from/span place the image's extent on the canvas so the curve lines up with it.
function plotProfile(canvas, values, top, { horizontal, from, span, label }) {
  const dpr = window.devicePixelRatio || 1;
  const cw = canvas.clientWidth, ch = canvas.clientHeight;
  if (!cw || !ch) return;
  if (canvas.width !== Math.round(cw * dpr) || canvas.height !== Math.round(ch * dpr)) {
    canvas.width = Math.round(cw * dpr);
    canvas.height = Math.round(ch * dpr);
  }
  const ctx = canvas.getContext('2d');
  ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
  ctx.clearRect(0, 0, cw, ch);
  ctx.fillStyle = '#7a8494';
  ctx.font = '10px system-ui, sans-serif';
  if (!values) {
    if (horizontal) ctx.fillText(label || 'profiles: move the mouse over the image', 4, 12);
    canvas.dataset.points = '0';
    return;
  }
  const depth = horizontal ? ch - 4 : cw - 4;
  ctx.strokeStyle = '#2f6fbf';
  ctx.lineWidth = 1.2;
  ctx.beginPath();
  const n = values.length;
  for (let k = 0; k < n; k++) {
    const along = from + ((k + 0.5) / n) * span;
    const v = Math.min(1, Math.max(0, values[k] / top)) * depth;
    const x = horizontal ? along : 2 + v;
    const y = horizontal ? ch - 2 - v : along;
    if (k === 0) ctx.moveTo(x, y); else ctx.lineTo(x, y);
  }
  ctx.stroke();
  let max = 0;
  for (let k = 0; k < n; k++) if (values[k] > max) max = values[k];
  ctx.fillText(horizontal ? `${label} · max ${Math.round(max)}` : label, 3, 10);
  if (!horizontal) ctx.fillText(`max ${Math.round(max)}`, 3, 22);
  canvas.dataset.points = String(n);
}
