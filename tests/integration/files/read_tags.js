// Reads tags from the program's OPC UA server as a client would.
// Usage: node read_tags.js <endpoint url> <tag name>...
// Prints one JSON object: tag name -> {value, good}.
const { OPCUAClient, AttributeIds, MessageSecurityMode, SecurityPolicy, StatusCodes } =
    require("node-opcua-client");

async function main() {
  const [url, ...names] = process.argv.slice(2);
  const client = OPCUAClient.create({
    endpointMustExist: false,
    securityMode: MessageSecurityMode.None,
    securityPolicy: SecurityPolicy.None,
    connectionStrategy: { maxRetry: 0 },
  });
  await client.connect(url);
  try {
    const session = await client.createSession();
    const results = await session.read(
        names.map((name) => ({ nodeId: "ns=1;s=" + name, attributeId: AttributeIds.Value })));
    const out = {};
    names.forEach((name, i) => {
      out[name] = {
        value: results[i].value.value,
        good: results[i].statusCode.value === StatusCodes.Good.value,
      };
    });
    process.stdout.write(JSON.stringify(out) + "\n");
    await session.close();
  } finally {
    await client.disconnect();
  }
}

main().catch((e) => {
  process.stderr.write(String(e) + "\n");
  process.exit(1);
});
