// The operations console: the units on a map (Leaflet, clusters when zoomed
// out), their table, the ports and outputs (and, at a centre, the sites
// the units come from), the event list, the history
// slider and the graph. The page starts from the state the event stream
// sends first and then applies each delta (only the units that changed);
// idle times count up here, from the moment each unit was last heard.
// Every name, feed or message from the server is put on the page as text.
'use strict';

const HEALTH_WORDS = ['good', 'medium', 'bad'];
const TRAIL_POINTS = 40;        // recent positions kept per unit
const TRAILS_FOR_ALL = 25;      // with this many units or fewer, every unit shows its trail
const BATCH_MS = 1000;          // how often the map follows many moving units

// The model: what the server said, kept in arrays beside `units`.
const model = {
  seq: 0,
  site: {},
  units: [],      // {key, name, node, feed}
  pos: [],        // {lat, lon, health, heardAt (server seconds), map}
  areas: [],
  ports: [],
  outputs: [],    // [name, state, reason, peer]
  sites: [],      // at a centre: [name, state, reason, units, skew]
  events: [],     // newest last
  clockT: 0,      // the server's run time at clockAt
  clockAt: 0,     // performance.now() then
};

// The server's run time now, from the last state or delta.
function serverNow() {
  return model.clockT + (performance.now() - model.clockAt) / 1000;
}

function setClock(t) {
  model.clockT = t;
  model.clockAt = performance.now();
}

function idleOf(p) {
  return p.lat === null ? null : Math.max(0, serverNow() - p.heardAt);
}

function healthClass(p) {
  return p.lat === null ? 'hx' : 'h' + Math.max(0, Math.min(2, p.health));
}

function el(tag, className, text) {
  const e = document.createElement(tag);
  if (className) e.className = className;
  if (text !== undefined) e.textContent = text;
  return e;
}

// Text for Leaflet's attribution, which it sets as HTML.
function htmlText(text) {
  const d = document.createElement('div');
  d.textContent = text;
  return d.innerHTML;
}

function clockText(wallMs) {
  return new Date(wallMs).toLocaleTimeString([], {hour12: false});
}

// ---------------------------------------------------------------- the map

const map = L.map('map', {worldCopyJump: true, zoomControl: true, minZoom: 1, maxZoom: 19}).setView([20, 0], 2);
L.control.scale({imperial: false}).addTo(map);
const layers = L.control.layers(null, null, {position: 'topright'}).addTo(map);
const areaLayer = L.layerGroup().addTo(map);
const trailLayer = L.layerGroup().addTo(map);
const historyLayer = L.layerGroup();
const cluster = L.markerClusterGroup({
  chunkedLoading: true,
  maxClusterRadius: 80,
  showCoverageOnHover: false,
  spiderfyOnMaxZoom: true,
  iconCreateFunction: clusterIcon,
}).addTo(map);
const markers = [];   // beside model.units
const trails = [];    // [[lat, lon], ...] beside model.units
let selected = -1;
// The view follows the units heard until someone moves the map by hand.
const view = {fittedTo: 0, userMoved: false};
for (const kind of ['mousedown', 'wheel', 'touchstart', 'keydown']) {
  map.getContainer().addEventListener(kind, () => { view.userMoved = true; }, {passive: true});
}

// A cluster is coloured by the worst health among its units.
function clusterIcon(group) {
  let worst = 0;
  for (const m of group.getAllChildMarkers()) {
    const p = model.pos[m.options.index];
    if (p && p.lat !== null) worst = Math.max(worst, Math.min(2, p.health));
  }
  const count = group.getChildCount();
  const size = count < 10 ? 30 : count < 100 ? 36 : 44;
  const inner = el('div');
  inner.appendChild(el('span', '', String(count)));
  return L.divIcon({html: inner, className: 'marker-cluster unit-cluster h' + worst, iconSize: L.point(size, size)});
}

function legend() {
  const control = L.control({position: 'bottomleft'});
  control.onAdd = () => {
    const box = el('div', 'legend');
    for (const [cls, word] of [['h0', 'good'], ['h1', 'medium'], ['h2', 'bad'], ['hx', 'never heard']]) {
      box.appendChild(el('span', cls));
      box.appendChild(document.createTextNode(word));
    }
    return box;
  };
  return control;
}
legend().addTo(map);

function fitButton() {
  const control = L.control({position: 'topleft'});
  control.onAdd = () => {
    const b = el('button', 'fit', 'fit all');
    b.type = 'button';
    b.title = 'show every unit and map area';
    L.DomEvent.disableClickPropagation(b);
    b.addEventListener('click', () => fitAll(true));
    return b;
  };
  return control;
}
fitButton().addTo(map);

// Shows every unit heard and, with `areas`, every map block's rectangle.
function fitAll(areas = true) {
  const points = [];
  model.pos.forEach(p => { if (p.lat !== null) points.push([p.lat, p.lon]); });
  if (areas || points.length === 0) {
    model.areas.forEach(a => { points.push([a[1], a[2]]); points.push([a[3], a[4]]); });
  }
  if (points.length === 0) return false;
  map.fitBounds(L.latLngBounds(points), {padding: [30, 30], maxZoom: 17});
  return true;
}

// The first view: every unit heard, again each time more are heard, until
// the user moves the map.
function fitFirst() {
  if (view.userMoved) return;
  const heard = model.pos.reduce((n, p) => n + (p.lat !== null ? 1 : 0), 0);
  if (heard > view.fittedTo && fitAll(false)) view.fittedTo = heard;
}

// The basemap carried in flowhost; tiles too when --tiles named some.
function setUpBase(site) {
  fetch(site.basemap).then(r => r.json()).then(topology => {
    const base = basemapLayer(map, topology);
    layers.addOverlay(base, 'Offline basemap (Natural Earth)');
    if (!site.tiles) base.addTo(map);
    map.attributionControl.addAttribution('Basemap: Natural Earth (public domain)');
    document.body.dataset.basemap = 'drawn';
  }).catch(() => { document.body.dataset.basemap = 'failed'; });
  if (site.tiles) {
    let loaded = 0;
    const tiles = L.tileLayer(site.tiles.url, {
      attribution: htmlText(site.tiles.attribution),
      minZoom: site.tiles.minZoom,
      maxZoom: Math.max(site.tiles.maxZoom, 19),
      maxNativeZoom: site.tiles.maxZoom,
    });
    tiles.on('tileload', () => { document.body.dataset.tilesLoaded = String(++loaded); });
    tiles.addTo(map);
    layers.addOverlay(tiles, 'Tiles');
  }
}

// Each map block's rectangle (its corners are the geofence), its name at
// the top edge.
function drawAreas() {
  areaLayer.clearLayers();
  for (const [name, north, west, south, east] of model.areas) {
    areaLayer.addLayer(L.rectangle([[south, west], [north, east]], {color: '#2d6cdf', weight: 1.5, fill: false,
                                                                   interactive: false}));
    const label = L.divIcon({className: 'area', html: el('span', 'area-name', name), iconSize: null});
    areaLayer.addLayer(L.marker([north, (west + east) / 2], {icon: label, interactive: false, keyboard: false}));
  }
}

function unitIcon(i) {
  const m = markers[i];
  return L.divIcon({className: 'unit ' + healthClass(model.pos[i]) + (i === selected ? ' selected' : ''),
                    html: m.face, iconSize: null});
}

function makeMarker(i) {
  const face = el('div');
  face.appendChild(el('div', 'dot'));
  face.appendChild(el('div', 'label', model.units[i].name));
  const p = model.pos[i];
  const marker = L.marker([p.lat === null ? 0 : p.lat, p.lon === null ? 0 : p.lon],
                          {index: i, keyboard: false, title: model.units[i].name});
  marker.face = face;
  marker.on('click', () => select(i));
  markers[i] = marker;
  marker.setIcon(unitIcon(i));
  return marker;
}

// Every marker anew, after a state.
function drawAllUnits() {
  cluster.clearLayers();
  trailLayer.clearLayers();
  markers.length = 0;
  const shown = [];
  model.units.forEach((u, i) => {
    const m = makeMarker(i);
    if (model.pos[i].lat !== null) shown.push(m);
  });
  cluster.addLayers(shown);
  fitFirst();
  if (!document.body.dataset.drawnAt && shown.length > 0) {
    document.body.dataset.drawnAt = String(Math.round(performance.now()));
  }
  document.body.dataset.markers = String(shown.length);
  declutterLabels();
}

// Names that would still print over one another (units a little further
// apart than a cluster's reach): the selected unit's label first, then in
// the units' order; a label that would cover one already shown is hidden
// (the dot stays, its name shows on hover and in its details).
let declutterQueued = false;

function declutterLabels() {
  if (declutterQueued) return;
  declutterQueued = true;
  requestAnimationFrame(() => {
    declutterQueued = false;
    const icons = [...document.querySelectorAll('.leaflet-marker-icon.unit')];
    icons.sort((a, b) => b.classList.contains('selected') - a.classList.contains('selected'));
    const kept = [];
    for (const icon of icons) {
      const label = icon.querySelector('.label');
      if (!label) continue;
      label.classList.remove('covered');
      const r = label.getBoundingClientRect();
      const covers = kept.some(k => r.left < k.right && k.left < r.right && r.top < k.bottom && k.top < r.bottom);
      if (covers) label.classList.add('covered'); else kept.push(r);
    }
    document.body.dataset.labelsCovered = String(icons.length - kept.length);
  });
}
map.on('zoomend moveend', declutterLabels);
cluster.on('animationend', declutterLabels);

// Units whose position, health or name changed since the map was last
// brought up to date.
const pending = {moved: new Set(), restyled: new Set()};
let batchTimer = 0;

function scheduleMap() {
  if (model.units.length <= 200) { applyMap(); return; }
  if (!batchTimer) batchTimer = setTimeout(applyMap, BATCH_MS);
}

function applyMap() {
  batchTimer = 0;
  if (historyShown()) return;
  const moved = [...pending.moved].filter(i => markers[i] && model.pos[i].lat !== null);
  const appear = moved.filter(i => !cluster.hasLayer(markers[i]));
  const move = moved.filter(i => cluster.hasLayer(markers[i]));
  if (move.length > 50) {
    const list = move.map(i => markers[i]);
    cluster.removeLayers(list);
    move.forEach(i => markers[i].setLatLng([model.pos[i].lat, model.pos[i].lon]));
    cluster.addLayers(list);
  } else {
    move.forEach(i => markers[i].setLatLng([model.pos[i].lat, model.pos[i].lon]));
  }
  appear.forEach(i => markers[i].setLatLng([model.pos[i].lat, model.pos[i].lon]));
  if (appear.length) cluster.addLayers(appear.map(i => markers[i]));
  const restyled = [...pending.restyled].filter(i => markers[i]);
  restyled.forEach(i => markers[i].setIcon(unitIcon(i)));
  if (restyled.length) cluster.refreshClusters(restyled.map(i => markers[i]));
  pending.moved.clear();
  pending.restyled.clear();
  drawTrails();
  fitFirst();
  if (!document.body.dataset.drawnAt && moved.length > 0) {
    document.body.dataset.drawnAt = String(Math.round(performance.now()));
  }
  if (selected >= 0 && document.getElementById('follow').checked && model.pos[selected].lat !== null) {
    map.panTo([model.pos[selected].lat, model.pos[selected].lon], {animate: false});
  }
  document.body.dataset.markers = String(model.pos.filter(p => p.lat !== null).length);
  declutterLabels();
}

function drawTrails() {
  trailLayer.clearLayers();
  const all = model.units.length <= TRAILS_FOR_ALL;
  trails.forEach((points, i) => {
    if ((all || i === selected) && points.length > 1) {
      const colour = {h0: '#1e9e3a', h1: '#f09a10', h2: '#d7261e', hx: '#8a8f96'}[healthClass(model.pos[i])];
      trailLayer.addLayer(L.polyline(points, {color: colour, weight: 2, opacity: 0.6, interactive: false}));
    }
  });
}

function addTrailPoint(i) {
  const p = model.pos[i];
  const t = trails[i] || (trails[i] = []);
  t.push([p.lat, p.lon]);
  if (t.length > TRAIL_POINTS) t.shift();
}

// ------------------------------------------------------------- the model

function unitOf(row) {
  return {key: row[0], name: row[1], node: row[2], feed: row[3]};
}

let baseReady = false;

function applyState(s) {
  if (!document.body.dataset.stateAt) document.body.dataset.stateAt = String(Math.round(performance.now()));
  model.seq = s.seq;
  model.site = s.site;
  setClock(s.t);
  model.units = s.units.map(unitOf);
  model.pos = s.units.map(r => ({
    health: r[4], lat: r[5], lon: r[6], heardAt: r[7] === null ? null : s.t - r[7], map: r[8],
  }));
  if (!baseReady) {
    baseReady = true;
    setUpBase(s.site);
  }
  model.areas = s.areas;
  model.ports = s.ports;
  model.outputs = s.outputs;
  model.sites = s.sites || [];
  model.events = s.events;
  trails.length = 0;
  model.pos.forEach((p, i) => { if (p.lat !== null) addTrailPoint(i); });
  drawAreas();
  drawAllUnits();
  drawEvents();
  drawSearch();
  drawDetails();
  if (shownPage === 'units') drawUnitsPage();
  document.body.dataset.ready = '1';
}

function applyDelta(d) {
  if (d.seq <= model.seq) return;
  model.seq = d.seq;
  setClock(d.t);
  if (d.units) {
    // The units themselves changed: start again from a fresh state.
    stream.restart();
    return;
  }
  for (const [i, key, name, node, feed] of d.f || []) {
    model.units[i] = {key, name, node, feed};
    if (markers[i]) markers[i].face.lastChild.textContent = name;
  }
  for (const [i, lat, lon] of d.p || []) {
    const p = model.pos[i];
    if (!p) continue;
    if (p.lat === null) pending.restyled.add(i);
    p.lat = lat;
    p.lon = lon;
    p.heardAt = d.t;
    addTrailPoint(i);
    pending.moved.add(i);
  }
  for (const [i, health] of d.h || []) {
    if (!model.pos[i]) continue;
    model.pos[i].health = health;
    pending.restyled.add(i);
  }
  for (const [i, flag] of d.m || []) if (model.pos[i]) model.pos[i].map = flag;
  if (d.ports) model.ports = d.ports;
  if (d.outputs) model.outputs = d.outputs;
  if (d.sites) model.sites = d.sites;
  if ((d.outputs || d.sites) && shownPage === 'units') { drawSites(); drawOutputs(); }
  if (d.ev) {
    model.events.push(...d.ev);
    if (model.events.length > 200) model.events.splice(0, model.events.length - 200);
    drawEvents();
  }
  scheduleMap();
}

// ------------------------------------------------------------ the stream

const stream = {
  source: null,
  lastNews: 0,
  start() {
    this.source = new EventSource('/events');
    this.source.addEventListener('state', e => { this.news(); applyState(JSON.parse(e.data)); });
    this.source.addEventListener('delta', e => { this.news(); applyDelta(JSON.parse(e.data)); });
    this.source.onerror = () => setTimeout(() => this.checkLost(), 3000);
  },
  restart() {
    if (this.source) this.source.close();
    this.start();
  },
  news() {
    this.lastNews = Date.now();
  },
  checkLost() {
    if (Date.now() - this.lastNews < 3000) return;
    const s = document.getElementById('status');
    s.className = 'lost';
    s.textContent = 'no news from flowhost, retrying';
  },
};

function drawStatus() {
  const s = document.getElementById('status');
  if (Date.now() - stream.lastNews > 5000) {
    if (stream.lastNews) { s.className = 'lost'; s.textContent = 'no news from flowhost, retrying'; }
    return;
  }
  // By health, as the legend: good, medium, bad, never heard.
  const counts = [0, 0, 0, 0];
  for (const p of model.pos) ++counts[p.lat === null ? 3 : Math.max(0, Math.min(2, p.health))];
  s.className = '';
  s.textContent = `live · ${model.units.length} units: ${counts[0]} good · ${counts[1]} medium · ` +
                  `${counts[2]} bad · ${counts[3]} never heard · t=${serverNow().toFixed(0)} s` +
                  centreStatus();
}

// At a centre: the broker it reads and how many of the sites are there.
function centreStatus() {
  const broker = model.outputs.find(o => o[0] === 'mqtt-in');
  if (!broker && model.sites.length === 0) return '';
  const offline = model.sites.filter(site => site[1] === 'offline').length;
  let text = ` · ${model.sites.length} sites`;
  if (offline) text += ` (${offline} offline)`;
  if (broker) text += ` · broker ${broker[3]} ${broker[1] === 'back' ? 'connected' : broker[1]}`;
  return text;
}

// ------------------------------------------------------------ side panel

function drawEvents() {
  const list = document.getElementById('events');
  list.textContent = '';
  for (let n = model.events.length - 1; n >= 0 && list.childElementCount < 200; --n) {
    const [wall, kind, text] = model.events[n];
    const item = el('li', /bad|silent|leave/.test(kind + text) ? 'bad' : '');
    item.appendChild(el('time', '', clockText(wall)));
    item.appendChild(document.createTextNode(text));
    list.appendChild(item);
  }
}

function drawSearch() {
  const query = document.getElementById('search').value.trim().toLowerCase();
  const found = document.getElementById('found');
  found.textContent = '';
  if (!query) return;
  let shown = 0;
  model.units.forEach((u, i) => {
    if (shown >= 20) return;
    if (!u.name.toLowerCase().includes(query) && !u.feed.toLowerCase().includes(query)) return;
    const item = el('li', '', u.name);
    item.appendChild(el('small', '', ' · ' + u.feed));
    item.addEventListener('click', () => { select(i); zoomTo(i); });
    found.appendChild(item);
    ++shown;
  });
}

function zoomTo(i) {
  const p = model.pos[i];
  if (p.lat === null) return;
  cluster.zoomToShowLayer(markers[i], () => {});
}

function select(i) {
  const before = selected;
  selected = i;
  for (const j of [before, i]) if (j >= 0 && markers[j]) markers[j].setIcon(unitIcon(j));
  declutterLabels();
  detail = null;
  fetchDetail();
  drawDetails();
  drawTrails();
}

let detail = null;  // the selected unit's row from /unit

function fetchDetail() {
  if (selected < 0) return;
  const asked = selected;
  fetch('/unit?i=' + asked).then(r => (r.ok ? r.json() : null)).then(d => {
    if (d && asked === selected) { detail = d; drawDetails(); }
  }).catch(() => {});
}

function drawDetails() {
  const box = document.getElementById('details');
  if (selected < 0 || !model.units[selected]) { box.hidden = true; return; }
  box.hidden = false;
  const u = model.units[selected], p = model.pos[selected];
  const row = detail ? detail.row : null;
  document.getElementById('d-name').textContent = u.name;
  const idle = idleOf(p);
  const fields = [
    ['number', String(u.node)],
    ['key', u.key],
    ['feed', u.feed || '–'],
    ['time', row && row[6] ? row[6] : '–'],
    ['position', p.lat === null ? '–' : p.lat.toFixed(6) + ', ' + p.lon.toFixed(6)],
    ['idle', idle === null ? '–' : idle.toFixed(1) + ' s'],
    ['health', p.lat === null ? 'never heard' : HEALTH_WORDS[p.health] || String(p.health)],
    ['in map', p.map === null ? '–' : p.map ? 'yes' : 'no'],
    ['pixel', row && row[10] !== null ? row[10] + ', ' + row[11] : '–'],
  ];
  const table = document.getElementById('d-fields');
  table.textContent = '';
  for (const [name, value] of fields) {
    const tr = el('tr', name === 'health' ? healthClass(p) : '');
    tr.appendChild(el('td', '', name));
    tr.appendChild(el('td', name === 'health' ? 'health' : '', value));
    table.appendChild(tr);
  }
}

// --------------------------------------------------------------- history

const replay = {range: null, playing: 0};

function historyShown() {
  return map.hasLayer(historyLayer);
}

function fetchHistoryRange() {
  fetch('/history').then(r => r.json()).then(range => {
    replay.range = range;
    const slider = document.getElementById('h-slider');
    const atEnd = !historyShown();
    slider.max = String(Math.max(0, range.frames - 1));
    if (atEnd) slider.value = slider.max;
  }).catch(() => {});
}

function showFrame(index) {
  const r = replay.range;
  if (!r || !r.frames) return;
  fetch('/history?t=' + (r.from + index * r.step).toFixed(3)).then(res => res.json()).then(frame => {
    historyLayer.clearLayers();
    for (const [i, lat, lon, health] of frame.p) {
      const colour = ['#1e9e3a', '#f09a10', '#d7261e'][health] || '#8a8f96';
      const dot = L.circleMarker([lat, lon], {radius: 5, color: '#222', weight: 1, fillColor: colour, fillOpacity: 1});
      if (model.units[i]) dot.bindTooltip(el('span', '', model.units[i].name));
      historyLayer.addLayer(dot);
    }
    if (!historyShown()) {
      map.removeLayer(cluster);
      map.removeLayer(trailLayer);
      historyLayer.addTo(map);
    }
    document.getElementById('h-time').textContent = 'at ' + clockText(frame.wall);
  }).catch(() => {});
}

function goLive() {
  if (replay.playing) { clearInterval(replay.playing); replay.playing = 0; }
  if (historyShown()) {
    map.removeLayer(historyLayer);
    cluster.addTo(map);
    trailLayer.addTo(map);
    pending.moved = new Set(model.pos.keys());
    applyMap();
  }
  const slider = document.getElementById('h-slider');
  slider.value = slider.max;
  document.getElementById('h-time').textContent = 'live';
}

document.getElementById('h-slider').addEventListener('input', e => {
  const slider = e.target;
  if (slider.value === slider.max) goLive(); else showFrame(Number(slider.value));
});
document.getElementById('h-live').addEventListener('click', goLive);
document.getElementById('h-play').addEventListener('click', () => {
  const slider = document.getElementById('h-slider');
  if (replay.playing) { goLive(); return; }
  slider.value = '0';
  showFrame(0);
  replay.playing = setInterval(() => {
    const next = Number(slider.value) + 1;
    if (next >= Number(slider.max)) { goLive(); return; }
    slider.value = String(next);
    showFrame(next);
  }, 400);
});

// ---------------------------------------------------------------- pages

let shownPage = 'map';

for (const button of document.querySelectorAll('header nav button')) {
  button.addEventListener('click', () => showPage(button.dataset.page));
}

function showPage(name) {
  shownPage = name;
  for (const b of document.querySelectorAll('header nav button')) b.classList.toggle('on', b.dataset.page === name);
  for (const p of document.querySelectorAll('.page')) p.classList.toggle('on', p.id === 'page-' + name);
  if (name === 'map') map.invalidateSize();
  if (name === 'units') { drawUnitsPage(); fetchRows(); }
  if (name === 'graph') fetchGraph();
}

// The Units page: every unit's full row, fetched while the page is shown.
const UNIT_COLUMNS = [
  ['name', 'name', 1], ['node', 'number', 2], ['feed', 'feed', 3], ['lat', 'latitude', 4],
  ['lon', 'longitude', 5], ['utc', 'utc time', 6], ['health', 'health', 7], ['idle', 'idle s', 8],
  ['map', 'in map', 9], ['x', 'pixel x', 10], ['y', 'pixel y', 11]];
const TEXT_COLUMNS = new Set(['name', 'feed', 'utc']);
let rows = [];
let sortBy = 'node', sortUp = true;

function fetchRows() {
  if (shownPage !== 'units') return;
  fetch('/rows').then(r => r.json()).then(d => { rows = d.rows; drawUnitsPage(); }).catch(() => {});
}

function cellText(key, v) {
  if (v === null || v === undefined) return '–';
  if (key === 'lat' || key === 'lon') return v.toFixed(6);
  if (key === 'idle') return v.toFixed(1);
  if (key === 'map') return v ? 'yes' : 'no';
  return String(v);
}

function header(table, columns, sortable) {
  const head = table.tHead;
  if (head.firstChild) return;
  const tr = el('tr');
  for (const [key, title] of columns) {
    const th = el('th', TEXT_COLUMNS.has(key) ? 'text' : '', title);
    if (sortable) {
      th.addEventListener('click', () => {
        sortUp = sortBy === key ? !sortUp : true;
        sortBy = key;
        drawUnitsPage();
      });
    }
    tr.appendChild(th);
  }
  head.appendChild(tr);
}

function drawUnitsPage() {
  const table = document.getElementById('units');
  header(table, UNIT_COLUMNS, true);
  // Idle counts on from the unit's last-heard moment, between fetches.
  const lines = (rows.length ? rows : []).map((r, i) => {
    const p = model.pos[i];
    const idle = p ? idleOf(p) : r[8];
    return {r, values: UNIT_COLUMNS.map(([key, , n]) => (key === 'idle' ? idle : r[n]))};
  });
  const col = UNIT_COLUMNS.findIndex(c => c[0] === sortBy);
  lines.sort((a, b) => {
    const x = a.values[col], y = b.values[col];
    const c = x === y ? 0 : x === null ? 1 : y === null ? -1 : x < y ? -1 : 1;
    return sortUp ? c : -c;
  });
  const body = document.createElement('tbody');
  for (const line of lines) {
    const tr = el('tr', 'row h' + (line.r[4] === null ? 'x' : line.r[7]));
    tr.dataset.name = line.r[1];
    UNIT_COLUMNS.forEach(([key], n) => tr.appendChild(el('td', key + (TEXT_COLUMNS.has(key) ? ' text' : ''),
                                                          cellText(key, line.values[n]))));
    body.appendChild(tr);
  }
  table.replaceChild(body, table.tBodies[0]);
  drawSites();
  drawPorts();
  drawOutputs();
}

const SITE_COLUMNS = [['name', 'site'], ['state', 'state'], ['reason', 'reason'], ['units', 'units'],
                      ['skew', 'clock skew']];

// The sites a centre reads; the skew is the site's clock ahead of the centre's.
function drawSites() {
  const table = document.getElementById('sites');
  table.hidden = document.getElementById('sites-title').hidden = model.sites.length === 0;
  header(table, SITE_COLUMNS, false);
  const body = document.createElement('tbody');
  for (const [name, state, reason, units, skew] of model.sites) {
    const tr = el('tr', 'site ' + state);
    tr.appendChild(el('td', 'name text', name));
    tr.appendChild(el('td', 'state text', state));
    tr.appendChild(el('td', 'reason text', reason || '–'));
    tr.appendChild(el('td', 'units', String(units)));
    tr.appendChild(el('td', 'skew', skew === null ? '–' : `${skew >= 0 ? '+' : ''}${skew.toFixed(3)} s`));
    body.appendChild(tr);
  }
  table.replaceChild(body, table.tBodies[0]);
}

const PORT_COLUMNS = [
  ['block', 'sniffer'], ['name', 'port'], ['address', 'group:port'], ['taken', 'taken in'],
  ['dropped', 'dropped'], ['rejected', 'rejected'], ['unknown', 'unknown node'], ['older', 'older'],
  ['silent', 'silent'], ['problem', 'set-up problem']];

function drawPorts() {
  const table = document.getElementById('ports');
  header(table, PORT_COLUMNS, false);
  const body = document.createElement('tbody');
  for (const p of model.ports) {
    const tr = el('tr', 'port');
    const values = Object.assign({}, p, {address: p.group + ':' + p.port, silent: p.silent ? 'yes' : 'no'});
    for (const [key] of PORT_COLUMNS) {
      tr.appendChild(el('td', key + (key === 'name' || key === 'problem' ? ' text' : ''),
                        values[key] === '' ? '–' : String(values[key])));
    }
    body.appendChild(tr);
  }
  table.replaceChild(body, table.tBodies[0]);
}

function drawOutputs() {
  const table = document.getElementById('outputs');
  header(table, [['output', 'output'], ['state', 'state'], ['peer', 'with'], ['reason', 'reason']],
         false);
  const body = document.createElement('tbody');
  for (const [name, state, reason, peer] of model.outputs) {
    const tr = el('tr', 'output ' + state);
    tr.appendChild(el('td', 'text', name));
    tr.appendChild(el('td', 'text', state));
    tr.appendChild(el('td', 'text', peer || '–'));
    tr.appendChild(el('td', 'text', reason || '–'));
    body.appendChild(tr);
  }
  table.replaceChild(body, table.tBodies[0]);
}

// The Graph page: painted by the server on request, shown as a picture
// (which runs nothing) with the links drawn over it.
function fetchGraph() {
  if (shownPage !== 'graph') return;
  fetch('/graph').then(r => r.json()).then(g => {
    if (g.pending) { setTimeout(fetchGraph, 1000); return; }
    drawGraph(g);
  }).catch(() => {});
}

let graphUrl = null;

function drawGraph(g) {
  const box = document.getElementById('graph');
  box.textContent = '';
  box.style.width = g.width + 'px';
  box.style.height = g.height + 'px';
  if (graphUrl) URL.revokeObjectURL(graphUrl);
  graphUrl = URL.createObjectURL(new Blob([g.svg], {type: 'image/svg+xml'}));
  const picture = el('img');
  picture.src = graphUrl;
  picture.alt = 'the blocks of the graph';
  box.appendChild(picture);
  const NS = 'http://www.w3.org/2000/svg';
  const lines = document.createElementNS(NS, 'svg');
  lines.setAttribute('width', g.width);
  lines.setAttribute('height', g.height);
  for (const [x1, y1, x2, y2] of g.links) {
    const line = document.createElementNS(NS, 'line');
    for (const [k, v] of Object.entries({x1, y1, x2, y2})) line.setAttribute(k, v);
    line.setAttribute('stroke', 'rgb(0,0,160)');
    line.setAttribute('stroke-opacity', '0.6');
    lines.appendChild(line);
  }
  box.appendChild(lines);
}

// ---------------------------------------------------------------- start

document.getElementById('search').addEventListener('input', drawSearch);

stream.start();
setInterval(() => {
  drawStatus();
  drawDetails();
  if (shownPage === 'units') drawUnitsPage();
}, 1000);
setInterval(fetchDetail, 2000);
setInterval(fetchRows, 2000);
setInterval(fetchGraph, 5000);
setInterval(fetchHistoryRange, 10000);
fetchHistoryRange();
