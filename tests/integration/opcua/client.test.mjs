// The tag-server library as node-opcua's client sees it.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import {
  OPCUAClient,
  MessageSecurityMode,
  SecurityPolicy,
  AttributeIds,
  StatusCodes,
  DataType,
  BrowseDirection,
  ClientSubscription,
  ClientMonitoredItem,
  TimestampsToReturn,
  makeBrowsePath,
  NodeClass,
} from "node-opcua-client";
import { Socket } from "node:net";
import { mkdtempSync, rmSync } from "node:fs";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { TestHost } from "./host.mjs";

const FOLDER = "Korvane.Modbus_OPC_Server";
let host;
let configDir;
const tags = {};

function newClient() {
  return OPCUAClient.create({
    securityMode: MessageSecurityMode.None,
    securityPolicy: SecurityPolicy.None,
    endpointMustExist: false,
    connectionStrategy: { maxRetry: 0 },
    keepSessionAlive: false,
  });
}

async function withSession(fn) {
  const client = newClient();
  await client.connect(host.url);
  try {
    const session = await client.createSession();
    try {
      return await fn(session, client);
    } finally {
      await session.close();
    }
  } finally {
    await client.disconnect();
  }
}

function waitFor(check, timeoutMs, what) {
  return new Promise((resolve, reject) => {
    const start = Date.now();
    const poll = () => {
      const got = check();
      if (got) return resolve(got);
      if (Date.now() - start > timeoutMs) return reject(new Error(`timed out waiting for ${what}`));
      setTimeout(poll, 20);
    };
    poll();
  });
}

before(async () => {
  // The server keeps its certificate there, never in the home directory.
  configDir = mkdtempSync(join(tmpdir(), "pelmoran-opcua-"));
  host = await TestHost.start({ PELMORAN_CONFIG_DIR: configDir });
  tags.coil = await host.create("PLC1.NODE1.1.0001", true, 192, 1);
  tags.input = await host.create("PLC1.NODE1.4.0007", false, 192, 12.5);
  tags.fresh = await host.create("PLC1.NODE2.3.0100", true, 0);
});

after(async () => {
  await host?.stop();
  rmSync(configDir, { recursive: true, force: true });
});

test("GetEndpoints offers SecurityPolicy None with anonymous and user name tokens", async () => {
  const client = newClient();
  await client.connect(host.url);
  try {
    const endpoints = await client.getEndpoints();
    const ep = endpoints.find((e) => e.securityPolicyUri === SecurityPolicy.None);
    assert.equal(ep.endpointUrl, host.url);
    assert.equal(ep.securityMode, MessageSecurityMode.None);
    assert.deepEqual(ep.userIdentityTokens.map((t) => t.tokenType), [0, 1]);
    const servers = await client.findServers();
    assert.equal(servers.length, 1);
    assert.equal(servers[0].applicationUri, "urn:pelmoran:" + FOLDER);
  } finally {
    await client.disconnect();
  }
});

test("browsing from Objects reaches the tags under the ProgID folder", async () => {
  await withSession(async (session) => {
    const objects = await session.browse("ns=0;i=85");
    assert.equal(objects.statusCode, StatusCodes.Good);
    const names = objects.references.map((r) => r.browseName.name);
    assert.ok(names.includes("Server"), names.join(","));
    const folder = objects.references.find((r) => r.browseName.name === FOLDER);
    assert.ok(folder, "folder of the ProgID");
    assert.equal(folder.nodeClass, NodeClass.Object);
    assert.equal(folder.typeDefinition.toString(), "ns=0;i=61");
    const inside = await session.browse(folder.nodeId.toString());
    const tagNames = inside.references.map((r) => r.browseName.name).sort();
    assert.deepEqual(tagNames, ["PLC1.NODE1.1.0001", "PLC1.NODE1.4.0007", "PLC1.NODE2.3.0100"]);
    for (const r of inside.references) {
      assert.equal(r.nodeId.toString(), `ns=1;s=${r.browseName.name}`);
      assert.equal(r.nodeClass, NodeClass.Variable);
      assert.equal(r.referenceTypeId.toString(), "ns=0;i=35");
    }
    const back = await session.browse({ nodeId: "ns=1;s=PLC1.NODE1.1.0001", browseDirection: BrowseDirection.Inverse, resultMask: 63 });
    assert.deepEqual(back.references.map((r) => r.nodeId.toString()), [folder.nodeId.toString()]);
    // "." is a reference-type token in the path syntax and must be escaped.
    const escape = (name) => name.replaceAll(".", "&.");
    const paths = await session.translateBrowsePath(
      makeBrowsePath("ns=0;i=85", `/1:${escape(FOLDER)}/1:${escape("PLC1.NODE1.4.0007")}`),
    );
    assert.equal(paths.statusCode, StatusCodes.Good);
    assert.equal(paths.targets[0].targetId.toString(), "ns=1;s=PLC1.NODE1.4.0007");
  });
});

test("a tag reads as Float with its value, access level and names", async () => {
  await withSession(async (session) => {
    const node = "ns=1;s=PLC1.NODE1.4.0007";
    const read = (attributeId) => session.read({ nodeId: node, attributeId });
    const value = await read(AttributeIds.Value);
    assert.equal(value.statusCode, StatusCodes.Good);
    assert.equal(value.value.dataType, DataType.Float);
    assert.equal(value.value.value, 12.5);
    assert.ok(value.sourceTimestamp instanceof Date);
    assert.equal((await read(AttributeIds.DataType)).value.value.toString(), "ns=0;i=10");
    assert.equal((await read(AttributeIds.AccessLevel)).value.value, 1);
    assert.equal((await read(AttributeIds.BrowseName)).value.value.name, "PLC1.NODE1.4.0007");
    assert.equal((await read(AttributeIds.BrowseName)).value.value.namespaceIndex, 1);
    assert.equal((await read(AttributeIds.DisplayName)).value.value.text, "PLC1.NODE1.4.0007");
    assert.equal((await read(AttributeIds.IsAbstract)).statusCode, StatusCodes.BadAttributeIdInvalid);
    const coilAccess = await session.read({ nodeId: "ns=1;s=PLC1.NODE1.1.0001", attributeId: AttributeIds.AccessLevel });
    assert.equal(coilAccess.value.value, 3);
    const missing = await session.read({ nodeId: "ns=1;s=NO.SUCH.TAG", attributeId: AttributeIds.Value });
    assert.equal(missing.statusCode, StatusCodes.BadNodeIdUnknown);
  });
});

test("a new tag reads Bad without a value until its first update", async () => {
  await withSession(async (session) => {
    const node = "ns=1;s=PLC1.NODE2.3.0100";
    const before = await session.read({ nodeId: node, attributeId: AttributeIds.Value });
    assert.ok(before.statusCode.isBad(), before.statusCode.toString());
    assert.equal(before.value.dataType, DataType.Null);
    await host.update(tags.fresh, 7.25, 192);
    const after = await session.read({ nodeId: node, attributeId: AttributeIds.Value });
    assert.equal(after.statusCode, StatusCodes.Good);
    assert.equal(after.value.value, 7.25);
  });
});

test("the server status and namespace array read as clients expect", async () => {
  await withSession(async (session) => {
    const ns = await session.read({ nodeId: "ns=0;i=2255", attributeId: AttributeIds.Value });
    assert.equal(ns.value.value[0], "http://opcfoundation.org/UA/");
    assert.equal(ns.value.value.length, 2);
    const state = await session.read({ nodeId: "ns=0;i=2259", attributeId: AttributeIds.Value });
    assert.equal(state.value.value, 0);
    const status = await session.read({ nodeId: "ns=0;i=2256", attributeId: AttributeIds.Value });
    assert.equal(status.statusCode, StatusCodes.Good);
    assert.equal(status.value.value.buildInfo.manufacturerName, "Korvane Software");
    assert.ok(status.value.value.currentTime instanceof Date);
  });
});

test("a monitored item sees UpdateOPCTag, then Bad after quality 0", async () => {
  await withSession(async (session) => {
    const sub = ClientSubscription.create(session, {
      requestedPublishingInterval: 100,
      requestedMaxKeepAliveCount: 10,
      requestedLifetimeCount: 100,
      publishingEnabled: true,
    });
    await new Promise((resolve) => sub.on("started", resolve));
    const seen = [];
    const item = ClientMonitoredItem.create(
      sub,
      { nodeId: "ns=1;s=PLC1.NODE1.4.0007", attributeId: AttributeIds.Value },
      { samplingInterval: 0, queueSize: 10, discardOldest: true },
      TimestampsToReturn.Both,
    );
    item.on("changed", (dv) => seen.push(dv));
    await waitFor(() => seen.length >= 1, 10000, "initial value");
    await host.update(tags.input, 42.5, 192);
    await waitFor(() => seen.find((dv) => dv.value.value === 42.5), 10000, "update 42.5");
    await host.update(tags.input, 42.5, 0);
    const bad = await waitFor(() => seen.find((dv) => dv.statusCode.isBad()), 10000, "bad status");
    assert.equal(bad.value.value, 42.5);
    await sub.terminate();
  });
});

test("a client write reaches the write callback with the written value", async () => {
  await withSession(async (session) => {
    const status = await session.write({
      nodeId: "ns=1;s=PLC1.NODE1.1.0001",
      attributeId: AttributeIds.Value,
      value: { value: { dataType: DataType.Double, value: 1.5 } },
    });
    assert.equal(status, StatusCodes.Good);
    const write = await host.nextWrite();
    assert.deepEqual(write, { handle: tags.coil, vt: 5, value: "1.5" });
    const text = await session.write({
      nodeId: "ns=1;s=PLC1.NODE1.1.0001",
      attributeId: AttributeIds.Value,
      value: { value: { dataType: DataType.String, value: "12" } },
    });
    assert.equal(text, StatusCodes.Good);
    assert.deepEqual(await host.nextWrite(), { handle: tags.coil, vt: 8, value: "12" });
  });
});

test("writes that cannot be taken get the matching Bad code and reach nobody", async () => {
  await withSession(async (session) => {
    const write = (nodeId, attributeId, variant) => session.write({ nodeId, attributeId, value: { value: variant } });
    const float = { dataType: DataType.Float, value: 3 };
    assert.equal(await write("ns=1;s=PLC1.NODE1.4.0007", AttributeIds.Value, float), StatusCodes.BadNotWritable);
    assert.equal(await write("ns=1;s=NO.SUCH.TAG", AttributeIds.Value, float), StatusCodes.BadNodeIdUnknown);
    assert.equal(
      await write("ns=1;s=PLC1.NODE1.1.0001", AttributeIds.DisplayName, { dataType: DataType.LocalizedText, value: { text: "x" } }),
      StatusCodes.BadNotWritable,
    );
    assert.equal(
      await write("ns=1;s=PLC1.NODE1.1.0001", AttributeIds.Value, { dataType: DataType.Float, arrayType: 1, value: [1, 2] }),
      StatusCodes.BadTypeMismatch,
    );
    assert.equal(await write("ns=0;i=2259", AttributeIds.Value, { dataType: DataType.Int32, value: 1 }), StatusCodes.BadNotWritable);
    await new Promise((r) => setTimeout(r, 200));
    assert.equal(host.pendingWrites(), 0);
  });
});

test("several clients at once each browse, read and subscribe", async () => {
  const clients = Array.from({ length: 5 }, (_, i) => i);
  // Keeps publishing the value every client waits for until all have seen it.
  const updater = setInterval(() => host.update(tags.coil, 99, 192), 300);
  const names = await Promise.all(
    clients.map(() =>
      withSession(async (session) => {
        const dv = await session.read({ nodeId: "ns=1;s=PLC1.NODE1.1.0001", attributeId: AttributeIds.BrowseName });
        const sub = ClientSubscription.create(session, { requestedPublishingInterval: 100, publishingEnabled: true });
        await new Promise((resolve) => sub.on("started", resolve));
        const seen = [];
        const item = ClientMonitoredItem.create(
          sub,
          { nodeId: "ns=1;s=PLC1.NODE1.1.0001", attributeId: AttributeIds.Value },
          { samplingInterval: 250, queueSize: 1 },
        );
        item.on("changed", (v) => seen.push(v.value.value));
        await waitFor(() => seen.length >= 1, 10000, "initial value");
        await waitFor(() => seen.includes(99), 10000, "shared update");
        await sub.terminate();
        return dv.value.value.name;
      }),
    ),
  ).finally(() => clearInterval(updater));
  assert.deepEqual(names, Array(5).fill("PLC1.NODE1.1.0001"));
}, { timeout: 60000 });

test("two tags of one name share a node and a write goes once to the first writable", async () => {
  const readOnly = await host.create("PLC9.SHARED", false, 192, 1);
  const first = await host.create("PLC9.SHARED", true, 192, 2);
  const second = await host.create("PLC9.SHARED", true, 192, 3);
  await withSession(async (session) => {
    const node = "ns=1;s=PLC9.SHARED";
    assert.equal((await session.read({ nodeId: node, attributeId: AttributeIds.Value })).value.value, 3);
    await host.update(readOnly, 4, 192);
    assert.equal((await session.read({ nodeId: node, attributeId: AttributeIds.Value })).value.value, 4);
    const write = () =>
      session.write({ nodeId: node, attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Float, value: 6 } } });
    assert.equal(await write(), StatusCodes.Good);
    assert.equal((await host.nextWrite()).handle, first);
    await host.remove(first);
    assert.equal(await write(), StatusCodes.Good);
    assert.equal((await host.nextWrite()).handle, second);
    await host.remove(second);
    assert.equal(await write(), StatusCodes.BadNotWritable);
    await host.remove(readOnly);
    const gone = await session.read({ nodeId: node, attributeId: AttributeIds.Value });
    assert.equal(gone.statusCode, StatusCodes.BadNodeIdUnknown);
    assert.equal(host.pendingWrites(), 0);
  });
});

test("garbage on one connection closes it with an Error and spares the others", async () => {
  await withSession(async (session) => {
    const [hostName, port] = host.url.replace("opc.tcp://", "").split(":");
    const reply = await new Promise((resolve, reject) => {
      const socket = new Socket();
      const chunks = [];
      socket.on("data", (d) => chunks.push(d));
      socket.on("close", () => resolve(Buffer.concat(chunks)));
      socket.on("error", reject);
      socket.connect(Number(port), hostName, () => {
        socket.write(Buffer.from("HELF\xff\xff\xff\x7fgarbage", "latin1"));
      });
    });
    assert.equal(reply.subarray(0, 4).toString("latin1"), "ERRF");
    assert.equal(reply.readUInt32LE(8), StatusCodes.BadTcpMessageTooLarge.value);
    const dv = await session.read({ nodeId: "ns=1;s=PLC1.NODE1.4.0007", attributeId: AttributeIds.BrowseName });
    assert.equal(dv.statusCode, StatusCodes.Good);
  });
});

test("program folders beside the tags are browsed, read and watched as a tree", async () => {
  const handle = (line) => Number(line.split(" ")[1]);
  const top = handle(await host.command("folder 0 Diagnostics"));
  // A name with a dot still makes one folder; only the id joins with dots.
  const endpoint = handle(await host.command(`folder ${top} PLC.1`));
  const slave = handle(await host.command(`folder ${endpoint} NODE4`));
  const scan = handle(await host.command(`folder ${endpoint} Scan2`));
  const timeouts = handle(await host.command(`ftag ${slave} Timeouts u 3`));
  await host.command(`ftag ${scan} LastGoodTime d 1700000000123`);
  await host.command(`ftag ${scan} StatusText s OK`);
  assert.equal(handle(await host.command(`folder ${endpoint} NODE4`)), -1, "one folder per id");
  const slaveId = "ns=1;s=Diagnostics.PLC.1.NODE4";
  const timeoutsId = `${slaveId}.Timeouts`;
  await withSession(async (session) => {
    const all = { referenceTypeId: "HierarchicalReferences", includeSubtypes: true, resultMask: 63 };
    const inTags = await session.browse({ nodeId: "ns=1;i=1", ...all });
    const folder = inTags.references.find((r) => r.browseName.name === "Diagnostics");
    assert.ok(folder, "Diagnostics beside the tags");
    assert.equal(folder.nodeId.toString(), "ns=1;s=Diagnostics");
    assert.equal(folder.nodeClass, NodeClass.Object);
    assert.equal(folder.typeDefinition.toString(), "ns=0;i=61");
    assert.equal(folder.referenceTypeId.toString(), "ns=0;i=35");
    assert.ok(!inTags.references.some((r) => r.browseName.name.includes("Timeouts")));
    const level = async (nodeId) => (await session.browse({ nodeId, ...all })).references;
    const endpoints = await level("ns=1;s=Diagnostics");
    assert.deepEqual(endpoints.map((r) => [r.browseName.name, r.nodeId.toString()]),
      [["PLC.1", "ns=1;s=Diagnostics.PLC.1"]]);
    const children = await level("ns=1;s=Diagnostics.PLC.1");
    assert.deepEqual(children.map((r) => r.browseName.name), ["NODE4", "Scan2"]);
    assert.ok(children.every((r) => r.referenceTypeId.toString() === "ns=0;i=35"));
    const variables = await level("ns=1;s=Diagnostics.PLC.1.Scan2");
    assert.deepEqual(variables.map((r) => r.browseName.name).sort(), ["LastGoodTime", "StatusText"]);
    for (const r of variables) {
      assert.equal(r.referenceTypeId.toString(), "ns=0;i=47", "a component of its folder");
      assert.equal(r.nodeClass, NodeClass.Variable);
    }
    const up = await session.browse({ nodeId: timeoutsId, browseDirection: BrowseDirection.Inverse, resultMask: 63 });
    assert.deepEqual(up.references.map((r) => [r.nodeId.toString(), r.referenceTypeId.toString()]),
      [[slaveId, "ns=0;i=47"]]);
    const escape = (name) => name.replaceAll(".", "&.");
    const path = await session.translateBrowsePath(
      makeBrowsePath("ns=0;i=85", `/1:${escape(FOLDER)}/1:Diagnostics/1:${escape("PLC.1")}/1:NODE4/1:Timeouts`),
    );
    assert.equal(path.targets[0].targetId.toString(), timeoutsId);

    const read = (nodeId, attributeId = AttributeIds.Value) => session.read({ nodeId, attributeId });
    const count = await read(timeoutsId);
    assert.equal(count.value.dataType, DataType.UInt32);
    assert.equal(count.value.value, 3);
    assert.equal((await read(timeoutsId, AttributeIds.AccessLevel)).value.value, 1);
    assert.equal((await read(timeoutsId, AttributeIds.BrowseName)).value.value.name, "Timeouts");
    const when = await read("ns=1;s=Diagnostics.PLC.1.Scan2.LastGoodTime");
    assert.equal(when.value.dataType, DataType.DateTime);
    assert.equal(when.value.value.getTime(), 1700000000123);
    assert.equal((await read(slaveId, AttributeIds.EventNotifier)).statusCode, StatusCodes.Good);
    const written = await session.write({ nodeId: timeoutsId, attributeId: AttributeIds.Value,
      value: { value: { dataType: DataType.UInt32, value: 0 } } });
    assert.equal(written, StatusCodes.BadNotWritable);

    const sub = ClientSubscription.create(session, {
      requestedPublishingInterval: 100, requestedMaxKeepAliveCount: 10, requestedLifetimeCount: 100,
      publishingEnabled: true,
    });
    await new Promise((resolve) => sub.on("started", resolve));
    const seen = [];
    const item = ClientMonitoredItem.create(sub, { nodeId: timeoutsId, attributeId: AttributeIds.Value },
      { samplingInterval: 0, queueSize: 10, discardOldest: true }, TimestampsToReturn.Both);
    item.on("changed", (dv) => seen.push(dv));
    await waitFor(() => seen.length >= 1, 10000, "the first value");
    await host.command(`set ${timeouts} u 4`);
    await waitFor(() => seen.find((dv) => dv.value.value === 4), 10000, "the count of 4");

    assert.equal(await host.command(`rmfolder ${top}`), "ok 0");
    const gone = await waitFor(() => seen.find((dv) => dv.statusCode.isBad()), 10000, "the removal");
    assert.equal(gone.statusCode, StatusCodes.BadNodeIdUnknown);
    await sub.terminate();
    const after = await session.browse({ nodeId: "ns=1;i=1", ...all });
    assert.ok(!after.references.some((r) => r.browseName.name === "Diagnostics"));
    assert.equal((await read(slaveId, AttributeIds.NodeClass)).statusCode, StatusCodes.BadNodeIdUnknown);
    assert.equal((await read(timeoutsId)).statusCode, StatusCodes.BadNodeIdUnknown);
  });
  assert.equal(await host.command(`set ${timeouts} u 5`), "ok -1", "its handle went with its folder");
});

test("a map tag's description, units and range read as an analog item's properties", async () => {
  const handle = (line) => Number(line.split(" ")[1]);
  const meter = handle(await host.command("folder 0 Meter"));
  // units "-" is none, low "-" no range; the earlier properties of a row
  // are replaced by its later ones.
  const rows = [
    { name: "PhaseAVoltage", set: ["V 0 300 Phase A voltage"], type: "ns=0;i=2368",
      units: { unitId: 5655636, displayName: "V", description: "volt" }, range: [0, 300] },
    { name: "Energy", set: ["kWh - - Active energy, import"], type: "ns=0;i=15318",
      units: { unitId: 4937544, displayName: "kWh", description: "kilowatt hour" } },
    { name: "Flow", set: ["furlong/fortnight -5.5 5.5 Odd units"], type: "ns=0;i=2368",
      units: { unitId: -1, displayName: "furlong/fortnight", description: "furlong/fortnight" },
      range: [-5.5, 5.5] },
    { name: "Current", set: ["A 0 10 Phase A current", "- - - Current, now plain"], type: "ns=0;i=63" },
    { name: "Firmware", kind: "s", set: ["% 0 100 Firmware text"], type: "ns=0;i=63",
      units: { unitId: 20529, displayName: "%", description: "percent" }, range: [0, 100] },
  ];
  for (const row of rows) {
    row.handle = handle(await host.command(`ftag ${meter} ${row.name} ${row.kind ?? "u"} 1`));
    for (const set of row.set) assert.equal(await host.command(`props ${row.handle} ${set}`), "ok 0");
    row.description = row.set.at(-1).split(" ").slice(3).join(" ");
  }
  assert.equal(await host.command("props 99999 V 0 1 none"), "ok -1", "an unknown tag");
  assert.equal(await host.command(`props ${rows[0].handle} V nan 1 none`), "ok -1", "and changes nothing");
  await withSession(async (session) => {
    const inMeter = await session.browse({ nodeId: "ns=1;s=Meter", referenceTypeId: "HasComponent", resultMask: 63 });
    assert.deepEqual(inMeter.references.map((r) => r.browseName.name).sort(),
      rows.map((r) => r.name).sort());
    for (const row of rows) {
      const id = `ns=1;s=Meter.${row.name}`;
      const seen = inMeter.references.find((r) => r.browseName.name === row.name);
      assert.equal(seen.typeDefinition.toString(), row.type, row.name);
      const description = await session.read({ nodeId: id, attributeId: AttributeIds.Description });
      assert.equal(description.value.value.text, row.description, row.name);
      const props = await session.browse({ nodeId: id, referenceTypeId: "HasProperty", resultMask: 63 });
      const expected = [row.units && "EngineeringUnits", row.range && "EURange"].filter(Boolean);
      assert.deepEqual(props.references.map((r) => [r.browseName.namespaceIndex, r.browseName.name]),
        expected.map((name) => [0, name]), row.name);
      for (const r of props.references) {
        assert.equal(r.nodeId.toString(), `${id}.${r.browseName.name}`);
        assert.equal(r.typeDefinition.toString(), "ns=0;i=68");
        assert.equal(r.referenceTypeId.toString(), "ns=0;i=46");
      }
      if (row.units) {
        const eu = (await session.read({ nodeId: `${id}.EngineeringUnits`, attributeId: AttributeIds.Value })).value.value;
        assert.equal(eu.constructor.name, "EUInformation", row.name);
        assert.deepEqual([eu.namespaceUri, eu.unitId, eu.displayName.text, eu.description.text],
          ["http://www.opcfoundation.org/UA/units/un/cefact", row.units.unitId, row.units.displayName,
            row.units.description], row.name);
        const type = await session.read({ nodeId: `${id}.EngineeringUnits`, attributeId: AttributeIds.DataType });
        assert.equal(type.value.value.toString(), "ns=0;i=887");
      }
      if (row.range) {
        const path = await session.translateBrowsePath(makeBrowsePath("ns=1;s=Meter", `/1:${row.name}.EURange`));
        assert.equal(path.targets[0].targetId.toString(), `${id}.EURange`, row.name);
        const range = (await session.read({ nodeId: `${id}.EURange`, attributeId: AttributeIds.Value })).value.value;
        assert.equal(range.constructor.name, "Range", row.name);
        assert.deepEqual([range.low, range.high], row.range, row.name);
      }
    }
    const none = await session.read({ nodeId: "ns=1;s=Meter.Energy.EURange", attributeId: AttributeIds.Value });
    assert.equal(none.statusCode, StatusCodes.BadNodeIdUnknown, "a property the tag was not given");
    const written = await session.write({ nodeId: "ns=1;s=Meter.PhaseAVoltage.EURange", attributeId: AttributeIds.Value,
      value: { value: { dataType: DataType.Double, value: 0 } } });
    assert.equal(written, StatusCodes.BadNotWritable);
    assert.equal(await host.command(`rmfolder ${meter}`), "ok 0");
    const gone = await session.read({ nodeId: "ns=1;s=Meter.PhaseAVoltage.EURange", attributeId: AttributeIds.Value });
    assert.equal(gone.statusCode, StatusCodes.BadNodeIdUnknown);
  });
});
