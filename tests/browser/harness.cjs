// What the browser tests share: a check that counts failures, children whose output is kept and
// waited on, and free loopback ports.
"use strict";
const { spawn } = require("child_process");
const net = require("net");

let failures = 0;
function check(ok, what) {
  console.log((ok ? "ok    " : "FAIL  ") + what);
  if (!ok) failures++;
}

// A child whose output is kept, with a wait for a line that matches.
function start(file, args, options) {
  const child = spawn(file, args, { stdio: ["pipe", "pipe", "pipe"], ...options });
  child.output = "";
  child.stdout.on("data", (d) => { child.output += d; });
  child.stderr.on("data", (d) => { child.output += d; });
  child.waitFor = (pattern, ms = 10000, from = 0) => new Promise((resolve, reject) => {
    const t0 = Date.now();
    const look = () => {
      const found = child.output.slice(from).match(pattern);
      if (found) return resolve({ at: Date.now(), match: found });
      if (Date.now() - t0 > ms) return reject(new Error("no " + pattern + " in:\n" + child.output.slice(-3000)));
      setTimeout(look, 20);
    };
    look();
  });
  return child;
}

function freePort() {
  return new Promise((resolve) => {
    const server = net.createServer();
    server.listen(0, "127.0.0.1", () => { const { port } = server.address(); server.close(() => resolve(port)); });
  });
}

// Runs main, says PASS or how many failed, and ends the process with that.
function runMain(main) {
  main().then(() => {
    console.log(failures === 0 ? "PASS" : failures + " FAILED");
    process.exit(failures === 0 ? 0 : 1);
  }, (error) => {
    console.log("FAIL  " + error.stack);
    process.exit(1);
  });
}

module.exports = { check, start, freePort, runMain };
