// The web view's pages: one script, the page chosen by the path, kept live by /api/events.
'use strict';

const main = document.getElementById('main');
const params = new URLSearchParams(location.search);
const controllers = new Map();  // "line/channel" -> latest status
const trends = new Map();       // "line/channel" -> recent readings
const kTrendKept = 720;

const key = (line, channel) => `${line || ''}/${channel}`;
const esc = (text) => String(text ?? '').replace(/[&<>"']/g, (c) => `&#${c.charCodeAt(0)};`);
const num = (v) => (v === null || v === undefined ? '–' : String(v));
const when = (iso) => (iso ? new Date(iso).toLocaleString() : '–');
const lineQuery = (line) => (line ? `line=${encodeURIComponent(line)}&` : '');

async function getJson(path) {
  const res = await fetch(path, { cache: 'no-store' });
  if (!res.ok) throw new Error(`${path}: ${res.status}`);
  return res.json();
}

function deviation(s) {
  if (s.processValue === null || s.failure) return null;
  const target = s.design ?? s.setPoint;
  return target === null || target === undefined ? null : Math.round((s.processValue - target) * 10) / 10;
}

function stateClass(s) {
  if (s.alarm) return 'alarm';
  return (s.state || 'idle').replace(/\s+/g, '');
}

// A polyline of values over the width, nulls breaking it.
function path(points, pick, x, y) {
  let d = '';
  let pen = 'M';
  points.forEach((p, i) => {
    const v = pick(p);
    if (v === null || v === undefined) { pen = 'M'; return; }
    d += `${pen}${x(i).toFixed(1)},${y(v).toFixed(1)} `;
    pen = 'L';
  });
  return d;
}

function scale(points, fields, height, pad) {
  const values = points.flatMap((p) => fields.map((f) => p[f])).filter((v) => v !== null && v !== undefined);
  let lo = Math.min(...values), hi = Math.max(...values);
  if (!values.length) { lo = 0; hi = 1; }
  if (hi - lo < 2) { lo -= 1; hi += 1; }
  return (v) => pad + (height - 2 * pad) * (1 - (v - lo) / (hi - lo));
}

function sparkline(points) {
  const w = 200, h = 40;
  if (points.length < 2) return `<svg class="spark" viewBox="0 0 ${w} ${h}"></svg>`;
  const x = (i) => (w * i) / (points.length - 1);
  const y = scale(points, ['processValue'], h, 3);
  return `<svg class="spark" viewBox="0 0 ${w} ${h}" preserveAspectRatio="none">` +
    `<path class="pv" d="${path(points, (p) => p.processValue, x, y)}"/></svg>`;
}

function trendChart(points) {
  const w = 800, h = 320;
  if (points.length < 2) return `<p class="muted">The trend fills as readings come.</p>`;
  const x = (i) => (w * i) / (points.length - 1);
  const y = scale(points, ['processValue', 'design', 'bandLow', 'bandHigh'], h, 10);
  // The band as one shape: along its top, back along its bottom.
  const banded = points.map((p, i) => [i, p]).filter(([, p]) => p.bandLow !== null && p.bandHigh !== null);
  const band = banded.length < 2 ? '' :
    `<path class="band" d="M${banded.map(([i, p]) => `${x(i).toFixed(1)},${y(p.bandHigh).toFixed(1)}`).join(' L')} ` +
    `L${banded.reverse().map(([i, p]) => `${x(i).toFixed(1)},${y(p.bandLow).toFixed(1)}`).join(' L')} Z"/>`;
  return `<svg class="trend" viewBox="0 0 ${w} ${h}" preserveAspectRatio="none">${band}` +
    `<path class="design" d="${path(points, (p) => p.design, x, y)}"/>` +
    `<path class="pv" d="${path(points, (p) => p.processValue, x, y)}"/></svg>` +
    `<p class="muted">Red: process value; blue dashed: design; shaded: its band. ${points.length} readings.</p>`;
}

function card(s) {
  const k = key(s.line, s.channel);
  return `<a class="card ${stateClass(s)}" id="c-${esc(k)}" data-line="${esc(s.line)}" data-channel="${s.channel}"
      href="/controller?${lineQuery(s.line)}channel=${s.channel}">
    <h3><span>${s.line ? esc(s.line) + ' · ' : ''}ch ${s.channel} ${esc(s.nickName)}</span>
        <span class="state">${esc(s.alarm ? 'alarm' : s.state)}</span></h3>
    <dl class="values">
      <dt>PV</dt><dd class="big" data-field="processValue">${num(s.failure ? null : s.processValue)}</dd>
      <dt>SP</dt><dd class="big" data-field="setPoint">${num(s.failure ? null : s.setPoint)}</dd>
      <dt>Dev</dt><dd data-field="deviation">${num(deviation(s))}</dd>
      <dt>Step</dt><dd data-field="step">${num(s.step)}</dd>
      <dt>Band</dt><dd data-field="band">${esc(s.band || '–')}</dd>
      <dt>Zone</dt><dd>${esc(s.zone || '–')}</dd>
    </dl>
    <div class="muted">${s.failure ? `<span class="error">${esc(s.failure)}</span> · ` : ''}last good
      <span data-field="lastGood">${when(s.lastGood)}</span>${s.alarmText ? ' · ' + esc(s.alarmText) : ''}</div>
    ${sparkline(trends.get(k) || [])}
  </a>`;
}

async function overview() {
  const list = await getJson('/api/controllers');
  await Promise.all(list.map(async (s) => {
    controllers.set(key(s.line, s.channel), s);
    trends.set(key(s.line, s.channel), await getJson(`/api/trend?${lineQuery(s.line)}channel=${s.channel}`));
  }));
  const draw = () => {
    const all = [...controllers.values()].sort((a, b) => (a.line || '').localeCompare(b.line || '') || a.channel - b.channel);
    main.innerHTML = all.length ? `<div class="grid">${all.map(card).join('')}</div>`
                                : '<p class="muted">No controller has been read yet.</p>';
  };
  draw();
  return { reading: draw };
}

async function controllerPage() {
  const line = params.get('line') || '', channel = Number(params.get('channel'));
  const k = key(line, channel);
  const [list, points, alarms, loads] = await Promise.all([getJson('/api/controllers'),
    getJson(`/api/trend?${lineQuery(line)}channel=${channel}`), getJson('/api/alarms'), getJson('/api/loads')]);
  for (const s of list) controllers.set(key(s.line, s.channel), s);
  trends.set(k, points);
  let mine = alarms.filter((a) => a.channel === channel && (a.line || '') === line);
  const theirLoads = loads.filter((l) => (l.line || '') === line && l.channels.includes(channel));
  const draw = () => {
    const s = controllers.get(k);
    main.innerHTML = `<h2>${line ? esc(line) + ' · ' : ''}Channel ${channel} ${esc(s ? s.nickName : '')}</h2>
      ${s ? `<div class="grid">${card(s)}</div>` : '<p class="muted">Not read yet.</p>'}
      <h3>Trend</h3>${trendChart(trends.get(k) || [])}
      <h3>Alarms</h3>${alarmTable(mine)}
      <h3>Loads</h3>${loadTable(theirLoads)}`;
  };
  draw();
  return {
    reading: draw,
    alarm: async () => {
      const now = (await getJson('/api/alarms')).filter((a) => a.channel === channel && (a.line || '') === line);
      if (JSON.stringify(now) === JSON.stringify(mine)) return;
      mine = now;
      draw();
    },
  };
}

function alarmTable(alarms) {
  if (!alarms.length) return '<p class="muted" id="no-alarms">No open alarms.</p>';
  return `<table id="alarms"><thead><tr><th>Channel</th><th>Kind</th><th>Raised</th><th>Text</th><th>Acknowledged</th></tr></thead><tbody>
    ${alarms.map((a) => `<tr data-channel="${a.channel}" data-line="${esc(a.line)}">
      <td>${a.line ? esc(a.line) + ' · ' : ''}ch ${a.channel}</td><td>${esc(a.kind)}</td><td>${when(a.raised)}</td>
      <td>${esc(a.text)}</td>
      <td class="acked">${a.ackedBy ? `by ${esc(a.ackedBy)} at ${when(a.acked)}`
                                   : `<button class="ack" data-channel="${a.channel}" data-line="${esc(a.line)}">Acknowledge</button>`}</td>
    </tr>`).join('')}</tbody></table>`;
}

function loadTable(loads) {
  if (!loads.length) return '<p class="muted">No loads.</p>';
  return `<table id="loads"><thead><tr><th>Load</th><th>Channels</th><th>Profile</th><th>Start</th><th>End</th><th>Result</th><th>Report</th></tr></thead><tbody>
    ${loads.map((l) => {
      const base = `/api/loads/${encodeURIComponent(l.id)}/report`, q = l.line ? `?line=${encodeURIComponent(l.line)}` : '';
      return `<tr><td>${esc(l.id)}</td><td>${l.channels.join(', ')}</td><td>${esc(l.profile)}</td><td>${when(l.start)}</td>
        <td>${when(l.end)}</td><td>${esc(l.result || 'under way')}</td>
        <td>${l.report ? `<a class="pdf" href="${base}.pdf${q}">PDF</a> · <a class="csv" href="${base}.csv${q}">CSV</a>` : '–'}</td></tr>`;
    }).join('')}</tbody></table>`;
}

async function alarmsPage() {
  let shown = null;
  const draw = async () => {
    const alarms = await getJson('/api/alarms');
    // Drawn anew only when they changed: the operator's name field keeps its focus meanwhile.
    if (JSON.stringify(alarms) === shown) return;
    shown = JSON.stringify(alarms);
    main.innerHTML = `<h2>Alarms</h2>
      <p><label>Operator <input id="operator" value="${esc(localStorage.getItem('operator') || '')}"
         placeholder="your name"></label> <span class="muted">(named with an acknowledgement where no login is asked)</span></p>
      ${alarmTable(alarms)}<p id="ack-error" class="error"></p>`;
    document.getElementById('operator').addEventListener('change', (e) => localStorage.setItem('operator', e.target.value));
  };
  await draw();
  return { alarm: draw };
}

async function zonesPage() {
  const draw = async () => {
    const zones = await getJson('/api/zones');
    main.innerHTML = `<h2>Zones</h2>` + (zones.length ? `<table id="zones"><thead><tr><th>Zone</th><th>Channels</th>
      <th>Low</th><th>High</th><th>Spread</th><th>Running</th></tr></thead><tbody>
      ${zones.map((z) => `<tr><td>${z.line ? esc(z.line) + ' · ' : ''}${esc(z.zone)}</td><td>${(z.channels || []).join(', ')}</td>
        <td>${num(z.low)}</td><td>${num(z.high)}</td><td>${num(z.spread)}</td><td>${z.running ? 'yes' : 'no'}</td></tr>`).join('')}
      </tbody></table>` : '<p class="muted">No zones.</p>');
  };
  await draw();
  return { sweep: draw };
}

async function loadsPage() {
  const draw = async () => { main.innerHTML = `<h2>Loads</h2>${loadTable(await getJson('/api/loads'))}`; };
  await draw();
  return { load: draw };
}

async function countAlarms() {
  try {
    const open = (await getJson('/api/alarms')).filter((a) => !a.cleared);
    document.getElementById('alarm-count').textContent = open.length ? String(open.length) : '';
  } catch (e) { /* the count waits for the next event */ }
}

// Acknowledge buttons, wherever a page shows them.
document.addEventListener('click', async (event) => {
  const button = event.target.closest('button.ack');
  if (!button) return;
  let operator = localStorage.getItem('operator') || '';
  const field = document.getElementById('operator');
  if (field) operator = field.value.trim();
  const q = button.dataset.line ? `?line=${encodeURIComponent(button.dataset.line)}` : '';
  const res = await fetch(`/api/alarms/${button.dataset.channel}/ack${q}`, {
    method: 'POST', headers: { 'Content-Type': 'application/json' }, body: JSON.stringify({ operator }),
  });
  if (!res.ok) {
    const why = document.getElementById('ack-error');
    const text = (await res.json().catch(() => ({}))).message || `Refused (${res.status})`;
    if (why) why.textContent = text; else alert(text);
  }
  if (page.alarm) await page.alarm();
  countAlarms();
});

let page = {};
let redraw = null;
function live() {
  const events = new EventSource('/api/events');
  const badge = document.getElementById('live');
  events.onopen = () => { badge.textContent = 'live'; badge.className = 'on'; };
  events.onerror = () => { badge.textContent = 'reconnecting'; badge.className = ''; };
  events.addEventListener('reading', (e) => {
    const s = JSON.parse(e.data);
    s.line = s.line || '';
    const k = key(s.line, s.channel);
    controllers.set(k, s);
    const ring = trends.get(k) || [];
    ring.push({ at: s.at, processValue: s.failure ? null : s.processValue, setPoint: s.setPoint, design: s.design,
                bandLow: s.bandLow, bandHigh: s.bandHigh });
    while (ring.length > kTrendKept) ring.shift();
    trends.set(k, ring);
    // Drawn at most a few times a second, however many controllers report.
    if (page.reading && !redraw) redraw = setTimeout(() => { redraw = null; page.reading(); }, 200);
  });
  for (const kind of ['alarm', 'ack']) events.addEventListener(kind, () => { if (page.alarm) page.alarm(); countAlarms(); });
  // An alarm's row may be written just after its event: each sweep looks again.
  events.addEventListener('sweep', () => {
    if (page.sweep) page.sweep();
    if (page.alarm) page.alarm();
    countAlarms();
  });
  events.addEventListener('load', () => { if (page.load) page.load(); });
}

const pages = { '/': overview, '/controller': controllerPage, '/alarms': alarmsPage, '/zones': zonesPage, '/loads': loadsPage };
(pages[location.pathname] || overview)().then((p) => { page = p; live(); countAlarms(); })
  .catch((e) => { main.innerHTML = `<p class="error">${esc(e.message)}</p>`; });
