// The reference server of the load benchmark: node-opcua's server with the
// same tags as load_host (ns=1;s=BENCH.<i>, Float), all given a new value
// every interval. SecurityPolicy None and anonymous sessions, as the bench
// client speaks; item limits raised so that 200,000 items fit one subscription.
// Prints "PORT <port>" once it listens, then answers each line on stdin with
// "rounds <n>", the rounds of updates done so far; ends when stdin closes.
//   node reference_server.mjs <port> <tags> <interval ms> <pki folder>
import readline from "node:readline";
import { OPCUAServer } from "node-opcua-server";
import { OPCUACertificateManager } from "node-opcua-certificate-manager";
import { MessageSecurityMode, SecurityPolicy } from "node-opcua-secure-channel";
import { DataType } from "node-opcua-variant";

const [port, tags, interval, pki] = process.argv.slice(2).map((a, i) => (i < 3 ? Number(a) : a));

const server = new OPCUAServer({
  port,
  securityModes: [MessageSecurityMode.None],
  securityPolicies: [SecurityPolicy.None],
  allowAnonymous: true,
  serverCertificateManager: new OPCUACertificateManager({ rootFolder: `${pki}/server` }),
  userCertificateManager: new OPCUACertificateManager({ rootFolder: `${pki}/user` }),
  serverCapabilities: {
    maxMonitoredItems: 4 * tags,
    maxMonitoredItemsPerSubscription: 4 * tags,
    maxSessions: 10,
  },
});
await server.initialize();
const namespace = server.engine.addressSpace.getOwnNamespace();
const folder = namespace.addFolder("ObjectsFolder", { browseName: "BENCH" });
const variables = [];
for (let i = 0; i < tags; ++i) {
  variables.push(namespace.addVariable({
    componentOf: folder,
    browseName: `BENCH.${i}`,
    nodeId: `s=BENCH.${i}`,
    dataType: "Float",
    value: { dataType: DataType.Float, value: 0 },
  }));
}
await server.start();
console.log(`PORT ${server.endpoints[0].port}`);

let rounds = 0;
let next = Date.now();
let running = true;
function update() {
  if (!running) return;
  ++rounds;
  const value = { dataType: DataType.Float, value: rounds };
  for (const v of variables) v.setValueFromSource(value);
  next += interval;
  setTimeout(update, Math.max(0, next - Date.now()));
}
update();

const input = readline.createInterface({ input: process.stdin });
input.on("line", () => console.log(`rounds ${rounds}`));
input.on("close", async () => {
  running = false;
  await server.shutdown(0);
  process.exit(0);
});
