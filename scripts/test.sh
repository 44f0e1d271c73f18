#!/usr/bin/env bash
# Installs what is missing, builds and runs the whole test suite.
#   scripts/test.sh             normal build in build/, then its Debian package is built and checked
#   scripts/test.sh --sanitize  AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --tsan      ThreadSanitizer build in build-tsan/ of the threaded tests only
set -euo pipefail
cd "$(dirname "$0")/.."

mode=normal
[ "${1:-}" = "--sanitize" ] && mode=sanitize
[ "${1:-}" = "--tsan" ] && mode=tsan

scripts/bootstrap.sh

# The tests whose code runs on more than one thread. Building only these keeps the job short.
threaded=(GuiThreadTest ComPortFakeTest ComPortPtyTest PosixSerialDeviceTest FramePacerTest AnFlashTest RecordReplayTest
          BrokerLinkTest)

if [ "$mode" = tsan ]; then
  dir=build-tsan
  cmake -S . -B "$dir" -G Ninja -DTELMORA_TSAN=ON -DTELMORA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug
  cmake --build "$dir" -j"$(nproc)" --target "${threaded[@]}"
  export QT_QPA_PLATFORM=offscreen
  # Qt is not built with ThreadSanitizer: the suppressions name its event queue only, so any
  # report in our own code fails the job.
  export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp"
  for t in "${threaded[@]}"; do
    echo "tsan: $t"
    "$dir/tests/$t" --gtest_brief=1
  done
  exit 0
fi

if [ "$mode" = sanitize ]; then
  dir=build-asan
  flags=(-DTELMORA_SANITIZE=ON -DTELMORA_BENCH=OFF -DCMAKE_BUILD_TYPE=Debug)
  export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
  export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
  export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp"
else
  dir=build
  flags=()
fi

cmake -S . -B "$dir" -G Ninja "${flags[@]}"
cmake --build "$dir" -j"$(nproc)"
export QT_QPA_PLATFORM=offscreen
ctest --test-dir "$dir" --output-on-failure -j"$(nproc)"
if [ "$mode" = normal ]; then
  # The Debian package of this build, checked as a user's machine would take it. It reuses the
  # build (its programs stripped) instead of compiling a Release build of its own.
  scripts/package.sh --from "$dir" --check
fi
