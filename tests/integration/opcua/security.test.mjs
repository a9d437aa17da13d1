// The tag server's secured endpoints as node-opcua's client sees them:
// certificates and their trust, every policy and mode, user names and what
// each kind of user may do.
import { test, before, after } from "node:test";
import assert from "node:assert/strict";
import { mkdtempSync, readFileSync, readdirSync, rmSync, writeFileSync } from "node:fs";
import { execFileSync } from "node:child_process";
import { tmpdir } from "node:os";
import { join } from "node:path";
import {
  OPCUAClient,
  MessageSecurityMode,
  SecurityPolicy,
  AttributeIds,
  StatusCodes,
  DataType,
  UserTokenType,
} from "node-opcua-client";
import { OPCUACertificateManager } from "node-opcua-certificate-manager";
import { TestHost } from "./host.mjs";

const COIL = "ns=1;s=PLC1.NODE1.1.0001";
const scratch = mkdtempSync(join(tmpdir(), "pelmoran-security-"));
const managers = [];
let host;
let trustedPki;

// A client PKI of its own in the scratch folder, created once per name.
async function clientPki(name) {
  const manager = new OPCUACertificateManager({
    rootFolder: join(scratch, name),
    automaticallyAcceptUnknownCertificate: true,
    disableFileWatchers: true,
  });
  await manager.initialize();
  managers.push(manager);
  return manager;
}

function newClient(policy, mode, manager) {
  return OPCUAClient.create({
    securityPolicy: policy,
    securityMode: mode,
    endpointMustExist: false,
    connectionStrategy: { maxRetry: 0 },
    keepSessionAlive: false,
    clientCertificateManager: manager,
    applicationName: "pelmoran-test-client",
    applicationUri: "urn:pelmoran:test-client",
  });
}

async function withSession(options, fn) {
  const { policy = SecurityPolicy.Basic256Sha256, mode = MessageSecurityMode.SignAndEncrypt, user, url = host.url } = options;
  const client = newClient(policy, mode, options.pki ?? trustedPki);
  await client.connect(url);
  try {
    const session = await client.createSession(user && { type: UserTokenType.UserName, ...user });
    try {
      return await fn(session, client);
    } finally {
      await session.close();
    }
  } finally {
    await client.disconnect();
  }
}

// The status a refused attempt ends with, as node-opcua words it.
async function refusal(options) {
  try {
    await withSession(options, async () => {});
  } catch (e) {
    return e.message;
  }
  return "connected";
}

// expected: the exact outcome, or a pattern of the refusal's message.
function assertOutcome(outcome, expected, what) {
  if (typeof expected === "string") assert.equal(outcome, expected, what);
  else assert.match(outcome, expected, what);
}

before(async () => {
  host = await TestHost.start({ PELMORAN_CONFIG_DIR: join(scratch, "server") });
  await host.create("PLC1.NODE1.1.0001", true, 192, 1);
  assert.equal(await host.command("user alice readwrite s3cret"), "ok 0");
  assert.equal(await host.command("user bob read bobs-pass"), "ok 0");
  trustedPki = await clientPki("trusted-client");
  // The first attempt is refused and leaves the certificate in rejected/.
  await refusal({ pki: trustedPki });
  const rejected = join(scratch, "server/pki/rejected");
  const [file] = readdirSync(rejected);
  assert.equal(await host.command(`trust ${join(rejected, file)}`), "ok 0");
});

after(async () => {
  await host?.stop();
  for (const m of managers) await m.dispose();
  rmSync(scratch, { recursive: true, force: true });
});

test("GetEndpoints offers None and every secured policy in both modes, with the server certificate", async () => {
  const client = newClient(SecurityPolicy.None, MessageSecurityMode.None, trustedPki);
  await client.connect(host.url);
  try {
    const endpoints = await client.getEndpoints();
    const offered = endpoints.map((e) => `${e.securityPolicyUri.split("#")[1]}/${e.securityMode}`).sort();
    assert.deepEqual(offered, [
      "Aes128_Sha256_RsaOaep/2", "Aes128_Sha256_RsaOaep/3", "Aes256_Sha256_RsaPss/2",
      "Aes256_Sha256_RsaPss/3", "Basic256Sha256/2", "Basic256Sha256/3", "None/1",
    ]);
    const own = readFileSync(join(scratch, "server/pki/own/certs/pelmoran.der"));
    for (const e of endpoints) {
      assert.ok(Buffer.compare(e.serverCertificate, own) === 0, "the certificate in own/certs");
      const userName = e.userIdentityTokens.find((t) => t.tokenType === UserTokenType.UserName);
      // A password is encrypted to the server's key even on the plain endpoint.
      const expected = e.securityPolicyUri === SecurityPolicy.None ? SecurityPolicy.Basic256Sha256 : e.securityPolicyUri;
      assert.equal(userName.securityPolicyUri, expected);
    }
  } finally {
    await client.disconnect();
  }
});

test("an unknown client certificate is refused and kept in rejected/ until it is trusted", async () => {
  const stranger = await clientPki("stranger");
  const rejected = join(scratch, "server/pki/rejected");
  const before = readdirSync(rejected).length;
  assert.match(await refusal({ pki: stranger }), /rejected|BadCertificateUntrusted|BadSecurityChecksFailed/);
  const files = readdirSync(rejected);
  assert.equal(files.length, before + 1);
  const mine = files.find((f) => !readdirSync(join(scratch, "server/pki/trusted/certs")).includes(f));
  // Refused again for as long as nobody trusts it, and kept only once.
  assert.match(await refusal({ pki: stranger }), /rejected|BadCertificateUntrusted|BadSecurityChecksFailed/);
  assert.equal(readdirSync(rejected).length, before + 1);
  assert.equal(await host.command(`trust ${join(rejected, mine)}`), "ok 0");
  assert.equal(await refusal({ pki: stranger }), "connected");
  assert.equal(readdirSync(rejected).length, before);
});

test("every policy and mode reads and writes", async () => {
  const combos = [];
  for (const policy of [SecurityPolicy.Basic256Sha256, SecurityPolicy.Aes128_Sha256_RsaOaep, SecurityPolicy.Aes256_Sha256_RsaPss])
    for (const mode of [MessageSecurityMode.Sign, MessageSecurityMode.SignAndEncrypt]) combos.push({ policy, mode });
  let value = 0;
  for (const combo of combos) {
    value += 1;
    await withSession(combo, async (session) => {
      const read = await session.read({ nodeId: "ns=0;i=2255", attributeId: AttributeIds.Value });
      assert.equal(read.value.value[1], "urn:pelmoran:tags", `${combo.policy} ${combo.mode}`);
      // Large enough to need several chunks each way.
      const many = Array.from({ length: 3000 }, () => ({ nodeId: "ns=0;i=2255", attributeId: AttributeIds.Value }));
      assert.equal((await session.read(many)).length, 3000);
      const status = await session.write({ nodeId: COIL, attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Float, value } } });
      assert.equal(status, StatusCodes.Good, `${combo.policy} ${combo.mode}`);
      assert.equal((await host.nextWrite()).value, String(value));
    });
  }
});

test("user names log in with their own password only", async () => {
  const cases = [
    { user: { userName: "alice", password: "s3cret" }, expect: "connected" },
    { user: { userName: "alice", password: "wrong" }, expect: /BadUserAccessDenied/ },
    { user: { userName: "nobody", password: "s3cret" }, expect: /BadUserAccessDenied/ },
    { user: { userName: "bob", password: "bobs-pass" }, policy: SecurityPolicy.None, mode: MessageSecurityMode.None, expect: "connected" },
    { user: { userName: "bob", password: "s3cret" }, policy: SecurityPolicy.None, mode: MessageSecurityMode.None, expect: /BadUserAccessDenied/ },
    { user: { userName: "alice", password: "s3cret" }, policy: SecurityPolicy.Aes256_Sha256_RsaPss, mode: MessageSecurityMode.Sign, expect: "connected" },
  ];
  for (const c of cases) assertOutcome(await refusal(c), c.expect, JSON.stringify(c));
});

test("a read-only user cannot write and UserAccessLevel says so", async () => {
  await withSession({ user: { userName: "bob", password: "bobs-pass" } }, async (session) => {
    const level = await session.read({ nodeId: COIL, attributeId: AttributeIds.UserAccessLevel });
    assert.equal(level.value.value, 1);
    assert.equal((await session.read({ nodeId: COIL, attributeId: AttributeIds.AccessLevel })).value.value, 3);
    const status = await session.write({ nodeId: COIL, attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Float, value: 99 } } });
    assert.equal(status, StatusCodes.BadUserAccessDenied);
  });
  await withSession({ user: { userName: "alice", password: "s3cret" } }, async (session) => {
    const level = await session.read({ nodeId: COIL, attributeId: AttributeIds.UserAccessLevel });
    assert.equal(level.value.value, 3);
    await session.write({ nodeId: COIL, attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Float, value: 5 } } });
  });
  // The refused write never reached the program: the next one it saw is alice's.
  assert.equal((await host.nextWrite()).value, "5");
  assert.equal(host.pendingWrites(), 0);
});

test("a session moves to another channel only with the certificate that created it", async () => {
  const other = await clientPki("other-client");
  await refusal({ pki: other });
  const rejected = join(scratch, "server/pki/rejected");
  for (const f of readdirSync(rejected)) await host.command(`trust ${join(rejected, f)}`);
  const owner = newClient(SecurityPolicy.Basic256Sha256, MessageSecurityMode.SignAndEncrypt, trustedPki);
  await owner.connect(host.url);
  const session = await owner.createSession({ type: UserTokenType.UserName, userName: "alice", password: "s3cret" });
  const cases = [
    { pki: other, outcome: /BadApplicationSignatureInvalid/ },
    { pki: trustedPki, outcome: "moved" },
  ];
  const takers = [];
  try {
    for (const c of cases) {
      const taker = newClient(SecurityPolicy.Basic256Sha256, MessageSecurityMode.SignAndEncrypt, c.pki);
      takers.push(taker);
      await taker.connect(host.url);
      const outcome = await taker.reactivateSession(session).then(() => "moved", (e) => e.message);
      assertOutcome(outcome, c.outcome, c.pki === other ? "another application" : "the same one");
    }
    const read = await session.read({ nodeId: "ns=0;i=2255", attributeId: AttributeIds.Value });
    assert.equal(read.statusCode, StatusCodes.Good);
  } finally {
    await session.close();
    for (const t of takers) await t.disconnect();
    await owner.disconnect();
  }
});

// A CA the server trusts, and a client certificate it signed that the client
// sends with the CA behind it, as clients with a CA-issued certificate do.
async function chainedPki(uri) {
  const manager = await clientPki("chained-client");
  const own = join(scratch, "chained-client");
  // node-opcua's own PKI code points OPENSSL_CONF elsewhere.
  const env = { ...process.env };
  delete env.OPENSSL_CONF;
  const openssl = (...args) => execFileSync("openssl", args, { cwd: own, env, stdio: "pipe" });
  openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", "ca.key", "-out", "ca.pem",
    "-subj", "/CN=pelmoran test CA", "-days", "2", "-addext", "basicConstraints=critical,CA:TRUE",
    "-addext", "keyUsage=critical,keyCertSign,cRLSign");
  openssl("req", "-newkey", "rsa:2048", "-nodes", "-keyout", "own/private/private_key.pem",
    "-out", "client.csr", "-subj", "/CN=chained client");
  writeFileSync(join(own, "ext.cnf"), `basicConstraints=critical,CA:FALSE
keyUsage=critical,digitalSignature,nonRepudiation,keyEncipherment,dataEncipherment
extendedKeyUsage=clientAuth
subjectAltName=URI:${uri},DNS:localhost
`);
  openssl("x509", "-req", "-in", "client.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-set_serial", "7",
    "-out", "client.pem", "-days", "2", "-sha256", "-extfile", "ext.cnf");
  const pem = (file) => readFileSync(join(own, file), "utf8");
  writeFileSync(join(own, "own/certs/client_certificate.pem"), pem("client.pem") + pem("ca.pem"));
  writeFileSync(join(scratch, "server/pki/trusted/certs/chained-ca.pem"), pem("ca.pem"));
  return manager;
}

// A refused renewal closes the connection instead. A client with a
// CA-issued certificate sends its chain behind it.
test("the channel keeps working across a token renewal", async () => {
  const cases = [
    { uri: "urn:pelmoran:test-client", pki: async () => trustedPki },
    { uri: "urn:pelmoran:chained-client", pki: () => chainedPki("urn:pelmoran:chained-client") },
  ];
  for (const c of cases) {
    const client = OPCUAClient.create({
      securityPolicy: SecurityPolicy.Basic256Sha256,
      securityMode: MessageSecurityMode.SignAndEncrypt,
      endpointMustExist: false,
      connectionStrategy: { maxRetry: 0 },
      keepSessionAlive: false,
      clientCertificateManager: await c.pki(),
      applicationUri: c.uri,
      defaultSecureTokenLifetime: 10000,
    });
    await client.connect(host.url);
    try {
      const session = await client.createSession();
      await new Promise((resolve, reject) => {
        client.once("security_token_renewed", resolve);
        client.once("close", () => reject(new Error(c.uri + ": closed before the renewal")));
      });
      const read = await session.read({ nodeId: "ns=0;i=2255", attributeId: AttributeIds.Value });
      assert.equal(read.statusCode, StatusCodes.Good);
      await session.close();
    } finally {
      await client.disconnect();
    }
  }
});

test("settings decide anonymous access and policy None on a network endpoint", async () => {
  const cases = [
    // The endpoints no longer list anonymous, so the client does not even try.
    { env: { OPCUA_TEST_ANONYMOUS: "off" }, anonymous: /ANONYMOUS/, plain: /ANONYMOUS/ },
    { env: { OPCUA_TEST_ANONYMOUS: "read" }, anonymous: "connected", anonymousWrite: StatusCodes.BadUserAccessDenied },
    // Discovery still answers on a plain channel, but lists no plain endpoint.
    { env: { PELMORAN_OPCUA_ENDPOINT: "opc.tcp://0.0.0.0:0" }, anonymous: "connected", anonymousWrite: StatusCodes.BadUserAccessDenied, plain: /BadSecurityPolicyRejected|End point must exist/, listsNone: false },
    { env: { PELMORAN_OPCUA_ENDPOINT: "opc.tcp://0.0.0.0:0", OPCUA_TEST_NONE_ON_NETWORK: "1" }, anonymous: "connected", plain: "connected", listsNone: true },
  ];
  for (const [i, c] of cases.entries()) {
    const dir = join(scratch, `settings-${i}`);
    const other = await TestHost.start({ PELMORAN_CONFIG_DIR: dir, ...c.env });
    try {
      await other.create("PLC1.NODE1.1.0001", true, 192, 1);
      const port = new URL(other.url.replace("opc.tcp", "http")).port;
      const url = `opc.tcp://127.0.0.1:${port}`;
      const trust = readdirSync(join(scratch, "server/pki/trusted/certs"));
      for (const f of trust) await other.command(`trust ${join(scratch, "server/pki/trusted/certs", f)}`);
      assertOutcome(await refusal({ url }), c.anonymous, JSON.stringify(c.env));
      if (c.anonymousWrite !== undefined) {
        await withSession({ url }, async (session) => {
          const status = await session.write({ nodeId: COIL, attributeId: AttributeIds.Value, value: { value: { dataType: DataType.Float, value: 3 } } });
          assert.equal(status, c.anonymousWrite, JSON.stringify(c.env));
        });
      }
      if (c.listsNone !== undefined) {
        const client = newClient(SecurityPolicy.None, MessageSecurityMode.None, trustedPki);
        await client.connect(url);
        const endpoints = await client.getEndpoints();
        await client.disconnect();
        assert.equal(endpoints.some((e) => e.securityPolicyUri === SecurityPolicy.None), c.listsNone);
        assert.equal(endpoints.length, c.listsNone ? 7 : 6);
      }
      if (c.plain !== undefined) {
        const plain = await refusal({ url, policy: SecurityPolicy.None, mode: MessageSecurityMode.None });
        assertOutcome(plain, c.plain, JSON.stringify(c.env));
      }
    } finally {
      await other.stop();
    }
  }
});
