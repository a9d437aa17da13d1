// Notifications per second at 10,000 monitored items, SignAndEncrypt
// (Basic256Sha256) against None in one run, with node-opcua as the client
// of both, and the server's CPU per 100,000 notifications in each.
//   node secure_bench.mjs <secure_bench_host> [items] [seconds]
// node-opcua comes from tests/integration/opcua (npm ci there first).
import { spawn } from "node:child_process";
import { createInterface } from "node:readline";
import { createRequire } from "node:module";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join, dirname } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const require = createRequire(join(here, "../../tests/integration/opcua/node_modules/"));
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, ClientSubscription, TimestampsToReturn } =
  require("node-opcua-client");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");

const [hostPath, itemArg, secondsArg] = process.argv.slice(2);
const items = Number(itemArg ?? 10000);
const seconds = Number(secondsArg ?? 10);
const scratch = mkdtempSync(join(tmpdir(), "pelmoran-secure-bench-"));

const host = spawn(hostPath, [String(items)], { stdio: ["pipe", "pipe", "inherit"], env: { ...process.env, PELMORAN_CONFIG_DIR: join(scratch, "server") } });
const lines = createInterface({ input: host.stdout });
const waiting = [];
lines.on("line", (l) => waiting.shift()?.(l));
const next = () => new Promise((resolve) => waiting.push(resolve));
const ask = (text) => { const answer = next(); host.stdin.write(text + "\n"); return answer; };

async function measure(url, manager, policy, mode) {
  const client = OPCUAClient.create({ securityPolicy: policy, securityMode: mode, endpointMustExist: false,
    connectionStrategy: { maxRetry: 0 }, keepSessionAlive: false, clientCertificateManager: manager });
  await client.connect(url);
  const session = await client.createSession();
  const sub = ClientSubscription.create(session, { requestedPublishingInterval: 100, requestedMaxKeepAliveCount: 10,
    requestedLifetimeCount: 100, maxNotificationsPerPublish: 0, publishingEnabled: true });
  await new Promise((resolve) => sub.on("started", resolve));
  let count = 0;
  sub.on("raw_notification", (m) => {
    for (const d of m.notificationData ?? []) count += d.monitoredItems?.length ?? 0;
  });
  for (let from = 0; from < items; from += 1000) {
    const batch = [];
    for (let i = from; i < Math.min(items, from + 1000); ++i)
      batch.push({ itemToMonitor: { nodeId: `ns=1;s=BENCH.${i}`, attributeId: AttributeIds.Value },
        monitoringMode: 2, requestedParameters: { clientHandle: i + 1, samplingInterval: 100, queueSize: 1, discardOldest: true } });
    await session.createMonitoredItems({ subscriptionId: sub.subscriptionId, timestampsToReturn: TimestampsToReturn.Both, itemsToCreate: batch });
  }
  await new Promise((resolve) => setTimeout(resolve, 2000));  // settle: every item has reported once
  const cpu0 = Number((await ask("cpu")).split(" ")[1]);
  const count0 = count;
  const start = Date.now();
  await new Promise((resolve) => setTimeout(resolve, seconds * 1000));
  const wall = (Date.now() - start) / 1000;
  const cpu = Number((await ask("cpu")).split(" ")[1]) - cpu0;
  const delivered = count - count0;
  await sub.terminate();
  await session.close();
  await client.disconnect();
  return { rate: delivered / wall, cpuPer100k: (cpu / delivered) * 100000, share: cpu / wall };
}

try {
  const url = (await next()).slice(4);
  const manager = new OPCUACertificateManager({ rootFolder: join(scratch, "client"), automaticallyAcceptUnknownCertificate: true, disableFileWatchers: true });
  await manager.initialize();
  const probe = OPCUAClient.create({ clientCertificateManager: manager });
  await probe.createDefaultCertificate();
  console.log("trust:", await ask(`trust ${join(scratch, "client/own/certs/client_certificate.pem")}`));
  await ask("start");
  const plain = await measure(url, manager, SecurityPolicy.None, MessageSecurityMode.None);
  const secure = await measure(url, manager, SecurityPolicy.Basic256Sha256, MessageSecurityMode.SignAndEncrypt);
  const offered = items * 10;
  for (const [name, r] of [["None", plain], ["Basic256Sha256 SignAndEncrypt", secure]])
    console.log(`${name.padEnd(30)} ${r.rate.toFixed(0)} notifications/s of ${offered} offered, server ${r.share.toFixed(3)} of a core, ${r.cpuPer100k.toFixed(3)} CPU s per 100k`);
  console.log(`SignAndEncrypt / None: ${(secure.rate / plain.rate).toFixed(3)}x delivered, ${(secure.cpuPer100k / plain.cpuPer100k).toFixed(2)}x server CPU per notification`);
  await manager.dispose();
} finally {
  host.stdin.write("quit\n");
  await new Promise((resolve) => host.once("exit", resolve));
  rmSync(scratch, { recursive: true, force: true });
}
