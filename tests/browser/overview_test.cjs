// The site's overview in a real Chromium (Debian's, driven by playwright-core) over 16 panel
// services of the optimised build, each on its own simulated controller: two sites, the first's
// broker bridged to the control room's by the shipped bridge file, the second's services on the
// control room's broker itself, and the overview following the control room's. A fault turns
// only its tile red; a service killed or hung turns only its tile STALE; a tile opens its
// service's own web panel.
// Usage: node overview_test.cjs BUILD_DIR MODULES_DIR [SCREENSHOT_DIR]
"use strict";
const fs = require("fs");
const os = require("os");
const path = require("path");

const [build, modules, screenshots] = process.argv.slice(2).map((p) => (p ? path.resolve(p) : ""));
const { chromium } = require(path.join(modules, "playwright-core"));
const { check, start, freePort, runMain } = require("./harness.cjs");
const PROGRAM = path.join(build, "app", "orvandel");
const OVERVIEW = path.join(build, "overview", "orvandel-overview");
const SIM = path.join(build, "sim", "orvandel-sim");
const BRIDGE = path.join(__dirname, "..", "..", "packaging", "mosquitto", "bridge.conf");
const SERVICES = 16;
const BRIDGED = 8;  // the first site's, on the bridged broker
const NO_REPLY_SECONDS = 2;
const KEEP_ALIVE = 5;  // the least the services take: a hung one is noticed by the broker sooner

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
// How long after from something was seen at (0: not within the wait), for the check's line.
const took = (at, from) => (at ? at - from + " ms" : "not seen");

async function waitForFile(file) {
  for (let i = 0; i < 500 && !fs.existsSync(file); i++) await sleep(10);
}

async function main() {
  const root = fs.mkdtempSync(path.join(os.tmpdir(), "orv-overview-"));
  const children = [];
  const started = (child) => { children.push(child); return child; };
  const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", args: ["--no-sandbox"] });
  try {
    // The control room's broker, and the first site's, which bridges its panels' topics there
    // with the file the package ships (its example address made this one).
    const central = await freePort();
    const site = await freePort();
    fs.writeFileSync(path.join(root, "central.conf"),
      `listener ${central} 127.0.0.1\nallow_anonymous true\npersistence false\n`);
    const bridge = fs.readFileSync(BRIDGE, "utf8");
    check(bridge.includes("address central.example.org:1883"), "the shipped bridge names its example address");
    fs.writeFileSync(path.join(root, "site.conf"),
      `listener ${site} 127.0.0.1\nallow_anonymous true\npersistence false\n` +
      bridge.replace("address central.example.org:1883", `address 127.0.0.1:${central}`));
    started(start("mosquitto", ["-c", path.join(root, "central.conf")]));
    await sleep(300);
    started(start("mosquitto", ["-c", path.join(root, "site.conf")]));

    // Sixteen services, each with its folder, its simulator, its web panel and its topic.
    const services = [];
    for (let i = 0; i < SERVICES; i++) {
      const bridged = i < BRIDGED;
      const name = "s" + String(i).padStart(2, "0");
      const folder = path.join(root, name);
      fs.mkdirSync(path.join(folder, "SYSINI"), { recursive: true });
      const link = path.join(folder, "controller");
      const web = await freePort();
      const topic = `orvandel/${bridged ? "site-a" : "site-b"}/${name}`;
      fs.writeFileSync(path.join(folder, "SYSINI", "MainForm.INI"),
        `[SerialPorts]\r\nCOM1=${link}\r\n[LinkWatch]\r\nNoReplySeconds=${NO_REPLY_SECONDS}\r\n` +
        `[MQTT]\r\nBroker=mqtt://127.0.0.1:${bridged ? site : central}\r\nTopic=${topic}\r\n` +
        `KeepAlive=${KEEP_ALIVE}\r\n[WebPanel]\r\nListen=127.0.0.1:${web}\r\n`, { mode: 0o644 });
      const sim = started(start(SIM, ["--link", link, "--report-interval", "0"]));
      await waitForFile(link);
      const service = started(start(PROGRAM, ["--headless", "--state-folder", folder,
        "--socket", path.join(folder, "panel.sock")]));
      services.push({ name, topic, sim, service, web: `http://127.0.0.1:${web}/` });
    }
    for (const s of services) await s.service.waitFor(/ mqtt connected/, 20000);

    const port = await freePort();
    const settings = path.join(root, "overview.ini");
    fs.writeFileSync(settings, `[MQTT]\nBroker=mqtt://127.0.0.1:${central}\n[Overview]\nListen=127.0.0.1:${port}\n`,
      { mode: 0o644 });
    const overview = started(start(OVERVIEW, ["--settings", settings]));
    await overview.waitFor(/mqtt connected/);

    const page = await browser.newPage({ viewport: { width: 1600, height: 1000 } });
    await page.goto(`http://127.0.0.1:${port}/`);
    const tile = (s) => `.tile[data-base="${s.topic}"]`;
    const states = () => page.evaluate(() => Object.fromEntries([...document.querySelectorAll(".tile")]
      .map((t) => [t.dataset.base, (t.dataset.stale === "true" ? "stale " : "") + t.dataset.worst])));
    // Every service of both sites, live and quiet, its link answering.
    const allQuiet = await page.waitForFunction((n) => {
      const tiles = [...document.querySelectorAll(".tile")];
      return tiles.length === n && tiles.every((t) => t.dataset.stale === "false" && t.dataset.worst === "quiet" &&
        /link: answering/.test(t.textContent));
    }, SERVICES, { timeout: 20000 }).then(() => true, () => false);
    check(allQuiet, "the control room's overview shows all 16 services of both sites live and quiet: " +
      JSON.stringify(await states()));
    const bases = Object.keys(await states());
    check(bases.filter((b) => b.startsWith("orvandel/site-a/")).length === BRIDGED &&
      bases.filter((b) => b.startsWith("orvandel/site-b/")).length === SERVICES - BRIDGED,
    "8 services came over the bridge, 8 from the control room's own broker");

    // A fault at a bridged site's service: its tile red within 2 s of the frame, the others not.
    const faulty = services[3];
    let from = faulty.sim.output.length;
    faulty.sim.stdin.write("fault 4 on\n");
    const sent = await faulty.sim.waitFor(/TX [0-9A-F ]+ +(report Fault|fault image: (?!none))/, 8000, from);
    const red = await page.waitForFunction((selector) => {
      const t = document.querySelector(selector);
      return t && t.dataset.worst === "fault" && getComputedStyle(t).backgroundColor === "rgb(229, 57, 53)";
    }, tile(faulty), { timeout: 5000 }).then(() => Date.now(), () => 0);
    check(red && red - sent.at <= 2000, `a fault turns ${faulty.name}'s tile red within 2 s (${took(red, sent.at)})`);
    let now = await states();
    check(Object.entries(now).every(([base, state]) => base === faulty.topic || state === "quiet"),
      "every other tile stays quiet: " + JSON.stringify(now));

    // A service killed, at each site: its tile STALE within NoReplySeconds + 2 s (its broker sends
    // its will, through the bridge for the first site), the others live.
    for (const killed of [services[12], services[5]]) {
      const at = Date.now();
      killed.service.kill("SIGKILL");
      const stale = await page.waitForFunction((selector) => {
        const t = document.querySelector(selector);
        return t && t.dataset.stale === "true" && /STALE/.test(t.textContent);
      }, tile(killed), { timeout: 10000 }).then(() => Date.now(), () => 0);
      const bound = (NO_REPLY_SECONDS + 2) * 1000;
      check(stale && stale - at <= bound, `kill -9 of ${killed.name} turns its tile STALE within ${bound} ms (${took(stale, at)})`);
    }
    now = await states();
    check(Object.entries(now).filter(([, state]) => state.startsWith("stale")).length === 2 &&
      now[faulty.topic] === "fault", "the others stay live, the fault stays red: " + JSON.stringify(now));

    // A service hung (stopped, its connection open): the broker ends it once it has been silent
    // for 1.5 keep-alives (looked at in the broker's own rounds) and its tile goes STALE; going
    // on, it connects again and its tile is live again.
    const hung = services[9];
    const stopped = Date.now();
    hung.service.kill("SIGSTOP");
    const hungStale = await page.waitForFunction((selector) => document.querySelector(selector).dataset.stale === "true",
      tile(hung), { timeout: 20000 }).then(() => Date.now(), () => 0);
    const hungBound = (2 * KEEP_ALIVE + 2) * 1000;
    check(hungStale && hungStale - stopped <= hungBound,
      `a hung ${hung.name} is STALE within 2 keep-alives + 2 s (${took(hungStale, stopped)})`);
    now = await states();
    check(Object.entries(now).filter(([, state]) => state.startsWith("stale")).length === 3,
      "only the hung and the killed services are STALE: " + JSON.stringify(now));
    hung.service.kill("SIGCONT");
    const back = await page.waitForFunction((selector) => document.querySelector(selector).dataset.stale === "false",
      tile(hung), { timeout: 20000 }).then(() => true, () => false);
    check(back, `${hung.name} going on is live again`);

    // A tile opens its service's own web panel.
    const opened = services[0];
    const [popup] = await Promise.all([page.waitForEvent("popup"), page.click(tile(opened))]);
    await popup.waitForLoadState();
    check(popup.url() === opened.web && (await popup.title()) === "Orvandel web panel",
      `${opened.name}'s tile opens its web panel (${popup.url()}, "${await popup.title()}")`);
    await popup.close();
    if (screenshots) await page.screenshot({ path: path.join(screenshots, "overview.png"), fullPage: true });
  } finally {
    await browser.close();
    for (const child of children) {
      child.kill("SIGCONT");
      child.kill("SIGTERM");
    }
    await sleep(300);
    fs.rmSync(root, { recursive: true, force: true });
  }
}

runMain(main);
