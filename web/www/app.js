// The pages of the Tavrix web interface: log in, the live grid, the events. Every URL is relative,
// so that the pages work under any base path, behind a reverse proxy too.
"use strict";

const api = {
  csrf: sessionStorage.getItem("tavrix-csrf") || "",
  async call(method, url, body) {
    const options = { method, headers: {}, credentials: "same-origin" };
    if (method !== "GET") options.headers["X-CSRF-Token"] = api.csrf;
    if (body !== undefined) {
      options.headers["Content-Type"] = "application/json";
      options.body = JSON.stringify(body);
    }
    const response = await fetch(url, options);
    if (response.status === 401 && document.body.dataset.page !== "login") {
      location.href = "login.html";
      throw new Error("not logged in");
    }
    return response;
  },
};

async function loadSession() {
  const response = await api.call("GET", "api/v1/session");
  const session = await response.json();
  api.csrf = session.csrf;
  sessionStorage.setItem("tavrix-csrf", api.csrf);
  document.getElementById("who").textContent = session.user + " (" + session.role + ")";
  document.getElementById("logout").addEventListener("click", async () => {
    await api.call("DELETE", "api/v1/session");
    sessionStorage.removeItem("tavrix-csrf");
    location.href = "login.html";
  });
  return session;
}

function setupLogin() {
  const form = document.getElementById("login-form");
  const error = document.getElementById("login-error");
  form.addEventListener("submit", async (event) => {
    event.preventDefault();
    error.textContent = "";
    const user = document.getElementById("user").value;
    const password = document.getElementById("password").value;
    const response = await api.call("POST", "api/v1/session", { user, password });
    const answer = await response.json().catch(() => ({}));
    if (response.ok) {
      sessionStorage.setItem("tavrix-csrf", answer.csrf);
      location.href = "./";
    } else {
      error.textContent = answer.error || ("Login failed (" + response.status + ")");
    }
  });
}

function cameraCard(camera, admin) {
  const card = document.createElement("article");
  card.className = "camera";
  const img = document.createElement("img");
  img.alt = camera.name;
  img.src = camera.stream;
  const bar = document.createElement("div");
  bar.className = "bar";
  const name = document.createElement("span");
  name.className = "name";
  name.textContent = camera.name;
  const doc = document.createElement("span");
  doc.className = "doc";
  doc.textContent = camera.document;
  const state = document.createElement("span");
  state.className = "state";
  bar.append(name, doc, state);
  if (admin) {
    const toggle = document.createElement("button");
    toggle.type = "button";
    toggle.className = "toggle";
    toggle.addEventListener("click", async () => {
      toggle.disabled = true;
      const url = card.dataset.active === "true" ? card.dataset.deactivate : card.dataset.activate;
      await api.call("POST", url);
      setTimeout(refreshCameras, 500);
    });
    bar.append(toggle);
  }
  card.append(img, bar);
  return card;
}

const cards = new Map();
let admin = false;

function updateCard(card, camera) {
  card.dataset.active = String(camera.active);
  card.dataset.activate = camera.activate;
  card.dataset.deactivate = camera.deactivate;
  card.classList.toggle("recording", camera.recording);
  card.querySelector(".state").textContent = camera.state;
  const toggle = card.querySelector(".toggle");
  if (toggle) {
    toggle.disabled = false;
    toggle.textContent = camera.active ? "Deactivate" : "Activate";
  }
}

async function refreshCameras() {
  const response = await api.call("GET", "api/v1/cameras");
  if (!response.ok) return;
  const cameras = await response.json();
  const grid = document.getElementById("grid");
  const seen = new Set();
  for (const camera of cameras) {
    const key = camera.stream;
    seen.add(key);
    let card = cards.get(key);
    if (!card) {
      card = cameraCard(camera, admin);
      cards.set(key, card);
      grid.append(card);
    }
    updateCard(card, camera);
  }
  for (const [key, card] of cards) {
    if (!seen.has(key)) {
      card.querySelector("img").src = "";
      card.remove();
      cards.delete(key);
    }
  }
  document.getElementById("no-cameras").hidden = cameras.length > 0;
}

async function setupLive() {
  const session = await loadSession();
  admin = session.role === "admin";
  await refreshCameras();
  setInterval(refreshCameras, 2000);
}

function eventRow(entry) {
  const row = document.createElement("tr");
  if (entry.error) row.className = "error";
  for (const field of [entry.time, entry.document, entry.camera, entry.text]) {
    const cell = document.createElement("td");
    cell.textContent = field;
    row.append(cell);
  }
  return row;
}

let eventSource = null;

async function loadEvents() {
  const params = new URLSearchParams();
  for (const name of ["document", "camera", "text"]) {
    const value = document.getElementById("f-" + name).value.trim();
    if (value) params.set(name, value);
  }
  const query = params.toString();
  const response = await api.call("GET", "api/v1/events" + (query ? "?" + query : ""));
  const entries = await response.json();
  const body = document.querySelector("#events tbody");
  body.replaceChildren(...entries.map(eventRow));
  if (eventSource) eventSource.close();
  const state = document.getElementById("live-state");
  eventSource = new EventSource("api/v1/events/stream" + (query ? "?" + query : ""));
  eventSource.onopen = () => { state.textContent = "Live"; };
  eventSource.onerror = () => { state.textContent = "Reconnecting…"; };
  eventSource.onmessage = (message) => {
    body.prepend(eventRow(JSON.parse(message.data)));
    while (body.rows.length > 1000) body.deleteRow(-1);
  };
}

async function setupEvents() {
  await loadSession();
  document.getElementById("filters").addEventListener("submit", (event) => {
    event.preventDefault();
    loadEvents();
  });
  await loadEvents();
}

document.addEventListener("DOMContentLoaded", () => {
  const page = document.body.dataset.page;
  if (page === "login") setupLogin();
  else if (page === "live") setupLive();
  else if (page === "events") setupEvents();
});
