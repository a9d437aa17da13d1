// Reads tags from an OPC UA endpoint with the node-opcua client, which the
// OPC UA tests' folder pins. Prints one line:
// RESULT {"TAG": {"value": v, "status": "Good", "source": "ISO time or null"}, ...}
// Usage: node opcua_read.mjs <folder holding node_modules> <endpoint URL> TAG...
import { nodeOpcua, withSession } from "./opcua_session.mjs";

const [modules, url, ...tags] = process.argv.slice(2);
const { AttributeIds } = nodeOpcua(modules);
const values = await withSession(modules, url, (session) =>
  session.read(tags.map((tag) => ({ nodeId: `ns=1;s=${tag}`, attributeId: AttributeIds.Value }))));
const result = {};
tags.forEach((tag, i) => {
  const source = values[i].sourceTimestamp;
  result[tag] = {
    value: values[i].value.value,
    status: values[i].statusCode.name,
    source: source ? source.toISOString() : null,
  };
});
console.log("RESULT " + JSON.stringify(result));
