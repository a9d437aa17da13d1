// Starts opcua_test_host and talks to it line by line.
import { spawn } from "node:child_process";
import { createInterface } from "node:readline";

export class TestHost {
  // env: more environment for the host, such as its PELMORAN_CONFIG_DIR.
  static async start(env = {}) {
    const host = new TestHost();
    await host.#open(env);
    return host;
  }

  #child;
  #waiters = [];
  #writes = [];
  #writeWaiters = [];
  url = "";

  async #open(env) {
    const path = process.env.OPCUA_TEST_HOST;
    if (!path) throw new Error("OPCUA_TEST_HOST is not set");
    this.#child = spawn(path, [], {
      stdio: ["pipe", "pipe", "inherit"],
      env: { ...process.env, PELMORAN_OPCUA_ENDPOINT: "opc.tcp://127.0.0.1:0", ...env },
    });
    const lines = createInterface({ input: this.#child.stdout });
    lines.on("line", (line) => this.#onLine(line));
    const first = await this.#next();
    if (!first.startsWith("url ")) throw new Error(`host said ${first}`);
    this.url = first.slice(4);
  }

  #onLine(line) {
    if (line.startsWith("write ")) {
      const [, handle, vt, ...rest] = line.split(" ");
      const write = { handle: Number(handle), vt: Number(vt), value: rest.join(" ") };
      const waiter = this.#writeWaiters.shift();
      if (waiter) waiter(write);
      else this.#writes.push(write);
      return;
    }
    const waiter = this.#waiters.shift();
    if (waiter) waiter(line);
  }

  #next() {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error("host did not answer")), 10000);
      this.#waiters.push((line) => {
        clearTimeout(timer);
        resolve(line);
      });
    });
  }

  async command(text) {
    const answer = this.#next();
    this.#child.stdin.write(text + "\n");
    return answer;
  }

  async create(name, writable, quality, value) {
    const line = await this.command(`create ${name} ${writable ? 1 : 0} ${quality}${value === undefined ? "" : " " + value}`);
    return Number(line.split(" ")[1]);
  }

  async update(handle, value, quality) {
    return this.command(`update ${handle} ${value} ${quality}`);
  }

  async remove(handle) {
    return this.command(`remove ${handle}`);
  }

  nextWrite(timeoutMs = 10000) {
    const ready = this.#writes.shift();
    if (ready) return Promise.resolve(ready);
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => reject(new Error("no write arrived")), timeoutMs);
      this.#writeWaiters.push((w) => {
        clearTimeout(timer);
        resolve(w);
      });
    });
  }

  pendingWrites() {
    return this.#writes.length;
  }

  async stop() {
    if (!this.#child) return;
    const exited = new Promise((resolve) => this.#child.once("exit", resolve));
    this.#child.stdin.write("quit\n");
    const timer = setTimeout(() => this.#child.kill("SIGKILL"), 5000);
    await exited;
    clearTimeout(timer);
    this.#child = undefined;
  }
}
