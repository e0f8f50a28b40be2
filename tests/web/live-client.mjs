// Browser test of the viewer's live client against a stand-in server: node serves the viewer's
// files, a one-location API and the live WebSocket (a minimal server side of the WebSocket
// protocol), which sends 16-bit images of a Gaussian spot with its statistics at 30 images/s.
// Checks that the page takes the socket, draws at the rate the images come, shows the
// statistics, the dropped images and the 16-bit levels, decodes JPEG images, and falls back
// to polling when the socket goes away.
//
//   node live-client.mjs [--screenshot FILE] [--headed]
import crypto from 'node:crypto';
import fs from 'node:fs';
import http from 'node:http';
import os from 'node:os';
import path from 'node:path';
import { fileURLToPath } from 'node:url';
import { chromium } from 'playwright-core';

import { liveMessage } from './live-message.mjs';

const CHROMIUM = process.env.MIRVA_CHROMIUM || '/usr/bin/chromium';
const WEB = path.resolve(path.dirname(fileURLToPath(import.meta.url)), '../../web');
const RATE = 30;
const W = 320, H = 240;
const SPOT = { cx: 180.5, cy: 100.25, sx: 14, sy: 9 };

const args = { screenshot: null, headed: false };
for (let i = 2; i < process.argv.length; i++) {
  if (process.argv[i] === '--screenshot') args.screenshot = process.argv[++i];
  else if (process.argv[i] === '--headed') args.headed = true;
  else throw new Error(`unknown argument ${process.argv[i]}`);
}

let failures = 0;
async function step(what, fn) {
  try {
    await fn();
    console.log(`PASS ${what}`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${what}: ${e.message}`);
  }
}

// ---- the stand-in server ----------------------------------------------------------------------

function spotImage() {
  const px = new Uint16Array(W * H);
  for (let y = 0; y < H; y++) {
    for (let x = 0; x < W; x++) {
      const e = ((x - SPOT.cx) / SPOT.sx) ** 2 / 2 + ((y - SPOT.cy) / SPOT.sy) ** 2 / 2;
      px[y * W + x] = 40 + Math.round(3000 * Math.exp(-e));
    }
  }
  return new Uint8Array(px.buffer);
}

// One unmasked binary frame (server to client).
function wsFrame(payload, opcode = 0x2) {
  const n = payload.byteLength;
  const head = n < 126 ? Buffer.from([0x80 | opcode, n])
    : n < 65536 ? Buffer.from([0x80 | opcode, 126, n >> 8, n & 255])
      : Buffer.concat([Buffer.from([0x80 | opcode, 127]), (() => { const b = Buffer.alloc(8); b.writeBigUInt64BE(BigInt(n)); return b; })()]);
  return Buffer.concat([head, Buffer.from(payload)]);
}

function startStandIn() {
  const pixels = spotImage();
  const state = { liveOpen: true, sockets: new Set(), frame: 0 };
  const server = http.createServer((req, res) => {
    const url = new URL(req.url, 'http://x');
    const json = (code, body) => { res.writeHead(code, { 'Content-Type': 'application/json' }); res.end(JSON.stringify(body)); };
    if (url.pathname === '/api/locations') {
      return json(200, { locations: [{ name: 'MOCK', type: 812, online: 1, camera_status: 'Online', error_code: 0, error_text: '', frame_rate: RATE, frame_counter: state.frame, fps: RATE }] });
    }
    if (url.pathname === '/api/locations/MOCK/properties') return json(200, { location: 'MOCK', properties: [], features: [] });
    if (url.pathname === '/api/locations/MOCK/image') return json(404, { error: 'location MOCK has delivered no image yet' });
    if (url.pathname.startsWith('/api/')) return json(404, { error: `no ${url.pathname}` });
    const file = path.join(WEB, url.pathname === '/' ? 'index.html' : path.normalize(url.pathname));
    if (!file.startsWith(WEB) || !fs.existsSync(file)) return json(404, { error: 'not found' });
    const type = { '.html': 'text/html', '.js': 'text/javascript', '.css': 'text/css' }[path.extname(file)] || 'application/octet-stream';
    res.writeHead(200, { 'Content-Type': type });
    fs.createReadStream(file).pipe(res);
  });
  server.on('upgrade', (req, socket) => {
    const url = new URL(req.url, 'http://x');
    // raw images whatever the format asked for: the viewer goes by the header's encoding
    if (!state.liveOpen || url.pathname !== '/api/locations/MOCK/live') {
      socket.end('HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n');
      return;
    }
    const accept = crypto.createHash('sha1').update(`${req.headers['sec-websocket-key']}258EAFA5-E914-47DA-95CA-C5AB0DC85B11`).digest('base64');
    socket.write(`HTTP/1.1 101 Switching Protocols\r\nUpgrade: websocket\r\nConnection: Upgrade\r\nSec-WebSocket-Accept: ${accept}\r\n\r\n`);
    state.sockets.add(socket);
    const timer = setInterval(() => {
      state.frame++;
      if (socket.writableLength > 4 * pixels.byteLength) return;  // the newest image, never a queue
      const jpeg = state.jpeg;  // Mono8 as JPEG once the test has made one, else raw Mono16
      socket.write(wsFrame(liveMessage({
        frame: state.frame, timestampUs: Date.now() * 1000, width: W, height: H,
        bytesPerPixel: jpeg ? 1 : 2, effectiveBits: jpeg ? 8 : 12, layout: jpeg ? 0 : 1, encoding: jpeg ? 1 : 0,
        region: [0, 0, W, H], binning: [1, 1],
        stats: { ...SPOT, peak: 3040, peakX: 180, peakY: 100, saturated: 0, sum: 1.2e6, valid: 1 },
        dropped: 7, sequence: state.frame, payload: jpeg || pixels,
      })));
    }, 1000 / RATE);
    const end = () => { clearInterval(timer); state.sockets.delete(socket); socket.destroy(); };
    socket.on('data', (d) => { if ((d[0] & 0x0f) === 0x8) end(); });  // a close frame
    socket.on('close', end);
    socket.on('error', end);
  });
  return new Promise((resolve) => server.listen(0, '127.0.0.1', () => resolve({ server, state, port: server.address().port })));
}

// ---- the test ---------------------------------------------------------------------------------

const standIn = await startStandIn();
const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'mirva-live-client-'));
let context;
try {
  context = await chromium.launchPersistentContext(profile, {
    executablePath: CHROMIUM,
    headless: !args.headed,
    viewport: { width: 1400, height: 1000 },
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
      '--disable-component-update', '--disable-sync'],
  });
  const page = context.pages()[0] || await context.newPage();
  page.setDefaultTimeout(20000);
  const errors = [];
  page.on('pageerror', (e) => errors.push(e.message));
  await page.goto(`http://127.0.0.1:${standIn.port}/`);
  const canvas = page.locator('#image-canvas');

  await step('the page takes the live socket and draws its 16-bit images', async () => {
    await page.locator('#image-canvas[data-transport="live"]').waitFor({ timeout: 30000 });
    await page.locator('#image-canvas[data-delivered="320x240"]').waitFor({ timeout: 30000 });
    await page.locator('#levels:not([hidden])').waitFor();
    const info = await page.locator('#image-info').textContent();
    if (!/16-bit \(12 effective\)/.test(info) || !/raw/.test(info)) throw new Error(`image info "${info}"`);
  });

  await step('it draws at least 90 % of the images that come (5 s)', async () => {
    const sample = () => canvas.evaluate((c) => ({ drawn: Number(c.dataset.drawn), frame: Number(c.dataset.frame), t: performance.now() }));
    const a = await sample();
    await page.waitForTimeout(5000);  // the measuring period
    const b = await sample();
    const s = (b.t - a.t) / 1000;
    const drawn = (b.drawn - a.drawn) / s, sent = (b.frame - a.frame) / s;
    console.log(`INFO drawn ${drawn.toFixed(1)}/s of ${sent.toFixed(1)}/s sent`);
    if (drawn < 0.9 * sent || !(sent > 0)) throw new Error(`drawn ${drawn.toFixed(1)}/s, sent ${sent.toFixed(1)}/s`);
    const shown = await page.locator('#rate-drawn').textContent();
    if (!/fps$/.test(shown) || parseFloat(shown) < 0.7 * drawn) throw new Error(`drawn rate shown as "${shown}"`);
  });

  await step('the statistics of the header: numbers, crosshair and ellipse', async () => {
    await page.locator('#beam-card:not([hidden])').waitFor();
    const cx = await page.locator('#beam-card [data-stat="cx"]').textContent();
    const sy = await page.locator('#beam-card [data-stat="sy"]').textContent();
    if (cx !== '180.50' || sy !== '9') throw new Error(`centroid x "${cx}", RMS width y "${sy}"`);
    if (Number(await page.locator('#rate-dropped').textContent()) < 7) throw new Error('dropped images of the header not shown');
    // the overlay has pink pixels at the centroid
    const pink = await page.locator('#image-overlay').evaluate((o) => {
      const d = o.getContext('2d').getImageData(0, 0, o.width, o.height).data;
      let n = 0;
      for (let i = 0; i < d.length; i += 4) if (d[i] > 200 && d[i + 1] < 120 && d[i + 2] > 100 && d[i + 3] > 200) n++;
      return n;
    });
    if (pink < 50) throw new Error(`crosshair and ellipse not drawn (${pink} pixels)`);
  });

  await step('the pixel under the cursor, exact from raw data, in sensor coordinates', async () => {
    const box = await page.locator('#image-stage').boundingBox();
    await page.mouse.move(box.x + (180.5 / W) * box.width, box.y + (100.5 / H) * box.height);
    await page.locator('#cursor-readout[data-x="180"][data-y="100"]').waitFor();
    const text = await page.locator('#cursor-readout').textContent();
    if (!/value 30[0-4]\d/.test(text)) throw new Error(`readout "${text}"`);
    const points = await page.locator('#profile-h').getAttribute('data-points');
    if (points !== String(W)) throw new Error(`horizontal profile of ${points} points`);
    if (args.screenshot) await page.screenshot({ path: args.screenshot });
  });

  await step('JPEG images are decoded and drawn, their pixel values marked approximate', async () => {
    // the browser makes the JPEG: a bright spot on black
    const bytes = await page.evaluate(async ([w, h, x, y]) => {
      const c = new OffscreenCanvas(w, h);
      const g = c.getContext('2d');
      g.fillStyle = '#000';
      g.fillRect(0, 0, w, h);
      const spot = g.createRadialGradient(x, y, 0, x, y, 30);
      spot.addColorStop(0, '#fff');
      spot.addColorStop(1, '#000');
      g.fillStyle = spot;
      g.fillRect(0, 0, w, h);
      const blob = await c.convertToBlob({ type: 'image/jpeg', quality: 0.8 });
      return [...new Uint8Array(await blob.arrayBuffer())];
    }, [W, H, SPOT.cx, SPOT.cy]);
    standIn.state.jpeg = Uint8Array.from(bytes);
    await page.locator('#image-info', { hasText: 'JPEG' }).waitFor({ timeout: 15000 });
    const first = Number(await canvas.getAttribute('data-drawn'));
    const end = Date.now() + 10000;
    while (Number(await canvas.getAttribute('data-drawn')) < first + 10) {
      if (Date.now() > end) throw new Error('JPEG images are not drawn');
      await new Promise((r) => setTimeout(r, 100));
    }
    const box = await page.locator('#image-stage').boundingBox();
    await page.mouse.move(box.x + (SPOT.cx / W) * box.width + 1, box.y + (SPOT.cy / H) * box.height + 1);
    await page.locator('#cursor-readout', { hasText: 'JPEG, approximate' }).waitFor();
    const v = Number(/value (\d+)/.exec(await page.locator('#cursor-readout').textContent())[1]);
    if (v < 200) throw new Error(`the spot's centre reads ${v}`);
    if (await page.locator('#levels').isHidden()) throw new Error('no levels for a grey JPEG image');
  });

  await step('when the socket goes away the page polls instead', async () => {
    standIn.state.liveOpen = false;
    for (const s of standIn.state.sockets) s.destroy();
    await page.locator('#image-canvas[data-transport="poll"]').waitFor({ timeout: 15000 });
    await waitRate(page, 0);
  });

  await step('no script errors', async () => {
    if (errors.length) throw new Error(errors.join(' | '));
  });
} catch (e) {
  failures++;
  console.log(`FAIL setup: ${e.message}`);
} finally {
  await context?.close().catch(() => {});
  standIn.server.closeAllConnections?.();
  standIn.server.close();
  fs.rmSync(profile, { recursive: true, force: true });
}

// The drawn rate falls to the given value (no new images).
async function waitRate(page, value) {
  const end = Date.now() + 10000;
  for (;;) {
    const t = await page.locator('#rate-drawn').textContent();
    if (parseFloat(t) === value) return;
    if (Date.now() > end) throw new Error(`drawn rate still "${t}"`);
    await new Promise((r) => setTimeout(r, 200));
  }
}

console.log(failures ? `FAILED: ${failures} check(s)` : 'ALL PASSED');
process.exit(failures ? 1 : 0);
