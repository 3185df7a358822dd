// The offline basemap: Natural Earth's land, coastlines and country borders
// (1:50m, from the world-atlas TopoJSON file carried in flowhost), drawn
// with Leaflet on a canvas so that a position has context with no network.
'use strict';

// Decodes the TopoJSON `topology` into GeoJSON: `land` (the filled land),
// `coast` (arcs that bound one country: shores) and `borders` (arcs shared
// by two countries).
// Shapes that cross the antimeridian jump from 180 to -180 degrees: such a
// line is continued past 180 instead, so that it is not drawn across the
// whole world.
function unwrap(points) {
  const out = [];
  let shift = 0, previous = null;
  for (const [lon, lat] of points) {
    if (previous !== null && lon - previous > 180) shift -= 360;
    else if (previous !== null && lon - previous < -180) shift += 360;
    previous = lon;
    out.push([lon + shift, lat]);
  }
  return out;
}

function decodeBasemap(topology) {
  const [sx, sy] = topology.transform.scale;
  const [tx, ty] = topology.transform.translate;
  // Each arc is delta-encoded in quantized units.
  const arcs = topology.arcs.map(arc => {
    let x = 0, y = 0;
    return arc.map(([dx, dy]) => {
      x += dx;
      y += dy;
      return [x * sx + tx, y * sy + ty];
    });
  });
  const arcPoints = i => (i >= 0 ? arcs[i] : arcs[~i].slice().reverse());
  const ring = indices => {
    const points = [];
    indices.forEach((i, n) => {
      const part = arcPoints(i);
      points.push(...(n === 0 ? part : part.slice(1)));
    });
    return unwrap(points);
  };
  const polygons = geometry =>
    geometry.type === 'Polygon' ? [geometry.arcs.map(ring)]
    : geometry.type === 'MultiPolygon' ? geometry.arcs.map(p => p.map(ring)) : [];

  const land = [];
  for (const g of topology.objects.land.geometries) land.push(...polygons(g));

  const uses = new Map();
  const count = i => uses.set(i < 0 ? ~i : i, (uses.get(i < 0 ? ~i : i) || 0) + 1);
  for (const g of topology.objects.countries.geometries) {
    const list = g.type === 'Polygon' ? [g.arcs] : g.type === 'MultiPolygon' ? g.arcs : [];
    for (const polygon of list) for (const r of polygon) r.forEach(count);
  }
  const coast = [], borders = [];
  for (const [i, n] of uses) (n > 1 ? borders : coast).push(unwrap(arcs[i]));
  return {
    land: {type: 'MultiPolygon', coordinates: land},
    coast: {type: 'MultiLineString', coordinates: coast},
    borders: {type: 'MultiLineString', coordinates: borders},
  };
}

// The basemap as one Leaflet layer group, in a pane under the markers.
function basemapLayer(map, topology) {
  const shapes = decodeBasemap(topology);
  map.createPane('basemap');
  map.getPane('basemap').style.zIndex = 150;
  const renderer = L.canvas({pane: 'basemap', padding: 0.2});
  const style = s => Object.assign({renderer, pane: 'basemap', interactive: false}, s);
  return L.layerGroup([
    L.geoJSON(shapes.land, {style: () => style({stroke: false, fillColor: '#f2efe4', fillOpacity: 1})}),
    L.geoJSON(shapes.borders,
              {style: () => style({color: '#a08fa8', weight: 1, dashArray: '4 3', fill: false})}),
    L.geoJSON(shapes.coast, {style: () => style({color: '#7d9bb3', weight: 1.2, fill: false})}),
  ]);
}
