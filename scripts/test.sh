#!/usr/bin/env bash
# Builds everything with clang and runs every test (headless) under AddressSanitizer and
# UndefinedBehaviorSanitizer, together with the fuzz targets for a short, fixed time over their
# seed corpus; meanwhile builds the program optimised, as it ships, and then runs the tests that
# measure that build. Warnings are errors in both builds.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${BUILD_PACKAGES[@]}" libgtest-dev libgmock-dev libbenchmark-dev clang \
  libclang-rt-14-dev dpkg-dev desktop-file-utils man-db xvfb xdotool libxcb1-dev systemd ser2net \
  mosquitto sqlite3 dbus-daemon chromium openssl pulseaudio pulseaudio-utils ccache lld \
  debootstrap systemd-container lintian poppler-utils
ensure_node_and_npm
# The mail channel's tests: a local SMTP server and msmtp as the sendmail interface.
ensure_packages msmtp python3-aiosmtpd
export QT_QPA_PLATFORM=offscreen
# The installed-site test boots a cached Debian root; where it is not made yet (a new machine)
# its making (about a minute, bound by the network and the disk) starts now, beside the builds,
# and that test waits for it. Its log: build/site-root.log.
if [ "$(id -u)" -eq 0 ]; then
  mkdir -p build
  nice -n 19 bash tests/site/prepare_root.sh > build/site-root.log 2>&1 < /dev/null &
fi
# Twice as many tests as cores: a test that keeps a core busy takes two places (tests/CMakeLists.txt),
# so only tests that mostly wait run beyond the cores.
places="$(( 2 * $(nproc) ))"
# A test that hangs fails after five minutes instead of holding the run; the longest takes one.
limit=300
# A compiler cache keyed on paths inside this clone, so that another clone on the same machine
# (CI's) compiles only what changed since the last run; the precompiled headers are cached only
# with the two sloppiness settings.
export CCACHE_BASEDIR="$(pwd)" CCACHE_NOHASHDIR=1 CCACHE_SLOPPINESS=pch_defines,time_macros
cache=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
# The cache serves objects, never links: a fresh clone links every program again. LLVM's linker
# does that in a quarter of the time (measured: 19 s → 5 s for the sanitizer build's programs).
link=(-DCMAKE_EXE_LINKER_FLAGS=-fuse-ld=lld -DCMAKE_SHARED_LINKER_FLAGS=-fuse-ld=lld
  -DCMAKE_MODULE_LINKER_FLAGS=-fuse-ld=lld)

# No debug information in either build: nothing here reads a core file, sanitizer reports need
# only file and line, and the compiler and linker do a fifth to a third less work without it.
# Each library of the program compiles as one file.
echo "== every test under AddressSanitizer and UndefinedBehaviorSanitizer, with the fuzz targets"
# One clang build serves both: the sanitizers for every test, and libFuzzer's instrumentation
# for the fuzz targets, which run over their seed corpus for a short, fixed time beside the
# tests. No benchmarks here.
CC=clang CXX=clang++ cmake -S . -B build/checked -G Ninja "${cache[@]}" "${link[@]}" \
  -DCMAKE_BUILD_TYPE=Debug -DORV_WERROR=ON -DORV_UNITY_BUILD=ON -DORV_SANITIZE=ON -DORV_FUZZ=ON \
  -DORV_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS_DEBUG=-gline-tables-only -DCMAKE_CXX_FLAGS_DEBUG=-gline-tables-only
cmake --build build/checked
# These tests keep the cores only half busy (they wait on brokers, browsers, a line's rate), so
# the optimised build compiles beside them, at the lowest priority: the tests get the cores
# whenever they want them and run as they would alone. Their report follows that build's.
tests_log="build/checked/test-run.log"
set -m  # a process group of their own, so that an interrupted command stops them all
# Outside the terminal's foreground group, a read from it would stop them: they read nothing.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
  LSAN_OPTIONS="suppressions=$(pwd)/tests/lsan.supp:print_suppressions=0" \
  UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/checked --output-on-failure -j "$places" --timeout "$limit" \
  > "$tests_log" 2>&1 < /dev/null &
tests_pid=$!
set +m
trap 'kill -- -"$tests_pid" 2> /dev/null || true' EXIT
trap 'exit 130' INT TERM

echo "== the optimised build: the program, the simulator, the benchmarks, the measuring tests"
# It compiles only the tests that measure it (memory and time under load) and the package's.
built=0
cmake -S . -B build/test -G Ninja "${cache[@]}" "${link[@]}" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DORV_WERROR=ON -DORV_UNITY_BUILD=ON -DORV_MEASURED_TESTS_ONLY=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -DNDEBUG" &&
  nice -n 19 cmake --build build/test && built=1
# Whatever became of the optimised build, the sanitizer run's result is waited for and counts.
first=0
wait "$tests_pid" || first=$?
trap - EXIT INT TERM
echo "== the tests under the sanitizers"
cat "$tests_log"
[ "$first" -eq 0 ] || { echo "== the tests under the sanitizers failed"; exit "$first"; }
[ "$built" -eq 1 ] || { echo "== the optimised build failed"; exit 1; }
# Alone on the machine: what they measure is the optimised build's, not its neighbours'.
echo "== the tests of the optimised build"
ctest --test-dir build/test --output-on-failure -j "$places" --timeout "$limit"
