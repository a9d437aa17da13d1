// The soak run's OPC UA client (node-opcua, as the OPC UA tests pin it):
// subscribes to every tag in the server's folder and, every interval, writes
// a new value to each tag whose name matches the pattern. Reconnects when the
// server drops it. At the end prints one line:
// CLIENT {"tags": n, "notifications": n, "writes": n, "goodWrites": n}
// Usage: node soak_client.mjs <folder holding node_modules> <endpoint URL>
//                             <seconds> <write pattern> <write interval ms>
import { createRequire } from "node:module";
import path from "node:path";

const [modules, url, seconds, pattern, interval] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(modules), "package.json"));
const {
  OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, ClientSubscription,
  ClientMonitoredItem, TimestampsToReturn, DataType, StatusCodes,
} = require("node-opcua-client");

const FOLDER = "Korvane.Modbus_OPC_Server";
const counts = { tags: 0, notifications: 0, writes: 0, goodWrites: 0 };

async function tagNodes(session) {
  const objects = await session.browse("ns=0;i=85");
  const folder = objects.references.find((r) => r.browseName.name === FOLDER);
  if (!folder) throw new Error(`no folder ${FOLDER} under Objects`);
  const inside = await session.browse(folder.nodeId.toString());
  return inside.references.map((r) => r.browseName.name);
}

async function subscribeAll(session, names) {
  const sub = ClientSubscription.create(session, {
    requestedPublishingInterval: 250,
    requestedMaxKeepAliveCount: 20,
    requestedLifetimeCount: 200,
    publishingEnabled: true,
  });
  await new Promise((resolve) => sub.on("started", resolve));
  for (const name of names) {
    const item = ClientMonitoredItem.create(
      sub, { nodeId: `ns=1;s=${name}`, attributeId: AttributeIds.Value },
      { samplingInterval: 0, queueSize: 4, discardOldest: true }, TimestampsToReturn.Both);
    item.on("changed", () => ++counts.notifications);
  }
  return sub;
}

async function writeRound(session, names, round) {
  const requests = names.map((name) => ({
    nodeId: `ns=1;s=${name}`,
    attributeId: AttributeIds.Value,
    value: { value: { dataType: DataType.Float, value: round % 1000 } },
  }));
  if (requests.length === 0) return;
  const results = await session.write(requests);
  counts.writes += results.length;
  counts.goodWrites += results.filter((s) => s === StatusCodes.Good).length;
}

const client = OPCUAClient.create({
  securityMode: MessageSecurityMode.None,
  securityPolicy: SecurityPolicy.None,
  endpointMustExist: false,
  connectionStrategy: { initialDelay: 200, maxDelay: 2000, maxRetry: 20 },
  keepSessionAlive: true,
});
await client.connect(url);
const session = await client.createSession();
const names = await tagNodes(session);
counts.tags = names.length;
const writable = names.filter((name) => new RegExp(pattern).test(name));
const sub = await subscribeAll(session, names);
const end = Date.now() + Number(seconds) * 1000;
for (let round = 1; Date.now() < end; ++round) {
  await writeRound(session, writable, round);
  await new Promise((resolve) => setTimeout(resolve, Math.min(Number(interval), end - Date.now())));
}
await sub.terminate();
await session.close();
await client.disconnect();
console.log("CLIENT " + JSON.stringify(counts));
