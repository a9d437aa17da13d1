// Reads the given OPC UA variables in one Read request, again and again over
// one session, and prints the milliseconds a read took on average.
// Usage: node diag_read.mjs <folder holding node_modules> <endpoint URL> <reads> <file of names>
import { readFileSync } from "node:fs";
import { nodeOpcua, withSession } from "../../tests/integration/ops/opcua_session.mjs";

const [modules, url, reads, namesFile] = process.argv.slice(2);
const { AttributeIds } = nodeOpcua(modules);
const names = readFileSync(namesFile, "utf8").split("\n").filter((n) => n);
const nodes = names.map((n) => ({ nodeId: `ns=1;s=${n}`, attributeId: AttributeIds.Value }));
await withSession(modules, url, async (session) => {
  const first = await session.read(nodes);
  const good = first.filter((v) => v.statusCode.name === "Good").length;
  const start = process.hrtime.bigint();
  for (let i = 0; i < Number(reads); ++i) await session.read(nodes);
  const ms = Number(process.hrtime.bigint() - start) / 1e6 / Number(reads);
  console.log(`RESULT ${JSON.stringify({ ms, variables: nodes.length, good })}`);
});
