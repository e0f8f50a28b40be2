// Camera features (or plain location properties) grouped by category, each with an editor
// chosen by the feature's kind (".TYPE"): 1 integer, 2 float, 3 enumeration, 4 boolean,
// 5 string, 6 command. Rows are updated in place so an editor being used keeps its focus.

export const TYPE_INT = 1, TYPE_FLOAT = 2, TYPE_ENUM = 3, TYPE_BOOL = 4, TYPE_STRING = 5, TYPE_COMMAND = 6;
const TYPE_NAMES = { 1: 'integer', 2: 'float', 3: 'enumeration', 4: 'boolean', 5: 'string', 6: 'command' };

// A write is pending while the host marks it changed or its pending value differs from the value.
export function isPending(f) {
  if (f.changed === true || f.changed === 1) return true;
  return f.pending !== undefined && f.pending !== null && !sameValue(f.pending, f.value);
}

function sameValue(a, b) {
  if (typeof a === 'number' && typeof b === 'number') return a === b || Math.abs(a - b) <= 1e-6 * Math.max(1, Math.abs(a));
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

function fmt(v) {
  if (typeof v === 'number' && !Number.isInteger(v)) return String(Number(v.toPrecision(7)));
  return v === undefined || v === null ? '' : String(v);
}

function safeId(s) {
  return s.replace(/[^A-Za-z0-9_-]/g, '_');
}

export class FeatureTree {
  // attr: data attribute that names a row ('feature' or 'property'); onWrite(name, value) -> Promise
  constructor(container, { attr = 'feature', idPrefix = 'f', onWrite, openAll = true }) {
    this.container = container;
    this.attr = attr;
    this.idPrefix = idPrefix;
    this.onWrite = onWrite;
    this.openAll = openAll;
    this.rows = new Map();        // name -> { tr, kind, editor, badge, unitCell }
    this.groups = new Map();      // category -> { details, tbody, count }
    this.sending = new Set();     // names with a write on its way to the server
    this.key = null;
  }

  // key identifies the location; a new key clears the tree
  update(key, items) {
    if (key !== this.key) {
      this.key = key;
      this.container.replaceChildren();
      this.rows.clear();
      this.groups.clear();
    }
    const seen = new Set();
    for (const f of items) {
      seen.add(f.name);
      let row = this.rows.get(f.name);
      const shape = `${f.type}|${f.access}|${f.sl || ''}|${f.categ}`;
      if (row && row.shape !== shape) {
        row.tr.remove();
        this.rows.delete(f.name);
        row = null;
      }
      if (!row) row = this.createRow(f, shape);
      this.fillRow(row, f);
    }
    for (const [name, row] of this.rows) {
      if (!seen.has(name)) {
        row.tr.remove();
        this.rows.delete(name);
      }
    }
    for (const [categ, g] of this.groups) {
      const n = g.tbody.children.length;
      if (!n) {
        g.details.remove();
        this.groups.delete(categ);
      } else {
        g.count.textContent = `(${n})`;
      }
    }
  }

  group(categ) {
    let g = this.groups.get(categ);
    if (g) return g;
    const details = document.createElement('details');
    details.className = 'categ';
    details.dataset.categ = categ;
    details.open = this.openAll;
    const summary = document.createElement('summary');
    const title = document.createElement('span');
    title.textContent = categ;
    const count = document.createElement('span');
    count.className = 'count';
    summary.append(title, ' ', count);
    const table = document.createElement('table');
    table.className = 'features';
    const tbody = document.createElement('tbody');
    table.append(tbody);
    details.append(summary, table);
    // categories in alphabetical order
    const after = [...this.groups.keys()].filter((c) => c.localeCompare(categ) > 0).sort((a, b) => a.localeCompare(b))[0];
    if (after) this.container.insertBefore(details, this.groups.get(after).details);
    else this.container.append(details);
    g = { details, tbody, count };
    this.groups.set(categ, g);
    return g;
  }

  createRow(f, shape) {
    const g = this.group(f.categ || 'Uncategorised');
    const tr = document.createElement('tr');
    tr.dataset[this.attr] = f.name;
    tr.dataset.type = String(f.type);
    const readOnly = !f.access;
    tr.className = 'feature' + (readOnly ? ' readonly' : '');
    const id = `${this.idPrefix}-${safeId(f.name)}`;

    const th = document.createElement('th');
    th.scope = 'row';
    const label = document.createElement('label');
    label.htmlFor = id;
    label.textContent = f.name;
    th.append(label);
    const tip = [f.desc || f.description, TYPE_NAMES[f.type], readOnly ? 'read-only' : ''].filter(Boolean).join(' · ');
    th.title = tip;

    const tdEdit = document.createElement('td');
    tdEdit.className = 'editor';
    const editor = this.makeEditor(f, id, readOnly);
    tdEdit.append(editor);

    const unitCell = document.createElement('td');
    unitCell.className = 'unit';

    const tdState = document.createElement('td');
    tdState.className = 'state';
    const badge = document.createElement('span');
    badge.className = 'badge';
    badge.setAttribute('aria-live', 'polite');
    tdState.append(badge);

    tr.append(th, tdEdit, unitCell, tdState);
    // rows sorted by name within the category
    const next = [...g.tbody.children].find((r) => r.dataset[this.attr].localeCompare(f.name) > 0);
    g.tbody.insertBefore(tr, next || null);
    const row = { tr, shape, editor, badge, unitCell, type: f.type, tip };
    this.rows.set(f.name, row);
    return row;
  }

  makeEditor(f, id, readOnly) {
    let el;
    switch (f.type) {
      case TYPE_INT:
      case TYPE_FLOAT: {
        el = document.createElement('input');
        el.type = 'number';
        if (f.egu_min !== undefined && f.egu_min !== null) el.min = String(f.egu_min);
        else if (f.min !== undefined) el.min = String(f.min);
        if (f.egu_max !== undefined && f.egu_max !== null) el.max = String(f.egu_max);
        else if (f.max !== undefined) el.max = String(f.max);
        el.step = f.inc > 0 ? String(f.inc) : (f.type === TYPE_INT ? '1' : 'any');
        el.addEventListener('change', () => {
          if (el.value.trim() === '') return;
          const v = Number(el.value);
          this.write(f.name, f.type === TYPE_INT ? Math.round(v) : v);
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
        if (f.egu_max > 0) el.maxLength = f.egu_max;
        el.addEventListener('change', () => this.write(f.name, el.value));
    }
    el.id = id;
    el.className = 'value';
    if (readOnly) el.disabled = true;
    return el;
  }

  fillRow(row, f) {
    const { tr, editor, badge } = row;
    const pending = isPending(f);
    const sending = this.sending.has(f.name);
    // while a write waits for the camera the editor shows what was asked for
    const shown = pending && f.pending !== undefined ? f.pending : f.value;
    const busy = document.activeElement === editor && (editor.tagName === 'INPUT' && editor.type !== 'checkbox');
    if (!busy) {
      if (row.type === TYPE_BOOL) editor.checked = Number(shown) !== 0;
      else if (row.type === TYPE_ENUM) {
        if (![...editor.options].some((o) => o.value === String(shown))) {
          const o = document.createElement('option');
          o.value = o.textContent = String(shown);
          editor.append(o);
        }
        editor.value = String(shown);
      } else if (row.type !== TYPE_COMMAND) {
        const text = fmt(shown);
        if (editor.value !== text) editor.value = text;
      }
    }
    tr.dataset.value = fmt(f.value);
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
      badge.title = `camera value: ${fmt(f.value)}`;
      badge.className = 'badge pending';
    } else {
      badge.textContent = '';
      badge.title = '';
      badge.className = 'badge';
    }
    row.unitCell.textContent = f.unit || '';
    row.last = f;
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
}
