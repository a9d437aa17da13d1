// Reads and writes tags with their OPC UA data types, with the node-opcua
// client that the OPC UA tests' folder pins. 64-bit integers travel as decimal
// text, so that no digit is lost to a JavaScript number. Prints "RESULT <json>".
// Usage: node opcua_typed.mjs <node_modules folder> <endpoint URL> read TAG...
//          each tag's {"value", "type" (the data type's name), "status"}
//        node opcua_typed.mjs <node_modules folder> <endpoint URL> write '<json>'
//          a list of [tag, data type name, value]; the list of status names
import { nodeOpcua, withSession } from "./opcua_session.mjs";

const [modules, url, mode, ...rest] = process.argv.slice(2);
const { AttributeIds, DataType, VariantArrayType } = nodeOpcua(modules);
const WIDE = new Set([DataType.Int64, DataType.UInt64]);

function fromWire(variant) {
  if (!WIDE.has(variant.dataType)) return variant.value;
  const [high, low] = variant.value;
  const bits = (BigInt(high >>> 0) << 32n) | BigInt(low >>> 0);
  return (variant.dataType === DataType.Int64 ? BigInt.asIntN(64, bits) : bits).toString();
}

// Numbers JSON cannot carry (NaN) come as text.
function toWire(type, value) {
  if (type === "Float" || type === "Double") return Number(value);
  if (!WIDE.has(DataType[type])) return value;
  const bits = BigInt.asUintN(64, BigInt(value));
  return [Number(bits >> 32n), Number(bits & 0xffffffffn)];
}

async function read(tags) {
  const values = await withSession(modules, url, (session) =>
    session.read(tags.map((tag) => ({ nodeId: `ns=1;s=${tag}`, attributeId: AttributeIds.Value }))));
  const result = {};
  tags.forEach((tag, i) => {
    const variant = values[i].value;
    result[tag] = {
      value: fromWire(variant),
      type: DataType[variant.dataType],
      status: values[i].statusCode.name,
    };
  });
  return result;
}

async function write(requests) {
  const statuses = await withSession(modules, url, (session) =>
    session.write(requests.map(([tag, type, value]) => ({
      nodeId: `ns=1;s=${tag}`,
      attributeId: AttributeIds.Value,
      value: {
        value: {
          dataType: DataType[type],
          arrayType: VariantArrayType.Scalar,
          value: toWire(type, value),
        },
      },
    }))));
  return statuses.map((s) => s.name);
}

const result = mode === "read" ? await read(rest) : await write(JSON.parse(rest[0]));
console.log("RESULT " + JSON.stringify(result));
