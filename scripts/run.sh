#!/usr/bin/env bash
# The demonstration: builds pelmoran, starts its Modbus simulator on a free
# port, writes a demonstration configuration beside the program and starts the
# program, with windows where a display is available and headless otherwise.
# Ctrl+C stops everything this script started.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
source scripts/deps.sh
pelmoran_ensure_packages "${PELMORAN_BUILD_PACKAGES[@]}"

build=${PELMORAN_BUILD_DIR:-$root/build}
echo "== building in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what the demonstration runs, so that the first start does not wait for
# every test to be built.
available=$(cmake --build "$build" --target help | sed -n 's/^\([A-Za-z_-]*\): .*/\1/p')
targets=()
for t in pelmoran pelmoran-sim pelmoran-democonfig; do
  if grep -qx "$t" <<<"$available"; then targets+=("$t"); fi
done
cmake --build "$build" -j "$(nproc)" --target "${targets[@]}"

sim="$build/tools/pelmoran-sim/pelmoran-sim"
democonfig="$build/tools/pelmoran-democonfig/pelmoran-democonfig"
program=$(find "$build" -maxdepth 2 -type f -name pelmoran -perm -u+x | head -n 1)

work=$(mktemp -d)
pids=()
demo_written=""
demo_files=()
kept=""
cleanup() {
  trap - INT TERM EXIT
  for pid in "${pids[@]}"; do kill -TERM "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  remove_demo
  rm -rf "$work"
  echo "== stopped"
}
# The demonstration configuration goes again unless it was saved over; a
# configuration of the operator's own that was moved aside comes back.
remove_demo() {
  [ -n "$demo_written" ] || return 0
  if (cd "$exedir" && sha256sum --status -c "$stamp" 2>/dev/null); then
    rm -f "${demo_files[@]}" "$stamp"
    if [ -n "$kept" ]; then
      mv "$kept" "$config"
      echo "   your own configuration is back in $config"
    fi
  elif [ -n "$kept" ]; then
    echo "   the demonstration configuration was saved over; yours is in $kept"
  fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The first port from $1 on where nothing listens on the loopback interface
# (bash alone: a fresh machine need not have python).
free_port() {
  local port
  for port in $(seq "$1" $(($1 + 50))); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then
      echo "$port"
      return 0
    fi
  done
  echo "$1"
}

echo "== starting the simulator"
"$sim" --tcp 0 --tick 500 >"$work/sim.log" 2>&1 &
pids+=($!)
port=""
for _ in $(seq 1 50); do
  port=$(sed -n 's/.*port \([0-9]*\)$/\1/p' "$work/sim.log" | head -n 1)
  [ -n "$port" ] && break
  sleep 0.1
done
if [ -z "$port" ]; then
  cat "$work/sim.log" >&2
  echo "The simulator did not start." >&2
  exit 1
fi
echo "   pelmoran-sim serves Modbus/TCP on 127.0.0.1 port $port"

if [ -z "$program" ]; then
  echo "The program is not built yet (its libraries are missing); only the simulator runs."
  echo "Press Ctrl+C to stop."
  wait "${pids[0]}"
  exit 0
fi

exedir=$(dirname "$program")
config="$exedir/pelmoran.tst"
stamp="$exedir/.pelmoran-demo.sha256"
# A configuration of the operator's own beside the program is kept aside, never overwritten.
if [ -f "$config" ] && ! (cd "$exedir" && sha256sum --status -c "$stamp" 2>/dev/null); then
  kept="$config.$(date +%Y%m%d-%H%M%S).bak"
  mv "$config" "$kept"
  echo "   your own configuration was moved to $kept for the demonstration"
fi
echo "== writing the demonstration configuration"
mapfile -t demo_files < <("$democonfig" "$exedir" "$port")
[ ${#demo_files[@]} -gt 0 ] || { echo "The demonstration configuration was not written." >&2; exit 1; }
demo_written=yes
(cd "$exedir" && sha256sum pelmoran.tst >"$stamp")
echo "   $config"

if [ -z "${PELMORAN_OPCUA_ENDPOINT:-}" ]; then
  export PELMORAN_OPCUA_ENDPOINT="opc.tcp://127.0.0.1:$(free_port 4840)"
fi

# Tests and other callers may ask for headless; otherwise a display decides.
if [ -n "${PELMORAN_DEMO_HEADLESS:-}" ] || { [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; }; then
  echo "== no display: starting pelmoran -Headless (its messages follow on standard error)"
  "$program" -Headless &
else
  echo "== starting pelmoran"
  "$program" &
fi
pids+=($!)
cat <<EOT

   OPC UA endpoint: $PELMORAN_OPCUA_ENDPOINT
   Tags: SIM.NODE1.40001 ... SIM.NODE1.40005 (counter, ramp, two scaled ramps, triangle),
         SIM.NODE1.40011 and 40013 (sine as float, both word orders),
         SIM.NODE1.40015 and 40017 (32-bit counter, both word orders),
         SIM.NODE1.30001 ... 30005, coils SIM.NODE1.00001 ... 00016,
         inputs SIM.NODE1.10001 ... 10016, writable memory SIM.NODE1.40021 ... 40030.
   The configuration is restored two seconds after start-up. Press Ctrl+C to stop.

EOT
wait "${pids[1]}" || true
