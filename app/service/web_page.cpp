#include "app/service/web_page.h"

#include <cctype>

#include "app/hosting.h"
#include "winlib/codepage.h"

namespace {

constexpr std::string_view Script = R"JS('use strict';
// The switch page: one panel per switch, kept current by the event stream.
const texts = document.body.dataset;
const panels = document.getElementById('switches');
const login = document.getElementById('login');
let states = [];

function post(path, body) {
  return fetch(path, {method: 'POST', credentials: 'same-origin',
    headers: {'Content-Type': 'application/json'}, body: JSON.stringify(body || {})});
}

function panel(s) {
  const id = 'switch-' + (s.switch || 1);
  let p = document.getElementById(id);
  if (!p) {
    p = document.createElement('section');
    p.id = id;
    p.className = 'panel';
    p.innerHTML = '<h2></h2><label class="pulse"><span></span><input inputmode="decimal" maxlength="10"></label>' +
      '<p class="message" role="alert"></p>' +
      '<div class="row"><button class="reset"></button><button class="switch"></button>' +
      '<span class="lamp" role="img"></span></div><p class="details"></p>';
    p.querySelector('.pulse span').textContent = texts.pulse;
    p.querySelector('.reset').textContent = texts.reset;
    p.querySelector('.reset').addEventListener('click', () => command(p, 'reset'));
    p.querySelector('.switch').addEventListener('click', () => {
      const seconds = p.querySelector('.pulse input').value.trim();
      const off = p.dataset.state !== 'on';
      if (off && seconds !== '' && seconds !== '0') command(p, 'pulse', {seconds});
      else command(p, 'toggle');
    });
    panels.appendChild(p);
  }
  return p;
}

async function command(p, verb, body) {
  const n = p.id.slice('switch-'.length);
  const reply = await post('/api/v1/switches/' + n + '/' + verb, body);
  if (reply.status === 401) return showLogin();
  const r = await reply.json().catch(() => null);
  if (r && r.error) p.querySelector('.message').textContent = r.error;
}

function render(list) {
  states = list;
  const several = list.length > 1;
  for (const s of list) {
    const p = panel(s);
    p.dataset.state = s.state;
    p.querySelector('h2').textContent = several ? texts.switchword + ' ' + s.switch : texts.title;
    p.querySelector('h2').hidden = !several;
    const on = s.state === 'on';
    p.querySelector('.switch').textContent = on ? texts.off : texts.on;
    const lamp = p.querySelector('.lamp');
    lamp.classList.toggle('lit', on);
    lamp.setAttribute('aria-label', on ? texts.lit : texts.unlit);
    p.querySelector('.message').textContent = s.last_error || '';
    const details = [];
    details.push(s.state === 'unknown' ? texts.unknown : (s.confirmed ? texts.confirmed : texts.unconfirmed));
    if (s.since) details.push(texts.since + ' ' + new Date(s.since).toLocaleString(document.documentElement.lang));
    if (s.pulse_remaining_s !== null && s.pulse_remaining_s !== undefined)
      details.push(texts.left.replace('%s', Math.ceil(s.pulse_remaining_s)));
    if (s.watch) details.push(texts.watchdog + ': ' + s.watch.state);
    if (!s.available) details.push(texts.unavailable);
    p.querySelector('.details').textContent = details.join(' · ');
  }
}

function showLogin() {
  login.hidden = false;
  panels.hidden = true;
}

let stream = null;
function listen() {
  if (stream) stream.close();
  stream = new EventSource('/api/v1/events');
  stream.addEventListener('status', e => render(JSON.parse(e.data)));
  stream.onerror = () => {
    // A lost session shows the login again; a lost daemon is retried by the browser.
    fetch('/api/v1/status', {credentials: 'same-origin'}).then(r => { if (r.status === 401) { stream.close(); showLogin(); } });
  };
}

async function start() {
  const reply = await fetch('/api/v1/status', {credentials: 'same-origin'});
  if (reply.status === 401) return showLogin();
  login.hidden = true;
  panels.hidden = false;
  render(await reply.json());
  listen();
}

login.addEventListener('submit', async e => {
  e.preventDefault();
  const field = login.querySelector('input');
  const reply = await post('/api/v1/login', {token: field.value.trim()});
  field.value = '';
  login.querySelector('.message').textContent = reply.ok ? '' : texts.badtoken;
  if (reply.ok) start();
});

start();
)JS";

constexpr std::string_view Style = R"CSS(* { box-sizing: border-box; }
body { margin: 0; background: #d4d0c8; color: #000; font: bold 16px Arial, Helvetica, sans-serif; }
header { background: #0a246a; color: #fff; padding: 6px 10px; font-size: 14px; }
main { display: flex; flex-wrap: wrap; gap: 12px; padding: 12px; }
#switches { display: flex; flex-wrap: wrap; gap: 12px; width: 100%; }
.panel, form { background: #d4d0c8; border: 2px outset #fff; padding: 12px; flex: 1 1 340px; max-width: 640px; }
h2 { margin: 0 0 8px; font-size: 18px; }
label.pulse { display: flex; align-items: center; justify-content: space-between; gap: 12px; font-size: 18px; }
input { width: 72px; height: 34px; text-align: center; font: bold 18px Arial, sans-serif; background: #fff; border: 2px inset #fff; }
form input { width: 100%; text-align: left; }
.message { color: #f00; min-height: 2.6em; font-size: 18px; margin: 8px 0; }
.row { display: flex; align-items: center; gap: 16px; flex-wrap: wrap; }
button { min-width: 115px; height: 50px; font: bold 16px Arial, sans-serif; background: #d4d0c8; border: 2px outset #fff; }
button:active { border-style: inset; }
button.switch { min-width: 120px; }
.lamp { width: 35px; height: 35px; border-radius: 50%; background: #800000; border: 2px solid #808080; flex: none; }
.lamp.lit { background: radial-gradient(circle at 35% 35%, #fff 0, #fff 12%, #f00 30%); }
.details { font-weight: normal; font-size: 14px; margin: 8px 0 0; }
@media (max-width: 420px) { button { min-width: 0; flex: 1; } .row .lamp { margin-left: auto; } }
)CSS";

constexpr std::string_view Lamp = R"SVG(<svg xmlns="http://www.w3.org/2000/svg" viewBox="0 0 16 16"><circle cx="8" cy="8" r="7" fill="#f00" stroke="#800000"/></svg>)SVG";

struct TTexts {
    const char* Lang;
    std::string Title, Pulse, On, Off, Reset, Switch, Confirmed, Unconfirmed, Unknown, Since, Left, Watchdog,
        Unavailable, Lit, Unlit, Token, Login, BadToken;
};

const TTexts& Russian() {
    // The window's own words where it has them (Windows-1251 there).
    static const TTexts texts{"ru",
                              "Tovan-компьютер включает и выключает устройство через модем",
                              "Длительность импульса, с",
                              "Включить",
                              "Отключить",
                              "Сброс",
                              "Выключатель",
                              "подтверждено устройством",
                              "не подтверждено",
                              "состояние неизвестно",
                              "с",
                              "импульс: осталось %s с",
                              "сторож",
                              "порт недоступен",
                              "включено",
                              "выключено",
                              "Ключ доступа",
                              "Войти",
                              "Неверный ключ"};
    return texts;
}

const TTexts& English() {
    static const TTexts texts{"en",           "Tovan computer switches a device on and off through a modem",
                              "Pulse length, s", "Switch on",
                              "Switch off",   "Reset",
                              "Switch",       "confirmed by the device",
                              "unconfirmed",  "state unknown",
                              "since",        "pulse: %s s left",
                              "watchdog",     "port not available",
                              "on",           "off",
                              "Access token", "Log in",
                              "Wrong token"};
    return texts;
}

std::string Escaped(std::string_view text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            case '\'': out += "&#39;"; break;
            default: out += c;
        }
    }
    return out;
}

const TWebAsset Assets[] = {{"text/javascript; charset=utf-8", Script},
                            {"text/css; charset=utf-8", Style},
                            {"image/svg+xml", Lamp}};

}  // namespace

const TWebAsset* FindWebAsset(std::string_view path) {
    if (path == "/app.js") return &Assets[0];
    if (path == "/style.css") return &Assets[1];
    if (path == "/lamp.svg") return &Assets[2];
    return nullptr;
}

bool PrefersEnglish(std::string_view header) {
    // The first of the two languages named wins; quality values are rare
    // enough in practice to be read as order.
    std::string lower(header);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const std::size_t en = lower.find("en"), ru = lower.find("ru");
    return en != std::string::npos && (ru == std::string::npos || en < ru);
}

std::string WebPage(std::string_view acceptLanguage) {
    const TTexts& t = PrefersEnglish(acceptLanguage) ? English() : Russian();
    const std::string wrongPort = Utf8From1251(WrongPortText().view());
    std::string page = "<!doctype html>\n<html lang=\"" + std::string(t.Lang) + "\">\n<head>\n<meta charset=\"utf-8\">\n"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>" +
                       Escaped(t.Title) +
                       "</title>\n<link rel=\"icon\" href=\"/lamp.svg\">\n<link rel=\"stylesheet\" href=\"/style.css\">\n"
                       "</head>\n<body";
    const std::pair<const char*, const std::string*> data[] = {
        {"title", &t.Title},     {"pulse", &t.Pulse},         {"on", &t.On},
        {"off", &t.Off},         {"reset", &t.Reset},         {"switchword", &t.Switch},
        {"confirmed", &t.Confirmed}, {"unconfirmed", &t.Unconfirmed}, {"unknown", &t.Unknown},
        {"since", &t.Since},     {"left", &t.Left},           {"watchdog", &t.Watchdog},
        {"unavailable", &t.Unavailable}, {"lit", &t.Lit},     {"unlit", &t.Unlit},
        {"badtoken", &t.BadToken}, {"wrongport", &wrongPort}};
    for (const auto& [name, value] : data) page += " data-" + std::string(name) + "=\"" + Escaped(*value) + "\"";
    page += ">\n<header>" + Escaped(t.Title) +
            "</header>\n<main>\n<form id=\"login\" hidden><label>" + Escaped(t.Token) +
            " <input type=\"password\" autocomplete=\"current-password\"></label>\n<p class=\"message\" role=\"alert\"></p>"
            "<button>" +
            Escaped(t.Login) + "</button></form>\n<div id=\"switches\"></div>\n</main>\n"
            "<script src=\"/app.js\"></script>\n</body>\n</html>\n";
    return page;
}
