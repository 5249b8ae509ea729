// The switch page's figures, in one run (not a test: they vary with the
// machine): the page's button to "ATH1\r" at the modem beside the command
// line's; how long after a switch from the command line the page shows
// it; the daemon's memory and idle CPU with 20 pages open.
//
//   node measure_page.mjs BUILD_DIR [IDLE_SECONDS]

import puppeteer from 'puppeteer-core';
import {spawn, execFileSync} from 'node:child_process';
import fs from 'node:fs';
import net from 'node:net';
import os from 'node:os';
import path from 'node:path';

const [build, idleArg] = process.argv.slice(2);
const idleSeconds = Number(idleArg || 60);
const bin = path.join(build, 'bin');
const dir = fs.mkdtempSync(path.join(os.tmpdir(), 'modemswitch-measure-page-'));
const token = '0123456789abcdef0123456789abcdef';
fs.writeFileSync(path.join(dir, 'token'), token + '\n', {mode: 0o600});
const sleep = ms => new Promise(r => setTimeout(r, ms));
const median = v => [...v].sort((a, b) => a - b)[Math.floor(v.length / 2)];

async function until(test, ms) {
  const end = Date.now() + ms;
  while (!(await test())) {
    if (Date.now() > end) return false;
    await sleep(5);
  }
  return true;
}

const port = await new Promise(resolve => {
  const s = net.createServer();
  s.listen(0, '127.0.0.1', () => { const p = s.address().port; s.close(() => resolve(p)); });
});
const link = path.join(dir, 'modem'), log = link + '.log', socket = path.join(dir, 'sock');
const modem = spawn(path.join(bin, 'modem_sim'), ['--link', link, '--log', log, '--quiet', '--answer'], {stdio: 'ignore'});
await until(() => fs.existsSync(link), 5000);
const daemon = spawn(path.join(bin, 'modemswitch'), ['daemon', '--port', link, '--dir', dir, '--socket', socket, '--http',
  '127.0.0.1:' + port, '--http-token-file', path.join(dir, 'token')], {stdio: 'ignore'});
await until(() => fs.existsSync(socket), 5000);
await sleep(500);

const lines = () => fs.readFileSync(log, 'utf8').trim().split('\n').map(l => l.split(' '));
const count = word => lines().filter(l => l[2] === word).length;
const lastAt = word => Number(lines().filter(l => l[2] === word).pop()[0]);
const cli = verb => execFileSync(path.join(bin, 'modemswitch'), [verb, '--socket', socket]);
const proc = field => (fs.readFileSync('/proc/' + daemon.pid + '/status', 'utf8').match(new RegExp(field + ':\\s*(.*)')) || [])[1];
const cpu = () => {
  const f = fs.readFileSync('/proc/' + daemon.pid + '/stat', 'utf8').split(') ')[1].split(' ');
  return (Number(f[11]) + Number(f[12])) / 100;
};

const browser = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true,
  args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking']});
const page = await browser.newPage();
await page.setExtraHTTPHeaders({'Accept-Language': 'ru'});
await page.goto('http://127.0.0.1:' + port + '/');
await page.waitForSelector('#login:not([hidden])');
await page.type('#login input', token);
await page.click('#login button');
await page.waitForSelector('#switch-1 .lamp');
const lit = () => page.$eval('#switch-1 .lamp', e => e.classList.contains('lit'));

const Cycles = 20;
const button = [], command = [], shown = [];
for (let i = 0; i < Cycles; i++) {
  // The page's button, then an "off" from the command line the page must show.
  let ons = count('ON');
  const t0 = Date.now();
  await page.click('#switch-1 .switch');
  await until(() => count('ON') > ons, 3000);
  button.push(lastAt('ON') - t0);
  await until(lit, 3000);
  const offs = count('OFF');
  cli('off');
  await until(async () => !(await lit()), 3000);
  const seen = Date.now();
  await until(() => count('OFF') > offs, 1000);
  shown.push(seen - lastAt('OFF'));
  // The command line's own "on", for comparison.
  ons = count('ON');
  const t1 = Date.now();
  cli('on');
  await until(() => count('ON') > ons, 3000);
  command.push(lastAt('ON') - t1);
  await until(lit, 3000);
  cli('off');
  await until(async () => !(await lit()), 3000);
}
console.log('switch page (median of ' + Cycles + ', a modem stand-in on a pseudo-terminal):');
console.log('  the page\'s button to "ATH1\\r"          ' + median(button) + ' ms (a later switch-on)');
console.log('  modemswitch on to "ATH1\\r"             ' + median(command) + ' ms (a new process each time)');
console.log('  "ATH\\r" to the page\'s lamp going out   ' + median(shown) + ' ms');

const rssBefore = proc('VmRSS');
// Each page in a context of its own, as 20 phones would be: one browser
// keeps at most 6 connections to a host, and every open page holds one.
const pages = [];
for (let i = 0; i < 20; i++) {
  const context = await browser.createBrowserContext();
  const p = await context.newPage();
  await p.goto('http://127.0.0.1:' + port + '/');
  await p.waitForSelector('#login:not([hidden])');
  await p.type('#login input', token);
  await p.click('#login button');
  await p.waitForSelector('#switch-1 .lamp');
  pages.push(p);
}
await sleep(2000);
console.log('  daemon VmRSS with 1 page / 21 pages open  ' + rssBefore + ' / ' + proc('VmRSS'));
const c0 = cpu();
await sleep(idleSeconds * 1000);
console.log('  idle CPU over ' + idleSeconds + ' s with 21 pages open  ' + ((cpu() - c0) / idleSeconds * 100).toFixed(3) +
            ' % (keep-alives every 15 s)');
console.log('  daemon VmRSS after it                  ' + proc('VmRSS'));

await browser.close();
daemon.kill('SIGTERM');
modem.kill('SIGTERM');
await sleep(300);
fs.rmSync(dir, {recursive: true, force: true});
