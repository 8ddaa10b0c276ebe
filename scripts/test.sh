#!/usr/bin/env bash
# The test command: installs what the project needs, builds it plainly and under AddressSanitizer
# + UndefinedBehaviorSanitizer, runs every test suite in both builds and each fuzz target briefly.
# Exits non-zero on the first failure.
#
#   scripts/test.sh            everything
#   FUZZ_SECONDS=60 scripts/test.sh   longer fuzzing
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
FUZZ_SECONDS=${FUZZ_SECONDS:-10}
JOBS=$(nproc)
started=$(date +%s)

step() { printf '\n== %s (%ds)\n' "$*" $(( $(date +%s) - started )); }

step "set-up"
bash scripts/setup.sh

configure() {  # dir, cmake options...
  local dir=$1
  shift
  cmake -G Ninja -S "$ROOT" -B "$dir" -DZOLTSH_WERROR=ON "$@" >"$dir.configure.log" 2>&1 ||
    { cat "$dir.configure.log"; return 1; }
}
mkdir -p build

step "plain build"
configure build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo
ninja -C build/plain -j"$JOBS"

step "test peers (npm ci)"
npm ci --prefix tests/peers/sio --no-audit --no-fund --loglevel=error >/dev/null

step "plain tests"
ctest --test-dir build/plain --output-on-failure -j"$JOBS"

step "sanitizer build (ASan + UBSan)"
configure build/asan -DCMAKE_BUILD_TYPE=Debug -DZOLTSH_SANITIZE=ON -DZOLTSH_BUILD_BENCH=OFF
ASAN_OPTIONS=detect_leaks=0 ninja -C build/asan -j"$JOBS"

step "sanitizer tests"
export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
ctest --test-dir build/asan --output-on-failure -j"$JOBS"

step "fuzz targets (${FUZZ_SECONDS}s each)"
configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang \
  -DCMAKE_CXX_COMPILER=clang++ -DZOLTSH_BUILD_FUZZ=ON -DZOLTSH_BUILD_BENCH=OFF \
  -DZOLTSH_BUILD_TESTS=OFF
ninja -C build/fuzz -j"$JOBS" fuzz_targets
for target in build/fuzz/tests/fuzz/*_fuzz; do
  name=$(basename "$target")
  corpus=build/fuzz/corpus/$name
  mkdir -p "$corpus"
  log=build/fuzz/$name.log
  if "$target" -max_total_time="$FUZZ_SECONDS" -artifact_prefix=build/fuzz/ "$corpus" \
    "tests/fuzz/seeds/${name%_fuzz}" >"$log" 2>&1; then
    echo "-- $name: $(grep -Eo 'Done [0-9]+ runs in [0-9]+ second' "$log" | tail -n 1)"
  else
    echo "-- $name FAILED:"
    grep -v '^INFO' "$log" | tail -n 40
    exit 1
  fi
done

step "done"
echo "all tests passed"
