// The monitor page: follows the program through /events, draws the three
// trends from /api/history and the readings that come after, and shows the
// run's progress. It only reads; it sends nothing but GET requests.
'use strict';

(function () {
  const CHANNELS = ['T', 'Tset', 'P', 'Pset', 'N2', 'O2'];
  const SPANS = { '10m': 10 * 60, '1h': 3600 }; // seconds; "run" follows the run
  const SHORTEST_WINDOW_S = 10;
  const DRAW_EVERY_MS = 250;
  const REFETCH_HISTORY_MS = 60 * 1000; // thinned again by the program
  const SILENCE_PROBE_MS = 40 * 1000;
  const RECONNECT_MS = 3000;
  const RECORD_COLOUR = '#209020';
  const WARNING_COLOUR = '#ff0000';

  const $ = (id) => document.getElementById(id);

  const state = {
    span: '10m',
    unit: '',
    unitFactor: 1, // value of 1 bar in the unit
    series: {}, // channel: [{x: seconds, y}]
    events: [], // as the program sends them
    lastReadingMs: 0,
    firstReadingMs: -1,
    serverOffsetMs: 0, // the program's clock minus ours
    run: null,
    runReceivedAt: 0,
    windowFrom: 0, // of the last history, ms: the whole run's start
    lastMessageAt: Date.now(),
    dirty: true,
    source: null,
    historyGeneration: 0,
  };
  CHANNELS.forEach((c) => (state.series[c] = []));

  // ---- Text ----

  function two(n) {
    return String(n).padStart(2, '0');
  }

  // "1 h 05 min", "12 min 30 s", "45 s", as the program writes them.
  function durationText(ms) {
    const s = Math.max(0, Math.floor((ms + 500) / 1000));
    if (s >= 3600) return Math.floor(s / 3600) + ' h ' + two(Math.floor((s % 3600) / 60)) + ' min';
    if (s >= 60) return Math.floor(s / 60) + ' min ' + two(s % 60) + ' s';
    return s + ' s';
  }

  function clockText(ms) {
    const d = new Date(ms);
    return two(d.getHours()) + ':' + two(d.getMinutes()) + ':' + two(d.getSeconds());
  }

  // ---- Time axis: round times of the local clock, labelled here ----

  const STEPS_S = [1, 2, 5, 10, 15, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600,
    43200, 86400, 172800, 432000, 864000];

  function timeTicks(min, max, maxTicks) {
    const offset = -new Date(min * 1000).getTimezoneOffset() * 60;
    for (const step of STEPS_S) {
      const first = Math.ceil((min + offset) / step);
      const last = Math.floor((max + offset) / step);
      if (last - first + 1 > maxTicks && step !== STEPS_S[STEPS_S.length - 1]) continue;
      const ticks = [];
      for (let k = first; k <= last; ++k) ticks.push(k * step - offset);
      return { ticks, step, wide: max - min >= 86400 };
    }
    return { ticks: [], step: 1, wide: false };
  }

  function timeLabel(seconds, step, wide) {
    const d = new Date(seconds * 1000);
    const hm = two(d.getHours()) + ':' + two(d.getMinutes());
    if (step < 60) return hm + ':' + two(d.getSeconds());
    const date = two(d.getDate()) + '.' + two(d.getMonth() + 1);
    if (step >= 86400) return date + '.' + two(d.getFullYear() % 100);
    return wide ? date + ' ' + hm : hm;
  }

  // ---- Charts ----

  function makeChart(id, first, second, minSpan) {
    const axis = { step: 1, wide: false };
    const line = (label, colour, dashed) => ({
      label, data: [], borderColor: colour, backgroundColor: colour, borderWidth: 1.5,
      borderDash: dashed ? [6, 4] : [], pointRadius: 0, yAxisID: 'y', spanGaps: false,
    });
    const marks = (label, colour, style) => ({
      label, type: 'scatter', data: [], yAxisID: 'marks', pointStyle: style, pointRadius: 4.5,
      backgroundColor: colour, borderColor: colour,
    });
    const chart = new Chart($(id), {
      type: 'line',
      data: {
        datasets: [
          line(first.label, first.colour, false),
          line(second.label, second.colour, second.dashed),
          marks('Record', RECORD_COLOUR, 'circle'),
          marks('Warning', WARNING_COLOUR, 'rect'),
        ],
      },
      options: {
        animation: false,
        parsing: false,
        normalized: true,
        responsive: true,
        maintainAspectRatio: false,
        interaction: { mode: 'nearest', axis: 'x', intersect: false },
        plugins: {
          // The marks' key is given once, below the charts.
          legend: {
            position: 'top',
            align: 'end',
            labels: { boxWidth: 24, boxHeight: 2, filter: (item) => item.datasetIndex < 2 },
          },
          tooltip: {
            callbacks: {
              title: (items) => (items.length ? clockText(items[0].parsed.x * 1000) : ''),
              label: (item) => item.datasetIndex < 2
                ? item.dataset.label + ': ' + item.parsed.y : item.raw.text || item.dataset.label,
            },
          },
        },
        scales: {
          x: {
            type: 'linear',
            afterBuildTicks: (scale) => {
              const maxTicks = Math.max(3, Math.min(10, Math.floor(scale.width / 90)));
              const t = timeTicks(scale.min, scale.max, maxTicks);
              axis.step = t.step;
              axis.wide = t.wide;
              scale.ticks = t.ticks.map((value) => ({ value }));
            },
            ticks: {
              autoSkip: false,
              maxRotation: 0,
              callback: (value) => timeLabel(value, axis.step, axis.wide),
            },
          },
          // The same width on every chart, so their time axes line up.
          y: { type: 'linear', grace: '5%', afterFit: (scale) => (scale.width = 56) },
          // The marks sit at the foot of the plot, whatever the values.
          marks: { type: 'linear', axis: 'y', display: false, min: 0, max: 1 },
        },
      },
    });
    chart.$minSpan = minSpan;
    return chart;
  }

  const charts = {};

  function makeCharts() {
    charts.temperature = makeChart('chart-temperature',
      { key: 'T', label: 'T', colour: '#d04020' },
      { key: 'Tset', label: 'T set', colour: '#777', dashed: true }, 0.5);
    charts.pressure = makeChart('chart-pressure',
      { key: 'P', label: 'P', colour: '#2060c0' },
      { key: 'Pset', label: 'P set', colour: '#777', dashed: true }, 0.1);
    charts.flows = makeChart('chart-flows',
      { key: 'N2', label: 'N2', colour: '#208080' },
      { key: 'O2', label: 'O2', colour: '#a040a0' }, 0.2);
    charts.temperature.$keys = ['T', 'Tset'];
    charts.pressure.$keys = ['P', 'Pset'];
    charts.flows.$keys = ['N2', 'O2'];
  }

  function serverNow() {
    return Date.now() + state.serverOffsetMs;
  }

  // The stretch the charts show, in seconds, as the program's own view picks it.
  function timeWindow() {
    let to = Math.max(serverNow(), state.lastReadingMs);
    let from;
    const run = state.run;
    if (state.span === 'run') {
      from = run && run.started ? run.startMs : state.firstReadingMs;
      if (run && run.started && !run.active && run.endMs >= 0) to = Math.max(run.endMs, from);
      if (from < 0) from = to;
    } else {
      from = to - SPANS[state.span] * 1000;
    }
    if (state.firstReadingMs >= 0) from = Math.max(from, Math.min(state.firstReadingMs, to));
    from = Math.min(from, to - SHORTEST_WINDOW_S * 1000);
    return { from: from / 1000, to: to / 1000 };
  }

  function drawChart(chart, w) {
    let lo = Infinity;
    let hi = -Infinity;
    chart.$keys.forEach((key, i) => {
      const points = state.series[key];
      // Points older than the window are let go; the next history thins anew.
      let start = 0;
      while (start < points.length && points[start].x < w.from - 60) ++start;
      if (start > 0) points.splice(0, start);
      for (const p of points) {
        if (p.y !== null && p.x >= w.from) {
          lo = Math.min(lo, p.y);
          hi = Math.max(hi, p.y);
        }
      }
      chart.data.datasets[i].data = points;
    });
    const recordMarks = [];
    const warningMarks = [];
    for (const e of state.events) {
      const x = e.atMs / 1000;
      if (x < w.from || x > w.to) continue;
      (e.kind === 'record' ? recordMarks : warningMarks).push({ x, y: 0.05, text: e.text });
    }
    chart.data.datasets[2].data = recordMarks;
    chart.data.datasets[3].data = warningMarks;
    const x = chart.options.scales.x;
    x.min = w.from;
    x.max = w.to;
    // Flat readings are shown at least minSpan high, so noise does not fill the chart.
    const y = chart.options.scales.y;
    const span = chart === charts.pressure ? chart.$minSpan * state.unitFactor : chart.$minSpan;
    if (lo <= hi && hi - lo < span) {
      y.min = (lo + hi) / 2 - span / 2;
      y.max = (lo + hi) / 2 + span / 2;
    } else {
      delete y.min;
      delete y.max;
    }
    chart.update('none');
    chart.canvas.dataset.points = String(chart.data.datasets[0].data.length);
    chart.canvas.dataset.records = String(recordMarks.length);
  }

  function drawCharts() {
    const w = timeWindow();
    $('pressure-title').textContent = 'Pressure, ' + (state.unit || 'bar');
    Object.values(charts).forEach((chart) => drawChart(chart, w));
  }

  // ---- Run, box and events ----

  function showRun() {
    const run = state.run;
    if (!run) return;
    $('phase').textContent = run.phase;
    if (!run.started) {
      $('points').textContent = 'No run yet';
      $('elapsed').textContent = '';
      $('remaining').textContent = '';
      $('grid').replaceChildren();
      return;
    }
    $('points').textContent = 'Points: ' + run.pointsDone + ' of ' + run.points;
    const since = run.active ? Date.now() - state.runReceivedAt : 0;
    $('elapsed').textContent = 'Elapsed: ' + durationText(run.elapsedMs + since);
    if (run.active) {
      const left = durationText(Math.max(0, run.remainingMs - since));
      $('remaining').textContent = run.remainingMeasured ? 'To the end: ' + left
        : 'To the end: over ' + left;
    } else {
      $('remaining').textContent = 'Ended';
    }
  }

  function showGrid() {
    const run = state.run;
    const table = $('grid');
    if (!run || !run.started) return;
    const rows = [];
    const head = document.createElement('tr');
    head.appendChild(document.createElement('th'));
    for (const c of run.grid.columns) {
      const th = document.createElement('th');
      th.textContent = c;
      head.appendChild(th);
    }
    rows.push(head);
    const marks = { done: '\u2713', current: '\u25B6', waiting: '' };
    run.grid.cells.forEach((cells, r) => {
      const tr = document.createElement('tr');
      const th = document.createElement('th');
      th.textContent = run.grid.rows[r];
      tr.appendChild(th);
      for (let c = 0; c < run.grid.columns.length; ++c) {
        const td = document.createElement('td');
        const s = cells[c];
        td.className = s || 'empty';
        td.textContent = s ? marks[s] : '';
        tr.appendChild(td);
      }
      rows.push(tr);
    });
    table.replaceChildren(...rows);
  }

  function takeRun(run) {
    state.run = run;
    state.runReceivedAt = Date.now();
    showRun();
    showGrid();
    state.dirty = true;
  }

  function takeBox(box) {
    state.unitFactor = box.unitFactor;
    $('box-address').textContent = box.address || '\u2013';
    $('log-name').textContent = box.log ? 'Log: ' + box.log : 'No log';
    $('gas').textContent = box.gasOn ? 'Gas on' : 'Gas off';
    $('gas').classList.toggle('on', box.gasOn);
    const items = box.devices.map((d) => {
      const li = document.createElement('li');
      li.textContent = d.name;
      li.className = d.connected ? 'up' : 'down';
      li.title = d.connected ? 'Answering' : 'Not answering';
      return li;
    });
    $('devices').replaceChildren(...items);
    if (box.unit !== state.unit && state.unit) {
      // The pressures of the history are in the old unit.
      state.unit = box.unit;
      loadHistory();
    }
    state.unit = box.unit;
  }

  function showWarnings() {
    const warnings = state.events.filter((e) => e.kind !== 'record').slice(-8).reverse();
    if (!warnings.length) {
      const li = document.createElement('li');
      li.className = 'none';
      li.textContent = 'None';
      $('warnings').replaceChildren(li);
      return;
    }
    $('warnings').replaceChildren(...warnings.map((e) => {
      const li = document.createElement('li');
      const time = document.createElement('time');
      time.textContent = clockText(e.atMs);
      li.appendChild(time);
      li.appendChild(document.createTextNode(e.text + (e.count > 1 ? ' (\u00D7' + e.count + ')' : '')));
      return li;
    }));
  }

  function takeEvent(e) {
    state.events.push(e);
    if (state.events.length > 20000) state.events.splice(0, state.events.length - 20000);
    if (e.kind === 'record') document.body.dataset.lastRecordAtMs = String(e.atMs);
    showWarnings();
    state.dirty = true;
  }

  function takeReading(r) {
    if (r.atMs <= state.lastReadingMs) return; // already in the history
    state.lastReadingMs = r.atMs;
    if (state.firstReadingMs < 0) state.firstReadingMs = r.atMs;
    for (const c of CHANNELS) state.series[c].push({ x: r.atMs / 1000, y: r[c] });
    state.dirty = true;
  }

  // ---- Loading and following ----

  async function getJson(path) {
    const answer = await fetch(path, { cache: 'no-store', credentials: 'same-origin' });
    if (!answer.ok) {
      const error = new Error(path + ': ' + answer.status);
      error.status = answer.status;
      throw error;
    }
    return answer.json();
  }

  async function loadHistory() {
    const generation = ++state.historyGeneration;
    const h = await getJson('api/history?span=' + state.span);
    if (generation !== state.historyGeneration) return; // a newer one is on its way
    for (const c of CHANNELS) {
      const kept = state.series[c].filter((p) => p.x * 1000 > h.toMs);
      state.series[c] = h.series[c].map((p) => ({ x: p[0] / 1000, y: p[1] })).concat(kept);
    }
    const later = state.events.filter((e) => e.atMs > h.toMs);
    state.events = h.events.concat(later);
    state.unit = h.unit;
    state.lastReadingMs = Math.max(state.lastReadingMs, h.toMs);
    showWarnings();
    state.dirty = true;
  }

  async function loadAll() {
    const status = await getJson('api/status');
    state.serverOffsetMs = status.nowMs - Date.now();
    state.firstReadingMs = -1;
    state.lastReadingMs = 0;
    CHANNELS.forEach((c) => (state.series[c] = []));
    state.events = [];
    takeBox(status.box);
    takeRun(status.run);
    await loadHistory();
    if (state.series.T.length) state.firstReadingMs = state.series.T[0].x * 1000;
  }

  function setLink(up, text) {
    const link = $('link');
    link.classList.toggle('up', up);
    if (text) link.textContent = text;
    document.body.dataset.link = up ? 'up' : 'down';
  }

  function cutOff(error) {
    setLink(false, error && error.status === 401
      ? 'The program refused the key: open the page with the address and key it gives'
      : 'Cut off from the program: reconnecting\u2026');
  }

  function follow() {
    if (state.source) state.source.close();
    const source = new EventSource('events');
    state.source = source;
    const heard = () => (state.lastMessageAt = Date.now());
    source.addEventListener('open', () => {
      heard();
      // The program may have started anew: its whole record is read again.
      loadAll().then(() => setLink(true), cutOff);
    });
    source.addEventListener('error', () => {
      cutOff();
      // A refused stream (full, or the key gone) is not tried again by the
      // browser: the page asks why, and tries again itself.
      if (source.readyState === EventSource.CLOSED && state.source === source) {
        getJson('api/status').catch(cutOff);
        setTimeout(() => state.source === source && follow(), RECONNECT_MS);
      }
    });
    source.addEventListener('reading', (m) => { heard(); takeReading(JSON.parse(m.data)); });
    source.addEventListener('event', (m) => { heard(); takeEvent(JSON.parse(m.data)); });
    source.addEventListener('run', (m) => { heard(); takeRun(JSON.parse(m.data)); });
    source.addEventListener('box', (m) => { heard(); takeBox(JSON.parse(m.data)); });
  }

  // A connection can die without a word (a machine switched off): after a
  // silence the program is asked, and followed anew if it does not answer.
  async function probe() {
    if (Date.now() - state.lastMessageAt < SILENCE_PROBE_MS) return;
    try {
      await getJson('api/status');
      state.lastMessageAt = Date.now();
    } catch (error) {
      cutOff(error);
      follow();
    }
  }

  function start() {
    makeCharts();
    $('span').addEventListener('change', () => {
      state.span = $('span').value;
      loadHistory().catch(() => {});
    });
    follow();
    setInterval(() => {
      if (state.dirty) {
        state.dirty = false;
        drawCharts();
      }
    }, DRAW_EVERY_MS);
    setInterval(() => {
      showRun();
      state.dirty = true; // the window moves on with the clock
      probe();
    }, 1000);
    setInterval(() => loadHistory().catch(() => {}), REFETCH_HISTORY_MS);
  }

  start();
})();
