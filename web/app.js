// Web viewer of the camera server: location list, and for the selected location the live
// image, the frame-period plot, the feature tree and the location's commands.
import * as api from './api.js';
import { ImageView } from './image-view.js';
import { FeatureTree, TYPE_INT, TYPE_FLOAT, TYPE_STRING } from './feature-tree.js';
import { drawLinePlot } from './plot.js';

const LOCATIONS_MS = 1000;
const PROPERTIES_MS = 1000;
const RATE_POLLS = 5;  // the frame-period spectrum (8192 points) every 5th properties poll
const $ = (id) => document.getElementById(id);

const state = {
  locations: [],
  selected: null,
  props: null,            // last /properties answer of the selected location
  cameras: [],            // emulated cameras
};

// ---- messages -------------------------------------------------------------------------------

function showError(text) {
  const box = $('messages');
  const msg = document.createElement('div');
  msg.className = 'message error';
  msg.setAttribute('role', 'alert');
  const span = document.createElement('span');
  span.textContent = text;
  const close = document.createElement('button');
  close.type = 'button';
  close.className = 'close';
  close.setAttribute('aria-label', 'Dismiss message');
  close.textContent = '×';
  close.addEventListener('click', () => msg.remove());
  msg.append(span, close);
  box.append(msg);
  while (box.children.length > 4) box.firstElementChild.remove();
  setTimeout(() => msg.remove(), 20000);
}

function showInfo(text) {
  const box = $('messages');
  const msg = document.createElement('div');
  msg.className = 'message info';
  msg.setAttribute('role', 'status');
  msg.textContent = text;
  box.append(msg);
  while (box.children.length > 4) box.firstElementChild.remove();
  setTimeout(() => msg.remove(), 4000);
}

async function action(fn) {
  try {
    return await fn();
  } catch (e) {
    showError(e.message);
    throw e;
  }
}

function setConnection(ok, text) {
  const c = $('connection');
  c.textContent = text;
  c.classList.toggle('bad', !ok);
}

// ---- location list ----------------------------------------------------------------------------

function fmtRate(r) {
  return typeof r === 'number' ? `${r.toFixed(r < 10 ? 2 : 1)} fps` : '–';
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
    b.querySelector('.rate').textContent = `${fmtRate(loc.frame_rate)} · frame ${loc.frame_counter ?? '–'}`;
    b.querySelector('.error-text').textContent = loc.error_code ? `${loc.error_text} (${loc.error_code})` : (loc.error_text || '');
    b.querySelector('.error-text').classList.toggle('is-error', !!loc.error_code);
    b.setAttribute('aria-current', loc.name === state.selected ? 'true' : 'false');
    b.setAttribute('aria-label', `${loc.name}, ${on ? 'on line' : 'off line'}, ${fmtRate(loc.frame_rate)}, ${loc.error_text || ''}`);
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
  $('fact-rate').textContent = fmtRate(loc.frame_rate);
  $('fact-counter').textContent = String(loc.frame_counter ?? '–');
  $('fact-status').textContent = loc.camera_status || '–';
}

async function pollLocations() {
  try {
    state.locations = await api.getLocations();
    setConnection(true, 'connected');
    if (!state.selected || !state.locations.some((l) => l.name === state.selected)) {
      const wanted = decodeURIComponent(location.hash.slice(1));
      const first = state.locations.find((l) => l.name === wanted) || state.locations[0];
      if (first) select(first.name);
    }
    renderLocations();
  } catch (e) {
    setConnection(false, e.message);
  }
  try {
    state.cameras = await api.getEmulatorCameras();
  } catch {
    state.cameras = [];   // a server without emulated cameras
  }
  renderEmulator();
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
  renderLocations();
  renderEmulator();
  propsGeneration++;
  pollProperties(propsGeneration);
}

function propByName(name) {
  return state.props?.properties?.find((p) => p.name === name);
}

async function writeProperty(name, value) {
  const loc = state.selected;
  const after = await action(() => api.setProperty(loc, name, value));
  return after;
}

function toPropertyItems(properties) {
  const items = [];
  for (const p of properties) {
    if (Array.isArray(p.value) || p.points !== undefined) continue;   // spectra are plotted, not edited
    let type;
    if (typeof p.value === 'string') type = TYPE_STRING;
    else if (/float|double/i.test(p.class || '') || !Number.isInteger(p.value)) type = TYPE_FLOAT;
    else type = TYPE_INT;
    items.push({
      ...p,
      type,
      access: p.writable ? 1 : 0,
      egu_min: p.min,
      egu_max: p.max,
      desc: p.description,
      categ: Number(p.group) === 1 ? 'Device information' : 'Location',
    });
  }
  return items;
}

function renderProperties() {
  const props = state.props;
  if (!props) return;
  const features = props.features || [];
  featureTree.update(state.selected, features);
  $('features-empty').hidden = features.length > 0;
  applyFilter();
  propertyTree.update(state.selected, toPropertyItems(props.properties || []));

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

  // The listing gives a spectrum's point count only; its points come with the property itself
  // (fetched every RATE_POLLS-th poll).
  const rate = state.rate?.loc === state.selected ? state.rate.value : [];
  drawLinePlot($('rate-plot'), rate, { title: 'Time between images (ms)', unit: 'ms' });
  renderEmulator();
}

async function pollProperties(gen) {
  if (gen !== propsGeneration) return;
  const loc = state.selected;
  try {
    const props = await api.getProperties(loc);
    if (gen !== propsGeneration) return;
    if (state.rate?.loc !== loc || ++state.rate.polls >= RATE_POLLS) {
      try {
        const p = await api.getProperty(loc, 'IMGRATE');
        state.rate = { loc, value: Array.isArray(p.value) ? p.value : [], polls: 0 };
      } catch {
        state.rate = { loc, value: [], polls: 0 };  // a location without the spectrum
      }
      if (gen !== propsGeneration) return;
    }
    state.props = props;
    renderProperties();
  } catch (e) {
    if (gen === propsGeneration) setConnection(false, e.message);
  }
  if (gen === propsGeneration) setTimeout(() => pollProperties(gen), PROPERTIES_MS);
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
    text.textContent = state.cameras.length ? 'camera not among the emulated ones' : '';
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
  const f = $('feature-filter').value.trim().toUpperCase();
  for (const tr of $('feature-tree').querySelectorAll('tr[data-feature]')) {
    tr.hidden = !!f && !tr.dataset.feature.includes(f);
  }
  for (const d of $('feature-tree').querySelectorAll('details')) {
    d.hidden = !!f && !d.querySelector('tr[data-feature]:not([hidden])');
  }
}

function init() {
  imageView = new ImageView({
    canvas: $('image-canvas'),
    viewport: $('image-viewport'),
    histogram: $('histogram'),
    info: $('image-info'),
    message: $('image-message'),
    falseColour: $('false-colour'),
    zoomLabel: $('zoom-label'),
  });
  featureTree = new FeatureTree($('feature-tree'), { attr: 'feature', idPrefix: 'feat', onWrite: writeProperty });
  propertyTree = new FeatureTree($('property-tree'), { attr: 'property', idPrefix: 'prop', onWrite: writeProperty, openAll: false });

  $('zoom-in').addEventListener('click', () => imageView.zoomBy(1.5));
  $('zoom-out').addEventListener('click', () => imageView.zoomBy(1 / 1.5));
  $('zoom-fit').addEventListener('click', () => imageView.setZoom(0));
  $('zoom-1').addEventListener('click', () => imageView.setZoom(1));
  $('feature-filter').addEventListener('input', applyFilter);
  $('expand-all').addEventListener('click', () => $('feature-tree').querySelectorAll('details').forEach((d) => { d.open = true; }));
  $('collapse-all').addEventListener('click', () => $('feature-tree').querySelectorAll('details').forEach((d) => { d.open = false; }));

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
