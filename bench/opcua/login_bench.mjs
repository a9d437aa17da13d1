// Password logins through node-opcua on the None endpoint:
//  1. the time of a wrong password for a known name against an unknown name
//     (a right login after each pair keeps the throttle out of it);
//  2. another client's Read latency while one client keeps failing to log in.
//   OPCUA_TEST_HOST=build/tests/integration/opcua/opcua_test_host node login_bench.mjs [rounds] [seconds]
// node-opcua comes from tests/integration/opcua (npm ci there first).
import { createRequire } from "node:module";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";
import { TestHost } from "../../tests/integration/opcua/host.mjs";

const here = dirname(fileURLToPath(import.meta.url));
const require = createRequire(join(here, "../../tests/integration/opcua/node_modules/"));
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, UserTokenType } =
  require("node-opcua-client");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");

const rounds = Number(process.argv[2] ?? 10);
const seconds = Number(process.argv[3] ?? 10);
const scratch = mkdtempSync(join(tmpdir(), "pelmoran-login-bench-"));
const host = await TestHost.start({ PELMORAN_CONFIG_DIR: join(scratch, "server") });
await host.command("user alice readwrite s3cret");
const manager = new OPCUACertificateManager({ rootFolder: join(scratch, "client"),
  automaticallyAcceptUnknownCertificate: true, disableFileWatchers: true });
await manager.initialize();

async function connect() {
  const client = OPCUAClient.create({ securityPolicy: SecurityPolicy.None, securityMode: MessageSecurityMode.None,
    endpointMustExist: false, connectionStrategy: { maxRetry: 0 }, keepSessionAlive: false,
    clientCertificateManager: manager });
  await client.connect(host.url);
  return client;
}

// Milliseconds from CreateSession to the ActivateSession answer.
async function login(client, userName, password) {
  const start = performance.now();
  try {
    const session = await client.createSession({ type: UserTokenType.UserName, userName, password });
    await session.close();
  } catch { /* refused, as expected for a wrong password */ }
  return performance.now() - start;
}

const median = (xs) => [...xs].sort((a, b) => a - b)[Math.floor(xs.length / 2)];

const prober = await connect();
const known = [];
const unknown = [];
for (let i = 0; i < rounds; ++i) {
  known.push(await login(prober, "alice", "wrong"));
  unknown.push(await login(prober, `nobody${i}`, "wrong"));
  await login(prober, "alice", "s3cret");
}
console.log(`known name, wrong password: median ${median(known).toFixed(1)} ms`);
console.log(`unknown name:               median ${median(unknown).toFixed(1)} ms`);
console.log(`ratio known/unknown: ${(median(known) / median(unknown)).toFixed(2)}`);

const bystander = await connect();
const session = await bystander.createSession();
const latencies = [];
let attempts = 0;
let attacking = true;
const attack = (async () => {
  while (attacking) { await login(prober, "alice", `guess${attempts}`); ++attempts; }
})();
const end = performance.now() + seconds * 1000;
while (performance.now() < end) {
  const start = performance.now();
  await session.read({ nodeId: "ns=0;i=2259", attributeId: AttributeIds.Value });
  latencies.push(performance.now() - start);
}
attacking = false;
await attack;
console.log(`${attempts} wrong logins in ${seconds} s; another client's Read: median ` +
  `${median(latencies).toFixed(1)} ms, worst ${Math.max(...latencies).toFixed(1)} ms over ${latencies.length} reads`);
await session.close();
await bystander.disconnect();
await prober.disconnect();
await manager.dispose();
await host.stop();
rmSync(scratch, { recursive: true, force: true });
