#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite.
#   scripts/test.sh                        Release build in build/ (or $BUILD_DIR), every test
#   scripts/test.sh --sanitize address,undefined [all|readers]
#                                          under AddressSanitizer and UndefinedBehaviorSanitizer,
#                                          in build-asan/: every test (all, the default), or
#                                          readers: libdravik's tests and the five readers' (their
#                                          error paths, truncation sweeps, the VXT pipeline)
#   scripts/test.sh --sanitize thread      the VXT tests under ThreadSanitizer, in build-tsan/
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh

if [ "${1:-}" != "--sanitize" ]; then
    scripts/build.sh
    exec ctest --test-dir "${BUILD_DIR:-build}" --output-on-failure --parallel "$(nproc)" --timeout 600
fi

sanitizers="${2:?--sanitize needs address,undefined or thread}"
suite="${3:-}"
# A report stops the test that made it, with a stack, and fails it.
export ASAN_OPTIONS="${ASAN_OPTIONS:-abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"
readers=(dravik_tests quenza_km_tests quenza_csv_tests quenza_gatan_tests quenza_tarnis_tests quenza_vxt_tests)
case "$sanitizers" in
    thread)
        export BUILD_DIR="${BUILD_DIR:-build-tsan}"
        # Only the VXT writer starts threads: its tests, and the reader's, are what TSan checks.
        suite="${suite:-vxt}"
        ;;
    *)
        export BUILD_DIR="${BUILD_DIR:-build-asan}"
        suite="${suite:-all}"
        ;;
esac
case "$suite" in
    all) targets=(); labels=() ;;
    readers) targets=("${readers[@]}") ;;
    vxt) targets=(quenza_vxt_tests) ;;
    *) echo "test.sh: unknown suite '$suite' (all, readers, vxt)" >&2; exit 2 ;;
esac
if [ "$suite" != all ]; then
    labels=(-L "^($(IFS='|'; echo "${targets[*]}"))\$")
    targets=(--target "${targets[@]}")
fi
generator=()
command -v ninja >/dev/null 2>&1 && generator=(-G Ninja)
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
    # -O1 keeps the stacks readable and the build short; assertions stay on.
    cmake -S . -B "$BUILD_DIR" "${generator[@]}" -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CXX_FLAGS_DEBUG=-O1 \
        -DCMAKE_C_FLAGS_DEBUG=-O1 -DQUENZA_SANITIZE="$sanitizers"
fi
cmake --build "$BUILD_DIR" --parallel "$(nproc)" "${targets[@]}"
exec ctest --test-dir "$BUILD_DIR" --output-on-failure --parallel "$(nproc)" --timeout 900 "${labels[@]}"
