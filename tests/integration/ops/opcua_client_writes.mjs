// Client writes as the client-write tests need them, with the node-opcua client
// that the OPC UA tests' folder pins. Prints "RESULT <json>".
// Usage: node opcua_client_writes.mjs <node_modules folder> <endpoint URL> writes '<json>'
//          each element one Write request: a list of [tag, "Int32" | "String", value];
//          the result is each request's list of status names.
//        node opcua_client_writes.mjs <node_modules folder> <endpoint URL> beside WATCHED WRITTEN
//          one client subscribes to WATCHED while another writes WRITTEN and, with
//          the write out, reads WATCHED; the result tells what each saw meanwhile.
import { nodeOpcua, withSession } from "./opcua_session.mjs";

const [modules, url, mode, ...rest] = process.argv.slice(2);
const opcua = nodeOpcua(modules);
const { AttributeIds, DataType, ClientSubscription, TimestampsToReturn } = opcua;

function writeValue([tag, type, value]) {
  return {
    nodeId: `ns=1;s=${tag}`,
    attributeId: AttributeIds.Value,
    value: { value: { dataType: DataType[type], value } },
  };
}

async function writes(requests) {
  return withSession(modules, url, async (session) => {
    const out = [];
    for (const request of requests) {
      const statuses = await session.write(request.map(writeValue));
      out.push(statuses.map((s) => s.name));
    }
    return out;
  });
}

// Every publish the watcher gets, keep-alive or data, counts as a sign of life.
async function beside(watched, written) {
  return withSession(modules, url, async (watcher) => {
    const subscription = ClientSubscription.create(watcher, {
      requestedPublishingInterval: 100,
      requestedMaxKeepAliveCount: 2,
      requestedLifetimeCount: 100,
      publishingEnabled: true,
    });
    await new Promise((resolve) => subscription.once("started", resolve));
    await subscription.monitor(
      { nodeId: `ns=1;s=${watched}`, attributeId: AttributeIds.Value },
      { samplingInterval: 100, queueSize: 1 },
      TimestampsToReturn.Both);
    let publishes = 0;
    const count = () => { publishes += 1; };
    subscription.on("keepalive", count);
    subscription.on("received_notifications", count);
    const result = await withSession(modules, url, async (writer) => {
      let writeDone = false;
      const write = writer.write(writeValue([written, "Int32", 5])).then((s) => {
        writeDone = true;
        return s.name;
      });
      const read = await writer.read({ nodeId: `ns=1;s=${watched}`,
                                       attributeId: AttributeIds.Value });
      const readBeforeWrite = !writeDone && read.statusCode.name !== undefined;
      const before = publishes;
      const status = await write;
      return { status, readBeforeWrite, publishesDuringWrite: publishes - before };
    });
    await subscription.terminate();
    return result;
  });
}

const result = mode === "writes" ? await writes(JSON.parse(rest[0]))
                                 : await beside(rest[0], rest[1]);
console.log("RESULT " + JSON.stringify(result));
