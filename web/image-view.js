// Live image of one location: polls the latest image, draws it on a canvas (scaled to fit or
// zoomed), maps 16-bit data through a grey or false-colour scale, and keeps a histogram.
import { getImage } from './api.js';

const POLL_MS = 250;  // at most about 4 images per second per viewer

// 256-entry false-colour palette (black - blue - cyan - green - yellow - red - white).
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
const PALETTE = makePalette();

function pick(obj, ...keys) {
  for (const k of keys) {
    const parts = k.split('.');
    let v = obj;
    for (const p of parts) v = v == null ? undefined : v[p];
    if (v !== undefined && v !== null && v !== '') return v;
  }
  return undefined;
}

export class ImageView {
  // elements: { canvas, viewport, histogram, info, message, falseColour, zoomLabel }
  constructor(elements) {
    this.el = elements;
    this.loc = null;
    this.zoom = 0;             // 0: fit to the viewport
    this.want16 = false;       // the last image had 2 bytes per pixel: fetch raw data
    this.timer = null;
    this.generation = 0;       // bumps on every location change; stale fetches are dropped
    this.lastHeader = null;
    this.ctx = this.el.canvas.getContext('2d', { willReadFrequently: true });
  }

  show(loc) {
    if (loc === this.loc) return;
    this.loc = loc;
    this.want16 = false;
    this.lastHeader = null;
    this.generation++;
    const c = this.el.canvas;
    c.getContext('2d').clearRect(0, 0, c.width, c.height);
    c.dataset.frame = '';
    this.el.info.textContent = '';
    clearTimeout(this.timer);
    this.setMessage(loc ? 'Waiting for the first image…' : 'No location selected');
    if (loc) this.poll(this.generation);
  }

  setZoom(z) {
    this.zoom = z;
    this.applyZoom();
  }

  zoomBy(factor) {
    const current = this.zoom || this.fitScale();
    const z = Math.min(16, Math.max(1 / 16, current * factor));
    this.setZoom(z);
  }

  fitScale() {
    const c = this.el.canvas;
    if (!c.width) return 1;
    return Math.min(1, this.el.viewport.clientWidth / c.width, this.el.viewport.clientHeight / c.height) || 1;
  }

  applyZoom() {
    const c = this.el.canvas;
    if (this.zoom === 0) {
      c.classList.add('fit');
      c.style.width = '';
      c.style.height = '';
      this.el.zoomLabel.textContent = 'fit';
    } else {
      c.classList.remove('fit');
      c.style.width = `${Math.round(c.width * this.zoom)}px`;
      c.style.height = `${Math.round(c.height * this.zoom)}px`;
      c.classList.toggle('pixelated', this.zoom > 1);
      this.el.zoomLabel.textContent = `${Math.round(this.zoom * 100)} %`;
    }
  }


  setMessage(text) {
    this.el.message.textContent = text || '';
    this.el.message.hidden = !text;
  }

  async poll(gen) {
    if (gen !== this.generation) return;
    const loc = this.loc;
    try {
      if (!document.hidden) {
        const img = await getImage(loc, this.want16);
        if (gen !== this.generation) return;
        if (!img) {
          this.setMessage(this.lastHeader ? 'No current image (the location has none now)' : 'No image yet');
          this.el.canvas.classList.add('stale');
        } else {
          this.el.canvas.classList.remove('stale');
          await this.draw(img);
          this.setMessage('');
        }
      }
    } catch (e) {
      if (gen === this.generation) {
        this.setMessage(e.message);
        this.el.canvas.classList.add('stale');
      }
    }
    if (gen === this.generation) this.timer = setTimeout(() => this.poll(gen), POLL_MS);
  }

  async draw(img) {
    if (img.raw) return this.drawRaw(img);
    const h = img.header;
    if (h.bytes_per_pixel === 2) this.want16 = true;  // from now on fetch raw 16-bit data
    const bitmap = await createImageBitmap(img.blob);
    this.resize(bitmap.width, bitmap.height);
    this.ctx.drawImage(bitmap, 0, 0);
    bitmap.close?.();
    const data = this.ctx.getImageData(0, 0, this.el.canvas.width, this.el.canvas.height);
    const colour = h.bytes_per_pixel === 3 || h.bytes_per_pixel === 4;
    const hist = new Uint32Array(256);
    const px = data.data;
    for (let i = 0; i < px.length; i += 16) {  // every 4th pixel is enough for the histogram
      hist[colour ? ((px[i] * 77 + px[i + 1] * 150 + px[i + 2] * 29) >> 8) : px[i]]++;
    }
    this.el.falseColour.disabled = colour;
    if (!colour && this.el.falseColour.checked) {
      for (let i = 0; i < px.length; i += 4) {
        const p = px[i] * 3;
        px[i] = PALETTE[p]; px[i + 1] = PALETTE[p + 1]; px[i + 2] = PALETTE[p + 2];
      }
      this.ctx.putImageData(data, 0, 0);
    }
    this.finish(h, hist, 255);
  }

  drawRaw(img) {
    const hdr = img.header;
    const w = Number(pick(hdr, 'width', 'w', 'img_ext_prm.width', 'img_prm.w'));
    const hgt = Number(pick(hdr, 'height', 'h', 'img_ext_prm.height', 'img_prm.h'));
    if (!(w > 0 && hgt > 0)) throw new Error('Image header without width and height');
    const bpp = Math.round(img.bytes.length / (w * hgt));
    if (bpp !== 2) {  // no longer 16-bit: back to PNG
      this.want16 = false;
      return;
    }
    const ebits = Number(pick(hdr, 'effective_bits', 'ebitpp', 'img_ext_prm.ebitpp')) || 16;
    const words = new Uint16Array(img.bytes.buffer, img.bytes.byteOffset, w * hgt);
    // scale to the largest value present (at least 8 bits) so dim images stay visible
    let max = 0;
    for (let i = 0; i < words.length; i += 7) if (words[i] > max) max = words[i];
    const full = Math.min(65535, (1 << Math.min(16, ebits)) - 1);
    const top = Math.max(255, Math.min(full, max));
    this.resize(w, hgt);
    const out = this.ctx.createImageData(w, hgt);
    const px = out.data;
    const hist = new Uint32Array(256);
    const fc = this.el.falseColour.checked;
    const scale = 255 / top;
    for (let i = 0, j = 0; i < words.length; i++, j += 4) {
      const v = Math.min(255, Math.round(words[i] * scale));
      hist[v]++;
      if (fc) {
        px[j] = PALETTE[v * 3]; px[j + 1] = PALETTE[v * 3 + 1]; px[j + 2] = PALETTE[v * 3 + 2];
      } else {
        px[j] = px[j + 1] = px[j + 2] = v;
      }
      px[j + 3] = 255;
    }
    this.ctx.putImageData(out, 0, 0);
    this.el.falseColour.disabled = false;
    this.finish({
      frame: pick(hdr, 'frame', 'img_prm.frame', 'img_ext_prm.frame'),
      width: w, height: hgt, bytes_per_pixel: 2, effective_bits: ebits,
      source_format: pick(hdr, 'source_format', 'img_ext_prm.source_format'),
    }, hist, top);
  }

  resize(w, h) {
    const c = this.el.canvas;
    if (c.width !== w || c.height !== h) {
      c.width = w;
      c.height = h;
      this.applyZoom();
    }
  }

  finish(h, hist, top) {
    this.lastHeader = h;
    const bits = h.bytes_per_pixel === 2 ? `16-bit (${h.effective_bits} effective), scale 0…${top}`
      : h.bytes_per_pixel === 1 ? '8-bit grey' : 'RGB';
    this.el.info.textContent = `frame ${h.frame ?? '?'} · ${h.width} × ${h.height} · ${bits}` +
      (h.source_format !== undefined && h.source_format !== null && h.source_format !== '' ? ` · source format ${h.source_format}` : '');
    this.el.canvas.dataset.frame = h.frame ?? '';
    drawHistogram(this.el.histogram, hist);
  }
}

function drawHistogram(canvas, hist) {
  const ctx = canvas.getContext('2d');
  const w = canvas.width, h = canvas.height;
  ctx.clearRect(0, 0, w, h);
  let max = 1;
  for (let i = 0; i < 256; i++) if (hist[i] > max) max = hist[i];
  const lmax = Math.log1p(max);
  ctx.fillStyle = '#4a90d9';
  const bw = w / 256;
  for (let i = 0; i < 256; i++) {
    const bh = (Math.log1p(hist[i]) / lmax) * (h - 2);
    ctx.fillRect(i * bw, h - bh, Math.max(1, bw), bh);
  }
}
