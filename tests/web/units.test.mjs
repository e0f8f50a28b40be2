// The viewer's pure pieces under node: the live message header, the order of decoded images,
// the region's alignment and write order, the notation of addresses, what the image says about
// its age, the scroll that keeps the view's middle on a zoom, and the error messages.
//
//   node tests/web/units.test.mjs
import { test } from 'node:test';
import assert from 'node:assert/strict';

import { parseLiveHeader, rawPixels, liveQuery, InOrder, LAYOUT_MONO16, ENCODING_JPEG } from '../../web/live.js';
import { alignRegion, fullRegion, planRegionWrites, writeRegion } from '../../web/region.js';
import { formatIPv4, parseIPv4, formatMAC, parseMAC, wholeValue, isPending, fmt } from '../../web/feature-tree.js';
import { imageNotice, formatAge, formatClock, scrollKeepingMiddle, QUIET_MS } from '../../web/image-view.js';
import { withContext, notAnswered, ApiError } from '../../web/api.js';
import { liveMessage } from './live-message.mjs';

test('live header: every field at its offset, little-endian', () => {
  const msg = liveMessage({
    frame: 2 ** 40 + 7, timestampUs: 1765000000123456, width: 640, height: 512,
    deliveredWidth: 1280, deliveredHeight: 1024, bytesPerPixel: 2, effectiveBits: 12, layout: LAYOUT_MONO16,
    encoding: ENCODING_JPEG, region: [16, 32, 1280, 1024], binning: [2, 1],
    stats: { cx: 300.5, cy: 200.25, sx: 12.5, sy: 8, peak: 4000, peakX: 301, peakY: 199, saturated: 3, sum: 1.5e9, valid: 1 },
    dropped: 5, sequence: 99, payload: new Uint8Array([0xff, 0xd8, 0xff]),
  });
  const h = parseLiveHeader(msg);
  assert.equal(h.headerBytes, 128);
  assert.equal(h.version, 1);
  assert.equal(h.frame, 2 ** 40 + 7);
  assert.equal(h.timestampUs, 1765000000123456);
  assert.deepEqual([h.width, h.height, h.deliveredWidth, h.deliveredHeight], [640, 512, 1280, 1024]);
  assert.deepEqual([h.bytesPerPixel, h.effectiveBits, h.layout, h.encoding], [2, 12, LAYOUT_MONO16, ENCODING_JPEG]);
  assert.deepEqual(h.region, { x: 16, y: 32, width: 1280, height: 1024 });
  assert.deepEqual(h.binning, { x: 2, y: 1 });
  assert.equal(h.stats.valid, true);
  assert.equal(h.stats.cx, 300.5);
  assert.equal(h.stats.cy, 200.25);
  assert.equal(h.stats.sx, 12.5);
  assert.equal(h.stats.peakX, 301);
  assert.equal(h.stats.saturated, 3);
  assert.equal(h.stats.sum, 1.5e9);
  assert.equal(h.dropped, 5);
  assert.equal(h.sequence, 99);
});

test('live header: short, foreign or inconsistent messages are refused with a reason', () => {
  assert.throws(() => parseLiveHeader(new ArrayBuffer(64)), /shorter than its header/);
  const wrong = liveMessage({ payload: new Uint8Array(4) });
  new Uint8Array(wrong)[0] = 'X'.charCodeAt(0);
  assert.throws(() => parseLiveHeader(wrong), /not "MLV1"/);
  const big = liveMessage({ payload: new Uint8Array(4) });
  new DataView(big).setUint16(4, 4096, true);
  assert.throws(() => parseLiveHeader(big), /does not fit/);
});

test('raw payload: Mono16 words little-endian, short payloads refused', () => {
  const words = new Uint16Array([0, 1, 4095, 65535, 256, 2]);
  const msg = liveMessage({ width: 3, height: 2, layout: LAYOUT_MONO16, bytesPerPixel: 2, payload: new Uint8Array(words.buffer) });
  const h = parseLiveHeader(msg);
  assert.deepEqual([...rawPixels(msg, h)], [...words]);
  const short = liveMessage({ width: 3, height: 3, layout: LAYOUT_MONO16, bytesPerPixel: 2, payload: new Uint8Array(words.buffer) });
  assert.throws(() => rawPixels(short, parseLiveHeader(short)), /shorter/);
});

test('live query: scale kept inside 0.1..1', () => {
  assert.equal(liveQuery({ format: 'raw', quality: 80, scale: 0.5 }), 'format=raw&quality=80&scale=0.5');
  assert.equal(liveQuery({ scale: 3 }), 'format=jpeg&quality=80&scale=1');
  assert.equal(liveQuery({ scale: 0.01 }), 'format=jpeg&quality=80&scale=0.1');
});

// Features as the mono camera has them: Width max = 1280 - OffsetX, OffsetX max = 1280 - Width.
function camera(ox, w, oy, h) {
  return [
    { name: 'OFFSETX', value: ox, min: 0, max: 1280 - w, egu_min: 0, egu_max: 1280 - w, inc: 2 },
    { name: 'WIDTH.PYLON', value: w, min: 16, max: 1280 - ox, egu_min: 16, egu_max: 1280 - ox, inc: 2 },
    { name: 'OFFSETY', value: oy, min: 0, max: 1024 - h, egu_min: 0, egu_max: 1024 - h, inc: 2 },
    { name: 'HEIGHT.PYLON', value: h, min: 16, max: 1024 - oy, egu_min: 16, egu_max: 1024 - oy, inc: 2 },
    { name: 'WIDTHMAX', value: 1280 }, { name: 'HEIGHTMAX', value: 1024 },
  ];
}

test('decoded images: handed on in the order of their messages, a failed one holds none up', () => {
  const order = new InOrder();
  assert.deepEqual(order.put(2, 'b'), []);          // decoded before 1: waits
  assert.deepEqual(order.put(3, 'c'), []);
  assert.deepEqual(order.put(1, 'a'), ['a', 'b', 'c']);
  assert.deepEqual(order.put(5, 'e'), []);
  assert.deepEqual(order.put(4, null), ['e']);      // 4 could not be decoded
  assert.deepEqual(order.put(6, 'f'), ['f']);
  assert.equal(order.held.size, 0);
});

test('region: values on the increments, inside the sensor', () => {
  const r = alignRegion(camera(0, 1280, 0, 1024), { x: 101.7, y: 33.2, width: 401.1, height: 2000 });
  assert.deepEqual(r, { OFFSETX: 100, WIDTH: 402, OFFSETY: 32, HEIGHT: 992 });
  // a rectangle at the sensor's edge keeps the smallest size and stays inside
  const edge = alignRegion(camera(0, 1280, 0, 1024), { x: 1279, y: 1023, width: 1, height: 1 });
  assert.deepEqual(edge, { OFFSETX: 1264, WIDTH: 16, OFFSETY: 1008, HEIGHT: 16 });
  assert.deepEqual(fullRegion(camera(100, 400, 50, 300)), { OFFSETX: 0, WIDTH: 1280, OFFSETY: 0, HEIGHT: 1024 });
  assert.equal(alignRegion([{ name: 'WIDTH', value: 1 }], { x: 0, y: 0, width: 1, height: 1 }), null);
});

test('region: a growing offset goes after its size, a shrinking one before', () => {
  const names = (phases) => phases.map((p) => p.map((w) => `${w.feature.name}=${w.value}`));
  // moving right and down with smaller sizes: sizes first
  assert.deepEqual(names(planRegionWrites(camera(0, 1280, 0, 1024), { OFFSETX: 300, WIDTH: 400, OFFSETY: 100, HEIGHT: 200 })),
    [['WIDTH.PYLON=400', 'HEIGHT.PYLON=200'], ['OFFSETX=300', 'OFFSETY=100']]);
  // back to the full frame: offsets first
  assert.deepEqual(names(planRegionWrites(camera(300, 400, 100, 200), { OFFSETX: 0, WIDTH: 1280, OFFSETY: 0, HEIGHT: 1024 })),
    [['OFFSETX=0', 'OFFSETY=0'], ['WIDTH.PYLON=1280', 'HEIGHT.PYLON=1024']]);
  // unchanged values are not written
  assert.deepEqual(names(planRegionWrites(camera(300, 400, 100, 200), { OFFSETX: 300, WIDTH: 400, OFFSETY: 100, HEIGHT: 100 })),
    [['HEIGHT.PYLON=100']]);
});

test('region: each write waits until the limits allow it, as a camera whose limits follow later', async () => {
  const cam = { OFFSETX: 0, 'WIDTH.PYLON': 1280, OFFSETY: 0, 'HEIGHT.PYLON': 1024 };
  const log = [];
  let polls = 0;
  const limits = () => ({
    OFFSETX: [0, 1280 - cam['WIDTH.PYLON']], 'WIDTH.PYLON': [16, 1280 - cam.OFFSETX],
    OFFSETY: [0, 1024 - cam['HEIGHT.PYLON']], 'HEIGHT.PYLON': [16, 1024 - cam.OFFSETY],
  });
  const stale = limits();  // the camera publishes its new limits one poll after a write
  const fake = {
    async getProperty(name) {
      polls++;
      const [min, max] = stale[name];
      Object.assign(stale, limits());
      return { name, value: cam[name], min, max, changed: false };
    },
    async setProperty(name, value) {
      const [min, max] = limits()[name];
      if (value < min || value > max) throw new Error(`${name} ${value} outside ${min}..${max}`);
      log.push(`${name}=${value}`);
      cam[name] = value;
      return { name, value };
    },
  };
  const want = { OFFSETX: 600, WIDTH: 640, OFFSETY: 500, HEIGHT: 512 };
  await writeRegion(fake, camera(0, 1280, 0, 1024), want, { timeoutMs: 2000 });
  assert.deepEqual(log, ['WIDTH.PYLON=640', 'HEIGHT.PYLON=512', 'OFFSETX=600', 'OFFSETY=500']);
  assert.ok(polls > 4);
});

test('region: a write the camera drops is sent again; one it keeps refusing is reported', async () => {
  const cam = { OFFSETX: 0, WIDTH: 1280, OFFSETY: 0, HEIGHT: 1024 };
  let drops = 1;
  const puts = [];
  const fake = {
    async getProperty(name) { return { name, value: cam[name], pending: cam[name], min: 0, max: 1280, changed: false }; },
    async setProperty(name, value) {
      puts.push(`${name}=${value}`);
      if (name === 'HEIGHT' && drops-- > 0) return {};  // lost in the camera's pass
      cam[name] = value;
      return {};
    },
  };
  const features = camera(0, 1280, 0, 1024).map((f) => ({ ...f, name: f.name.replace('.PYLON', '') }));
  await writeRegion(fake, features, { OFFSETX: 0, WIDTH: 1280, OFFSETY: 0, HEIGHT: 360 }, { timeoutMs: 5000 });
  assert.deepEqual(puts, ['HEIGHT=360', 'HEIGHT=360']);
  drops = 5;
  await assert.rejects(writeRegion(fake, features, { OFFSETX: 0, WIDTH: 1280, OFFSETY: 0, HEIGHT: 200 }, { timeoutMs: 5000 }),
    /HEIGHT is 360 after writing 200/);
});

test('addresses and numbers in their usual notation', () => {
  assert.equal(formatIPv4(2851995649), '169.254.0.1');
  assert.equal(formatIPv4(-1062731519), '192.168.1.1');  // a 32-bit property holds it negative
  assert.equal(parseIPv4('192.168.1.1'), 3232235777);
  assert.equal(parseIPv4('192.168.1.256'), null);
  assert.equal(parseIPv4('1.2.3'), null);
  assert.equal(formatMAC(207552132182), '00:30:53:12:34:56');
  assert.equal(formatMAC(0xabcdef012345), 'AB:CD:EF:01:23:45');  // as the device information writes it
  assert.equal(parseMAC('00:30:53:12:34:56'), 207552132182);
  assert.equal(parseMAC('ab-cd-ef-01-23-45'), 0xabcdef012345);
  assert.equal(parseMAC('00:30:53:12:34'), null);
  assert.equal(parseMAC('00:30:53-12:34:56'), null);
  assert.equal(fmt(0.1 + 0.2), '0.3');
  assert.equal(fmt(35), '35');
});

test('a feature wider than 32 bits shows its whole value, not the saturated one', () => {
  // GevMACAddress as the server sends it: "value" saturated at 2^31 - 1, "value64" whole
  const mac = { name: 'GEVMACADDRESS', type: 1, value: 2147483647, pending: 2147483647, changed: false,
    value64: 207552132182, pending64: 207552132182, representation: 'MACAddress' };
  assert.equal(formatMAC(wholeValue(mac)), '00:30:53:12:34:56');
  assert.equal(isPending(mac), false);
  // a whole write waiting for the camera is pending although the saturated values agree
  assert.equal(isPending({ ...mac, pending64: 207552132183 }), true);
  assert.equal(wholeValue({ name: 'WIDTH', value: 640 }), 640);
  assert.equal(formatIPv4(wholeValue({ value: 2147483647, value64: 4294967040 })), '255.255.255.0');
});

test('an old image says so and since when; a live one says nothing', () => {
  const at = new Date(2026, 11, 7, 14, 3, 21).getTime();  // local time, as the page shows it
  assert.equal(formatClock(at), '14:03:21');
  assert.equal(formatAge(999), '0 s');
  assert.equal(formatAge(59_999), '59 s');
  assert.equal(formatAge(125_000), '2 min 5 s');
  assert.equal(formatAge(3_780_000), '1 h 3 min');
  const base = { hasImage: true, online: true, unreachable: false, receivedAt: at };
  assert.deepEqual(imageNotice({ ...base, now: at + 40 }), { stale: false, corner: false, text: '' });
  // off line: greyed, with the time of the last image
  assert.deepEqual(imageNotice({ ...base, online: false, now: at + 9_000 }),
    { stale: true, corner: false, text: 'Off line: last image at 14:03:21, 9 s ago' });
  // the server away counts before the location's state (which is then unknown)
  assert.deepEqual(imageNotice({ ...base, online: false, unreachable: true, now: at + 75_000 }),
    { stale: true, corner: false, text: 'Server not reachable: last image at 14:03:21, 1 min 15 s ago' });
  // on line but no images coming (stopped, stalled or slowly triggered): a note, not greyed
  assert.deepEqual(imageNotice({ ...base, now: at + QUIET_MS - 1 }).text, '');
  assert.deepEqual(imageNotice({ ...base, now: at + QUIET_MS + 2_000 }),
    { stale: false, corner: true, text: 'No new image since 14:03:21, 7 s ago' });
  // no image at all: the area keeps its own message unless the location or server is away
  assert.equal(imageNotice({ hasImage: false, online: true, unreachable: false, receivedAt: NaN, now: at }).text, null);
  assert.equal(imageNotice({ hasImage: false, online: false, unreachable: false, receivedAt: NaN, now: at }).text, 'The location is off line');
  assert.equal(imageNotice({ hasImage: false, online: true, unreachable: true, receivedAt: NaN, now: at }).text, 'Server not reachable');
});

test('an error names the name once: what the viewer did, then the server\'s reason', () => {
  assert.equal(withContext('Writing 3501 to CAM1 EXPOSURETIMERAW',
    'EXPOSURETIMERAW: value 3501 refused: not on the increment 5 from the minimum 35; the nearest valid values are 3500 and 3505'),
  'Writing 3501 to CAM1 EXPOSURETIMERAW: value 3501 refused: not on the increment 5 from the minimum 35; the nearest valid values are 3500 and 3505');
  assert.equal(withContext('Reading the locations', 'server not reachable (Failed to fetch)'),
    'Reading the locations: server not reachable (Failed to fetch)');
  // a reason that merely starts with the same letters keeps both
  assert.equal(withContext('Writing 1 to CAM1 START', 'STARTUP: busy'), 'Writing 1 to CAM1 START: STARTUP: busy');
});

test('zooming keeps the image point at the middle of the view', () => {
  // fit (600 px image in an 800 px view) to twice the size: the image's middle stays in the middle
  assert.equal(scrollKeepingMiddle({ scroll: 0, viewBefore: 800, before: 600, after: 1200 }), 200);
  // a beam right of the middle, scrolled to: it stays under the view's middle at 1.5 times
  const scroll = 1000;  // view 800 over a 2400 px image: middle at 1400 = 7/12 of the image
  assert.equal(scrollKeepingMiddle({ scroll, viewBefore: 800, before: 2400, after: 3600 }), 3600 * 7 / 12 - 400);
  // and back out: an image smaller than the view is not scrolled
  assert.equal(scrollKeepingMiddle({ scroll, viewBefore: 800, before: 2400, after: 600 }), 0);
  // never past either end, also when a scroll bar takes part of the view
  assert.equal(scrollKeepingMiddle({ scroll: 1600, viewBefore: 800, before: 2400, after: 2000 }), 1200);
  assert.equal(scrollKeepingMiddle({ scroll: 0, viewBefore: 800, viewAfter: 785, before: 800, after: 1600 }), 408);
  assert.equal(scrollKeepingMiddle({ scroll: 0, viewBefore: 800, before: 0, after: 1600 }), 0);
});

test('only a request without an answer counts as the server being away', () => {
  assert.equal(notAnswered(new ApiError('Reading the locations: server not reachable (Failed to fetch)', 0)), true);
  assert.equal(notAnswered(new TypeError('Failed to fetch')), true);
  // an error answer: the server is there (a location that went away, a camera feature off line)
  assert.equal(notAnswered(new ApiError('Reading the properties of CAM9: unknown location CAM9', 404)), false);
  assert.equal(notAnswered(new ApiError('Reading the properties of CAM1: internal error', 500)), false);
});
