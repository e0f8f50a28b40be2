// Line plot of a spectrum (e.g. "IMGRATE", the time between images in ms) on a canvas.

export function drawLinePlot(canvas, points, { title = '', unit = '' } = {}) {
  const dpr = window.devicePixelRatio || 1;
  const cssW = canvas.clientWidth || 400, cssH = canvas.clientHeight || 160;
  if (canvas.width !== Math.round(cssW * dpr) || canvas.height !== Math.round(cssH * dpr)) {
    canvas.width = Math.round(cssW * dpr);
    canvas.height = Math.round(cssH * dpr);
  }
  const ctx = canvas.getContext('2d');
  ctx.setTransform(dpr, 0, 0, dpr, 0, 0);
  ctx.clearRect(0, 0, cssW, cssH);
  ctx.font = '11px system-ui, sans-serif';
  ctx.fillStyle = '#555';

  // the host fills the spectrum from the start; trailing zeros are unused points
  let n = points ? points.length : 0;
  while (n > 0 && !(points[n - 1] > 0)) n--;
  const data = n ? points.slice(0, n).map(Number) : [];
  const left = 48, right = 8, top = 18, bottom = 20;
  const w = cssW - left - right, h = cssH - top - bottom;
  ctx.fillText(title, left, 12);
  if (!data.length) {
    ctx.fillText('no data yet', left + 8, top + h / 2);
    canvas.dataset.points = '0';
    return;
  }
  let lo = Infinity, hi = -Infinity, sum = 0;
  for (const v of data) { lo = Math.min(lo, v); hi = Math.max(hi, v); sum += v; }
  const mean = sum / data.length;
  const ymin = Math.max(0, lo - (hi - lo) * 0.1), ymax = hi + (hi - lo) * 0.1 + 1e-9;
  const x = (i) => left + (data.length > 1 ? (i / (data.length - 1)) * w : w / 2);
  const y = (v) => top + h - ((v - ymin) / (ymax - ymin)) * h;

  ctx.strokeStyle = '#ccc';
  ctx.lineWidth = 1;
  ctx.strokeRect(left, top, w, h);
  ctx.textAlign = 'right';
  for (const v of [ymin, (ymin + ymax) / 2, ymax]) {
    ctx.fillText(v.toFixed(v < 10 ? 2 : 1), left - 4, y(v) + 4);
  }
  ctx.textAlign = 'left';
  const f = (v) => v.toFixed(v < 10 ? 2 : v < 100 ? 1 : 0);
  ctx.fillText(`mean ${f(mean)} · min ${f(lo)} · max ${f(hi)} ${unit}`, 4, cssH - 5);
  ctx.textAlign = 'start';

  ctx.strokeStyle = '#d9534f';
  ctx.lineWidth = 1.2;
  ctx.beginPath();
  const step = Math.max(1, Math.floor(data.length / (w * 2)));  // about two points per pixel
  for (let i = 0; i < data.length; i += step) {
    if (i === 0) ctx.moveTo(x(i), y(data[i])); else ctx.lineTo(x(i), y(data[i]));
  }
  ctx.stroke();
  canvas.dataset.points = String(data.length);
}
