#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds Velmora three ways and runs every test:
#   build/        optimised with warnings: all unit tests, end-to-end tests on a private
#                 PipeWire stack, the browser test
#   build-asan/   AddressSanitizer + UndefinedBehaviorSanitizer: DSP, core and app unit tests
#   build-tsan/   ThreadSanitizer: the lock-free DSP blocks, the audio layer's threads (chain
#                 owner, analysis worker) and the rebuild loop on a private PipeWire stack
#   build-clang/  Clang's thread-safety analysis of the lock annotations: the library that
#                 carries them is compiled, nothing runs
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh

jobs=$(nproc)
status=0

run() {  # run <build dir> <ctest args...>
  local dir=$1; shift
  echo "== ctest in $dir" >&2
  (cd "$dir" && ctest --output-on-failure --no-tests=error -j"$jobs" "$@") || status=1
}

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
run build

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DVELMORA_SANITIZE=address \
      -DVELMORA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-asan -j"$jobs" --target asan_scope
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 run build-asan -L 'dsp|core|app|asan'

cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELMORA_SANITIZE=thread \
      -DVELMORA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-tsan -j"$jobs" --target tsan_scope
# Qt and GLib are not instrumented: tsan.supp names what TSan cannot see through them. The
# stretch tests (two minutes under TSan) run in the other trees.
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/scripts/tsan.supp" ITERATIONS=40 \
  run build-tsan -L 'dsp|tsan' -E '^tv_stretch_test$'

echo "== thread-safety analysis in build-clang" >&2
CC=clang CXX=clang++ cmake -S . -B build-clang -DCMAKE_BUILD_TYPE=Debug -DVELMORA_THREAD_SAFETY=ON \
      -DVELMORA_BUILD_BENCHMARKS=OFF >/dev/null
cmake --build build-clang -j"$jobs" --target VelmoraLib || status=1

exit $status
