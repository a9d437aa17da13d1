#!/bin/bash
# Records the seeds of the secured fuzzers: node-opcua opening Basic256Sha256
# and Aes256_Sha256_RsaPss channels, through record_proxy.py, to an
# opcua_test_host that uses the fixed test-only certificate in ../pki, with
# the client's certificate trusted there. Usage: record_secure.sh <build folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../../../.." && pwd)
host_program=$1/tests/integration/opcua/opcua_test_host
work=$(mktemp -d)
trap 'kill ${proxy:-} ${HOST_PID:-} 2>/dev/null || true; rm -rf "$work"' EXIT
export OPCUA_NODE_MODULES="$repo/tests/integration/opcua/node_modules"
mkdir -p "$work/server"
cp -r "$here/../pki" "$work/server/pki"
# The client's certificate is created by its first run, then trusted.
node "$here/capture_secure.mjs" none "$work/client" || true
cp "$work/client/own/certs/client_certificate.pem" "$here/../pki/trusted/certs/client.pem"
cp "$work/client/own/certs/client_certificate.pem" "$work/server/pki/trusted/certs/client.pem"
for scenario in Basic256Sha256:SignAndEncrypt Aes256_Sha256_RsaPss:Sign; do
  coproc HOST { PELMORAN_CONFIG_DIR="$work/server" PELMORAN_OPCUA_ENDPOINT=opc.tcp://127.0.0.1:0 exec "$host_program"; }
  read -r _ url <&"${HOST[0]}"
  port=${url##*:}
  proxy_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  /usr/bin/python3 "$here/record_proxy.py" "$proxy_port" "$port" "$work/$scenario" > /dev/null &
  proxy=$!
  sleep 0.5
  node "$here/capture_secure.mjs" "opc.tcp://127.0.0.1:$proxy_port" "$work/client" "${scenario%%:*}" "${scenario##*:}"
  kill "$proxy" "$HOST_PID"
  wait "$HOST_PID" 2>/dev/null || true
  unset proxy HOST_PID
  mkdir -p "$here/../corpus-secure-open"
  for f in "$work/$scenario"/*.bin; do cp "$f" "$here/../corpus-secure-open/${scenario%%:*}-$(basename "$f")"; done
done
