// End-to-end test of the web viewer: starts the camera server with two emulated cameras on
// loopback, drives Debian's Chromium headless through playwright-core and checks that the page
// shows both locations, that an exposure change made in the page reaches the camera, and that
// unplugging and plugging the camera from the page takes the location off line and back.
//
//   node e2e.mjs --server path/to/mirva-camserver [--screenshot /tmp/viewer.png] [--headed]
import { spawn } from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';
import readline from 'node:readline';
import { chromium } from 'playwright-core';

const CHROMIUM = process.env.MIRVA_CHROMIUM || '/usr/bin/chromium';

function parseArgs(argv) {
  const a = { server: null, screenshot: null, headed: false };
  for (let i = 0; i < argv.length; i++) {
    if (argv[i] === '--server') a.server = argv[++i];
    else if (argv[i] === '--screenshot') a.screenshot = argv[++i];
    else if (argv[i] === '--headed') a.headed = true;
    else throw new Error(`unknown argument ${argv[i]}`);
  }
  if (!a.server) throw new Error('usage: node e2e.mjs --server PATH [--screenshot FILE]');
  return a;
}

let failures = 0;
const t0 = Date.now();
const elapsed = () => `${((Date.now() - t0) / 1000).toFixed(1)} s`;
function pass(what) { console.log(`PASS ${what} (${elapsed()})`); }
function fail(what, err) { failures++; console.log(`FAIL ${what}: ${err?.message || err} (${elapsed()})`); }

async function step(what, fn) {
  try {
    await fn();
    pass(what);
    return true;
  } catch (e) {
    fail(what, e);
    return false;
  }
}

// Polls fn until it returns a truthy value; throws with the last seen state after timeoutMs.
async function waitFor(what, fn, timeoutMs, intervalMs = 200) {
  const end = Date.now() + timeoutMs;
  let last;
  for (;;) {
    try {
      last = await fn();
      if (last) return last;
    } catch (e) {
      last = e.message;
    }
    if (Date.now() > end) throw new Error(`timed out after ${timeoutMs / 1000} s waiting for ${what} (last: ${JSON.stringify(last)})`);
    await new Promise((r) => setTimeout(r, intervalMs));
  }
}

function freePort() {
  return new Promise((resolve, reject) => {
    const s = net.createServer();
    s.on('error', reject);
    s.listen(0, '127.0.0.1', () => {
      const { port } = s.address();
      s.close(() => resolve(port));
    });
  });
}

function writeConfig(dir, port) {
  const file = path.join(dir, 'viewer-test.toml');
  fs.writeFileSync(file, `# written by the web viewer end-to-end test
[server]
update_period_ms = 200
state_file = "${path.join(dir, 'state.json')}"
state_save_period_s = 60
image_directory = "${path.join(dir, 'images')}"

[http]
address = "127.0.0.1"
port = ${port}

[[camera]]
serial = "21000001"
model = "mono_area_1280x1024"
user_name = "viewer-test-1"
ip_address = "127.0.0.11"

[[camera]]
serial = "21000002"
model = "mono_area_1280x1024"
user_name = "viewer-test-2"
ip_address = "127.0.0.12"

[[location]]
name = "CAM1"
type = 812
[location.properties]
SERIAL = 21000001
START = 1
RESTORE_OLD = 1
INTERFACE = "127.0.0.1"
"FORMAT.OUT" = 0

[[location]]
name = "CAM2"
type = 812
[location.properties]
SERIAL = 21000002
START = 1
RESTORE_OLD = 1
INTERFACE = "127.0.0.1"
"FORMAT.OUT" = 1
`);
  return file;
}

// Starts the server and resolves with its viewer URL once it prints "viewer: http://...".
function startServer(serverPath, config, dir) {
  const isScript = serverPath.endsWith('.mjs') || serverPath.endsWith('.js');
  const cmd = isScript ? process.execPath : serverPath;
  const args = isScript ? [serverPath, config] : [config];
  const child = spawn(cmd, args, { cwd: dir, stdio: ['ignore', 'pipe', 'pipe'] });
  const log = [];
  const keep = (line) => { log.push(line); if (log.length > 200) log.shift(); };
  readline.createInterface({ input: child.stderr }).on('line', keep);
  const url = new Promise((resolve, reject) => {
    readline.createInterface({ input: child.stdout }).on('line', (line) => {
      keep(line);
      const m = /viewer: (http:\/\/\S+)/.exec(line);
      if (m) resolve(m[1]);
    });
    child.on('exit', (code, sig) => reject(new Error(`server exited early (code ${code}, signal ${sig})`)));
    child.on('error', reject);
  });
  return { child, url, log };
}

function stopServer(child) {
  return new Promise((resolve) => {
    if (child.exitCode !== null || child.signalCode !== null) return resolve(child.exitCode);
    const hard = setTimeout(() => child.kill('SIGKILL'), 15000);
    child.once('exit', (code, sig) => { clearTimeout(hard); resolve(code ?? sig); });
    child.kill('SIGTERM');
  });
}

async function apiGet(base, p) {
  const r = await fetch(new URL(p, base));
  if (!r.ok) throw new Error(`GET ${p}: ${r.status} ${await r.text()}`);
  return r.json();
}

async function main() {
  const args = parseArgs(process.argv.slice(2));
  const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'mirva-web-e2e-'));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'mirva-web-e2e-chromium-'));
  const config = writeConfig(dir, await freePort());
  const server = startServer(path.resolve(args.server), config, dir);
  let context = null;
  const pageErrors = [];
  const cleanup = () => { try { server.child.kill('SIGKILL'); } catch { /* gone */ } };
  process.on('exit', cleanup);
  for (const sig of ['SIGINT', 'SIGTERM']) process.on(sig, () => { cleanup(); process.exit(2); });

  try {
    let base;
    if (!await step('server starts and prints the viewer URL', async () => {
      base = await Promise.race([server.url,
        new Promise((_, rej) => setTimeout(() => rej(new Error('no "viewer:" line within 30 s')), 30000))]);
    })) return;

    context = await chromium.launchPersistentContext(profile, {
      executablePath: CHROMIUM,
      headless: !args.headed,
      viewport: { width: 1400, height: 1000 },
      args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
        '--disable-component-update', '--disable-sync', '--disable-quic'],
    });
    const page = context.pages()[0] || await context.newPage();
    page.setDefaultTimeout(15000);
    page.on('pageerror', (e) => pageErrors.push(e.message));
    page.on('console', (m) => { if (m.type() === 'error' && !/Failed to load resource/.test(m.text())) pageErrors.push(m.text()); });

    const cam = (name) => page.locator(`#location-list li[data-location="${name}"]`);

    await step('page loads and lists both cameras on line', async () => {
      await page.goto(base);
      await page.locator('h1', { hasText: 'MIRVA camera server' }).waitFor();
      await cam('CAM1').waitFor();
      await cam('CAM2').waitFor();
      await page.locator('#location-list li[data-location="CAM1"][data-online="1"]').waitFor({ timeout: 30000 });
      await page.locator('#location-list li[data-location="CAM2"][data-online="1"]').waitFor({ timeout: 30000 });
    });

    await step('both cameras stream images into the page', async () => {
      for (const name of ['CAM2', 'CAM1']) {
        await cam(name).locator('button').click();
        await page.locator(`#location-panel[data-selected-location="${name}"]`).waitFor();
        const first = await waitFor(`a frame of ${name}`,
          async () => Number(await page.locator('#image-canvas').getAttribute('data-frame')) || 0, 30000);
        await waitFor(`a newer frame of ${name}`,
          async () => Number(await page.locator('#image-canvas').getAttribute('data-frame')) > first, 30000);
        if (args.screenshot) await page.screenshot({ path: args.screenshot.replace(/(\.png)?$/, `-${name}.png`) });
      }
    });

    await step('an exposure change in the page reaches the camera and comes back', async () => {
      await cam('CAM1').locator('button').click();
      await page.locator('#location-panel[data-selected-location="CAM1"]').waitFor();
      const row = page.locator('#feature-tree tr[data-feature="EXPOSURETIMERAW"]');
      await row.waitFor({ timeout: 30000 });
      const before = await apiGet(base, '/api/locations/CAM1/properties/EXPOSURETIMERAW');
      const inc = before.inc > 0 ? before.inc : 1;
      const lo = before.egu_min ?? before.min ?? 0;
      // a value on the camera's increment grid, different from the current one
      let target = lo + inc * Math.round((Number(before.value) + 40 * inc - lo) / inc);
      if (before.egu_max !== undefined && target > before.egu_max) target = lo + inc * 10;
      const input = row.locator('input.value');
      await input.fill(String(target));
      await input.press('Enter');
      await waitFor(`the API to show EXPOSURETIMERAW = ${target} without a pending write`, async () => {
        const p = await apiGet(base, '/api/locations/CAM1/properties/EXPOSURETIMERAW');
        return Number(p.value) === target && p.changed !== true && p.changed !== 1;
      }, 30000);
      await waitFor(`the page to show ${target} without the pending mark`, async () => {
        const v = await row.getAttribute('data-value');
        const pending = await row.getAttribute('data-pending');
        return Number(v) === target && pending === '0' && Number(await input.inputValue()) === target
          && (await row.locator('.badge').textContent()) === '';
      }, 15000);
    });

    await step('a value the server refuses shows its error message in the page', async () => {
      const row = page.locator('#feature-tree tr[data-feature="EXPOSURETIMERAW"]');
      const input = row.locator('input.value');
      await input.fill('1e99');
      await input.press('Enter');
      const alert = page.getByRole('alert').filter({ hasText: 'EXPOSURETIMERAW' });
      await alert.first().waitFor({ timeout: 10000 });
      const text = await alert.first().textContent();
      if (!/refused/.test(text)) throw new Error(`message does not say why: ${text}`);
      await row.locator('.badge', { hasText: 'refused' }).waitFor();
      await input.blur();
    });

    await step('unplugging the camera from the page takes CAM1 off line', async () => {
      await cam('CAM1').locator('button').click();
      const unplug = page.getByRole('button', { name: 'Unplug camera', exact: true });
      await waitFor('the unplug button to be enabled', () => unplug.isEnabled(), 10000);
      await unplug.click();
      await page.locator('#location-list li[data-location="CAM1"][data-online="0"]').waitFor({ timeout: 45000 });
      await page.locator('#location-state', { hasText: 'off line' }).waitFor();
      const cams = await apiGet(base, '/api/emulator/cameras');
      if (cams.cameras.find((c) => String(c.serial) === '21000001')?.plugged) throw new Error('emulator still shows the camera plugged');
      const locs = await apiGet(base, '/api/locations');
      if (Number(locs.locations.find((l) => l.name === 'CAM2').online) !== 1) throw new Error('CAM2 went off line too');
    });

    await step('plugging it in again from the page brings CAM1 back on line', async () => {
      const plug = page.getByRole('button', { name: 'Plug camera', exact: true });
      await waitFor('the plug button to be enabled', () => plug.isEnabled(), 10000);
      await plug.click();
      try {
        await page.locator('#location-list li[data-location="CAM1"][data-online="1"]').waitFor({ timeout: 60000 });
      } catch (e) {
        const locs = await apiGet(base, '/api/locations').catch(() => ({ locations: [] }));
        const cam1 = locs.locations.find((l) => l.name === 'CAM1');
        throw new Error(`CAM1 still off line 60 s after the plug (server says ${JSON.stringify(cam1)})`);
      }
    });

    await step('acquisition runs again on CAM1 (started from the page when the shut-down stopped it)', async () => {
      const start = page.locator('#btn-start');
      await waitFor('the start button to be usable', () => start.isEnabled(), 15000);
      if (await start.getAttribute('aria-pressed') !== 'true') await start.click();
      await page.locator('#btn-start[aria-pressed="true"]').waitFor();
      const first = Number(await page.locator('#image-canvas').getAttribute('data-frame')) || 0;
      await waitFor('a new frame after the plug', async () => {
        const f = Number(await page.locator('#image-canvas').getAttribute('data-frame'));
        return f > 0 && f !== first;
      }, 30000);
    });

    if (args.screenshot) {
      await page.screenshot({ path: args.screenshot, fullPage: true });
      console.log(`screenshot: ${args.screenshot}`);
    }
    await step('no script errors in the page', async () => {
      if (pageErrors.length) throw new Error(pageErrors.join(' | '));
    });
  } catch (e) {
    fail('test run', e);
  } finally {
    if (context) await context.close().catch(() => {});
    const code = await stopServer(server.child);
    if (code !== 0) console.log(`WARN server exit status ${code}`);
    if (failures) console.log(`--- last server output ---\n${server.log.slice(-40).join('\n')}`);
    fs.rmSync(profile, { recursive: true, force: true });
    fs.rmSync(dir, { recursive: true, force: true });
  }
}

await main().catch((e) => fail('setup', e));
console.log(failures ? `FAILED: ${failures} check(s) (${elapsed()})` : `ALL PASSED (${elapsed()})`);
process.exit(failures ? 1 : 0);
