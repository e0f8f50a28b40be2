// Web viewer of the camera server: location list, and for the selected location the live
// image with its tools, the image rates, the beam statistics, the feature browser and the
// location's commands.
import * as api from './api.js';
import { ImageView, formatClock } from './image-view.js';
import { FeatureTree, TYPE_INT, TYPE_FLOAT, TYPE_STRING } from './feature-tree.js';
import { drawLinePlot } from './plot.js';
import { REGION_FEATURES, alignRegion, fullRegion, writeRegion } from './region.js';

const LOCATIONS_MS = 1000;
const PROPERTIES_MS = 2000;   // and soon after every write
const SPECTRUM_MS = 2000;
const $ = (id) => document.getElementById(id);

const state = {
  locations: [],
  selected: null,
  props: null,            // last /properties answer of the selected location
  cameras: [],            // emulated cameras
  reachable: true,
};

// ---- messages -------------------------------------------------------------------------------

function showMessage(text, kind) {
  const box = $('messages');
  const msg = document.createElement('div');
  msg.className = `message ${kind}`;
  msg.setAttribute('role', kind === 'error' ? 'alert' : 'status');
  const span = document.createElement('span');
  span.textContent = text;
  msg.append(span);
  if (kind === 'error') {
    const close = document.createElement('button');
    close.type = 'button';
    close.className = 'close';
    close.setAttribute('aria-label', 'Dismiss message');
    close.textContent = '×';
    close.addEventListener('click', () => msg.remove());
    msg.append(close);
  }
  box.append(msg);
  while (box.children.length > 4) box.firstElementChild.remove();
  setTimeout(() => msg.remove(), kind === 'error' ? 20000 : 4000);
}
const showError = (text) => showMessage(text, 'error');
const showInfo = (text) => showMessage(text, 'info');

async function action(fn) {
  try {
    return await fn();
  } catch (e) {
    showError(e.message);
    throw e;
  }
}

let unreachableSince = null;  // wall-clock time (ms) of the first failed request in a row

// ok: the server answered; else text is the failed request and its reason (kept in the tooltip:
// the header says since when the server is away).
function setConnection(ok, text) {
  const c = $('connection');
  if (ok) unreachableSince = null;
  else unreachableSince ??= Date.now();
  c.textContent = ok ? text : `Server not reachable since ${formatClock(unreachableSince)}`;
  c.title = ok ? '' : text;
  c.classList.toggle('bad', !ok);
  state.reachable = ok;
  document.body.classList.toggle('unreachable', !ok);
  imageView?.setUnreachable(!ok);
}

// A failed poll: a request that got no answer greys the page; an error answer (a location that
// went away, a server fault) is said once per poll until that poll succeeds again, and the page
// stays live.
const lastPollError = { locations: '', properties: '' };
function pollFailed(poll, e) {
  if (api.notAnswered(e)) {
    setConnection(false, e.message);
    return;
  }
  setConnection(true, 'connected');
  if (e.message !== lastPollError[poll]) showError(e.message);
  lastPollError[poll] = e.message;
}

// ---- location list ----------------------------------------------------------------------------

function fmtRate(r) {
  return typeof r === 'number' && Number.isFinite(r) ? `${r.toFixed(1)} fps` : '–';
}

// The camera's rate as the server measures it over the images it delivered; 0 while off line.
function cameraRate(loc) {
  if (Number(loc.online) !== 1) return 0;
  if (typeof loc.fps === 'number') return loc.fps;
  return typeof loc.frame_rate === 'number' ? loc.frame_rate : null;
}

function renderLocations() {
  const list = $('location-list');
  $('no-locations').hidden = state.locations.length > 0;
  const seen = new Set();
  for (const loc of state.locations) {
    seen.add(loc.name);
    let li = list.querySelector(`li[data-location="${CSS.escape(loc.name)}"]`);
    if (!li) {
      li = document.createElement('li');
      li.dataset.location = loc.name;
      const b = document.createElement('button');
      b.type = 'button';
      b.className = 'location';
      b.innerHTML = '<span class="name"></span><span class="pill online-state"></span>' +
        '<span class="rate small"></span><span class="error-text small"></span>';
      b.addEventListener('click', () => select(loc.name));
      li.append(b);
      list.append(li);
    }
    const on = Number(loc.online) === 1;
    li.dataset.online = on ? '1' : '0';
    const b = li.firstElementChild;
    b.querySelector('.name').textContent = loc.name;
    const pill = b.querySelector('.online-state');
    pill.textContent = on ? 'on line' : 'off line';
    pill.classList.toggle('on', on);
    pill.classList.toggle('off', !on);
    b.querySelector('.rate').textContent = `${fmtRate(cameraRate(loc))} · frame ${loc.frame_counter ?? '–'}`;
    b.querySelector('.error-text').textContent = loc.error_code ? `${loc.error_text} (${loc.error_code})` : (loc.error_text || '');
    b.querySelector('.error-text').classList.toggle('is-error', !!loc.error_code);
    b.setAttribute('aria-current', loc.name === state.selected ? 'true' : 'false');
    b.setAttribute('aria-label', `${loc.name}, ${on ? 'on line' : 'off line'}, ${fmtRate(cameraRate(loc))}, ${loc.error_text || ''}`);
  }
  for (const li of [...list.children]) if (!seen.has(li.dataset.location)) li.remove();
  renderLocationHead();
}

function renderLocationHead() {
  const loc = state.locations.find((l) => l.name === state.selected);
  if (!loc) return;
  const on = Number(loc.online) === 1;
  const pill = $('location-state');
  pill.textContent = on ? 'on line' : 'off line';
  pill.className = `pill ${on ? 'on' : 'off'}`;
  $('location-panel').dataset.online = on ? '1' : '0';
  $('location-status').textContent = loc.camera_status || '';
  const err = $('location-error');
  err.textContent = loc.error_code ? `error ${loc.error_code}: ${loc.error_text}` : (loc.error_text || '');
  err.className = loc.error_code ? 'error-text' : 'muted';
  $('fact-counter').textContent = String(loc.frame_counter ?? '–');
  // The camera stream's counts (a network camera loses and resends packets).
  const st = loc.stream;
  $('fact-stream').textContent = st
    ? `${st.frames_completed} / ${st.frames_failed} / ${st.underruns} · ${st.missing_packets} / ${st.resent_packets}`
    : '–';
  $('fact-status').textContent = loc.camera_status || '–';
  imageView.setCameraRate(cameraRate(loc), on);
}

async function pollLocations() {
  if (!document.hidden) {
    try {
      state.locations = await api.getLocations();
      setConnection(true, 'connected');
      lastPollError.locations = '';
      if (!state.selected || !state.locations.some((l) => l.name === state.selected)) {
        const wanted = decodeURIComponent(location.hash.slice(1));
        const first = state.locations.find((l) => l.name === wanted) || state.locations[0];
        if (first) select(first.name);
      }
      renderLocations();
    } catch (e) {
      pollFailed('locations', e);
    }
    try {
      state.cameras = await api.getEmulatorCameras();
    } catch {
      state.cameras = [];   // a server without emulated cameras
    }
    renderEmulator();
  }
  setTimeout(pollLocations, LOCATIONS_MS);
}

// ---- selected location ------------------------------------------------------------------------

let imageView;
let featureTree;
let propertyTree;
let propsGeneration = 0;

function select(name) {
  if (name === state.selected) return;
  state.selected = name;
  state.props = null;
  history.replaceState(null, '', `#${encodeURIComponent(name)}`);
  const panel = $('location-panel');
  panel.hidden = false;
  panel.dataset.selectedLocation = name;
  $('location-title').textContent = name;
  document.title = `${name} · MIRVA camera server`;
  imageView.show(name);
  featureTree.update(name, []);
  propertyTree.update(name, []);
  $('region-state').textContent = '';
  for (const id of ['btn-start', 'btn-online']) $(id).disabled = true;  // until the properties come
  renderLocations();
  renderEmulator();
  propsGeneration++;
  pollProperties(propsGeneration);
  pollSpectrum(propsGeneration);
}

function propByName(name) {
  return state.props?.properties?.find((p) => p.name === name);
}

async function writeProperty(name, value) {
  const loc = state.selected;
  const after = await action(() => api.setProperty(loc, name, value));
  if (after && typeof after.note === 'string') showInfo(after.note);
  if (loc === state.selected) refreshProperties();
  return after;
}

const isSpectrum = (p) => Array.isArray(p.value) || p.points !== undefined || /spectrum/i.test(p.class || '');

function toPropertyItems(properties) {
  const items = [];
  for (const p of properties) {
    if (isSpectrum(p)) continue;   // spectra are plotted, not edited
    let type;
    if (typeof p.value === 'string') type = TYPE_STRING;
    else if (/float|double/i.test(p.class || '') || !Number.isInteger(p.value)) type = TYPE_FLOAT;
    else type = TYPE_INT;
    items.push({
      ...p,
      type,
      access: p.writable ? 1 : 0,
      desc: p.description,
      categ: Number(p.group) === 1 ? 'Device information' : 'Location',
    });
  }
  return items;
}

// STATS.* properties of the location (read-only), or null when it has none.
function statsFromProperties() {
  const v = (n) => {
    const p = propByName(`STATS.${n}`);
    return p && typeof p.value === 'number' ? p.value : undefined;
  };
  const cx = v('CX');
  if (cx === undefined) return null;
  return { cx, cy: v('CY'), sx: v('SX'), sy: v('SY'), peak: v('PEAK'), sum: v('SUM'), saturated: v('SATURATED') };
}

function renderProperties() {
  const props = state.props;
  if (!props) return;
  const features = props.features || [];
  featureTree.update(state.selected, features);
  $('features-empty').hidden = features.length > 0;
  const loc = state.locations.find((l) => l.name === state.selected);
  $('features-empty').textContent = loc && Number(loc.online) !== 1
    ? 'No camera features: the location is off line; they come back with the camera.'
    : 'No camera features (the location is not set up).';
  propertyTree.update(state.selected, toPropertyItems(props.properties || []));
  imageView.setPropertyStats(statsFromProperties());

  const start = propByName('START');
  const running = start && Number(start.pending ?? start.value) !== 0;
  const b = $('btn-start');
  b.textContent = running ? 'Stop acquisition' : 'Start acquisition';
  b.setAttribute('aria-pressed', running ? 'true' : 'false');
  b.disabled = !start;

  const online = propByName('ONLINE');
  const isOn = online && Number(online.value) === 1;
  const ob = $('btn-online');
  ob.textContent = isOn ? 'Switch off line' : 'Switch on line';
  ob.setAttribute('aria-pressed', isOn ? 'true' : 'false');
  ob.disabled = !online;

  const save = propByName('CONF.SAVE'), load = propByName('CONF.LOAD');
  const notes = [];
  if (save && Number(save.value) > 0) notes.push('save requested…');
  if (save && Number(save.value) < 0) notes.push('last save failed');
  if (load && Number(load.value) > 0) notes.push('load requested…');
  if (load && Number(load.value) < 0) notes.push('last load failed');
  $('conf-state').textContent = notes.join(' · ');
  $('conf-state').classList.toggle('error-text', notes.some((n) => n.includes('failed')));
  renderEmulator();
}

let propsTimer = null;
let propsInFlight = null;   // generation of the listing request on its way
let propsAgain = false;     // a write asked for a fresh listing while one was on its way

// The next listing soon (after a write, so its pending mark clears without waiting long).
function refreshProperties() {
  const gen = propsGeneration;
  if (propsInFlight === gen) {
    propsAgain = true;
    return;
  }
  clearTimeout(propsTimer);
  propsTimer = setTimeout(() => pollProperties(gen), 300);
}

async function pollProperties(gen) {
  if (gen !== propsGeneration || propsInFlight === gen) return;
  clearTimeout(propsTimer);
  propsInFlight = gen;
  const loc = state.selected;
  try {
    if (!document.hidden) {
      const props = await api.getProperties(loc);
      if (gen === propsGeneration) {
        lastPollError.properties = '';
        state.props = props;
        renderProperties();
      }
    }
  } catch (e) {
    if (gen === propsGeneration) pollFailed('properties', e);
  } finally {
    if (propsInFlight === gen) propsInFlight = null;
  }
  if (gen !== propsGeneration) return;
  const delay = propsAgain ? 300 : PROPERTIES_MS;
  propsAgain = false;
  propsTimer = setTimeout(() => pollProperties(gen), delay);
}

// The frame-period spectrum, fetched on its own and only while its plot is open.
async function pollSpectrum(gen) {
  if (gen !== propsGeneration) return;
  if ($('rate-details').open && !document.hidden) {
    try {
      const p = await api.getProperty(state.selected, 'IMGRATE');
      if (gen !== propsGeneration) return;
      drawLinePlot($('rate-plot'), Array.isArray(p.value) ? p.value : [], { title: 'Time between images (ms)', unit: 'ms' });
    } catch {
      drawLinePlot($('rate-plot'), [], { title: 'Time between images (ms)', unit: 'ms' });
    }
  }
  if (gen === propsGeneration) setTimeout(() => pollSpectrum(gen), SPECTRUM_MS);
}

// ---- region -------------------------------------------------------------------------------------

let regionBusy = false;

// The region features as the camera has them now (the polled listing may be a moment old).
async function regionFeatures(loc) {
  const names = [];
  for (const n of [...REGION_FEATURES, 'WIDTHMAX', 'HEIGHTMAX']) names.push(n, `${n}.PYLON`);
  return (await api.getProperties(loc, names)).features || [];
}

// plan(features) gives the values to write (null when the camera lacks a region feature).
async function setRegion(plan, what) {
  if (regionBusy) return;
  const loc = state.selected;
  const out = $('region-state');
  let features, values;
  try {
    features = await regionFeatures(loc);
    values = plan(features);
  } catch (e) {
    showError(e.message);
    return;
  }
  if (!values) {
    showError(`${loc}: the camera has no OffsetX, OffsetY, Width and Height features to set a region with`);
    return;
  }
  regionBusy = true;
  out.textContent = `${what}: offset ${values.OFFSETX}, ${values.OFFSETY}, size ${values.WIDTH} × ${values.HEIGHT}…`;
  out.dataset.state = 'busy';
  try {
    await writeRegion({
      getProperty: (n) => api.getProperty(loc, n),
      setProperty: (n, v) => api.setProperty(loc, n, v),
    }, features, values, { onStep: (s) => { out.textContent = `${what}: writing ${s}…`; } });
    out.textContent = `Region: offset ${values.OFFSETX}, ${values.OFFSETY}, size ${values.WIDTH} × ${values.HEIGHT}`;
    out.dataset.state = 'done';
  } catch (e) {
    out.textContent = '';
    out.dataset.state = 'failed';
    out.dataset.error = e.message;
    showError(`${loc}: ${e.message}`);
  } finally {
    regionBusy = false;
  }
}

// ---- emulator ---------------------------------------------------------------------------------

// The emulated camera of the selected location: its "SERIAL" property, else a device-information
// property whose value is the serial number of an emulated camera.
function cameraOfSelected() {
  if (!state.props || !state.cameras.length) return null;
  const serial = propByName('SERIAL');
  if (serial) {
    const cam = state.cameras.find((c) => String(c.serial) === String(serial.value));
    if (cam) return cam;
  }
  for (const p of state.props.properties || []) {
    if (Number(p.group) !== 1 || !/SERIAL/i.test(p.name)) continue;
    const cam = state.cameras.find((c) => String(c.serial) === String(p.value));
    if (cam) return cam;
  }
  return null;
}

function renderEmulator() {
  const cam = cameraOfSelected();
  const text = $('emulator-state');
  const unplug = $('btn-unplug'), plug = $('btn-plug');
  if (!cam) {
    text.textContent = state.cameras.length && state.props ? 'camera not among the emulated ones' : '';
    unplug.disabled = plug.disabled = true;
    unplug.hidden = plug.hidden = !state.cameras.length;
    return;
  }
  unplug.hidden = plug.hidden = false;
  text.textContent = `emulated camera ${cam.serial} (${cam.model_name || cam.model}): ` +
    (cam.plugged ? 'plugged' : 'unplugged') + (cam.stalled ? ', stalled' : '');
  text.dataset.serial = cam.serial;
  text.dataset.plugged = cam.plugged ? '1' : '0';
  unplug.disabled = !cam.plugged;
  plug.disabled = !!cam.plugged;
}

async function emulator(act) {
  const cam = cameraOfSelected();
  if (!cam) return;
  await action(() => api.emulatorAction(cam.serial, act));
  showInfo(`Camera ${cam.serial} ${act === 'unplug' ? 'unplugged' : 'plugged in'}`);
  state.cameras = await api.getEmulatorCameras().catch(() => state.cameras);
  renderEmulator();
}

// ---- wiring -----------------------------------------------------------------------------------

function applyFilter() {
  const level = $('feature-level').value;
  try { localStorage.setItem('mirva.level', level); } catch { /* private mode */ }
  featureTree.setFilter({ text: $('feature-filter').value, level });
}

function init() {
  imageView = new ImageView({
    canvas: $('image-canvas'),
    overlay: $('image-overlay'),
    stage: $('image-stage'),
    viewport: $('image-viewport'),
    message: $('image-message'),
    info: $('image-info'),
    histogram: $('histogram'),
    zoomLabel: $('zoom-label'),
    falseColour: $('false-colour'),
    profileH: $('profile-h'),
    profileV: $('profile-v'),
    profileCorner: $('profile-corner'),
    profileMode: $('profile-mode'),
    beamOverlay: $('beam-overlay'),
    transfer: $('transfer'),
    cursor: $('cursor-readout'),
    beam: $('beam-card'),
    beamNote: $('beam-note'),
    levels: $('levels'),
    colourBar: $('colour-bar'),
    windowMin: $('window-min'),
    windowMax: $('window-max'),
    windowAuto: $('window-auto'),
    windowFull: $('window-full'),
    lut: $('image-lut'),
    rateDrawn: $('rate-drawn'),
    rateCamera: $('rate-camera'),
    dropped: $('rate-dropped'),
    transport: $('transport'),
    regionTool: $('region-tool'),
    fullFrame: $('full-frame'),
  }, {
    onRegion: (rect) => setRegion((features) => alignRegion(features, rect), 'Setting the region'),
    onFullFrame: () => setRegion((features) => fullRegion(features), 'Full frame'),
  });
  featureTree = new FeatureTree($('feature-tree'), {
    attr: 'feature', idPrefix: 'feat', onWrite: writeProperty, onError: showError,
    onFilterResult: ({ shown, aboveLevel, searching }) => {
      const note = [];
      if (searching) note.push(`${shown} match${shown === 1 ? '' : 'es'}`);
      if (aboveLevel) note.push(`${aboveLevel} more above the level ${$('feature-level').value}`);
      $('filter-note').textContent = note.join(' · ');
    },
  });
  propertyTree = new FeatureTree($('property-tree'), { attr: 'property', idPrefix: 'prop', onWrite: writeProperty, onError: showError, openAll: false });

  let level = 'Beginner';
  try { level = localStorage.getItem('mirva.level') || level; } catch { /* private mode */ }
  $('feature-level').value = level;
  applyFilter();

  $('zoom-in').addEventListener('click', () => imageView.zoomBy(1.5));
  $('zoom-out').addEventListener('click', () => imageView.zoomBy(1 / 1.5));
  $('zoom-fit').addEventListener('click', () => imageView.setZoom(0));
  $('zoom-1').addEventListener('click', () => imageView.setZoom(1));
  $('feature-filter').addEventListener('input', applyFilter);
  $('feature-level').addEventListener('change', applyFilter);
  $('expand-all').addEventListener('click', () => $('feature-tree').querySelectorAll('details').forEach((d) => { d.open = true; }));
  $('collapse-all').addEventListener('click', () => $('feature-tree').querySelectorAll('details').forEach((d) => { d.open = false; }));
  $('rate-details').addEventListener('toggle', () => { if ($('rate-details').open) drawLinePlot($('rate-plot'), [], { title: 'Time between images (ms)', unit: 'ms' }); });

  $('btn-start').addEventListener('click', async () => {
    const start = propByName('START');
    const running = start && Number(start.pending ?? start.value) !== 0;
    await writeProperty('START', running ? 0 : 1).catch(() => {});
  });
  $('btn-online').addEventListener('click', async () => {
    const online = propByName('ONLINE');
    await writeProperty('ONLINE', online && Number(online.value) === 1 ? 0 : 1).catch(() => {});
  });
  $('btn-conf-save').addEventListener('click', async () => {
    if (await writeProperty('CONF.SAVE', 1).catch(() => null)) showInfo(`${state.selected}: saving the camera features`);
  });
  $('btn-conf-load').addEventListener('click', async () => {
    if (await writeProperty('CONF.LOAD', 1).catch(() => null)) showInfo(`${state.selected}: loading the camera features`);
  });
  $('btn-unplug').addEventListener('click', () => emulator('unplug').catch(() => {}));
  $('btn-plug').addEventListener('click', () => emulator('plug').catch(() => {}));
  window.addEventListener('hashchange', () => {
    const name = decodeURIComponent(location.hash.slice(1));
    if (state.locations.some((l) => l.name === name)) select(name);
  });
  pollLocations();
}

init();
