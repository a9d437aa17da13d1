// Finds a device's tags by browsing names only (Objects, the tag folder, the
// endpoint's folder, the device's folder) with the node-opcua client that the OPC UA
// tests' folder pins, then reads or writes them. 64-bit integers travel as
// decimal text. Prints "RESULT <json>".
// Usage: node opcua_map.mjs <node_modules folder> <endpoint URL> <endpoint> <device> read
//          each tag's {"value", "type", "status", "units", "range", "description"}
//        node opcua_map.mjs ... <endpoint> <device> write '<json>'
//          a list of [tag name, data type name, value]; the list of status names
import { nodeOpcua, withSession } from "./opcua_session.mjs";

const [modules, url, endpoint, device, mode, ...rest] = process.argv.slice(2);
const { AttributeIds, BrowseDirection, DataType, VariantArrayType } = nodeOpcua(modules);
const WIDE = new Set([DataType.Int64, DataType.UInt64]);
const OBJECTS = "ns=0;i=85";

async function children(session, nodeId, referenceTypeId = "HierarchicalReferences") {
  const result = await session.browse({
    nodeId,
    browseDirection: BrowseDirection.Forward,
    referenceTypeId,
    includeSubtypes: true,
    resultMask: 63,
  });
  return Object.fromEntries(result.references.map((r) => [r.browseName.name, r.nodeId.toString()]));
}

// Objects, the server's tag folder (whatever its name), the endpoint, the device.
async function tagsOf(session) {
  let endpointId;
  for (const folder of Object.values(await children(session, OBJECTS))) {
    if (folder.startsWith("ns=1;")) endpointId ??= (await children(session, folder))[endpoint];
  }
  if (!endpointId) throw new Error(`no folder ${endpoint} in a tag folder under Objects`);
  const deviceId = (await children(session, endpointId))[device];
  if (!deviceId) throw new Error(`no folder ${device} under ${endpoint}`);
  return children(session, deviceId, "HasComponent");
}

function fromWire(variant) {
  if (!WIDE.has(variant.dataType)) return variant.value;
  const [high, low] = variant.value;
  const bits = (BigInt(high >>> 0) << 32n) | BigInt(low >>> 0);
  return (variant.dataType === DataType.Int64 ? BigInt.asIntN(64, bits) : bits).toString();
}

function toWire(type, value) {
  if (type === "Float" || type === "Double") return Number(value);
  if (!WIDE.has(DataType[type])) return value;
  const bits = BigInt.asUintN(64, BigInt(value));
  return [Number(bits >> 32n), Number(bits & 0xffffffffn)];
}

async function readOne(session, nodeId) {
  const [value, description] = await session.read([
    { nodeId, attributeId: AttributeIds.Value },
    { nodeId, attributeId: AttributeIds.Description },
  ]);
  const properties = await children(session, nodeId, "HasProperty");
  const units = properties.EngineeringUnits
    ? (await session.read({ nodeId: properties.EngineeringUnits, attributeId: AttributeIds.Value }))
        .value.value
    : null;
  const range = properties.EURange
    ? (await session.read({ nodeId: properties.EURange, attributeId: AttributeIds.Value })).value
        .value
    : null;
  return {
    id: nodeId,
    value: fromWire(value.value),
    type: DataType[value.value.dataType],
    status: value.statusCode.name,
    description: description.value.value?.text ?? null,
    units: units?.displayName?.text ?? null,
    range: range ? [range.low, range.high] : null,
  };
}

const result = await withSession(modules, url, async (session) => {
  const tags = await tagsOf(session);
  if (mode === "read") {
    const out = {};
    for (const [name, nodeId] of Object.entries(tags)) out[name] = await readOne(session, nodeId);
    return out;
  }
  const statuses = await session.write(JSON.parse(rest[0]).map(([name, type, value]) => ({
    nodeId: tags[name],
    attributeId: AttributeIds.Value,
    value: { value: { dataType: DataType[type], arrayType: VariantArrayType.Scalar, value: toWire(type, value) } },
  })));
  return statuses.map((s) => s.name);
});
console.log("RESULT " + JSON.stringify(result));
