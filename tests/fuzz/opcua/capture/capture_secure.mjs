// One secured conversation: node capture_secure.mjs <url> <client pki> <policy> <mode>;
// with the url "none" it only creates the client's certificate.
import { createRequire } from "node:module";

const require = createRequire(process.env.OPCUA_NODE_MODULES + "/");
const { OPCUAClient, MessageSecurityMode, SecurityPolicy, UserTokenType } = require("node-opcua-client");
const { OPCUACertificateManager } = require("node-opcua-certificate-manager");

const [url, pki, policy, mode] = process.argv.slice(2);
const manager = new OPCUACertificateManager({ rootFolder: pki, automaticallyAcceptUnknownCertificate: true, disableFileWatchers: true });
await manager.initialize();
const client = OPCUAClient.create({
  securityPolicy: SecurityPolicy[policy ?? "Basic256Sha256"],
  securityMode: MessageSecurityMode[mode ?? "SignAndEncrypt"],
  endpointMustExist: false, connectionStrategy: { maxRetry: 0 }, keepSessionAlive: false,
  clientCertificateManager: manager, applicationUri: "urn:pelmoran:test-client",
});
await client.createDefaultCertificate();
if (url !== "none") {
  await client.connect(url);
  const session = await client.createSession({ type: UserTokenType.UserName, userName: "alice", password: "s3cret" }).catch(() => undefined);
  await session?.close();
  await client.disconnect();
}
await manager.dispose();
