#!/usr/bin/env bash
# Builds and runs the tests under sanitizers.
#   scripts/sanitize.sh asan   the whole suite with AddressSanitizer + UndefinedBehaviorSanitizer (build-asan/)
#   scripts/sanitize.sh tsan   the capture-thread, recorder (also on a private PulseAudio) and outbox tests
#                              with ThreadSanitizer (build-tsan/)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
jobs=$(nproc)

case ${1:-} in
  asan)
    BUILD_DIR=build-asan scripts/build.sh -DVORUR_SANITIZE=address,undefined
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=1
    export LSAN_OPTIONS=suppressions=$ROOT/scripts/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    if ! ctest --test-dir build-asan --output-on-failure -j "$jobs"; then
      # LeakSanitizer's stop-the-world tracer now and then crashes at a process's
      # exit ("Tracer caught signal 11"), a known fault of the sanitizer and not a
      # leak. Only then do the failed tests get one more run.
      grep -q "Tracer caught signal" build-asan/Testing/Temporary/LastTest.log || exit 1
      echo "-- LeakSanitizer's tracer crashed: the failed tests once more"
      ctest --test-dir build-asan --output-on-failure --rerun-failed
    fi
    ;;
  tsan)
    TARGETS="record_wave_test mp3_recorder_test mixer_pulse_test DovOvoru net_outbox_test lesson-server vorur-upload" \
      BUILD_DIR=build-tsan scripts/build.sh -DVORUR_SANITIZE=thread
    # Debian's cpp-httplib is not instrumented: ThreadSanitizer sees its memcpy and
    # memcmp but not its own ordering, and stopped lesson-server mid-test on two
    # connections at once. Our code stays checked.
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1:suppressions=$ROOT/scripts/tsan.supp
    for t in record_wave_test mp3_recorder_test mixer_pulse_test; do
      echo "-- $t"
      build-tsan/tests/$t
    done
    # The outbox's background sender; the 40-second case adds nothing here.
    echo "-- net_outbox_test"
    build-tsan/tests/net_outbox_test --gtest_filter=-*FortySeconds*
    ;;
  *)
    echo "usage: scripts/sanitize.sh asan|tsan" >&2
    exit 2
    ;;
esac
