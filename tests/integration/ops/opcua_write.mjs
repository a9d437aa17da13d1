// Writes one tag as an Int32 with the node-opcua client that the OPC UA tests'
// folder pins. Prints "RESULT <status name>".
// Usage: node opcua_write.mjs <folder holding node_modules> <endpoint URL> TAG VALUE
import { nodeOpcua, withSession } from "./opcua_session.mjs";

const [modules, url, tag, value] = process.argv.slice(2);
const { AttributeIds, DataType } = nodeOpcua(modules);
const status = await withSession(modules, url, (session) =>
  session.write({
    nodeId: `ns=1;s=${tag}`,
    attributeId: AttributeIds.Value,
    value: { value: { dataType: DataType.Int32, value: Number(value) } },
  }));
console.log("RESULT " + status.name);
