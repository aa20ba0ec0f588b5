// The web panel in a real Chromium (Debian's, driven by playwright-core) against the real
// program, headless, and the simulated controller on a pseudo-terminal: lamps, events, the link
// state, the conditions seen first and acted on from a window, the page's own connection lost
// and back, and the operator's log-in and Fault ACK.
// Usage: node web_panel_test.cjs BUILD_DIR MODULES_DIR [SCREENSHOT_DIR]
"use strict";
const { execFileSync } = require("child_process");
const fs = require("fs");
const net = require("net");
const os = require("os");
const path = require("path");

const [build, modules, screenshots] = process.argv.slice(2).map((p) => (p ? path.resolve(p) : ""));
const { chromium } = require(path.join(modules, "playwright-core"));
const { check, start, freePort, runMain } = require("./harness.cjs");
const PROGRAM = path.join(build, "app", "orvandel");
const SIM = path.join(build, "sim", "orvandel-sim");
const NO_REPLY_SECONDS = 2;
// alice, level 2, PIN 1234 (yescrypt, made by libcrypt).
const ALICE = "alice:2:$y$j9T$F5Jx5fExrKuPp53xLKQ..1$Ep4SUX.oXxnq/KKEBY/E3tIknDNDS9Tu.RwGhF8ZCzA:0\n";

// A window's line to the service's socket: the messages it is sent, and actions sent as a window
// sends them.
function attach(socketPath) {
  return new Promise((resolve, reject) => {
    const socket = net.connect(socketPath);
    socket.lines = [];
    let rest = "";
    socket.on("data", (d) => {
      const parts = (rest + d).split("\n");
      rest = parts.pop();
      socket.lines.push(...parts.filter((l) => l).map((l) => JSON.parse(l)));
    });
    socket.act = (action) => socket.write(JSON.stringify({ type: "action", ...action }) + "\n");
    socket.answer = async (id) => {
      for (let i = 0; i < 500; i++) {
        const found = socket.lines.find((m) => m.type === "result" && m.id === id);
        if (found) return found.result;
        await new Promise((r) => setTimeout(r, 10));
      }
      return "no answer";
    };
    socket.on("connect", () => resolve(socket));
    socket.on("error", reject);
  });
}

// The frame the panel sends for a key: STX, length, command 22, the key, CRC-8, ETX.
function keyFrame(key) {
  let crc = 0xff;
  for (const byte of [22, key]) {
    crc ^= byte;
    for (let bit = 0; bit < 8; bit++) crc = crc & 1 ? (crc >> 1) ^ 0x8c : crc >> 1;
  }
  return [2, 1, 22, key, crc, 3].map((b) => b.toString(16).toUpperCase().padStart(2, "0")).join(" ");
}

async function main() {
  // The program's folder app/ with its module in lib/orvandel beside it, as the build lays them
  // out: a program outside the installed folder looks for its module there.
  const root = fs.mkdtempSync(path.join(os.tmpdir(), "orv-web-"));
  const folder = path.join(root, "app");
  fs.mkdirSync(folder);
  fs.mkdirSync(path.join(root, "lib", "orvandel"), { recursive: true });
  fs.copyFileSync(path.join(build, "lib", "orvandel", "orvandel-extras.so"),
    path.join(root, "lib", "orvandel", "orvandel-extras.so"));
  const link = path.join(folder, "controller");
  const port = await freePort();
  const url = "http://127.0.0.1:" + port + "/";
  fs.copyFileSync(PROGRAM, path.join(folder, "orvandel"));
  fs.chmodSync(path.join(folder, "orvandel"), 0o755);
  fs.mkdirSync(path.join(folder, "SYSINI"));
  fs.writeFileSync(path.join(folder, "SYSINI", "MainForm.INI"),
    `[SerialPorts]\r\nCOM1=${link}\r\n[LinkWatch]\r\nNoReplySeconds=${NO_REPLY_SECONDS}\r\n` +
    `[WebPanel]\r\nListen=127.0.0.1:${port}\r\n`, { mode: 0o644 });
  // The operators' file, root's and for root alone, as the gate trusts it.
  const users = path.join(folder, "users");
  fs.writeFileSync(users, ALICE, { mode: 0o600 });

  const env = { ...process.env };
  delete env.DISPLAY; delete env.WAYLAND_DISPLAY; delete env.QT_QPA_PLATFORM;
  // Plain HTTP on a network address is refused at start-up, said in one line.
  const ini = fs.readFileSync(path.join(folder, "SYSINI", "MainForm.INI"), "latin1");
  fs.writeFileSync(path.join(folder, "SYSINI", "MainForm.INI"), ini.replace("Listen=127.0.0.1:", "Listen=0.0.0.0:"));
  const refused = start(path.join(folder, "orvandel"), ["--headless"], { env });
  const code = await new Promise((resolve) => refused.on("exit", resolve));
  check(code === 78 && /orvandel: the web panel is refused: \[WebPanel\] Listen=0\.0\.0\.0:\d+ is reachable from the network, and without CertFile= and KeyFile= it would be plain HTTP/.test(refused.output),
    "plain HTTP on 0.0.0.0 is refused at start-up (exit " + code + "): " + refused.output.trim());
  fs.writeFileSync(path.join(folder, "SYSINI", "MainForm.INI"), ini);

  const sim = start(SIM, ["--link", link, "--report-interval", "0"]);
  for (let i = 0; i < 500 && !fs.existsSync(link); i++) await new Promise((r) => setTimeout(r, 10));
  const socketPath = path.join(root, "panel.sock");
  const run = () => start(path.join(folder, "orvandel"),
    ["--headless", "--users-file", users, "--socket", socketPath], { env });
  let program = run();
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    await program.waitFor(/ web listening at http:\/\/127\.0\.0\.1:\d+/);
    await program.waitFor(/ link Connected: COM1/);
    const page = await browser.newPage({ viewport: { width: 1280, height: 900 } });
    await page.goto(url);
    await page.waitForFunction(() => document.getElementById("page-connection").textContent === "live");

    // A fault frame lights its lamp within 1 s of the simulator sending it: the lamp the
    // simulator names, found by its caption.
    let from = sim.output.length;
    sim.stdin.write("fault 4 on\n");
    const caption = (await sim.waitFor(/# fault \d+ (.+) on\n/, 5000, from)).match[1];
    const sent = await sim.waitFor(/TX [0-9A-F ]+ +(report Fault|fault image: (?!none))/, 8000, from);
    const lamp = await page.evaluate((name) => [...document.querySelectorAll("[data-lamp]")]
      .find((l) => l.textContent === name).dataset.lamp, caption);
    await page.waitForSelector(`[data-lamp="${lamp}"][data-lit="true"]`, { timeout: 3000 });
    check(Date.now() - sent.at <= 1000, `a fault frame lights lamp ${lamp} (${caption}) within 1 s (${Date.now() - sent.at} ms)`);
    check(await page.locator('[data-lit="true"]').count() === 1, "no other lamp is lit");

    // The conditions come first: the lamp's fault and two alarms, the first and the latest named
    // and counted, on the screen without scrolling.
    from = sim.output.length;
    sim.stdin.write("event 0x14 0\nevent 0x15 0\n");
    const alarmSent = await sim.waitFor(/TX [0-9A-F ]+ +[^\n]*ALARM/, 8000, from);
    const summaryShown = await page.waitForFunction(() => document.getElementById("conditions-summary")
      .textContent === "2 alarms (first ALERT, latest ALARM) · 1 fault", null, { timeout: 8000 }).then(() => true, () => false);
    check(summaryShown && Date.now() - alarmSent.at <= 1000,
      "the summary names the first and the latest alarm and counts the fault within 1 s of the frame (" +
      (Date.now() - alarmSent.at) + " ms): " + await page.textContent("#conditions-summary"));
    const box = await page.locator("#conditions-summary").boundingBox();
    check(box && box.y + box.height <= 900, "the summary is on the screen without scrolling");
    // Acknowledged with a comment in a window (over the service's socket): on the page within 1 s.
    const window = await attach(socketPath);
    const fault = "fault-" + lamp;
    const acknowledged = Date.now();
    window.act({ id: 1, action: "acknowledge", condition: fault, text: "card seen" });
    const ackShown = await page.waitForFunction((id) => /card seen/.test(
      (document.querySelector(`#conditions [data-id="${id}"]`) || {}).textContent || ""), fault, { timeout: 3000 })
      .then(() => true, () => false);
    check(ackShown && Date.now() - acknowledged <= 1000, "the window's acknowledgement is on the page within 1 s (" +
      (Date.now() - acknowledged) + " ms, " + await window.answer(1) + ")");
    // Shelved by a level-2 operator logged in at that window: yellow and counted.
    window.act({ id: 2, action: "log-in", operator: "alice", pin: "1234" });
    await window.answer(2);
    window.act({ id: 3, action: "shelve", condition: fault, text: "works in riser B", until: Date.now() + 3600000 });
    const shelvedShown = await page.waitForFunction((id) => {
      const item = document.querySelector(`#conditions [data-id="${id}"]`);
      return item && getComputedStyle(item).backgroundColor === "rgb(255, 245, 157)" &&
        / · 1 shelved$/.test(document.getElementById("conditions-summary").textContent);
    }, fault, { timeout: 3000 }).then(() => true, () => false);
    check(shelvedShown, "the shelved fault is yellow and counted (" + await window.answer(3) + "): " +
      await page.textContent("#conditions-summary"));
    check(!/alice/.test(await page.textContent("#conditions")), "a page without a log-in is not told who shelved it");
    window.destroy();

    // An event report comes on top of #events within 1 s.
    from = sim.output.length;
    sim.stdin.write("event 0x12 0\n");
    const report = await sim.waitFor(/TX [0-9A-F ]+ +[^\n]*EMG Ack/i, 8000, from);
    await page.waitForFunction(() => /EMG Ack/.test(document.querySelector("#events li").textContent), null, { timeout: 3000 });
    check(Date.now() - report.at <= 1000, "the event is on top of #events within 1 s (" + (Date.now() - report.at) + " ms)");

    // Anonymous: no action buttons, and a hand-made POST is refused.
    check(await page.locator("#keys button").count() === 0, "anonymous: no action buttons");
    const anonymous = await page.evaluate(async () => (await fetch("/api/key/4", { method: "POST" })).status);
    check(anonymous === 403, "anonymous: a hand-made POST gets 403 (" + anonymous + ")");

    // Level 2 logs in; Fault ACK reaches the simulator as its exact frame.
    await page.fill("#login-name", "alice");
    await page.fill("#login-pin", "1234");
    await page.click("#login button");
    await page.waitForSelector('#keys button[data-action="/api/key/4"]', { timeout: 5000 });
    const cookies = await page.context().cookies();
    const session = cookies.find((c) => c.name === "orvandel_session");
    check(session && session.httpOnly && session.sameSite === "Strict", "the session cookie is HttpOnly, SameSite=Strict");
    from = sim.output.length;
    await page.click('#keys button[data-action="/api/key/4"]');
    const frame = await sim.waitFor(/RX ([0-9A-F ]+?) +operator key Fault Ack/, 5000, from);
    check(frame.match[1] === keyFrame(4), "the simulator got Fault ACK as " + frame.match[1] + " (" + keyFrame(4) + ")");
    // Logged in, the live page follows the operator's view: alice's log in, committed after the
    // log-in's answer, comes on the events (an anonymous page is never sent it).
    const loggedInShown = await page.waitForFunction(() => /Log in: alice/.test(document.getElementById("events").textContent),
      null, { timeout: 3000 }).then(() => true, () => false);
    check(loggedInShown, "the logged-in page is sent alice's log-in record live");
    // Who acted on a condition comes to a page with a log-in, and only to it.
    const named = await page.waitForFunction((id) => /shelved by alice until/.test(
      (document.querySelector(`#conditions [data-id="${id}"]`) || {}).textContent || ""), fault, { timeout: 3000 })
      .then(() => true, () => false);
    check(named, "the logged-in page names who shelved the fault");
    // Acknowledged on the page itself, with a comment: as alice, from this browser.
    await page.fill("#condition-text", "heard it");
    await page.click('#conditions [data-id="alarm-1"] button[data-action="/api/acknowledge"]');
    const heard = await page.waitForFunction(() => /acknowledged by alice: “heard it”/.test(
      (document.querySelector('#conditions [data-id="alarm-1"]') || {}).textContent || ""), null, { timeout: 3000 })
      .then(() => true, () => false);
    check(heard, "an acknowledgement made on the page comes back with alice's name and comment");
    if (screenshots) await page.screenshot({ path: path.join(screenshots, "web-panel.png"), fullPage: true });
    // The journal has the operator and the peer address (committed at the next tick).
    await new Promise((r) => setTimeout(r, 500));
    const journal = execFileSync("sqlite3", ["-readonly", path.join(folder, "DATA", "Journal.sqlite"),
      "SELECT login || '|' || text || '|' || detail FROM journal WHERE kind = 'operator' ORDER BY seq"]).toString();
    check(/^web 127\.0\.0\.1\|Key Fault ACK\|operator alice, level 2$/m.test(journal), "the journal has alice's Fault ACK from web 127.0.0.1");
    check(/^web 127\.0\.0\.1\|Log in: alice, level 2, web 127\.0\.0\.1\|/m.test(journal), "the journal has alice's web log in");
    check(/^web 127\.0\.0\.1\|Acknowledged "ALERT": heard it\|operator alice, level 2$/m.test(journal),
      "the journal has alice's acknowledgement from the page");

    // The simulator silenced: the link state says so within NoReplySeconds + 1 s.
    const silenced = Date.now();
    sim.stdin.write("silence 8\n");
    await page.waitForFunction(() => /No reply/.test(document.getElementById("link-state").textContent), null, { timeout: 8000 });
    const took = Date.now() - silenced;
    check(took <= (NO_REPLY_SECONDS + 1) * 1000, "#link-state says no reply within " + (NO_REPLY_SECONDS + 1) + " s (" + took + " ms)");

    // The program hung (stopped, its connections open): no heartbeat, so STALE within 4 s; going
    // on, it brings the page back.
    const staleShown = () => page.waitForFunction(() => /^STALE — no connection to Orvandel since \d\d:\d\d:\d\d$/.test(
      document.getElementById("stale").textContent) && document.body.classList.contains("stale") &&
      /^Service lost · /.test(document.getElementById("conditions-summary").textContent), null, { timeout: 6000 });
    const liveAgain = () => page.waitForFunction(() => !document.body.classList.contains("stale") &&
      document.getElementById("page-connection").textContent === "live", null, { timeout: 20000 });
    const stopped = Date.now();
    program.kill("SIGSTOP");
    await staleShown();
    check(Date.now() - stopped <= 4000, "STALE within 4 s of the program hanging (" + (Date.now() - stopped) + " ms)");
    program.kill("SIGCONT");
    await liveAgain();

    // The program killed: STALE within 4 s; a new one brings the page back.
    const killed = Date.now();
    program.kill("SIGKILL");
    await staleShown();
    check(Date.now() - killed <= 4000, "STALE within 4 s of the kill (" + (Date.now() - killed) + " ms)");
    program = run();
    await program.waitFor(/ web listening at /);
    await liveAgain();
    check(await page.locator('[data-lamp="3"]').count() === 1, "the page recovers after a restart");
  } finally {
    await browser.close();
    program.kill("SIGTERM");
    sim.kill("SIGTERM");
    fs.rmSync(root, { recursive: true, force: true });
  }
}

runMain(main);
