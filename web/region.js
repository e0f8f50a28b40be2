// The image region of a camera (OffsetX, OffsetY, Width, Height) set from a rectangle: the
// values are put on the features' increments inside their limits, and written in an order
// the camera's limits allow (Width's maximum depends on OffsetX and the other way round).

export const REGION_FEATURES = ['OFFSETX', 'OFFSETY', 'WIDTH', 'HEIGHT'];

// The feature object of a base name ("WIDTH"); a feature whose name a location property
// already has is published as NAME.PYLON.
export function findFeature(features, base) {
  return features.find((f) => f.name === base) || features.find((f) => f.name === `${base}.PYLON`) || null;
}

function lower(f) { return Number(f.egu_min ?? f.min ?? 0); }
function step(f) { return Number(f.inc) > 0 ? Number(f.inc) : 1; }

// v put on the grid min + k*inc of feature f, rounding down (or to the nearest).
export function onGrid(v, min, inc, nearest = false) {
  const k = (v - min) / inc;
  return min + inc * (nearest ? Math.round(k) : Math.floor(k + 1e-9));
}

// Largest extent of one axis in feature units: offset + size never goes past it.
function axisExtent(features, size, offset, maxName) {
  const m = findFeature(features, maxName);
  if (m && Number(m.value) > 0) return Number(m.value);
  return Number(size.egu_max ?? size.max) + Number(offset.value);
}

// Target region { x, y, width, height } (feature units, may be fractional or outside) to values
// the camera takes: { OFFSETX, OFFSETY, WIDTH, HEIGHT }. Null when a feature is missing.
export function alignRegion(features, target) {
  const out = {};
  for (const [off, size, start, len, maxName] of [['OFFSETX', 'WIDTH', 'x', 'width', 'WIDTHMAX'],
    ['OFFSETY', 'HEIGHT', 'y', 'height', 'HEIGHTMAX']]) {
    const fo = findFeature(features, off), fs = findFeature(features, size);
    if (!fo || !fs) return null;
    const extent = axisExtent(features, fs, fo, maxName);
    const sMin = lower(fs), sInc = step(fs), oMin = lower(fo), oInc = step(fo);
    let o = onGrid(Math.max(oMin, target[start]), oMin, oInc);
    o = Math.min(o, onGrid(extent - sMin, oMin, oInc));
    const end = Math.min(extent, target[start] + target[len]);
    let s = onGrid(Math.max(sMin, end - o), sMin, sInc, true);
    if (o + s > extent) s = onGrid(extent - o, sMin, sInc);
    out[off] = Math.max(oMin, o);
    out[size] = Math.max(sMin, s);
  }
  return out;
}

// The full sensor: offsets at their minimum, sizes at their largest.
export function fullRegion(features) {
  const out = {};
  for (const [off, size, maxName] of [['OFFSETX', 'WIDTH', 'WIDTHMAX'], ['OFFSETY', 'HEIGHT', 'HEIGHTMAX']]) {
    const fo = findFeature(features, off), fs = findFeature(features, size);
    if (!fo || !fs) return null;
    const extent = axisExtent(features, fs, fo, maxName);
    out[off] = lower(fo);
    out[size] = onGrid(extent - lower(fo), lower(fs), step(fs));
  }
  return out;
}

// The writes in two phases. Per axis: an offset that grows goes after its size (which then
// shrinks or stays inside the old limit), an offset that shrinks goes first.
export function planRegionWrites(features, want) {
  const first = [], second = [];
  for (const [off, size] of [['OFFSETX', 'WIDTH'], ['OFFSETY', 'HEIGHT']]) {
    const fo = findFeature(features, off), fs = findFeature(features, size);
    const oNow = Number(fo.value), sNow = Number(fs.value);
    const o = { feature: fo, base: off, value: want[off] };
    const s = { feature: fs, base: size, value: want[size] };
    const order = want[off] > oNow ? [s, o] : [o, s];
    const todo = order.filter((w) => w.value !== (w === o ? oNow : sNow));
    if (todo.length === 2) { first.push(todo[0]); second.push(todo[1]); } else first.push(...todo);
  }
  return [first, second].filter((p) => p.length);
}

// Writes the region: each value once the feature's current limits allow it, and the next once
// the camera has taken it. A write the camera's pass drops while it restarts acquisition for
// the previous one is sent again (at most three times). api: { getProperty(name),
// setProperty(name, v) }. Resolves with the values written; rejects with a message naming the
// feature.
export async function writeRegion(api, features, want, { timeoutMs = 30000, onStep, attempts = 3 } = {}) {
  const wait = async (what, test) => {
    const end = Date.now() + timeoutMs;
    for (;;) {
      const ok = await test();
      if (ok) return;
      if (Date.now() > end) throw new Error(`region: gave up waiting for ${what}`);
      await new Promise((r) => setTimeout(r, 100));
    }
  };
  for (const w of planRegionWrites(features, want).flat()) {
    await wait(`${w.feature.name} to allow ${w.value}`, async () => {
      const p = await api.getProperty(w.feature.name);
      return p.max === undefined || p.max === null || (w.value <= p.max && w.value >= p.min);
    });
    let last;
    for (let attempt = 1; attempt <= attempts; attempt++) {
      onStep?.(`${w.feature.name} = ${w.value}`);
      await api.setProperty(w.feature.name, w.value);
      // Taken: the camera reports the value. Dropped or clamped: no write is pending any more
      // and the camera keeps another value (the pending mark can clear a moment before the
      // camera's value arrives, so a settled other value counts only when it lasts).
      let settledSince = null;
      await wait(`the camera to take ${w.feature.name} = ${w.value}`, async () => {
        last = await api.getProperty(w.feature.name);
        if (last.changed !== true && Number(last.value) === w.value) return true;
        const settled = last.changed !== true && Number(last.pending ?? last.value) === Number(last.value);
        settledSince = settled ? settledSince ?? Date.now() : null;
        return settled && Date.now() - settledSince > 1500;
      });
      if (Number(last.value) === w.value) break;
    }
    if (Number(last.value) !== w.value) {
      throw new Error(`region: ${w.feature.name} is ${last.value} after writing ${w.value}`);
    }
  }
  return want;
}
