// One recorded conversation per scenario: node capture.mjs <url> <scenario>.
import { createRequire } from "node:module";

// The client is installed with the integration tests; record.sh says where.
const require = createRequire(process.env.OPCUA_NODE_MODULES + "/");
const {
  OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, DataType,
  ClientSubscription, ClientMonitoredItem, TimestampsToReturn, makeBrowsePath,
} = require("node-opcua-client");

const [url, scenario] = process.argv.slice(2);
const client = OPCUAClient.create({
  securityMode: MessageSecurityMode.None, securityPolicy: SecurityPolicy.None,
  endpointMustExist: false, connectionStrategy: { maxRetry: 0 }, keepSessionAlive: false,
});
await client.connect(url);
if (scenario === "discovery") {
  await client.getEndpoints();
  await client.findServers();
} else {
  const session = await client.createSession();
  if (scenario === "browse") {
    const objects = await session.browse("ns=0;i=85");
    await session.browse({ nodeId: "ns=1;i=1", resultMask: 63, browseDirection: 2 });
    await session.browse({ nodeId: "ns=1;i=1", requestedMaxReferencesPerNode: 1 });
    await session.translateBrowsePath(makeBrowsePath("ns=0;i=85", "/1:Korvane&.Modbus_OPC_Server"));
    await session.read(objects.references.map((r) => ({ nodeId: r.nodeId, attributeId: AttributeIds.BrowseName })));
    await session.read([1, 2, 3, 4, 13, 14, 15, 17].map((a) => ({ nodeId: "ns=1;s=PLC1.NODE1.1.0001", attributeId: a })));
    await session.read({ nodeId: "ns=0;i=2256", attributeId: 13 });
    await session.write({ nodeId: "ns=1;s=PLC1.NODE1.1.0001", attributeId: 13, value: { value: { dataType: DataType.Double, value: 2 } } });
    await session.write({ nodeId: "ns=1;s=PLC1.NODE1.1.0001", attributeId: 13, value: { value: { dataType: DataType.String, value: "7" } } });
    await session.registerNodes(["ns=1;s=PLC1.NODE1.1.0001"]);
    await session.unregisterNodes(["ns=1;s=PLC1.NODE1.1.0001"]);
  } else {
    const sub = ClientSubscription.create(session, { requestedPublishingInterval: 50, publishingEnabled: true });
    await new Promise((r) => sub.on("started", r));
    const item = ClientMonitoredItem.create(sub, { nodeId: "ns=1;s=PLC1.NODE1.4.0007", attributeId: 13 },
      { samplingInterval: 0, queueSize: 5, filter: null }, TimestampsToReturn.Both);
    await new Promise((r) => item.on("changed", r));
    await item.modify({ samplingInterval: 500, queueSize: 2 });
    await item.setMonitoringMode(1);
    await sub.modify({ requestedPublishingInterval: 100 });
    await sub.setPublishingMode(false);
    await new Promise((r) => setTimeout(r, 300));
    await item.terminate();
    await sub.terminate();
  }
  await session.close();
}
await client.disconnect();
