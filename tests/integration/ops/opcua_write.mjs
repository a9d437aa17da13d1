// Writes one tag through the node-opcua client that the OPC UA tests' folder
// pins, as an Int32. Prints "RESULT <status name>".
// Usage: node opcua_write.mjs <folder holding node_modules> <endpoint URL> TAG VALUE
import { createRequire } from "node:module";
import path from "node:path";

const [modules, url, tag, value] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(modules), "package.json"));
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds, DataType } =
  require("node-opcua-client");

const client = OPCUAClient.create({
  securityMode: MessageSecurityMode.None,
  securityPolicy: SecurityPolicy.None,
  endpointMustExist: false,
  connectionStrategy: { maxRetry: 0 },
  keepSessionAlive: false,
});
await client.connect(url);
const session = await client.createSession();
const status = await session.write({
  nodeId: `ns=1;s=${tag}`,
  attributeId: AttributeIds.Value,
  value: { value: { dataType: DataType.Int32, value: Number(value) } },
});
await session.close();
await client.disconnect();
console.log("RESULT " + status.name);
