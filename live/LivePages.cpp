// The pages of the live results view: HTML, style and script in one text each, German texts.
// Every text that comes from the desk is put into the page with textContent, never as markup.

#include "LivePages.h"

namespace live {

namespace {

const char *const kStyle = R"css(
*{box-sizing:border-box}
body{margin:0;font-family:"Liberation Sans",Arial,Helvetica,sans-serif;background:#f4f1ee;color:#1b1b1b}
header{background:#008000;color:#fff;padding:.6em .8em}
h1{font-size:1.35em;margin:0}
.heatline{font-size:1.05em;margin-top:.25em}
nav{display:flex;gap:1em;padding:.5em .8em;background:#e3d5cf;font-size:.95em}
nav a{color:#004f9e}
main{padding:.5em}
table{border-collapse:collapse;width:100%;background:#fff}
th,td{padding:.45em .4em;text-align:left;border-bottom:1px solid #ddd}
th{background:#9a615a;color:#fff;font-weight:600}
td.time,th.time{text-align:right;font-variant-numeric:tabular-nums;white-space:nowrap;font-weight:700}
td.place,th.place{text-align:center;font-weight:700}
td.lane,th.lane,td.heat,th.heat{text-align:center;width:2.6em}
tr.off td{color:#999}
tr.running td.time{color:#b00000}
tr.stopped td.time{background:#000;color:#ff0}
#status{font-size:.8em;color:#555;padding:.6em .8em}
#status.lost{color:#b00000;font-weight:700}
section{margin:0 0 1.2em 0}
section h2{font-size:1.05em;margin:.3em 0;padding:.35em .5em;background:#008000;color:#fff}
section.current h2{background:#b36b00}
.empty{padding:1em;color:#555}
.racenote{font-size:.8em;color:#555;margin:.2em .5em}
body.board{background:#000;color:#fff;overflow:hidden}
body.board #bhead{font-size:4.2vh;padding:1.2vh 2vw;color:#0f0;white-space:nowrap;overflow:hidden;text-overflow:ellipsis}
body.board #bclock{font-size:14vh;font-weight:700;text-align:right;padding:0 2vw;color:#ff0;font-variant-numeric:tabular-nums;min-height:16vh}
body.board table{background:#000;font-size:6.5vh}
body.board td{border-bottom:1px solid #333;padding:.5vh 1.5vw;color:#fff}
body.board td.lane{color:#0f0;width:7vw}
body.board td.name{white-space:nowrap;overflow:hidden;text-overflow:ellipsis;max-width:50vw}
body.board td.time{color:#ff0;width:26vw}
body.board td.place{color:#0f0;width:10vw}
body.board tr.stopped td.time{background:#000;color:#ff0}
body.board tr.off td{color:#555}
body.board #status{position:fixed;bottom:0;right:0;color:#444;font-size:1.6vh}
)css";

const char *const kScript = R"js(
(function () {
  'use strict';
  var page = document.body.getAttribute('data-page');
  var state = null, samples = [], offset = 0, ticking = false, source = null, shownMeeting = null;

  function el(tag, cls, text) {
    var e = document.createElement(tag);
    if (cls) e.className = cls;
    if (text !== undefined && text !== null) e.textContent = String(text);
    return e;
  }
  function pad2(n) { return (n < 10 ? '0' : '') + n; }

  // The race time text as the desk writes it: truncated, the minutes in full, leading zeros cut.
  function raceTime(t, accuracy, separator) {
    t = Math.max(t, 0);
    var seconds = pad2(Math.floor(t / 1000) % 60), fraction = '';
    if (accuracy === 1) fraction = String(Math.floor(t / 100) % 10);
    else if (accuracy > 0) fraction = pad2(Math.floor(t / 10) % 100);
    var body = accuracy === 0 ? seconds : seconds + separator + fraction;
    var text = String(Math.floor(t / 60000)) + ':' + body, cut = 3;
    for (var i = 0; i < 3 && i < text.length; i++) {
      if (text[i] >= '1' && text[i] <= '9') { cut = i; break; }
    }
    return text.substring(cut);
  }

  // The desk's clock: its tick counter minus this page's clock, the largest difference seen in
  // the last 30 s (the sample that travelled fastest).
  function clockSample(tick) {
    var now = performance.now(), sample = tick - now, best = -Infinity, i;
    samples.push({ o: sample, at: now });
    while (samples.length > 1 && now - samples[0].at > 30000) samples.shift();
    for (i = 0; i < samples.length; i++) if (samples[i].o > best) best = samples[i].o;
    if (best - sample > 5000) { samples = [{ o: sample, at: now }]; best = sample; }
    offset = best;
  }
  function elapsed() {
    var d = (performance.now() + offset - state.start) % 4294967296;
    if (d < 0) d += 4294967296;
    if (d >= 2147483648) d -= 4294967296;
    return d < 0 ? 0 : Math.floor(d);
  }
  function runningText() { return raceTime(elapsed(), state.accuracy, state.separator); }

  function heatLine(s) {
    var parts = [];
    var heat = (s.heatKind + ' ' + s.heat).trim();
    if (heat) parts.push(heat);
    if (s.discipline) parts.push(s.discipline);
    if (s["class"]) parts.push(s["class"]);
    if (/[1-9]/.test(s.wind)) parts.push('Wind ' + s.wind + ' m/s');
    return parts.join(' \u00b7 ');
  }

  function laneRow(l) {
    var tr = el('tr', (l.on ? '' : 'off ') + (l.running ? 'running ' : '') + (l.stopped ? 'stopped' : ''));
    tr.setAttribute('data-lane', l.lane);
    tr.appendChild(el('td', 'lane', l.lane));
    if (page !== 'board') tr.appendChild(el('td', 'num', l.number));
    tr.appendChild(el('td', 'name', l.name));
    tr.appendChild(el('td', 'time', l.running ? runningText() : l.time));
    tr.appendChild(el('td', 'place', l.place));
    return tr;
  }

  function renderHeat(s) {
    document.getElementById('title').textContent = s.title;
    document.getElementById('heatline').textContent = heatLine(s);
    var body = document.getElementById('lanes');
    body.textContent = '';
    s.lanes.forEach(function (l) { body.appendChild(laneRow(l)); });
  }

  function renderBoard(s) {
    document.getElementById('bhead').textContent = [s.title, heatLine(s)].filter(Boolean).join(' \u2013 ');
    document.getElementById('bclock').textContent = s.running ? runningText() : '';
    var body = document.getElementById('lanes');
    body.textContent = '';
    s.lanes.forEach(function (l) { body.appendChild(laneRow(l)); });
  }

  // The meeting page's head: the meeting's title (the desk's while none is entered) and date.
  function renderMeetingHead(s) {
    var m = s.meeting || {};
    document.getElementById('title').textContent = m.title || s.title || '';
    document.getElementById('heatline').textContent = m.date || '';
  }

  // The heat on the desk marked among the meeting's heats, without building the table anew.
  function markCurrent(s) {
    var sections = document.querySelectorAll('#heats section[data-heat]');
    for (var i = 0; i < sections.length; i++)
      sections[i].classList.toggle('current', sections[i].getAttribute('data-heat') === String(s.heat));
  }

  // One heat of the results table: header row [heat, -, discipline, class, wind, start time, -],
  // lane rows [lane, number, name, -, note, time, place].
  function renderMeeting(s) {
    var main = document.getElementById('heats');
    main.textContent = '';
    if (!s.heats || !s.heats.length) {
      main.appendChild(el('p', 'empty', 'Noch keine L\u00e4ufe eingetragen.'));
      return;
    }
    s.heats.forEach(function (h) {
      var sec = el('section', '');
      sec.setAttribute('data-heat', h.heat);
      var head = ['Lauf ' + h.heat];
      if (h.header[2]) head.push(h.header[2]);
      if (h.header[3]) head.push(h.header[3]);
      if (h.header[4]) head.push('Wind ' + h.header[4]);
      if (h.header[5]) head.push('Start ' + h.header[5]);
      sec.appendChild(el('h2', '', head.join(' \u00b7 ')));
      var notes = h.rows.some(function (r) { return r[4]; });
      var table = el('table'), thead = el('thead'), hr = el('tr');
      [['lane', 'Bahn'], ['num', 'Nr.'], ['name', 'Name']].concat(notes ? [['note', 'Bemerkung']] : [])
        .concat([['time', 'Zeit'], ['place', 'Platz']]).forEach(function (c) { hr.appendChild(el('th', c[0], c[1])); });
      thead.appendChild(hr);
      table.appendChild(thead);
      var tbody = el('tbody');
      h.rows.forEach(function (r) {
        var tr = el('tr');
        tr.appendChild(el('td', 'lane', r[0]));
        tr.appendChild(el('td', 'num', r[1]));
        tr.appendChild(el('td', 'name', r[2]));
        if (notes) tr.appendChild(el('td', 'note', r[4]));
        tr.appendChild(el('td', 'time', r[5]));
        tr.appendChild(el('td', 'place', r[6]));
        tbody.appendChild(tr);
      });
      table.appendChild(tbody);
      sec.appendChild(table);
      (h.notes || []).forEach(function (n) { sec.appendChild(el('p', 'racenote', n)); });
      main.appendChild(sec);
    });
    // The rankings across heats: rows [place, heat, lane, number, name, note, time].
    (s.rankings || []).forEach(function (r) {
      var sec = el('section', 'ranking');
      sec.appendChild(el('h2', '', r.title));
      var notes = r.rows.some(function (row) { return row[5]; });
      var table = el('table'), thead = el('thead'), hr = el('tr');
      [['place', 'Platz'], ['heat', 'Lauf'], ['lane', 'Bahn'], ['num', 'Nr.'], ['name', 'Name']]
        .concat(notes ? [['note', 'Bemerkung']] : []).concat([['time', 'Zeit']])
        .forEach(function (c) { hr.appendChild(el('th', c[0], c[1])); });
      thead.appendChild(hr);
      table.appendChild(thead);
      var tbody = el('tbody');
      r.rows.forEach(function (row) {
        var tr = el('tr');
        tr.appendChild(el('td', 'place', row[0]));
        tr.appendChild(el('td', 'heat', row[1]));
        tr.appendChild(el('td', 'lane', row[2]));
        tr.appendChild(el('td', 'num', row[3]));
        tr.appendChild(el('td', 'name', row[4]));
        if (notes) tr.appendChild(el('td', 'note', row[5]));
        tr.appendChild(el('td', 'time', row[6]));
        tbody.appendChild(tr);
      });
      table.appendChild(tbody);
      sec.appendChild(table);
      main.appendChild(sec);
    });
  }

  // The heat on the desk changed: the heat's pages show it anew, the meeting's page only marks it.
  function showHeat() {
    if (page === 'heat') renderHeat(state);
    else if (page === 'board') renderBoard(state);
    else { renderMeetingHead(state); markCurrent(state); }
    if (state.running && page !== 'meeting' && !ticking) { ticking = true; requestAnimationFrame(tick); }
  }

  // The meeting changed: only its page shows it.
  function showMeeting() {
    if (page !== 'meeting') return;
    renderMeeting(state);
    renderMeetingHead(state);
    markCurrent(state);
  }

  // While the race runs the clocks of the running lanes count on from the desk's start instant.
  function tick() {
    if (!state || !state.running || page === 'meeting') { ticking = false; return; }
    var text = runningText();
    var cells = document.querySelectorAll('tr.running td.time');
    for (var i = 0; i < cells.length; i++) if (cells[i].textContent !== text) cells[i].textContent = text;
    var big = document.getElementById('bclock');
    if (big && big.textContent !== text) big.textContent = text;
    requestAnimationFrame(tick);
  }

  // The state as the page knows it: the heat's members and the meeting's, each part replaced by
  // its own event.
  function applyHeat(h) {
    if (typeof h.tick === 'number') clockSample(h.tick);
    state = state || {};
    for (var key in h) if (Object.prototype.hasOwnProperty.call(h, key)) state[key] = h[key];
    showHeat();
  }
  function meetingText(s) { return JSON.stringify([s.meeting, s.heats, s.rankings]); }
  function applyMeeting(m) {
    // A stream's first meeting is mostly what the page shows already: the table is kept then.
    var text = meetingText(m);
    if (text === shownMeeting) return;
    shownMeeting = text;
    state = state || {};
    state.meeting = m.meeting;
    state.heats = m.heats;
    state.rankings = m.rankings;
    showMeeting();
  }
  function listen(type, apply) {
    source.addEventListener(type, function (e) {
      var part;
      try { part = JSON.parse(e.data); } catch (x) { return; }
      if (part && typeof part === 'object') apply(part);
    });
  }

  function setStatus(ok) {
    var st = document.getElementById('status');
    st.textContent = ok ? 'Live \u00b7 verbunden' : 'Keine Verbindung zum Zielkron \u2013 neuer Versuch l\u00e4uft \u2026';
    st.className = ok ? '' : 'lost';
  }

  function connect() {
    source = new EventSource('/events');
    source.onopen = function () { setStatus(true); };
    listen('heat', applyHeat);
    listen('meeting', applyMeeting);
    source.addEventListener('tick', function (e) {
      var t = Number(e.data);
      if (isFinite(t)) clockSample(t);
    });
    source.onerror = function () {
      setStatus(false);
      if (source.readyState === 2) { source.close(); setTimeout(connect, 5000); }
    };
  }

  var initial = document.getElementById('state');
  try {
    var first = JSON.parse(initial.textContent);
    if (first) { state = first; shownMeeting = meetingText(first); showMeeting(); applyHeat(first); }
  } catch (x) { }
  connect();
})();
)js";

const char *const kNav = R"html(<nav><a href="/">Aktueller Lauf</a><a href="/veranstaltung">Veranstaltung</a><a href="/anzeige">Anzeigetafel</a></nav>
)html";

const char *const kHeatBody = R"html(<body data-page="heat">
<header><h1 id="title"></h1><div class="heatline" id="heatline"></div></header>
)html";

const char *const kHeatMain = R"html(<main><table><thead><tr><th class="lane">Bahn</th><th class="num">Nr.</th><th class="name">Name</th><th class="time">Zeit</th><th class="place">Platz</th></tr></thead><tbody id="lanes"></tbody></table></main>
<div id="status">Live</div>
)html";

const char *const kBoardBody = R"html(<body data-page="board" class="board">
<div id="bhead"></div><div id="bclock"></div>
<table><tbody id="lanes"></tbody></table>
<div id="status"></div>
)html";

const char *const kMeetingBody = R"html(<body data-page="meeting">
<header><h1 id="title"></h1><div class="heatline" id="heatline"></div></header>
)html";

const char *const kMeetingMain = R"html(<main id="heats"></main>
<div id="status">Live</div>
)html";

} // namespace

std::string PageHtml(Page page, std::string_view state)
{
    const char *title = page == Page::Board ? "Anzeigetafel" : page == Page::Meeting ? "Veranstaltung" : "Aktueller Lauf";
    std::string html;
    html.reserve(16384 + static_cast<std::size_t>(state.size()));
    html += "<!DOCTYPE html>\n<html lang=\"de\"><head><meta charset=\"utf-8\">"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
            "<title>Zielkron \xe2\x80\x93 ";
    html += title;
    html += "</title><style>";
    html += kStyle;
    html += "</style></head>\n";
    switch (page) {
    case Page::Heat:
        html += kHeatBody;
        html += kNav;
        html += kHeatMain;
        break;
    case Page::Board:
        html += kBoardBody;
        break;
    case Page::Meeting:
        html += kMeetingBody;
        html += kNav;
        html += kMeetingMain;
        break;
    }
    // The snapshot's JSON escapes "<", ">" and "&" in every text, so it cannot end this element.
    html += "<script id=\"state\" type=\"application/json\">";
    html += state;
    html += "</script>\n<script>";
    html += kScript;
    html += "</script>\n</body></html>\n";
    return html;
}

} // namespace live
