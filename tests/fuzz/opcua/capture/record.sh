#!/bin/bash
# Records the fuzzer's seed conversations: builds capture_host against a
# build folder's libraries, then runs each scenario of capture.mjs through
# record_proxy.py. Usage: record.sh <build folder>
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(cd "$here/../../../.." && pwd)
build=$1
out=$(mktemp -d)
g++ -std=c++20 -DASIO_STANDALONE -I"$repo" "$here/capture_host.cpp" -o "$out/capture_host" \
  "$build/tagserver/libtagserver.a" "$build/platform/libpelmoran_platform.a" -lpthread
export OPCUA_NODE_MODULES="$repo/tests/integration/opcua/node_modules"
trap 'kill ${proxy:-} ${HOST_PID:-} 2>/dev/null || true' EXIT
for scenario in discovery browse subscribe; do
  coproc HOST { exec "$out/capture_host"; }
  read -r _ port <&"${HOST[0]}"
  proxy_port=$(/usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
  /usr/bin/python3 "$here/record_proxy.py" "$proxy_port" "$port" "$out/$scenario" > /dev/null &
  proxy=$!
  sleep 0.5
  node "$here/capture.mjs" "opc.tcp://127.0.0.1:$proxy_port" "$scenario" > /dev/null
  kill "$proxy" "$HOST_PID"
  wait "$HOST_PID" 2>/dev/null || true
  unset proxy HOST_PID
  for f in "$out/$scenario"/*.bin; do cp "$f" "$here/../corpus/$scenario-$(basename "$f")"; done
done
rm -rf "$out"
