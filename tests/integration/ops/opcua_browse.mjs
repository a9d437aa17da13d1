// Browses nodes of an OPC UA endpoint forward along hierarchical references
// with the node-opcua client, which the OPC UA tests' folder pins. Prints one line:
// RESULT {"NODE": [{"name": n, "id": "ns=1;s=...", "reference": "Organizes", "class": "Object"}, ...], ...}
// Usage: node opcua_browse.mjs <folder holding node_modules> <endpoint URL> NODEID...
import { nodeOpcua, withSession } from "./opcua_session.mjs";

const [modules, url, ...nodes] = process.argv.slice(2);
const { NodeClass, BrowseDirection } = nodeOpcua(modules);
const results = await withSession(modules, url, (session) =>
  session.browse(nodes.map((nodeId) => ({
    nodeId,
    browseDirection: BrowseDirection.Forward,
    referenceTypeId: "HierarchicalReferences",
    includeSubtypes: true,
    resultMask: 63,
  }))));
const names = { "ns=0;i=35": "Organizes", "ns=0;i=47": "HasComponent" };
const result = {};
nodes.forEach((node, i) => {
  result[node] = results[i].references.map((r) => ({
    name: r.browseName.name,
    id: r.nodeId.toString(),
    reference: names[r.referenceTypeId.toString()] ?? r.referenceTypeId.toString(),
    class: NodeClass[r.nodeClass],
  }));
});
console.log("RESULT " + JSON.stringify(result));
