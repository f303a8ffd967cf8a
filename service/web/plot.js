// Small time-series plots drawn as SVG: one panel per quantity, stacked on a
// shared time axis, each with its own scale. No library: the dashboard must
// work in a closed network.
'use strict';

const VarnakPlot = (function () {
  const SVG = 'http://www.w3.org/2000/svg';

  function node(tag, attrs, text) {
    const n = document.createElementNS(SVG, tag);
    for (const [k, v] of Object.entries(attrs || {})) n.setAttribute(k, String(v));
    if (text !== undefined) n.textContent = text;
    return n;
  }

  // Round numbers for an axis between lo and hi: about `count` of them.
  function ticks(lo, hi, count) {
    if (!(hi > lo)) return [lo];
    const raw = (hi - lo) / count;
    const power = Math.pow(10, Math.floor(Math.log10(raw)));
    const step = [1, 2, 2.5, 5, 10].map((m) => m * power).find((s) => s >= raw) || raw;
    const out = [];
    for (let v = Math.ceil(lo / step) * step; v <= hi + step * 1e-9; v += step) out.push(+v.toPrecision(12));
    return out;
  }

  function timeLabel(ms, spanMs) {
    const iso = new Date(ms).toISOString();
    return spanMs > 2 * 86400e3 ? iso.slice(5, 10) + ' ' + iso.slice(11, 16) : iso.slice(11, 16);
  }

  // Draws `panels` into the SVG element `svg` over [from, to] (ms since the
  // epoch). A panel: {label, unit, points: [[ms, value], ...], className,
  // min, max (optional limits of the scale), span (its least width), format(v)}. Points farther apart than
  // `gapMs` are not joined: a gap in reception stays visible as a gap.
  function draw(svg, panels, from, to, gapMs) {
    while (svg.firstChild) svg.removeChild(svg.firstChild);
    // Drawn at the width it is shown at, so that its text keeps its size on a phone.
    const width = Math.round(Math.max(300, Math.min(1200, svg.getBoundingClientRect().width || 720)));
    const panelHeight = width < 500 ? 100 : 120, left = 48, right = 10, top = 10, gap = 26, bottom = 24;
    const height = top + panels.length * (panelHeight + gap) - gap + bottom;
    svg.setAttribute('viewBox', `0 0 ${width} ${height}`);
    svg.setAttribute('preserveAspectRatio', 'xMidYMid meet');
    const plotWidth = width - left - right;
    const span = to - from;
    const x = (ms) => left + ((ms - from) / (to - from)) * plotWidth;
    // Time ticks on whole minutes a clock shows: every 5, 10, 15, 30 min, 1, 2, 3, 6, 12 h.
    const most = Math.max(3, Math.floor(plotWidth / 90));
    const stepMin = [1, 2, 5, 10, 15, 30, 60, 120, 180, 360, 720, 1440].find((m) => span / (m * 60e3) <= most) || 1440;
    const timeTicks = [];
    for (let t = Math.ceil(from / (stepMin * 60e3)) * stepMin * 60e3; t <= to; t += stepMin * 60e3) timeTicks.push(t);

    panels.forEach((panel, index) => {
      const y0 = top + index * (panelHeight + gap);
      const g = node('g', { class: 'panel ' + (panel.className || '') });
      svg.appendChild(g);
      const values = panel.points.filter((p) => p[0] >= from && p[0] <= to && Number.isFinite(p[1]));
      // The scale: from the values, padded, within the panel's limits
      // (min/max) and at least `span` wide.
      const vs = values.map((p) => p[1]);
      const vlo = vs.length ? Math.min(...vs) : 0, vhi = vs.length ? Math.max(...vs) : 1;
      const pad = Math.max((vhi - vlo) * 0.1, (panel.span || 1) / 2);
      let lo = Math.max(vlo - pad, panel.min === undefined ? -Infinity : panel.min);
      let hi = Math.min(vhi + pad, panel.max === undefined ? Infinity : panel.max);
      if (hi - lo < (panel.span || 1)) hi = lo + (panel.span || 1);
      const y = (v) => y0 + panelHeight - ((v - lo) / (hi - lo)) * panelHeight;

      g.appendChild(node('rect', { class: 'frame', x: left, y: y0, width: plotWidth, height: panelHeight }));
      for (const t of values.length ? ticks(lo, hi, 4) : []) {
        if (t < lo || t > hi) continue;
        g.appendChild(node('line', { class: 'grid', x1: left, x2: left + plotWidth, y1: y(t), y2: y(t) }));
        g.appendChild(node('text', { class: 'tick', x: left - 6, y: y(t) + 4, 'text-anchor': 'end' },
          panel.format ? panel.format(t) : String(t)));
      }
      for (const t of timeTicks) {
        if (t < from || t > to) continue;
        g.appendChild(node('line', { class: 'grid', x1: x(t), x2: x(t), y1: y0, y2: y0 + panelHeight }));
        if (index === panels.length - 1)
          g.appendChild(node('text', { class: 'tick', x: x(t), y: y0 + panelHeight + 16, 'text-anchor': 'middle' },
            timeLabel(t, span)));
      }
      g.appendChild(node('text', { class: 'label', x: left + 6, y: y0 + 16 },
        panel.label + (panel.unit ? ' (' + panel.unit + ')' : '')));

      if (!values.length) {
        g.appendChild(node('text', { class: 'empty', x: left + plotWidth / 2, y: y0 + panelHeight / 2 + 4,
          'text-anchor': 'middle' }, 'not measured in this time'));
        return;
      }
      // Runs of points without a gap become one polyline each; a lone point a dot.
      let run = [];
      const flush = () => {
        if (run.length === 1) {
          g.appendChild(node('circle', { class: 'line', cx: run[0][0], cy: run[0][1], r: 2.5 }));
        } else if (run.length > 1) {
          const points = run.map((p) => p[0].toFixed(1) + ',' + p[1].toFixed(1)).join(' ');
          g.appendChild(node('polyline', { class: 'line', points }));
        }
        run = [];
      };
      let last = null;
      for (const [t, v] of values) {
        if (last !== null && t - last > gapMs) flush();
        run.push([x(t), y(Math.min(hi, Math.max(lo, v)))]);
        last = t;
      }
      flush();
    });
  }

  return { draw, ticks };
})();
