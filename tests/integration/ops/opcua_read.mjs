// Reads tags from an OPC UA endpoint with the node-opcua client, which the
// OPC UA tests' folder pins. Prints one line:
// RESULT {"TAG": {"value": v, "status": "Good"}, ...}
// Usage: node opcua_read.mjs <folder holding node_modules> <endpoint URL> TAG...
import { createRequire } from "node:module";
import path from "node:path";

const [modules, url, ...tags] = process.argv.slice(2);
const require = createRequire(path.join(path.resolve(modules), "package.json"));
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, AttributeIds } =
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
const values = await session.read(
  tags.map((tag) => ({ nodeId: `ns=1;s=${tag}`, attributeId: AttributeIds.Value })));
const result = {};
tags.forEach((tag, i) => {
  result[tag] = { value: values[i].value.value, status: values[i].statusCode.name };
});
await session.close();
await client.disconnect();
console.log("RESULT " + JSON.stringify(result));
