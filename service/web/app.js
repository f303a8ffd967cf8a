// The varnakd dashboard: the station table, a station's page and the alarm
// list, kept live through the WebSocket /api/live. Every text from the server
// goes into the page as a text node (never as markup): a radiotext may hold
// anything, "<script>" included.
'use strict';

(function () {
  // ---------------------------------------------------------------- DOM
  // el('td', {class: 'pi', title: '...'}, 'C2A1', otherNode): attributes set
  // one by one, strings become text nodes.
  function el(tag, attrs, ...children) {
    const n = document.createElement(tag);
    for (const [k, v] of Object.entries(attrs || {})) {
      if (v === undefined || v === null || v === false) continue;
      if (k === 'class') n.className = v;
      else if (k === 'hidden') n.hidden = true;
      else if (k.startsWith('on')) n.addEventListener(k.slice(2), v);
      else n.setAttribute(k, v === true ? '' : String(v));
    }
    append(n, children);
    return n;
  }
  function append(n, children) {
    for (const c of children.flat()) {
      if (c === undefined || c === null || c === false) continue;
      n.appendChild(typeof c === 'string' || typeof c === 'number' ? document.createTextNode(String(c)) : c);
    }
    return n;
  }
  function replace(n, ...children) {
    while (n.firstChild) n.removeChild(n.firstChild);
    return append(n, children);
  }
  // A value the station has not sent (yet): said in words, never a blank.
  function absent(text, title) {
    return el('span', { class: 'absent', title: title || text }, text);
  }

  // fn at most once per `ms`, the last call winning: alarms that flap do not
  // turn into a stream of requests.
  function throttle(fn, ms) {
    let timer = null, last = 0;
    return () => {
      if (timer) return;
      const wait = Math.max(0, last + ms - Date.now());
      timer = setTimeout(() => { timer = null; last = Date.now(); fn(); }, wait);
    };
  }

  // ---------------------------------------------------------------- formats
  const has = (v) => v !== undefined && v !== null;
  // "2026-12-09T10:44:42.25Z" -> "2026-12-09 10:44:42" (UTC).
  function utc(iso) {
    return typeof iso === 'string' ? iso.replace('T', ' ').replace(/(\.\d+)?Z$/, '') : '';
  }
  function timeOf(iso, withDate) {
    if (!iso) return absent('never');
    const text = utc(iso);
    return el('time', { datetime: iso, title: iso }, withDate ? text : text.slice(11));
  }
  function stationId(s) {
    return s.id || s.site + '/' + s.name;
  }
  function freqText(s) {
    return has(s.freq) ? Number(s.freq).toFixed(2) + ' MHz' : s.name;
  }
  function route(id) {
    const [site, ...name] = id.split('/');
    return '#/station/' + encodeURIComponent(site) + '/' + encodeURIComponent(name.join('/'));
  }
  function percent(x, digits) {
    return (x * 100).toFixed(digits === undefined ? 1 : digits) + ' %';
  }
  function duration(ms) {
    const s = Math.max(0, Math.round(ms / 1000));
    if (s < 60) return s + ' s';
    if (s < 3600) return Math.floor(s / 60) + ' min ' + (s % 60) + ' s';
    return Math.floor(s / 3600) + ' h ' + Math.floor((s % 3600) / 60) + ' min';
  }

  // What one alarm object says, whichever of the server's two spellings it
  // uses (live events: name/alarm/state; history rows: kind/raised/cleared).
  function normalAlarm(a) {
    const live = typeof a.state === 'string';
    const raised = live ? a.state === 'raised' : !has(a.cleared);
    return {
      site: a.site,
      station: has(a.name) ? a.name : a.station,
      kind: has(a.alarm) ? a.alarm : a.kind,
      raised,
      since: live ? (raised ? a.since : a.raised) : a.raised,
      cleared: live ? (raised ? null : a.time) : a.cleared,
      time: a.time || a.raised,
      detail: a.detail || '',
    };
  }
  const alarmKey = (a) => a.site + '/' + a.station + '/' + a.kind;
  const alarmNames = {
    'rds-lost': 'RDS lost', pi: 'PI', ps: 'PS', pty: 'PTY', tp: 'TP', ta: 'TA', clock: 'Clock',
    'block-error-rate': 'Block errors', pilot: 'Pilot', 'rds-injection': 'Injection', source: 'Source',
  };
  function badge(a) {
    const name = alarmNames[a.kind] || a.kind;
    return el('span', { class: 'badge alarm-' + String(a.kind).replace(/[^a-z0-9-]/gi, ''),
      title: a.detail ? name + ': ' + a.detail : name, role: 'img', 'aria-label': 'alarm ' + name },
    el('span', { 'aria-hidden': 'true' }, '\u26a0 '), name);
  }

  // The signal bar: carrier-to-noise where measured, else the level, else
  // the share of RDS blocks received; the figure is written beside the bar
  // so the colour is never the only sign.
  function signalOf(q) {
    if (!q) return null;
    const ber = has(q.blockErrorRate) ? q.blockErrorRate : null;
    const parts = [];
    let fill = null, grade = 'none';
    if (has(q.cnr)) {
      fill = q.cnr / 40;
      grade = q.cnr >= 25 ? 'good' : q.cnr >= 12 ? 'fair' : 'poor';
      parts.push('C/N ' + Number(q.cnr).toFixed(1) + ' dB');
    } else if (has(q.level)) {
      fill = (q.level + 70) / 70;
      grade = q.level >= -30 ? 'good' : q.level >= -50 ? 'fair' : 'poor';
      parts.push(Number(q.level).toFixed(1) + ' dBFS');
    }
    if (ber !== null) {
      if (fill === null) {
        fill = 1 - ber;
        grade = ber <= 0.02 ? 'good' : ber <= 0.1 ? 'fair' : 'poor';
      }
      parts.push(percent(ber) + ' errors');
    }
    if (fill === null) return null;
    return { fill: Math.max(0, Math.min(1, fill)), grade, text: parts.join(' · ') };
  }
  function signalBar(q) {
    const s = signalOf(q);
    if (!s) return absent('no signal figures');
    return el('span', { class: 'signal grade-' + s.grade },
      el('span', { class: 'bar', role: 'meter', 'aria-valuemin': 0, 'aria-valuemax': 100,
        'aria-valuenow': Math.round(s.fill * 100), 'aria-label': 'signal ' + s.text },
      el('span', { class: 'fill', style: 'width:' + (s.fill * 100).toFixed(0) + '%' })),
      el('span', { class: 'figure' }, s.text));
  }
  function psNode(ps) {
    if (!ps) return absent('no PS yet', 'no programme service name received yet');
    return el('span', { class: 'ps', title: 'PS "' + ps + '"' }, ps);
  }

  // ---------------------------------------------------------------- token
  // A service reachable beyond this computer asks for a bearer token; it is
  // kept for this browser tab only.
  const auth = {
    get token() { return sessionStorage.getItem('varnak-token') || ''; },
    set token(t) { if (t) sessionStorage.setItem('varnak-token', t); else sessionStorage.removeItem('varnak-token'); },
    headers() { return this.token ? { Authorization: 'Bearer ' + this.token } : {}; },
  };
  class HttpError extends Error {
    constructor(status, message) { super(message); this.status = status; }
  }
  async function getJson(path) {
    const r = await fetch(path, { headers: auth.headers(), cache: 'no-store' });
    let body = null;
    try { body = await r.json(); } catch (e) { body = null; }
    if (!r.ok) throw new HttpError(r.status, (body && body.error) || r.status + ' ' + r.statusText);
    return body;
  }

  // ---------------------------------------------------------------- model
  const model = {
    stations: new Map(), // id -> STATION
    alarms: new Map(), // site/station/kind -> normal alarm (active ones)
    clockOffset: 0, // server time minus this browser's time, ms
    live: false,
    hello: false,
    listeners: new Set(),
    now() { return Date.now() + this.clockOffset; },
    emit(what, arg) { for (const f of this.listeners) f(what, arg); },
    setStation(s) {
      const id = stationId(s);
      this.stations.set(id, s);
      if (Array.isArray(s.alarms)) {
        for (const [k, a] of this.alarms) if (a.site + '/' + a.station === id) this.alarms.delete(k);
        for (const a of s.alarms.map(normalAlarm)) this.alarms.set(alarmKey(a), a);
      }
    },
    alarmsOf(id) {
      return [...this.alarms.values()].filter((a) => a.site + '/' + a.station === id);
    },
    onMessage(m) {
      if (m.type === 'hello') {
        if (m.time) this.clockOffset = Date.parse(m.time) - Date.now();
        this.stations.clear();
        this.alarms.clear();
        for (const s of m.stations || []) this.setStation(s);
        for (const a of (m.alarms || []).map(normalAlarm)) this.alarms.set(alarmKey(a), a);
        this.hello = true;
        this.emit('hello');
      } else if (m.type === 'state' && m.station) {
        this.setStation(m.station);
        this.emit('state', stationId(m.station));
      } else if (m.type === 'alarm' && m.alarm) {
        const a = normalAlarm(m.alarm);
        if (a.raised) this.alarms.set(alarmKey(a), a);
        else this.alarms.delete(alarmKey(a));
        this.emit('alarm', a);
      } else if (m.type === 'dropped') {
        connection.note('the service dropped this page: ' + (m.reason || 'too slow'));
      }
    },
  };

  // ---------------------------------------------------------------- live
  // The WebSocket, opened again with growing pauses (1 s doubling to 30 s)
  // after it drops; the status line says honestly what is going on.
  const connection = {
    ws: null,
    attempt: 0,
    timer: null,
    lostAt: null,
    reason: '',
    // `text` is announced to screen readers when it changes; `aside` (the
    // countdown) is only shown.
    status(state, text, aside) {
      const n = document.getElementById('connection');
      n.className = 'connection ' + state;
      if (n.dataset.text !== text) {
        n.dataset.text = text;
        replace(n, text, el('span', { class: 'aside', 'aria-hidden': 'true' }));
      }
      n.lastChild.textContent = aside ? ' ' + aside : '';
      document.body.classList.toggle('offline', state === 'lost');
    },
    note(text) { this.reason = text; },
    url() {
      const u = new URL('api/live', location.href);
      u.protocol = location.protocol === 'https:' ? 'wss:' : 'ws:';
      u.hash = '';
      if (auth.token) u.searchParams.set('token', auth.token);
      return u.href;
    },
    open() {
      clearTimeout(this.timer);
      this.status(this.lostAt ? 'lost' : 'connecting', this.lostAt ? this.lostText() : 'Connecting…',
        this.lostAt ? 'Trying again now.' : '');
      let ws;
      try {
        ws = new WebSocket(this.url());
      } catch (e) {
        this.closed();
        return;
      }
      this.ws = ws;
      model.live = false;
      ws.onopen = () => {
        this.attempt = 0;
        this.lostAt = null;
        this.reason = '';
        model.live = true;
        this.status('live', 'Live');
      };
      ws.onmessage = (e) => {
        let m;
        try { m = JSON.parse(e.data); } catch (err) { return; }
        model.onMessage(m);
      };
      ws.onclose = (e) => { if (this.ws === ws) this.closed(!model.live || e.code === 4401); };
    },
    lostText() {
      return 'Connection lost at ' + new Date(this.lostAt).toISOString().slice(11, 19) + ' UTC' +
        (this.reason ? ' (' + this.reason + ')' : '') + '. The values shown may be out of date.';
    },
    // `refused`: the socket never opened (or was refused): a service that
    // now wants a token, or another one, says so on an ordinary request.
    async closed(refused) {
      this.ws = null;
      model.live = false;
      if (!this.lostAt) this.lostAt = Date.now();
      if (refused) {
        try {
          await getJson('api/health');
        } catch (e) {
          if (e.status === 401) return askToken();
        }
      }
      const delay = Math.min(30000, 1000 * Math.pow(2, this.attempt)) * (0.8 + Math.random() * 0.4);
      this.attempt = Math.min(this.attempt + 1, 5);
      const due = Date.now() + delay;
      const tick = () => {
        const left = Math.ceil((due - Date.now()) / 1000);
        if (left <= 0) { this.open(); return; }
        this.status('lost', this.lostText(), 'Trying again in ' + left + ' s.');
        this.timer = setTimeout(tick, 1000);
      };
      tick();
    },
  };

  // ---------------------------------------------------------------- views
  const view = () => document.getElementById('view');
  let current = null; // the shown view: {update(what, arg), close()}

  function sortStations(list) {
    return list.sort((a, b) => (a.site < b.site ? -1 : a.site > b.site ? 1 : 0) ||
      (has(a.freq) && has(b.freq) ? a.freq - b.freq : String(a.name).localeCompare(String(b.name))));
  }

  // The table of every station.
  function stationsView() {
    const rows = new Map();
    const tbody = el('tbody');
    const empty = el('p', { class: 'notice', id: 'no-stations' }, 'Waiting for the service…');
    const table = el('table', { class: 'stations', id: 'stations' },
      el('caption', {}, 'Every station the service receives'),
      el('thead', {}, el('tr', {},
        [['Site', 'site'], ['Frequency', 'freq'], ['PS', 'ps-cell'], ['PI', 'pi'], ['PTY', 'pty'], ['Radiotext', 'rt'],
          ['Signal', 'signal-cell'], ['Alarms', 'alarms'], ['Last group', 'last']].map(([h, c]) =>
          el('th', { scope: 'col', class: c }, h)))),
      tbody);
    replace(view(), el('h2', {}, 'Stations'), empty, el('div', { class: 'table-wrap' }, table));

    function row(s) {
      const id = stationId(s);
      const alarms = model.alarmsOf(id);
      const q = s.quality || {};
      const cells = [
        el('td', { class: 'site', 'data-label': 'Site' }, s.site),
        el('th', { scope: 'row', class: 'freq', 'data-label': 'Frequency' }, el('a', { href: route(id) }, freqText(s))),
        el('td', { class: 'ps-cell', 'data-label': 'PS' }, psNode(s.ps)),
        el('td', { class: 'pi', 'data-label': 'PI' },
          s.pi ? el('span', { class: 'code', title: s.callsign || null }, s.pi) : absent('—', 'no PI received yet')),
        el('td', { class: 'pty', 'data-label': 'PTY' },
          has(s.pty) ? s.pty + ' ' + (s.ptyName || '') : absent('—', 'no PTY received yet')),
        el('td', { class: 'rt', 'data-label': 'Radiotext' },
          s.radiotext ? el('span', { class: 'rt-text' }, s.radiotext) : absent('no radiotext yet')),
        el('td', { class: 'signal-cell', 'data-label': 'Signal' }, signalBar(q)),
        el('td', { class: 'alarms', 'data-label': 'Alarms' },
          alarms.length ? alarms.map(badge) : el('span', { class: 'ok' }, 'none')),
        el('td', { class: 'last', 'data-label': 'Last group' }, timeOf(s.lastGroup, false)),
      ];
      const tr = el('tr', { 'data-id': id, class: alarms.length ? 'has-alarm' : '' }, cells);
      return tr;
    }
    function render(id) {
      if (id && rows.has(id) && model.stations.has(id)) {
        const tr = row(model.stations.get(id));
        rows.get(id).replaceWith(tr);
        rows.set(id, tr);
        return;
      }
      rows.clear();
      const list = sortStations([...model.stations.values()]);
      replace(tbody, list.map((s) => { const tr = row(s); rows.set(stationId(s), tr); return tr; }));
      empty.hidden = list.length > 0;
      empty.textContent = model.hello ? 'The service receives no station yet.' : 'Waiting for the service…';
      table.classList.toggle('multi-site', new Set(list.map((s) => s.site)).size > 1);
    }
    render();
    return {
      update(what, arg) {
        if (what === 'state') render(rows.has(arg) ? arg : null);
        else if (what === 'alarm') render(rows.has(arg.site + '/' + arg.station) ? arg.site + '/' + arg.station : null);
        else render();
      },
      close() {},
    };
  }

  // One station: its state, a plot of its quality, its texts and alarms.
  function stationView(id) {
    const ranges = [[1, '1 hour'], [6, '6 hours'], [24, '24 hours']];
    let hours = Number(sessionStorage.getItem('varnak-hours')) || 6;
    let history = null;
    const live = []; // [ms, quality] from state messages while the page is open
    const title = el('h2', {}, id);
    const facts = el('dl', { class: 'facts' });
    const svg = document.createElementNS('http://www.w3.org/2000/svg', 'svg');
    svg.setAttribute('class', 'plot');
    svg.setAttribute('id', 'quality-plot');
    svg.setAttribute('role', 'img');
    const plotNote = el('p', { class: 'plot-note' });
    const pick = () => {
      hours = Number(select.value);
      sessionStorage.setItem('varnak-hours', hours);
      load();
    };
    const select = el('select', { id: 'range', onchange: pick },
      ranges.map(([h, label]) => el('option', { value: h, selected: h === hours }, 'last ' + label)));
    const texts = el('div', { id: 'texts' }, absent('loading…'));
    const alarmsNode = el('div', { id: 'station-alarms' }, absent('loading…'));
    const error = el('p', { class: 'error', role: 'alert', hidden: true });
    replace(view(),
      el('p', { class: 'back' }, el('a', { href: '#/' }, '← All stations')),
      title, error, facts,
      el('section', { 'aria-labelledby': 'plot-h' },
        el('div', { class: 'section-head' }, el('h3', { id: 'plot-h' }, 'Signal and block errors'),
          el('label', { for: 'range' }, 'Time ', select)),
        svg, plotNote),
      el('section', { 'aria-labelledby': 'texts-h' }, el('h3', { id: 'texts-h' }, 'Texts over time'), texts),
      el('section', { 'aria-labelledby': 'alarms-h' }, el('h3', { id: 'alarms-h' }, 'Alarm history'), alarmsNode));

    let details = null; // the full station from /api/stations/SITE/NAME
    function fact(name, ...value) {
      return [el('dt', {}, name), el('dd', {}, ...value)];
    }
    function renderFacts() {
      const s = model.stations.get(id) || details;
      if (!s) return;
      const d = details || {};
      const q = s.quality || {};
      replace(title, freqText(s), ' ', s.ps ? el('span', { class: 'ps' }, s.ps) : '', el('small', {}, ' at ' + s.site));
      document.title = freqText(s) + ' ' + (s.ps || '') + ' — Varnak';
      const num = (v, digits, unit) => (has(v) ? Number(v).toFixed(digits) + unit : absent('not measured'));
      const alarms = model.alarmsOf(id);
      replace(facts,
        fact('PS', psNode(s.ps)),
        fact('PI', s.pi ? el('span', { class: 'code' }, s.pi) : absent('not received'),
          s.callsign ? ' (' + s.callsign + ')' : ''),
        fact('PTY', has(s.pty) ? s.pty + ' ' + (s.ptyName || '') : absent('not received')),
        fact('TP / TA', has(s.tp) ? (s.tp ? 'TP on' : 'TP off') : absent('TP not received'), ' · ',
          has(s.ta) ? (s.ta ? 'TA on' : 'TA off') : absent('TA not received')),
        fact('Radiotext', s.radiotext ? el('span', { class: 'rt-text' }, s.radiotext) : absent('not received')),
        fact('AF', s.af && s.af.length ? s.af.map((f) => (f >= 87.5 ? f + ' MHz' : f + ' kHz')).join(', ')
          : absent('none sent')),
        fact('Clock', s.clock ? timeOf(s.clock, true) : absent('not sent'),
          has(s.clockOffset) ? ' (' + (s.clockOffset > 0 ? '+' : '') + s.clockOffset + ' s off)' : ''),
        fact('Signal', signalBar(q)),
        fact('Groups', num(q.groupsPerSecond, 1, ' per second'), ' · ',
          has(q.blockErrorRate) ? percent(q.blockErrorRate) + ' blocks lost' : absent('no error rate yet')),
        fact('Level / C/N', num(q.level, 1, ' dBFS'), ' · ', num(q.cnr, 1, ' dB')),
        fact('Deviation', num(q.deviation, 1, ' kHz'), ' · MPX power ', num(q.mpxPower, 1, ' dBr')),
        fact('Injection', 'RDS ', num(has(q.rdsLevel) ? q.rdsLevel * 100 : null, 1, ' %'), ' · pilot ',
          num(has(q.pilotLevel) ? q.pilotLevel * 100 : null, 1, ' %')),
        d.rtPlus && d.rtPlus.length ? fact('RT+', el('ul', { class: 'plain' }, d.rtPlus.map((i) =>
          el('li', {}, el('span', { class: 'tag' }, i.name || String(i.type)), ' ', i.text)))) : [],
        d.odas && d.odas.length
          ? fact('ODA', d.odas.map((o) => (o.name || 'AID ' + o.aid) + ' in ' + o.group).join(', ')) : [],
        fact('Last group', timeOf(s.lastGroup, true)),
        fact('Alarms', alarms.length ? alarms.map(badge) : el('span', { class: 'ok' }, 'none active')));
    }

    function renderPlot() {
      const to = model.now(), from = to - hours * 3600e3;
      const rows = (history && history.quality) || [];
      const points = (key, scale) => {
        const out = [];
        for (const r of rows) if (has(r[key])) out.push([Date.parse(r.start) + 30e3, r[key] * (scale || 1)]);
        for (const [t, q] of live) if (has(q[key])) out.push([t, q[key] * (scale || 1)]);
        return out.sort((a, b) => a[0] - b[0]);
      };
      const panels = [
        { label: 'Level', unit: 'dBFS', className: 'level', points: points('level'), span: 6,
          format: (v) => v.toFixed(0) },
        { label: 'C/N', unit: 'dB', className: 'cnr', points: points('cnr'), min: 0, span: 6,
          format: (v) => v.toFixed(0) },
        { label: 'Block errors', unit: '%', className: 'ber', points: points('blockErrorRate', 100), min: 0, max: 100,
          span: 5, format: (v) => v.toFixed(v < 10 ? 1 : 0) },
      ];
      VarnakPlot.draw(svg, panels, from, to, 150e3);
      const n = panels.map((p) => p.points.filter((x) => x[0] >= from).length);
      svg.setAttribute('aria-label',
        `Level, C/N and block errors over the last ${hours} h: ${n[0]}, ${n[1]} and ${n[2]} points`);
      plotNote.textContent = history ? `${rows.length} minutes from the station database` +
        (live.length ? `, ${live.length} live readings since this page opened` : '') + '.' : 'Loading the history…';
    }

    function renderHistory() {
      if (!history) return;
      const t = (history.texts || []).slice().sort((a, b) => (a.last < b.last ? 1 : a.last > b.last ? -1 : 0));
      replace(texts, t.length ? el('div', { class: 'table-wrap' }, el('table', { class: 'texts' },
        el('thead', {}, el('tr', {},
          ['Kind', 'Text', 'First seen', 'Last seen'].map((h) => el('th', { scope: 'col' }, h)))),
        el('tbody', {}, t.map((x) => el('tr', {},
          el('td', { 'data-label': 'Kind' }, x.kind === 'ps' ? 'PS' : x.kind === 'radiotext' ? 'Radiotext' : x.kind),
          el('td', { 'data-label': 'Text' }, el('span', { class: x.kind === 'ps' ? 'ps' : 'rt-text' }, x.text)),
          el('td', { 'data-label': 'First seen' }, timeOf(x.first, true)),
          el('td', { 'data-label': 'Last seen' }, timeOf(x.last, true)))))))
        : absent('No texts in this time.'));
      const [site, ...name] = id.split('/');
      const a = (history.alarms || []).map((x) => normalAlarm({ ...x, site, station: name.join('/') }));
      replace(alarmsNode, alarmTable(a, false));
    }

    async function load() {
      const to = model.now(), from = to - hours * 3600e3;
      const base = 'api/stations/' + id.split('/').map(encodeURIComponent).join('/');
      const iso = (ms) => new Date(ms).toISOString().replace(/\.\d+Z$/, 'Z');
      renderPlot();
      try {
        const [d, h] = await Promise.all([getJson(base),
          getJson(base + '/history?from=' + iso(from) + '&to=' + iso(to))]);
        if (current !== self) return;
        details = d;
        history = h;
        error.hidden = true;
      } catch (e) {
        if (current !== self) return;
        if (e.status === 401) return askToken();
        error.hidden = false;
        error.textContent = e.status === 404 ? 'The service knows no station ' + id + '.'
          : 'Could not load the station: ' + e.message;
      }
      renderFacts();
      renderHistory();
      renderPlot();
    }

    const reload = throttle(load, 2000);
    const replot = throttle(renderPlot, 1000);
    window.addEventListener('resize', replot);
    const self = {
      update(what, arg) {
        if (what === 'state' && arg === id) {
          const s = model.stations.get(id);
          // A reading every 10 s at most: the quality is a minute's sliding window.
          const t = s && s.quality && s.updated ? Date.parse(s.updated) : NaN;
          if (Number.isFinite(t) && (!live.length || t - live[live.length - 1][0] >= 10e3)) {
            live.push([t, s.quality]);
            if (live.length > 9000) live.splice(0, live.length - 9000);
            replot();
          }
          renderFacts();
        } else if (what === 'alarm' && arg.site + '/' + arg.station === id) {
          renderFacts();
          reload();
        } else if (what === 'hello') {
          renderFacts();
        }
      },
      close() { window.removeEventListener('resize', replot); },
    };
    current = self;
    renderFacts();
    load();
    return self;
  }

  function alarmTable(list, withStation, none) {
    if (!list.length) return absent(none || 'None in this time.');
    return el('div', { class: 'table-wrap' }, el('table', { class: 'alarm-list' },
      el('thead', {}, el('tr', {}, (withStation ? ['Station'] : [])
        .concat(['Alarm', 'Raised', 'Cleared', 'Lasted', 'Detail']).map((h) => el('th', { scope: 'col' }, h)))),
      el('tbody', {}, list.map((a) => {
        const id = a.site + '/' + a.station;
        const s = model.stations.get(id);
        const end = a.cleared ? Date.parse(a.cleared) : model.now();
        return el('tr', { class: a.cleared ? 'cleared' : 'active' },
          withStation ? el('td', { 'data-label': 'Station' },
            el('a', { href: route(id) }, a.site + ' ' + (s ? freqText(s) : a.station)),
            s && s.ps ? [' ', el('span', { class: 'ps' }, s.ps)] : []) : null,
          el('td', { 'data-label': 'Alarm' },
            a.cleared ? el('span', { class: 'badge cleared' }, alarmNames[a.kind] || a.kind) : badge(a)),
          el('td', { 'data-label': 'Raised' }, timeOf(a.since, true)),
          el('td', { 'data-label': 'Cleared' },
            a.cleared ? timeOf(a.cleared, true) : el('strong', { class: 'still' }, 'still active')),
          el('td', { 'data-label': 'Lasted' }, a.since ? duration(end - Date.parse(a.since)) : ''),
          el('td', { 'data-label': 'Detail', class: 'detail' }, a.detail));
      }))));
  }

  // Active alarms (live) and those of the last 24 hours (from the database).
  function alarmsView() {
    const active = el('div', { id: 'active-alarms' });
    const past = el('div', { id: 'past-alarms' }, absent('loading…'));
    replace(view(), el('h2', {}, 'Alarms'),
      el('section', { 'aria-labelledby': 'active-h' }, el('h3', { id: 'active-h' }, 'Active now'), active),
      el('section', { 'aria-labelledby': 'past-h' }, el('h3', { id: 'past-h' }, 'Last 24 hours'), past));
    let pastList = null;
    const reload = throttle(() => load(), 2000);
    const newestFirst = (a, b) => (a.since < b.since ? 1 : -1);
    const renderActive = () => replace(active, alarmTable([...model.alarms.values()].sort(newestFirst), true, 'None.'));
    async function load() {
      const to = model.now(), from = to - 24 * 3600e3;
      const iso = (ms) => new Date(ms).toISOString().replace(/\.\d+Z$/, 'Z');
      try {
        const r = await getJson('api/alarms?from=' + iso(from) + '&to=' + iso(to));
        if (current !== self) return;
        pastList = (r.alarms || []).map(normalAlarm).sort(newestFirst);
        replace(past, alarmTable(pastList, true));
      } catch (e) {
        if (e.status === 401) return askToken();
        replace(past, el('p', { class: 'error', role: 'alert' }, 'Could not load the alarms: ' + e.message));
      }
    }
    const self = {
      update(what) {
        renderActive();
        if (what === 'alarm') reload();
        else if (what === 'hello' && pastList) replace(past, alarmTable(pastList, true));
      },
      close() {},
    };
    current = self;
    renderActive();
    load();
    return self;
  }

  function askToken() {
    clearTimeout(connection.timer);
    const rejected = auth.token !== '';
    const input = el('input', { id: 'token', type: 'password', autocomplete: 'current-password', required: true });
    replace(view(), el('h2', {}, 'Token needed'),
      el('form', { class: 'token', onsubmit: (e) => { e.preventDefault(); auth.token = input.value.trim(); start(); } },
        el('p', {}, 'This service asks for its access token (the contents of the file its configuration names).'),
        rejected ? el('p', { class: 'error', role: 'alert' }, 'The token given before was not accepted.') : null,
        el('label', { for: 'token' }, 'Token '), input, ' ', el('button', { type: 'submit' }, 'Open')));
    connection.status('lost', 'Not connected: the service wants a token.');
    input.focus();
  }

  function updateAlarmCount() {
    const n = model.alarms.size;
    const c = document.getElementById('alarm-count');
    c.hidden = n === 0;
    c.textContent = String(n);
    c.setAttribute('aria-label', n + ' active');
  }

  function show() {
    const parts = location.hash.replace(/^#\/?/, '').split('/');
    if (current) current.close();
    current = null;
    document.title = 'Varnak stations';
    for (const a of document.querySelectorAll('nav a')) a.removeAttribute('aria-current');
    if (parts[0] === 'station' && parts.length >= 3) {
      let id;
      try {
        id = parts.slice(1).map(decodeURIComponent).join('/');
      } catch (e) {
        id = '';
      }
      current = stationView(id);
    } else if (parts[0] === 'alarms') {
      document.getElementById('nav-alarms').setAttribute('aria-current', 'page');
      current = alarmsView();
    } else {
      document.getElementById('nav-stations').setAttribute('aria-current', 'page');
      current = stationsView();
    }
  }

  model.listeners.add((what, arg) => {
    updateAlarmCount();
    if (current) current.update(what, arg);
  });

  let started = false;
  async function start() {
    try {
      await getJson('api/health');
    } catch (e) {
      if (e.status === 401) return askToken();
      // Anything else: the live connection reports it and keeps trying.
    }
    show();
    if (!started) {
      started = true;
      window.addEventListener('hashchange', show);
      connection.open();
    } else if (connection.ws) {
      connection.ws.close();
    } else {
      connection.open();
    }
  }
  start();
})();
