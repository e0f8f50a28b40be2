// Thin client of the camera server's HTTP API. Every failure becomes an ApiError whose
// message is the server's own {"error": ...} text when there is one.

export class ApiError extends Error {
  constructor(message, status) {
    super(message);
    this.name = 'ApiError';
    this.status = status;
  }
}

// What the viewer was doing, then the server's reason. The server's messages begin with the
// name they concern; said once: "Writing 3501 to CAM1 EXPOSURETIMERAW: value 3501 refused: ...".
export function withContext(what, text) {
  const last = what.slice(what.lastIndexOf(' ') + 1);
  if (last && text.startsWith(`${last}:`)) return `${what}${text.slice(last.length)}`;
  return `${what}: ${text}`;
}

// True when the request never got an answer (the server is away); an error answer means the
// server is there and said why.
export function notAnswered(e) {
  return !(e instanceof ApiError) || e.status === 0;
}

async function errorFrom(response, what) {
  let text = '';
  try {
    const body = await response.json();
    if (body && typeof body.error === 'string') text = body.error;
  } catch {
    // not JSON: fall back to the status line
  }
  if (!text) text = `${response.status} ${response.statusText}`.trim();
  return new ApiError(withContext(what, text), response.status);
}

async function request(method, path, what, body) {
  const init = { method, headers: {} };
  if (body !== undefined) {
    init.headers['Content-Type'] = 'application/json';
    init.body = JSON.stringify(body);
  }
  let response;
  try {
    response = await fetch(path, init);
  } catch (e) {
    throw new ApiError(`${what}: server not reachable (${e.message})`, 0);
  }
  if (!response.ok) throw await errorFrom(response, what);
  return response;
}

const enc = encodeURIComponent;

export async function getLocations() {
  const r = await request('GET', '/api/locations', 'Reading the locations');
  return (await r.json()).locations || [];
}

// names (optional): only the properties and features of these names.
export async function getProperties(loc, names) {
  const query = names ? `?names=${names.map(enc).join(',')}` : '';
  const r = await request('GET', `/api/locations/${enc(loc)}/properties${query}`, `Reading the properties of ${loc}`);
  return r.json();
}

export async function getProperty(loc, name) {
  const r = await request('GET', `/api/locations/${enc(loc)}/properties/${enc(name)}`, `Reading ${loc} ${name}`);
  return r.json();
}

export async function setProperty(loc, name, value) {
  const r = await request('PUT', `/api/locations/${enc(loc)}/properties/${enc(name)}`,
    `Writing ${JSON.stringify(value)} to ${loc} ${name}`, { value });
  return r.json();
}

// The latest image. raw=true gives the pixel bytes and the header (for 16-bit data);
// otherwise a PNG blob. Resolves to null while the location has no image yet (404).
export async function getImage(loc, raw) {
  const path = `/api/locations/${enc(loc)}/image${raw ? '?format=raw' : ''}`;
  let response;
  try {
    response = await fetch(path, { cache: 'no-store' });
  } catch (e) {
    throw new ApiError(`Reading the image of ${loc}: server not reachable (${e.message})`, 0);
  }
  if (response.status === 404) return null;
  if (!response.ok) throw await errorFrom(response, `Reading the image of ${loc}`);
  const h = response.headers;
  if (raw) {
    let header = {};
    try {
      header = JSON.parse(h.get('X-Image-Header') || '{}');
    } catch {
      header = {};
    }
    return { raw: true, header, bytes: new Uint8Array(await response.arrayBuffer()) };
  }
  const header = {
    frame: h.get('X-Frame'),
    timestamp: h.get('X-Timestamp'),
    width: Number(h.get('X-Width')),
    height: Number(h.get('X-Height')),
    bytes_per_pixel: Number(h.get('X-Bytes-Per-Pixel')),
    effective_bits: Number(h.get('X-Effective-Bits')),
    source_format: h.get('X-Source-Format'),
    region: h.get('X-Region'),
    binning: h.get('X-Binning'),
  };
  return { raw: false, header, blob: await response.blob() };
}

export async function getEmulatorCameras() {
  const r = await request('GET', '/api/emulator/cameras', 'Reading the emulated cameras');
  return (await r.json()).cameras || [];
}

export async function emulatorAction(serial, action, body) {
  const r = await request('POST', `/api/emulator/cameras/${enc(serial)}/${action}`,
    `Emulator ${action} of camera ${serial}`, body);
  return r.json();
}
