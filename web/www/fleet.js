// The fleet page: every Tavrix node on the MQTT broker, its cameras' states and motion, and a link
// to each node's own web interface. Polls api/v1/fleet; needs app.js (api, loadSession).
"use strict";

function fleetText(tag, className, text) {
  const element = document.createElement(tag);
  if (className) element.className = className;
  element.textContent = text;
  return element;
}

function fleetNode(node) {
  const card = document.createElement("article");
  card.className = "node" + (node.online ? " online" : " offline");
  card.dataset.node = node.name;
  const bar = document.createElement("div");
  bar.className = "bar";
  bar.append(fleetText("span", "name", node.name + (node.local ? " (this node)" : "")),
             fleetText("span", "status", node.status || "unknown"));
  if (node.web) {
    const link = fleetText("a", "open", "Live view");
    link.href = node.web; // relative for this node; only http(s) addresses for the others
    if (!node.local) link.rel = "noopener noreferrer";
    bar.append(link);
  }
  const table = document.createElement("table");
  const head = document.createElement("tr");
  for (const title of ["Camera", "State", "Motion", "Last motion"]) head.append(fleetText("th", "", title));
  table.createTHead().append(head);
  const body = table.createTBody();
  for (const camera of node.cameras) {
    const row = document.createElement("tr");
    row.className = "fleet-camera" + (camera.motion ? " motion" : "");
    row.append(fleetText("td", "", camera.name), fleetText("td", "state", camera.state || "–"),
               fleetText("td", "", camera.motion ? "motion" : "–"),
               fleetText("td", "", camera.lastMotion || "–"));
    body.append(row);
  }
  card.append(bar, table);
  return card;
}

async function refreshFleet() {
  const response = await api.call("GET", "api/v1/fleet");
  if (!response.ok) return;
  const fleet = await response.json();
  const state = document.getElementById("fleet-state");
  if (!fleet.enabled) {
    state.textContent = "No MQTT broker is set for this node: the fleet is not known here.";
  } else {
    state.textContent = (fleet.connected ? "Broker " : "Broker unreachable: ") + fleet.broker +
                        ", prefix " + fleet.prefix + ", " + fleet.nodes.length + " node(s)";
  }
  document.getElementById("nodes").replaceChildren(...fleet.nodes.map(fleetNode));
}

document.addEventListener("DOMContentLoaded", async () => {
  if (document.body.dataset.page !== "fleet") return;
  await loadSession();
  await refreshFleet();
  setInterval(refreshFleet, 2000);
});
