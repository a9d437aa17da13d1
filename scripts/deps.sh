# Installs what building and testing need, once: Debian packages that are
# missing, and the npm packages that the tests pin under tests/.
# Sourced by run.sh and test.sh.

PELMORAN_BUILD_PACKAGES=(cmake ninja-build g++ pkg-config ccache qt6-base-dev libasio-dev libssl-dev
  libgtest-dev libgmock-dev libbenchmark-dev libmodbus-dev libmosquitto-dev libprotobuf-dev protobuf-compiler
  libcpp-httplib-dev libsystemd-dev nlohmann-json3-dev)
PELMORAN_TEST_PACKAGES=(clang mbpoll libclang-rt-14-dev python3-pymodbus python3-serial-asyncio socat poppler-utils fonts-dejavu-core
  libmodbus5 procps iproute2 dpkg-dev file valgrind mosquitto python3-paho-mqtt python3-protobuf
  openssl stress-ng prometheus chromium)

pelmoran_as_root() {
  if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

pelmoran_ensure_packages() {
  local missing=()
  local p
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  if ! command -v npm >/dev/null 2>&1; then missing+=(npm); fi
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  pelmoran_as_root apt-get update -qq
  pelmoran_as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}"
}

# npm ci for every lock file under tests/ and bench/, skipped when node_modules is newer.
pelmoran_ensure_npm() {
  local lock dir
  while IFS= read -r lock; do
    dir=$(dirname "$lock")
    if [ ! -d "$dir/node_modules" ] || [ "$lock" -nt "$dir/node_modules" ]; then
      (cd "$dir" && npm ci --no-audit --no-fund --loglevel=error) && touch "$dir/node_modules"
    fi
  done < <(find tests bench -name package-lock.json -not -path '*/node_modules/*')
}
