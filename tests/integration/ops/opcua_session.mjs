// One session with the node-opcua client that the OPC UA tests' folder pins,
// for the scripts beside this one: connects, runs the work, closes.
import { createRequire } from "node:module";
import path from "node:path";

export function nodeOpcua(modules) {
  const require = createRequire(path.join(path.resolve(modules), "package.json"));
  return require("node-opcua-client");
}

export async function withSession(modules, url, work) {
  const { OPCUAClient, MessageSecurityMode, SecurityPolicy } = nodeOpcua(modules);
  const client = OPCUAClient.create({
    securityMode: MessageSecurityMode.None,
    securityPolicy: SecurityPolicy.None,
    endpointMustExist: false,
    connectionStrategy: { maxRetry: 0 },
    keepSessionAlive: false,
  });
  await client.connect(url);
  const session = await client.createSession();
  try {
    return await work(session);
  } finally {
    await session.close();
    await client.disconnect();
  }
}
