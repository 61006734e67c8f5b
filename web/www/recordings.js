// The recordings page: the catalogue with filters and paging, playback of what a browser plays
// (MP4, Matroska, WebM) in a video element, downloads of every file, "keep" and delete for admins,
// and the retention of each document, which admins change for the documents open in this Tavrix.
// Uses api and loadSession of app.js. Every URL is relative (the base path may be anything).
"use strict";

const recordings = { offset: 0, limit: 24, total: 0, admin: false, file: "" };

function formatBytes(bytes) {
  const units = ["B", "KiB", "MiB", "GiB", "TiB"];
  let value = bytes;
  let unit = 0;
  while (value >= 1024 && unit < units.length - 1) {
    value /= 1024;
    unit++;
  }
  return (unit === 0 ? value : value.toFixed(1)) + " " + units[unit];
}

function formatDuration(ms) {
  const seconds = Math.round(ms / 1000);
  const h = Math.floor(seconds / 3600);
  const m = Math.floor((seconds % 3600) / 60);
  const s = String(seconds % 60).padStart(2, "0");
  return h > 0 ? h + ":" + String(m).padStart(2, "0") + ":" + s : m + ":" + s;
}

function element(tag, className, text) {
  const node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  return node;
}

function play(recording) {
  const player = document.getElementById("player");
  const video = document.getElementById("video");
  video.src = recording.file;
  document.getElementById("player-title").textContent =
    recording.camera + " – " + recording.start;
  document.getElementById("player-download").href = recording.download;
  player.hidden = false;
  player.scrollIntoView({ block: "nearest" });
  video.play().catch(() => {}); // the user may have to press play (autoplay rules)
}

async function change(method, url, status) {
  const response = await api.call(method, url);
  if (!response.ok) {
    const answer = await response.json().catch(() => ({}));
    status.textContent = answer.error || ("Failed (" + response.status + ")");
    return;
  }
  await loadRecordings();
}

function recordingCard(recording) {
  const card = element("article", "recording");
  card.dataset.id = recording.id;
  card.dataset.file = recording.fileName;
  const picture = element("div", "thumb");
  if (recording.thumbnail) {
    const img = element("img");
    img.alt = "";
    img.loading = "lazy";
    img.src = recording.thumbnail;
    picture.append(img);
  }
  const info = element("div", "info");
  info.append(element("div", "name", recording.camera),
              element("div", "muted", recording.document),
              element("div", "when", recording.start),
              element("div", "muted",
                      formatDuration(recording.durationMs) + " · " + formatBytes(recording.sizeBytes) +
                      " · " + recording.container));
  if (recording.state !== "finished") info.append(element("div", "state", recording.state));
  if (recording.keep) info.append(element("div", "kept", "Kept"));
  const actions = element("div", "actions");
  const status = element("div", "error");
  if (recording.playable && recording.state === "finished") {
    const button = element("button", "play", "Play");
    button.type = "button";
    button.addEventListener("click", () => play(recording));
    actions.append(button);
  }
  if (recording.state !== "missing") {
    const download = element("a", "download", "Download");
    download.href = recording.download;
    actions.append(download);
  }
  if (recordings.admin) {
    const keep = element("button", "keep", recording.keep ? "Unkeep" : "Keep");
    keep.type = "button";
    keep.addEventListener("click", () =>
      change(recording.keep ? "DELETE" : "POST", "api/v1/recordings/" + recording.id + "/keep", status));
    const remove = element("button", "delete", "Delete");
    remove.type = "button";
    remove.disabled = recording.keep;
    remove.addEventListener("click", () => {
      if (confirm("Delete the recording " + recording.fileName + "?")) {
        change("DELETE", "api/v1/recordings/" + recording.id, status);
      }
    });
    actions.append(keep, remove);
  }
  card.append(picture, info, actions, status);
  return card;
}

function filterQuery() {
  const params = new URLSearchParams();
  if (recordings.file) params.set("file", recordings.file);
  for (const name of ["document", "camera"]) {
    const value = document.getElementById("r-" + name).value.trim();
    if (value) params.set(name, value);
  }
  for (const name of ["since", "until"]) {
    const value = document.getElementById("r-" + name).value;
    if (value) params.set(name, String(new Date(value).getTime()));
  }
  params.set("offset", String(recordings.offset));
  params.set("limit", String(recordings.limit));
  return params.toString();
}

async function loadRecordings() {
  const status = document.getElementById("rec-status");
  const response = await api.call("GET", "api/v1/recordings?" + filterQuery());
  const answer = await response.json().catch(() => ({}));
  if (!response.ok) {
    status.textContent = answer.error || ("Failed (" + response.status + ")");
    return;
  }
  recordings.total = answer.total;
  status.textContent = answer.total === 0 ? "No recordings." : "";
  document.getElementById("recordings").replaceChildren(...answer.recordings.map(recordingCard));
  const last = Math.min(recordings.offset + answer.recordings.length, answer.total);
  document.getElementById("rec-page").textContent =
    answer.total ? (recordings.offset + 1) + "–" + last + " of " + answer.total : "";
  document.getElementById("rec-prev").disabled = recordings.offset === 0;
  document.getElementById("rec-next").disabled = last >= answer.total;
}

function retentionInput(name, value, max, label) {
  const input = element("input");
  input.type = "number";
  input.name = name;
  input.min = "0";
  input.max = String(max);
  input.step = "1";
  input.required = true;
  input.value = String(value);
  input.setAttribute("aria-label", label);
  input.className = "retention-input";
  return input;
}

// An admin's row of a document open in this Tavrix: the three numbers as fields and a Save button.
function retentionEditCells(doc) {
  const fields = [
    retentionInput("retentionDays", doc.retentionDays, 36500, "Keep days (0 for ever)"),
    retentionInput("retentionMaxGiB", doc.retentionMaxGiB, 1048576, "Max GiB (0 no limit)"),
    retentionInput("minFreeGiB", doc.minFreeGiB, 1048576, "Min free GiB"),
  ];
  const save = element("button", "retention-save", "Save");
  save.type = "button";
  const message = element("span", "muted retention-message");
  save.addEventListener("click", async () => {
    const body = { document: doc.document };
    for (const field of fields) {
      if (!field.checkValidity()) {
        message.textContent = field.getAttribute("aria-label") + ": 0 to " + field.max;
        field.focus();
        return;
      }
      body[field.name] = Number(field.value);
    }
    save.disabled = true;
    message.textContent = "Saving…";
    const response = await api.call("PUT", "api/v1/recordings/retention", body);
    const answer = await response.json().catch(() => ({}));
    save.disabled = false;
    if (response.ok) {
      message.textContent = "Saved.";
      await loadRetention("Saved.");
    } else {
      message.textContent = answer.error || ("Failed (" + response.status + ")");
    }
  });
  const cells = fields.map((field) => {
    const cell = element("td");
    cell.append(field);
    return cell;
  });
  const action = element("td");
  action.append(save, " ", message);
  return { cells, action, message };
}

async function loadRetention(note) {
  const response = await api.call("GET", "api/v1/recordings/retention");
  if (!response.ok) return;
  const rows = (await response.json()).map((doc) => {
    const row = document.createElement("tr");
    row.dataset.document = doc.document;
    const editable = recordings.admin && doc.open && doc.retentionDays !== undefined;
    for (const value of [doc.document, doc.recordings, formatBytes(doc.usedBytes)]) {
      row.append(element("td", "", String(value)));
    }
    const edit = editable ? retentionEditCells(doc) : null;
    if (edit) {
      row.append(...edit.cells);
    } else {
      for (const value of [doc.retentionDays === 0 ? "for ever" : doc.retentionDays,
                           doc.retentionMaxGiB === 0 ? "no limit" : doc.retentionMaxGiB, doc.minFreeGiB]) {
        row.append(element("td", "", value === undefined ? "?" : String(value)));
      }
    }
    row.append(element("td", "", doc.freeBytes >= 0 ? formatBytes(doc.freeBytes) : "?"));
    if (edit) {
      row.append(edit.action);
      if (note) edit.message.textContent = note;
    } else if (recordings.admin) {
      row.append(element("td", "muted", doc.open ? "" : "not open here"));
    }
    return row;
  });
  document.querySelector("#retention tbody").replaceChildren(...rows);
}

async function setupRecordings() {
  const session = await loadSession();
  recordings.admin = session.role === "admin";
  // A link from an event (recordings.html?file=…) shows that one recording until the user filters.
  recordings.file = new URLSearchParams(location.search).get("file") || "";
  if (recordings.admin) document.getElementById("retention-action").hidden = false;
  document.getElementById("rec-filters").addEventListener("submit", (event) => {
    event.preventDefault();
    recordings.offset = 0;
    recordings.file = "";
    loadRecordings();
  });
  document.getElementById("rec-prev").addEventListener("click", () => {
    recordings.offset = Math.max(0, recordings.offset - recordings.limit);
    loadRecordings();
  });
  document.getElementById("rec-next").addEventListener("click", () => {
    recordings.offset += recordings.limit;
    loadRecordings();
  });
  document.getElementById("player-close").addEventListener("click", () => {
    const video = document.getElementById("video");
    video.pause();
    video.removeAttribute("src");
    video.load();
    document.getElementById("player").hidden = true;
  });
  await loadRecordings();
  await loadRetention();
}

document.addEventListener("DOMContentLoaded", () => {
  if (document.body.dataset.page === "recordings") setupRecordings();
});
