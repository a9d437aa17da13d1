// The gateway's page: the status streamed by /api/events, the configuration
// from /api/config, and changes sent to /api/endpoints/NAME and
// /api/scans/FILE. The browser's own login (HTTP basic) carries every request.
"use strict";

const $ = (id) => document.getElementById(id);
let config = { endpoints: [], scans: [] };

function cell(row, text, cls) {
  const td = row.insertCell();
  td.textContent = text;
  if (cls) td.className = cls;
  return td;
}

function showStatus(status) {
  const endpoints = $("endpoints");
  endpoints.replaceChildren();
  for (const e of status.endpoints) {
    const row = endpoints.insertRow();
    const state = e.up ? "Good" : "Bad";
    row.dataset.endpoint = e.name;
    row.dataset.state = state;
    cell(row, e.name);
    cell(row, state + (e.up ? "" : " (" + e.state + ")"), state);
    cell(row, e.requests ?? "");
    cell(row, e.timeouts ?? "");
    cell(row, e.demotedSlaves.join(", "));
  }
  const slaves = $("slaves");
  slaves.replaceChildren();
  for (const s of status.slaves) {
    const row = slaves.insertRow();
    const state = s.demoted ? "Bad" : "Good";
    cell(row, s.endpoint);
    cell(row, s.slave);
    cell(row, s.demoted ? "Demoted" : "Polled", state);
    cell(row, s.responses);
    cell(row, s.timeouts);
  }
  const scans = $("scans");
  scans.replaceChildren();
  for (const s of status.scans) {
    const box = document.createElement("details");
    box.open = true;
    box.dataset.file = s.file;
    box.dataset.polls = s.polls;
    box.dataset.period = s.pollFrequency;
    const summary = document.createElement("summary");
    summary.textContent = `${s.file.split("/").pop()} on ${s.endpoint}: ${s.statusText}, ` +
      `every ${s.pollFrequency} ms, ${s.polls} polls`;
    box.append(summary);
    const table = document.createElement("table");
    for (const t of s.tags) {
      const row = table.insertRow();
      cell(row, t.name);
      cell(row, t.value);
      cell(row, t.quality, t.quality);
    }
    box.append(table);
    scans.append(box);
  }
  const log = $("log");
  for (const line of status.log) {
    const item = document.createElement("li");
    item.textContent = line;
    log.append(item);
  }
  log.scrollTop = log.scrollHeight;
}

async function loadConfig() {
  const answer = await fetch("/api/config");
  if (!answer.ok) return;
  config = await answer.json();
  $("scan-file").replaceChildren(...config.scans.map((s) => new Option(s.file.split("/").pop(), s.file)));
  $("endpoint-names").replaceChildren(...config.endpoints.map((e) => new Option(e.name)));
  fillScan();
}

function fillScan() {
  const scan = config.scans.find((s) => s.file === $("scan-file").value);
  if (!scan) return;
  for (const name of ["slave_node", "point_address", "scan_length", "poll_frequency"])
    $("scan-form").elements[name].value = scan[name];
}

function fillEndpoint() {
  const form = $("endpoint-form");
  const endpoint = config.endpoints.find((e) => e.name === form.elements.name.value);
  if (!endpoint) return;
  for (const name of ["ip_address", "host", "port", "timeout"]) form.elements[name].value = endpoint[name];
}

// Sends the form's fields; a new endpoint takes the first one's other settings.
async function save(form, path, fields, template, output) {
  const body = { ...template };
  for (const name of fields) body[name] = form.elements[name].value;
  output.textContent = "saving…";
  output.className = "";
  const answer = await fetch(path, { method: "PUT", body: JSON.stringify(body),
                                     headers: { "Content-Type": "application/json" } });
  const text = await answer.text();
  output.textContent = answer.ok ? "saved" : text.trim();
  output.className = answer.ok ? "saved" : "refused";
  if (answer.ok) loadConfig();
}

$("scan-file").addEventListener("change", fillScan);
$("endpoint-form").elements.name.addEventListener("change", fillEndpoint);
$("scan-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const file = $("scan-file").value;
  save(event.target, "/api/scans/" + encodeURIComponent(file),
       ["slave_node", "point_address", "scan_length", "poll_frequency"], {}, $("scan-result"));
});
$("endpoint-form").addEventListener("submit", (event) => {
  event.preventDefault();
  const form = event.target;
  const name = form.elements.name.value;
  const known = config.endpoints.some((e) => e.name === name);
  let template = {};
  if (!known && config.endpoints.length) {
    template = { ...config.endpoints[0] };
    delete template.name;
  }
  save(form, "/api/endpoints/" + encodeURIComponent(name), ["ip_address", "host", "port", "timeout"],
       template, $("endpoint-result"));
});

const events = new EventSource("/api/events");
events.onopen = () => { $("link").textContent = "live"; };
events.onerror = () => { $("link").textContent = "reconnecting…"; };
events.onmessage = (message) => showStatus(JSON.parse(message.data));
loadConfig();
