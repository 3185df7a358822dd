#include "apps/flowhost/views/web/WebPage.h"

namespace flowhost {

namespace {

// The page, with a mark where the state goes.
constexpr const char kPage[] = R"html(<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>flowhost</title>
<style>
body { font: 13px sans-serif; margin: 12px; background: #f4f4f4; color: #222; }
h2 { font-size: 15px; margin: 14px 0 6px; }
#status { color: #555; }
#status.lost { color: #c00; }
.panel { background: #fff; border: 1px solid #ccc; padding: 6px; display: inline-block; vertical-align: top; margin: 0 8px 8px 0; overflow: auto; max-width: 100%; }
#graph { position: relative; }
#graph > svg { position: absolute; left: 0; top: 0; }
table { border-collapse: collapse; }
th, td { padding: 2px 8px; text-align: right; border-bottom: 1px solid #eee; }
th { cursor: pointer; background: #e8e8e8; user-select: none; }
td.name, th.name, td.feed, th.feed, td.address, td.problem { text-align: left; }
td.problem { color: #c00; }
tr.output.connected td.problem, tr.output.back td.problem { color: #080; }
tr.h0 td.health { background: #bfe8bf; }
tr.h1 td.health { background: #ffd699; }
tr.h2 td.health { background: #ff9c9c; }
.map text { font-size: 11px; }
</style>
</head>
<body>
<div><b>flowhost</b> <span id="status">connecting</span></div>
<h2>Nodes</h2>
<div class="panel"><table id="nodes"><thead></thead><tbody></tbody></table></div>
<h2>Ports</h2>
<div class="panel"><table id="ports"><thead></thead><tbody></tbody></table></div>
<h2>Map</h2>
<div id="maps"></div>
<h2>Graph</h2>
<div class="panel"><div id="graph"></div></div>
<!--STATE-->
<script src="/app.js"></script>
</body>
</html>
)html";

// The page's script.
constexpr const char kScript[] = R"js('use strict';
const COLOURS = ['rgb(0,160,0)', 'rgb(230,140,0)', 'rgb(210,0,0)'];
const COLUMNS = [
  ['name', 'name'], ['node', 'number'], ['feed', 'feed'], ['lat', 'latitude'], ['lon', 'longitude'],
  ['utc', 'utc time'], ['health', 'health'], ['idle', 'idle s'], ['inMap', 'in_map'],
  ['x', 'pixel x'], ['y', 'pixel y']];
let sortKey = 'node', sortUp = true, last = null;
const NS = 'http://www.w3.org/2000/svg';

function colour(h) { return h === null || h === undefined ? 'rgb(128,128,128)' : COLOURS[Math.max(0, Math.min(2, h))]; }
function el(name, attrs, parent) {
  const e = document.createElementNS(NS, name);
  for (const k in attrs) e.setAttribute(k, attrs[k]);
  if (parent) parent.appendChild(e);
  return e;
}
function shown(key, v) {
  if (v === null || v === undefined) return '\u2013';
  if (key === 'lat' || key === 'lon') return v.toFixed(6);
  if (key === 'idle') return v.toFixed(2);
  return String(v);
}

function drawTable(rows) {
  const head = document.querySelector('#nodes thead');
  if (!head.firstChild) {
    const tr = document.createElement('tr');
    for (const [key, title] of COLUMNS) {
      const th = document.createElement('th');
      th.textContent = title;
      th.dataset.key = key;
      if (key === 'name') th.className = 'name';
      th.onclick = () => { sortUp = sortKey === key ? !sortUp : true; sortKey = key; if (last) drawTable(last.rows); };
      tr.appendChild(th);
    }
    head.appendChild(tr);
  }
  const sorted = rows.slice().sort((a, b) => {
    const x = a[sortKey], y = b[sortKey];
    const c = x === y ? 0 : x === null ? 1 : y === null ? -1 : x < y ? -1 : 1;
    return sortUp ? c : -c;
  });
  const body = document.querySelector('#nodes tbody');
  body.textContent = '';
  for (const r of sorted) {
    const tr = document.createElement('tr');
    tr.className = 'row h' + (r.health === null ? 'x' : r.health);
    tr.dataset.name = r.name;
    for (const [key] of COLUMNS) {
      const td = document.createElement('td');
      td.className = key;
      td.textContent = shown(key, r[key]);
      tr.appendChild(td);
    }
    body.appendChild(tr);
  }
}

const PORT_COLUMNS = [
  ['block', 'sniffer'], ['name', 'port'], ['address', 'group:port'], ['taken', 'taken in'],
  ['dropped', 'dropped'], ['rejected', 'rejected'], ['unknown', 'unknown node'], ['older', 'older'],
  ['problem', 'set-up problem']];

function drawPorts(ports, outputs) {
  const head = document.querySelector('#ports thead');
  if (!head.firstChild) {
    const tr = document.createElement('tr');
    for (const [, title] of PORT_COLUMNS) {
      const th = document.createElement('th');
      th.textContent = title;
      tr.appendChild(th);
    }
    head.appendChild(tr);
  }
  const body = document.querySelector('#ports tbody');
  body.textContent = '';
  for (const p of ports || []) {
    const tr = document.createElement('tr');
    tr.className = 'port';
    const values = Object.assign({address: p.group + ':' + p.port}, p);
    for (const [key] of PORT_COLUMNS) {
      const td = document.createElement('td');
      td.className = key;
      td.textContent = values[key] === '' ? '\u2013' : String(values[key]);
      tr.appendChild(td);
    }
    body.appendChild(tr);
  }
  // The outputs that talk to a peer: their latest state, with its reason.
  for (const o of outputs || []) {
    const tr = document.createElement('tr');
    tr.className = 'output ' + o.state;
    const values = {block: 'output', name: o.output, address: o.peer, problem: o.message};
    for (const [key] of PORT_COLUMNS) {
      const td = document.createElement('td');
      td.className = key;
      td.textContent = values[key] === undefined || values[key] === '' ? '\u2013' : values[key];
      tr.appendChild(td);
    }
    body.appendChild(tr);
  }
}

function drawMaps(maps) {
  const box = document.getElementById('maps');
  box.textContent = '';
  for (const m of maps) {
    const scale = Math.min(1, 480 / Math.max(m.width, m.height));
    const pad = 40;
    const w = m.width * scale, h = m.height * scale;
    const panel = document.createElement('div');
    panel.className = 'panel';
    const svg = el('svg', {class: 'map', width: w + 2 * pad, height: h + 2 * pad}, panel);
    el('rect', {x: pad, y: pad, width: w, height: h, fill: '#fafaf0', stroke: '#444'}, svg);
    el('text', {x: pad, y: pad - 6}, svg).textContent = m.ul[0] + ', ' + m.ul[1];
    el('text', {x: pad + w, y: pad + h + 14, 'text-anchor': 'end'}, svg).textContent = m.lr[0] + ', ' + m.lr[1];
    el('text', {x: pad + w, y: pad - 6, 'text-anchor': 'end'}, svg).textContent = m.name;
    for (const n of m.nodes) {
      const c = colour(n.health);
      if (n.track.length > 1) {
        el('polyline', {points: n.track.map(p => (pad + p[0] * scale) + ',' + (pad + p[1] * scale)).join(' '),
                        fill: 'none', stroke: c, 'stroke-opacity': 0.5}, svg);
      }
      if (n.x === null || n.y === null) continue;
      const x = pad + n.x * scale, y = pad + n.y * scale;
      const dot = el('circle', {class: 'node h' + n.health, cx: x, cy: y, r: 5, fill: c, stroke: '#000'}, svg);
      dot.dataset.name = n.name;
      el('text', {x: x + 7, y: y + 4}, svg).textContent = n.name;
    }
    box.appendChild(panel);
  }
}

function drawGraph(g) {
  const box = document.getElementById('graph');
  box.style.width = g.width + 'px';
  box.style.height = g.height + 'px';
  box.innerHTML = g.svg;
  const faces = box.firstElementChild;
  if (faces) { faces.style.position = 'absolute'; faces.style.left = '0'; faces.style.top = '0'; }
  const lines = el('svg', {width: g.width, height: g.height, class: 'links'}, box);
  for (const l of g.links) {
    el('line', {x1: l[0], y1: l[1], x2: l[2], y2: l[3], stroke: 'rgb(0,0,160)', 'stroke-opacity': 0.6}, lines);
  }
}

function draw(state) {
  if (!state || !state.rows) return;
  last = state;
  document.getElementById('status').textContent =
      't=' + state.t.toFixed(1) + ' s, ' + state.ticks + ' ticks, ' + state.rows.length + ' nodes';
  drawTable(state.rows);
  drawPorts(state.ports, state.outputs);
  drawMaps(state.maps);
  drawGraph(state.graph);
}

// The page comes with the state of its moment, so it shows at once; then
// the stream takes over, once the page has loaded.
if (typeof INITIAL_STATE !== 'undefined') draw(INITIAL_STATE);
// The stream reconnects by itself; the page says so only when it stays quiet.
let lastEvent = Date.now();
function follow() {
const events = new EventSource('/events');
events.onmessage = e => {
  lastEvent = Date.now();
  document.getElementById('status').className = '';
  draw(JSON.parse(e.data));
};
events.onerror = () => setTimeout(() => {
  if (Date.now() - lastEvent < 3000) return;
  const s = document.getElementById('status');
  s.className = 'lost';
  s.textContent = 'no news from flowhost, retrying';
}, 3000);
}
window.addEventListener('load', () => setTimeout(follow, 0));
)js";

}  // namespace

const char* WebPage::html() { return kPage; }

const char* WebPage::script() { return kScript; }

std::string WebPage::withState(const std::string& stateJson) {
  // "</" would end the script element early; "<\/" reads the same in JSON.
  std::string safe;
  safe.reserve(stateJson.size() + 64);
  for (size_t i = 0; i < stateJson.size(); ++i) {
    safe += stateJson[i];
    if (stateJson[i] == '<' && i + 1 < stateJson.size() && stateJson[i + 1] == '/') safe += '\\';
  }
  std::string page = html();
  const std::string mark = "<!--STATE-->";
  page.replace(page.find(mark), mark.size(),
               "<script>const INITIAL_STATE = " + safe + ";</script>");
  return page;
}

}  // namespace flowhost
