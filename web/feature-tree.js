// Camera features (or plain location properties) in the camera's own categories, nested and
// in the camera's order, each with an editor chosen by the feature's kind (".TYPE"): 1 integer,
// 2 float, 3 enumeration, 4 boolean, 5 string, 6 command. Beside each: the camera's display
// name, unit, limits and increment. Rows are updated in place so an editor in use keeps its focus.

export const TYPE_INT = 1, TYPE_FLOAT = 2, TYPE_ENUM = 3, TYPE_BOOL = 4, TYPE_STRING = 5, TYPE_COMMAND = 6;
const TYPE_NAMES = { 1: 'integer', 2: 'float', 3: 'enumeration', 4: 'boolean', 5: 'text', 6: 'command' };
export const LEVELS = ['Beginner', 'Expert', 'Guru'];
const LEVEL_RANK = { Beginner: 0, Expert: 1, Guru: 2, Invisible: 3 };

// A write is pending while the host marks it changed or its pending value differs from the value.
export function isPending(f) {
  if (f.changed === true || f.changed === 1) return true;
  const pending = wholePending(f);
  return pending !== undefined && pending !== null && !sameValue(pending, wholeValue(f));
}

function sameValue(a, b) {
  if (typeof a === 'number' && typeof b === 'number') {
    if (Number.isInteger(a) && Number.isInteger(b)) return a === b;  // a whole value differs in its last digit
    return a === b || Math.abs(a - b) <= 1e-6 * Math.max(1, Math.abs(a));
  }
  return String(a) === String(b);
}

export function parseSelectionList(sl) {
  // "Off|0;Continuous|1" -> [{name:'Off', index:0}, ...]
  if (!sl) return [];
  return String(sl).split(';').filter(Boolean).map((part) => {
    const bar = part.lastIndexOf('|');
    return bar < 0 ? { name: part, index: NaN } : { name: part.slice(0, bar), index: Number(part.slice(bar + 1)) };
  });
}

// Numbers for people: floats with up to 6 significant digits, no trailing zeros.
export function fmt(v) {
  if (typeof v === 'number' && !Number.isInteger(v)) return String(Number(v.toPrecision(6)));
  return v === undefined || v === null ? '' : String(v);
}

// A feature wider than its property's 32 bits (a MAC address, an unsigned 32-bit address, a
// 64-bit counter) comes with its whole value beside the saturated one ("value64", "pending64");
// its "min" and "max" are then the whole limits.
export function wholeValue(f) {
  return f.value64 !== undefined && f.value64 !== null ? f.value64 : f.value;
}

function wholePending(f) {
  return f.pending64 !== undefined && f.pending64 !== null ? f.pending64 : f.pending;
}

function isWhole(f) {
  return f.value64 !== undefined && f.value64 !== null;
}

// IPv4 address of a number (the low 32 bits; a 32-bit property may hold it negative).
export function formatIPv4(v) {
  const u = Number(v) >>> 0;
  return [24, 16, 8, 0].map((s) => (u >>> s) & 255).join('.');
}

export function parseIPv4(text) {
  const m = /^\s*(\d{1,3})\.(\d{1,3})\.(\d{1,3})\.(\d{1,3})\s*$/.exec(text);
  if (!m || m.slice(1).some((p) => Number(p) > 255)) return null;
  return m.slice(1).reduce((a, p) => a * 256 + Number(p), 0);
}

// MAC address of a number (the feature's whole value): six bytes in hex separated by colons,
// upper case as the camera's device information writes them.
export function formatMAC(v) {
  let n = Number(v);
  if (!Number.isFinite(n)) return '';
  if (n < 0) n += 2 ** 48;
  const hex = Math.floor(n).toString(16).toUpperCase().padStart(12, '0').slice(-12);
  return hex.match(/../g).join(':');
}

export function parseMAC(text) {
  const m = /^\s*([0-9a-f]{2})([:-])([0-9a-f]{2})\2([0-9a-f]{2})\2([0-9a-f]{2})\2([0-9a-f]{2})\2([0-9a-f]{2})\s*$/i.exec(text);
  if (!m) return null;
  return [1, 3, 4, 5, 6, 7].reduce((a, i) => a * 256 + parseInt(m[i], 16), 0);
}

// A whole feature's own limits are exact; ".EGU" holds them as 32-bit floats.
function limitsOf(f) {
  if (isWhole(f)) return { min: f.min, max: f.max };
  return { min: f.egu_min ?? f.min, max: f.egu_max ?? f.max };
}

function limitsText(f) {
  const { min, max } = limitsOf(f);
  if (f.type === TYPE_STRING) return max > 0 ? `up to ${fmt(max)} characters` : '';
  if (f.type !== TYPE_INT && f.type !== TYPE_FLOAT) return '';
  if (f.representation === 'IPV4Address' || f.representation === 'MACAddress') return '';
  const parts = [];
  if (min !== undefined && min !== null && max !== undefined && max !== null) parts.push(`${fmt(min)} … ${fmt(max)}`);
  if (f.inc > 0 && !(f.type === TYPE_INT && Number(f.inc) === 1)) parts.push(`step ${fmt(f.inc)}`);
  return parts.join(' · ');
}

function safeId(s) {
  return s.replace(/[^A-Za-z0-9_-]/g, '_');
}

export class FeatureTree {
  // attr: data attribute that names a row ('feature' or 'property'); onWrite(name, value) -> Promise
  constructor(container, { attr = 'feature', idPrefix = 'f', onWrite, onError, openAll = true, onFilterResult }) {
    this.container = container;
    this.attr = attr;
    this.idPrefix = idPrefix;
    this.onWrite = onWrite;
    this.openAll = openAll;
    this.onFilterResult = onFilterResult;
    this.onError = onError;
    this.rows = new Map();        // name -> row
    this.groups = new Map();      // category path key -> { details, tbody, children, count }
    this.sending = new Set();     // names with a write on its way to the server
    this.key = null;
    this.filter = { text: '', level: 'Guru' };
  }

  // key identifies the location; a new key clears the tree. items come in the camera's order.
  update(key, items) {
    if (key !== this.key) {
      this.key = key;
      this.container.replaceChildren();
      this.rows.clear();
      this.groups.clear();
    }
    const seen = new Set();
    items.forEach((f, order) => {
      seen.add(f.name);
      let row = this.rows.get(f.name);
      const path = this.pathOf(f);
      const shape = `${f.type}|${f.access}|${f.sl || ''}|${path.join('\u0001')}|${f.representation || ''}`;
      if (row && row.shape !== shape) {
        row.tr.remove();
        this.rows.delete(f.name);
        row = null;
      }
      if (!row) row = this.createRow(f, shape, path, order);
      row.order = order;
      this.fillRow(row, f);
    });
    for (const [name, row] of this.rows) {
      if (!seen.has(name)) {
        row.tr.remove();
        this.rows.delete(name);
      }
    }
    for (const [k, g] of [...this.groups].reverse()) {  // children before parents
      if (!g.tbody.children.length && !g.children.children.length) {
        g.details.remove();
        this.groups.delete(k);
      }
    }
    this.applyFilter();
  }

  pathOf(f) {
    if (Array.isArray(f.category_path) && f.category_path.length) return f.category_path.map(String);
    return [f.categ || 'Uncategorised'];
  }

  group(path) {
    const key = path.join('\u0001');
    let g = this.groups.get(key);
    if (g) return g;
    const parent = path.length > 1 ? this.group(path.slice(0, -1)) : null;
    const details = document.createElement('details');
    details.className = 'categ';
    details.dataset.categ = path[path.length - 1];
    details.dataset.depth = String(path.length);
    details.open = this.openAll && path.length === 1;
    const summary = document.createElement('summary');
    const title = document.createElement('span');
    title.className = 'categ-title';
    title.textContent = path[path.length - 1];
    const count = document.createElement('span');
    count.className = 'count';
    summary.append(title, ' ', count);
    const table = document.createElement('table');
    table.className = 'features';
    const tbody = document.createElement('tbody');
    table.append(tbody);
    const children = document.createElement('div');
    children.className = 'subcategories';
    details.append(summary, table, children);
    // categories stay in the order the camera lists them (the order they first appear)
    (parent ? parent.children : this.container).append(details);
    g = { details, tbody, children, count };
    this.groups.set(key, g);
    return g;
  }

  createRow(f, shape, path, order) {
    const g = this.group(path);
    const tr = document.createElement('tr');
    tr.dataset[this.attr] = f.name;
    tr.dataset.type = String(f.type);
    if (f.visibility) tr.dataset.level = f.visibility;
    const readOnly = !f.access;
    tr.className = 'feature' + (readOnly ? ' readonly' : '');
    const id = `${this.idPrefix}-${safeId(f.name)}`;

    const th = document.createElement('th');
    th.scope = 'row';
    const label = document.createElement('label');
    label.htmlFor = id;
    if (f.display_name) {
      const dn = document.createElement('span');
      dn.className = 'display-name';
      dn.textContent = f.display_name;
      label.append(dn, ' ');
    }
    const pn = document.createElement('span');
    pn.className = f.display_name ? 'prop-name' : 'prop-name only';
    pn.textContent = f.name;
    label.append(pn);
    th.append(label);
    const desc = f.desc || f.description || '';
    const tip = [desc, TYPE_NAMES[f.type], f.visibility ? `level ${f.visibility}` : '', readOnly ? 'read-only' : '']
      .filter(Boolean).join(' · ');
    th.title = tip;

    const tdEdit = document.createElement('td');
    tdEdit.className = 'editor';
    const editor = this.makeEditor(f, id, readOnly);
    tdEdit.append(editor);

    const unitCell = document.createElement('td');
    unitCell.className = 'unit';
    const limitsCell = document.createElement('td');
    limitsCell.className = 'limits';

    const tdState = document.createElement('td');
    tdState.className = 'state';
    const badge = document.createElement('span');
    badge.className = 'badge';
    badge.setAttribute('aria-live', 'polite');
    tdState.append(badge);

    tr.append(th, tdEdit, unitCell, tdState, limitsCell);  // the state beside the value it is about
    const next = [...g.tbody.children].find((r) => (this.rows.get(r.dataset[this.attr])?.order ?? Infinity) > order);
    g.tbody.insertBefore(tr, next || null);
    const search = `${f.name} ${f.display_name || ''} ${desc}`.toLowerCase();
    const row = { tr, shape, editor, badge, unitCell, limitsCell, type: f.type, tip, readOnly, search,
      level: f.visibility || '', representation: f.representation || '', order };
    this.rows.set(f.name, row);
    return row;
  }

  makeEditor(f, id, readOnly) {
    let el;
    const address = f.representation === 'IPV4Address' || f.representation === 'MACAddress';
    switch (address ? TYPE_STRING : f.type) {
      case TYPE_INT:
      case TYPE_FLOAT: {
        el = document.createElement('input');
        el.type = 'number';
        const { min, max } = limitsOf(f);
        if (min !== undefined && min !== null) el.min = String(min);
        if (max !== undefined && max !== null) el.max = String(max);
        el.step = f.inc > 0 ? String(f.inc) : (f.type === TYPE_INT ? '1' : 'any');
        el.addEventListener('change', () => {
          if (el.value.trim() === '') return;
          const v = Number(el.value);
          // a whole value past 2^53 goes as its digits, which the server takes exactly
          if (isWhole(f) && /^\s*-?\d+\s*$/.test(el.value)) this.write(f.name, el.value.trim());
          else this.write(f.name, f.type === TYPE_INT ? Math.round(v) : v);
        });
        break;
      }
      case TYPE_ENUM: {
        el = document.createElement('select');
        for (const e of parseSelectionList(f.sl)) {
          const o = document.createElement('option');
          o.value = e.name;
          o.textContent = e.name;
          el.append(o);
        }
        el.addEventListener('change', () => this.write(f.name, el.value));
        break;
      }
      case TYPE_BOOL:
        el = document.createElement('input');
        el.type = 'checkbox';
        el.addEventListener('change', () => this.write(f.name, el.checked ? 1 : 0));
        break;
      case TYPE_COMMAND:
        el = document.createElement('button');
        el.type = 'button';
        el.textContent = 'Execute';
        el.addEventListener('click', () => this.write(f.name, 1));
        break;
      default:
        el = document.createElement('input');
        el.type = 'text';
        if (!address && f.egu_max > 0) el.maxLength = f.egu_max;
        el.addEventListener('change', () => {
          // addresses go in their notation: the server turns them into the feature's number
          if (f.representation === 'IPV4Address') {
            if (parseIPv4(el.value) === null) {
              this.refuse(f.name, `${f.name}: "${el.value}" is no IPv4 address (four numbers 0…255 separated by dots)`);
              return;
            }
            this.write(f.name, el.value.trim());
          } else if (f.representation === 'MACAddress') {
            if (parseMAC(el.value) === null) {
              this.refuse(f.name, `${f.name}: "${el.value}" is no MAC address (six hex bytes separated by colons)`);
              return;
            }
            this.write(f.name, el.value.trim());
          } else {
            this.write(f.name, el.value);
          }
        });
    }
    if (el.tagName === 'INPUT' && el.type !== 'checkbox') {
      // Typed text stays while it is typed; once sent (Enter, leaving the field) the box shows
      // the camera's value again, also when the camera clamped or refused what was sent.
      el.addEventListener('input', () => { el.dataset.editing = '1'; });
      el.addEventListener('change', () => { delete el.dataset.editing; });
      el.addEventListener('blur', () => { delete el.dataset.editing; });
    }
    el.id = id;
    el.className = 'value' + (address ? ' address' : '');
    if (readOnly) {
      el.disabled = true;
      el.setAttribute('aria-readonly', 'true');
    }
    return el;
  }

  shownText(row, v) {
    if (row.representation === 'IPV4Address') return formatIPv4(v);
    if (row.representation === 'MACAddress') return formatMAC(v);
    return fmt(v);
  }

  fillRow(row, f) {
    const { tr, editor, badge } = row;
    const pending = isPending(f);
    const sending = this.sending.has(f.name);
    // while a write waits for the camera the editor shows what was asked for
    const shown = pending && wholePending(f) !== undefined ? wholePending(f) : wholeValue(f);
    // the box keeps what is being typed, and what was sent until the server answers
    const busy = editor.dataset.editing === '1' || sending;
    if (!busy) {
      if (editor.type === 'checkbox') editor.checked = Number(shown) !== 0;
      else if (editor.tagName === 'SELECT') {
        if (![...editor.options].some((o) => o.value === String(shown))) {
          const o = document.createElement('option');
          o.value = o.textContent = String(shown);
          editor.append(o);
        }
        editor.value = String(shown);
      } else if (row.type !== TYPE_COMMAND) {
        const text = this.shownText(row, shown);
        if (editor.value !== text) editor.value = text;
      }
    }
    tr.dataset.value = fmt(wholeValue(f));
    tr.classList.toggle('pending', pending || sending);
    const invalid = f.valid === false || f.valid === 0;
    tr.classList.toggle('invalid', invalid);
    tr.firstElementChild.title = (row.tip || '') + (invalid ? ' · value not marked valid' : '');
    tr.dataset.pending = pending || sending ? '1' : '0';
    if (row.error) {
      badge.textContent = 'refused';
      badge.title = row.error;
      badge.className = 'badge error';
    } else if (sending) {
      badge.textContent = 'sending…';
      badge.title = '';
      badge.className = 'badge pending';
    } else if (pending) {
      badge.textContent = 'pending';
      badge.title = `camera value: ${this.shownText(row, wholeValue(f))}`;
      badge.className = 'badge pending';
    } else if (row.readOnly) {
      badge.textContent = 'read-only';
      badge.title = 'The camera does not take writes to this feature';
      badge.className = 'badge readonly';
    } else {
      badge.textContent = '';
      badge.title = '';
      badge.className = 'badge';
    }
    row.unitCell.textContent = f.unit || '';
    row.limitsCell.textContent = limitsText(f);
    row.last = f;
  }

  refuse(name, message) {
    const r = this.rows.get(name);
    if (!r) return;
    r.error = message;
    if (r.last) this.fillRow(r, r.last);
    this.onError?.(message);
  }

  async write(name, value) {
    const row = this.rows.get(name);
    if (row) row.error = null;
    this.sending.add(name);
    if (row && row.last) this.fillRow(row, row.last);
    try {
      const after = await this.onWrite(name, value);
      const r = this.rows.get(name);
      if (r && after) this.fillRow(r, { ...r.last, ...after });
    } catch (e) {
      const r = this.rows.get(name);
      if (r) r.error = e.message;
    } finally {
      this.sending.delete(name);
      const r = this.rows.get(name);
      if (r && r.last) this.fillRow(r, r.last);
    }
  }

  // ---- level and search -----------------------------------------------------------------------

  setFilter(filter) {
    this.filter = { ...this.filter, ...filter };
    this.applyFilter();
  }

  applyFilter() {
    const text = this.filter.text.trim().toLowerCase();
    const words = text ? text.split(/\s+/) : [];
    const maxRank = LEVEL_RANK[this.filter.level] ?? 3;
    const rank = (lvl) => (lvl ? LEVEL_RANK[lvl] ?? 0 : 0);
    let shown = 0, aboveLevel = 0;
    for (const row of this.rows.values()) {
      const match = words.every((w) => row.search.includes(w));
      const levelOk = rank(row.level) <= (maxRank >= 2 ? 3 : maxRank);  // Guru shows everything
      row.tr.hidden = !match || !levelOk;
      if (match && levelOk) shown++;
      else if (match && words.length) aboveLevel++;
    }
    // a category shows when it or a category inside it has a visible row; searching opens it
    const groups = [...this.groups.values()].reverse();
    for (const g of groups) {
      const visibleRows = [...g.tbody.children].filter((r) => !r.hidden).length;
      const visibleKids = [...g.children.children].some((d) => !d.hidden);
      g.details.hidden = !visibleRows && !visibleKids;
      g.count.textContent = visibleRows ? `(${visibleRows})` : '';
      if (words.length && !g.details.hidden) g.details.open = true;
    }
    this.onFilterResult?.({ shown, aboveLevel, searching: words.length > 0 });
  }
}
