// The switch page in a real browser: Debian's chromium, headless, driven
// over the DevTools protocol (puppeteer-core, which downloads nothing),
// against the real daemon on simulated devices.
//
//   node page_test.mjs BUILD_DIR DOCS_DIR
//
// Exits 0 when every check passed; prints each failure. Saves screenshots
// of the page in DOCS_DIR.

import puppeteer from 'puppeteer-core';
import {spawn, execFileSync} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const [build, docs] = process.argv.slice(2);
const bin = path.join(build, 'bin');
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'modemswitch-browser-'));
const token = '0123456789abcdef0123456789abcdef';
fs.writeFileSync(path.join(dir, 'token'), token + '\n', {mode: 0o600});
const children = [];
let failures = 0;

function check(ok, what) {
  console.log((ok ? 'ok    ' : 'FAILED') + ' ' + what);
  if (!ok) failures++;
}

const sleep = ms => new Promise(r => setTimeout(r, ms));

async function until(test, ms) {
  const end = Date.now() + ms;
  for (;;) {
    if (await test()) return true;
    if (Date.now() > end) return false;
    await sleep(20);
  }
}

function freePort() {
  return new Promise(resolve => {
    const server = net.createServer();
    server.listen(0, '127.0.0.1', () => {
      const {port} = server.address();
      server.close(() => resolve(port));
    });
  });
}

function start(program, args) {
  const child = spawn(path.join(bin, program), args, {stdio: ['ignore', 'ignore', 'pipe']});
  child.log = '';
  child.stderr.on('data', d => { child.log += d; });
  children.push(child);
  return child;
}

// A simulated device and a daemon on it with the web door.
async function service(name, simulator, simulatorArgs, daemonArgs) {
  const link = path.join(dir, name), log = link + '.log', socket = path.join(dir, name + '.sock');
  if (simulator) {
    start(simulator, ['--link', link, '--log', log, '--quiet', ...simulatorArgs]);
    await until(() => fs.existsSync(link), 5000);
  }
  const port = await freePort();
  const daemon = start('modemswitch', ['daemon', '--port', link, '--dir', dir, '--socket', socket, '--http',
    '127.0.0.1:' + port, '--http-token-file', path.join(dir, 'token'), ...daemonArgs]);
  await until(() => fs.existsSync(socket), 5000);
  await sleep(300);
  const lines = () => fs.existsSync(log) ? fs.readFileSync(log, 'utf8').trim().split('\n').map(l => l.split(' ')) : [];
  const words = () => lines().map(l => l[2]);
  // When the device last heard `word` (ms since the epoch, as its simulator logs it).
  const heard = word => Number((lines().filter(l => l[2] === word).pop() || [0])[0]);
  const cli = args => {
    try { execFileSync(path.join(bin, 'modemswitch'), [...args, '--socket', socket]); } catch (e) { /* the code is checked by the page */ }
  };
  return {base: 'http://127.0.0.1:' + port + '/', words, heard, cli, daemon};
}

async function login(page, base) {
  // The window's Russian, as a Russian browser asks for it.
  await page.setExtraHTTPHeaders({'Accept-Language': 'ru-RU,ru;q=0.9,en;q=0.5'});
  await page.goto(base);
  await page.waitForSelector('#login:not([hidden])', {timeout: 5000});
  await page.type('#login input', token);
  await page.click('#login button');
  await page.waitForSelector('.panel', {timeout: 5000});
}

const panelText = (page, n, selector) =>
  page.$eval('#switch-' + n + ' ' + selector, e => e.textContent).catch(() => '');
const lampLit = (page, n) => page.$eval('#switch-' + n + ' .lamp', e => e.classList.contains('lit')).catch(() => false);

const browser = await puppeteer.launch({
  executablePath: '/usr/bin/chromium',
  headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking'],
});
try {
  // One modem: log in, the button, a switch from the command line, a pulse.
  const modem = await service('modem', 'modem_sim', ['--answer'], []);
  const page = await browser.newPage();
  await page.setViewport({width: 800, height: 420});
  const outside = [];
  page.on('request', r => { if (!r.url().startsWith(modem.base) && !r.url().startsWith('data:')) outside.push(r.url()); });
  await login(page, modem.base);
  check((await panelText(page, 1, '.switch')) === 'Включить', 'the button says "Включить" while off');
  check(!(await lampLit(page, 1)), 'the lamp is dark while off');
  await page.click('#switch-1 .switch');
  check(await until(() => modem.words().includes('ON'), 3000), 'the button: "ATH1\\r" at the modem');
  check(await until(async () => await lampLit(page, 1), 2000), 'the lamp lights');
  check(await until(async () => (await panelText(page, 1, '.switch')) === 'Отключить', 2000), 'the caption becomes "Отключить"');
  await page.screenshot({path: path.join(docs, 'web-page.png')});
  modem.cli(['off']);
  const shown = await until(async () => !(await lampLit(page, 1)), 3000);
  const delay = Date.now() - modem.heard('OFF');
  check(shown && delay < 1000, 'an "off" from the command line shows within a second (' + delay + ' ms after "ATH\\r")');
  await page.type('#switch-1 .pulse input', '3');
  await page.click('#switch-1 .switch');
  check(await until(async () => (await panelText(page, 1, '.details')).includes('осталось'), 3000), 'a pulse counts down');
  check(await until(async () => !(await lampLit(page, 1)), 6000), 'the pulse switches off by itself');
  check(outside.length === 0, 'nothing is fetched from outside (' + outside.join(', ') + ')');

  // A phone's width.
  await page.setViewport({width: 390, height: 700, isMobile: true, hasTouch: true, deviceScaleFactor: 2});
  await page.reload();
  await page.waitForSelector('.panel');
  const width = await page.evaluate(() => document.documentElement.scrollWidth);
  check(width <= 390, 'a phone needs no sideways scrolling (' + width + ' px)');
  await page.screenshot({path: path.join(docs, 'web-phone.png')});

  // In English when the browser asks for it.
  const english = await browser.newPage();
  await english.setExtraHTTPHeaders({'Accept-Language': 'en-US,en;q=0.9'});
  await english.goto(modem.base);
  await english.waitForSelector('.panel', {timeout: 5000});  // the session cookie is the browser's
  check((await panelText(english, 1, '.switch')) === 'Switch on', 'English words for an English browser');

  // A wrong port: the window's message, and "Сброс" clears it.
  const missing = await service('missing', null, [], ['--on-start', 'none']);
  const wrong = await browser.newPage();
  await login(wrong, missing.base);
  await wrong.click('#switch-1 .switch');
  check(await until(async () => (await panelText(wrong, 1, '.message')).includes('COM-порт указан неверно'), 3000),
        'a wrong port shows the window\'s message');
  await wrong.screenshot({path: path.join(docs, 'web-wrong-port.png')});
  await wrong.click('#switch-1 .reset');
  check(await until(async () => (await panelText(wrong, 1, '.message')) === '', 3000), '"Сброс" clears the message');

  // Two channels of a relay board.
  const board = await service('board', 'lcus_sim', ['--channels', '2'], ['--device', 'lcus', '--channels', '2']);
  const two = await browser.newPage();
  await two.setViewport({width: 800, height: 700});
  await login(two, board.base);
  check(await until(async () => (await two.$$('.panel')).length === 2, 3000), 'a panel for each of two switches');
  await two.click('#switch-2 .switch');
  check(await until(() => board.words().includes('CH2:ON'), 3000), 'switch 2\'s button: relay 2 on');
  check(await until(async () => await lampLit(two, 2), 2000) && !(await lampLit(two, 1)), 'only switch 2\'s lamp lights');
  await two.screenshot({path: path.join(docs, 'web-two-switches.png')});
} catch (e) {
  check(false, 'the run: ' + (e && e.stack || e));
} finally {
  await browser.close();
  for (const child of children) child.kill('SIGTERM');
  await sleep(300);
  fs.rmSync(dir, {recursive: true, force: true});
}
process.exit(failures === 0 ? 0 : 1);
