#!/usr/bin/env bash
# Installs every Debian package the project needs to build, test and run.
# Idempotent: prints nothing and changes nothing when everything is present.
# Run as root (or with sudo available).
set -euo pipefail

PACKAGES=(
  # toolchain
  build-essential cmake ninja-build pkg-config clang clang-format libclang-rt-14-dev
  # libraries
  libjsoncpp-dev rapidjson-dev libpcre3-dev libssl-dev
  libboost-dev libboost-system-dev libboost-date-time-dev libboost-iostreams-dev
  libwebsocketpp-dev libasio-dev libcpp-httplib-dev
  libsqlite3-dev libpq-dev libenca-dev liblucene++-dev libexiv2-dev flex libfl-dev
  # tests and benchmarks
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  # services and external programs the system starts
  postgresql imagemagick php-cli php-zip php-xml
  # used by scripts and tests
  curl procps openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
# Node.js and npm run the collaboration test peer only; any working install will do.
if ! command -v node >/dev/null 2>&1 || ! command -v npm >/dev/null 2>&1; then
  missing+=(nodejs npm)
fi

[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
echo "setup: done"
