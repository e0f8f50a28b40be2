// One live-view message as the server sends it: the 128-byte little-endian header, then the
// payload. For the viewer's tests.
export function liveMessage({
  frame = 1, timestampUs = 0, width = 1, height = 1, deliveredWidth, deliveredHeight,
  bytesPerPixel = 1, effectiveBits = 8, layout = 0, encoding = 0,
  region = [0, 0, 0, 0], binning = [1, 1], stats = null, dropped = 0, sequence = 0,
  payload = new Uint8Array(0),
} = {}) {
  const buf = new ArrayBuffer(128 + payload.byteLength);
  const d = new DataView(buf);
  'MLV1'.split('').forEach((c, i) => d.setUint8(i, c.charCodeAt(0)));
  d.setUint16(4, 128, true);
  d.setUint16(6, 1, true);
  d.setBigUint64(8, BigInt(frame), true);
  d.setBigUint64(16, BigInt(timestampUs), true);
  d.setUint32(24, width, true);
  d.setUint32(28, height, true);
  d.setUint32(32, deliveredWidth ?? width, true);
  d.setUint32(36, deliveredHeight ?? height, true);
  d.setUint8(40, bytesPerPixel);
  d.setUint8(41, effectiveBits);
  d.setUint8(42, layout);
  d.setUint8(43, encoding);
  region.forEach((v, i) => d.setUint32(44 + 4 * i, v, true));
  d.setUint16(60, binning[0], true);
  d.setUint16(62, binning[1], true);
  if (stats) {
    d.setFloat32(64, stats.cx, true);
    d.setFloat32(68, stats.cy, true);
    d.setFloat32(72, stats.sx, true);
    d.setFloat32(76, stats.sy, true);
    d.setFloat32(80, stats.peak, true);
    d.setUint32(84, stats.peakX, true);
    d.setUint32(88, stats.peakY, true);
    d.setUint32(92, stats.saturated, true);
    d.setFloat64(96, stats.sum, true);
    d.setUint32(104, stats.valid ? 1 : 0, true);
  }
  d.setUint32(108, dropped, true);
  d.setUint32(112, sequence, true);
  new Uint8Array(buf, 128).set(payload);
  return buf;
}
