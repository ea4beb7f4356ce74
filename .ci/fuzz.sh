#!/usr/bin/env bash
# Fuzzing: builds the libFuzzer targets with clang under AddressSanitizer and UBSan, then runs
# each one for a bounded number of inputs. The corpus is copied first so the repository stays
# clean; the seeds are read as they are. FUZZ_RUNS sets the number of inputs per target.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=(fuzz_record_check fuzz_text_int fuzz_capture_name fuzz_settings)
runs=${FUZZ_RUNS:-20000}

clang_ready() {
    command -v clang++-14 >/dev/null 2>&1 &&
        compgen -G "/usr/lib/llvm-14/lib/clang/*/lib/linux/libclang_rt.fuzzer-*.a" >/dev/null
}
if ! clang_ready; then
    echo "== installing clang and its fuzzer runtime"
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
    "${sudo_cmd[@]}" apt-get update
    "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
        clang-14 libclang-rt-14-dev
fi

echo "== fuzz build"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

root=$(pwd)
work=$(mktemp -d)

# UBSan only reports unless told to stop; a report must fail the run.
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}

passed=0
failed=0
for target in "${targets[@]}"; do
    echo "== $target ($runs runs)"
    seeds=$root/tests/fuzz/corpus/$target
    corpus=$work/corpus/$target
    mkdir -p "$corpus" "$work/crashes/$target"
    cp -R "$seeds/." "$corpus/"
    if "$root/build-fuzz/tests/fuzz/$target" -runs="$runs" -max_len=4096 \
        -artifact_prefix="$work/crashes/$target/" "$corpus" "$seeds"; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        echo "fuzz: $target failed; its input is kept in $work/crashes/$target/"
    fi
done

# The copies go unless a failure left an input to look at.
if [ "$failed" -eq 0 ]; then rm -rf "$work"; fi
echo "fuzz: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
