#!/usr/bin/env bash
# Builds the test suite under AddressSanitizer with UndefinedBehaviorSanitizer and runs all of it,
# builds it under ThreadSanitizer and runs the concurrency tests, then replays every fuzz target's
# corpus and fuzzes each target for a bounded time. Any sanitizer report, failed test or fuzzer crash
# fails the script. Expects the packages of scripts/install-dependencies.sh.
#
# The tsan test preset picks only tests that use no Qt: Debian's Qt is not built with ThreadSanitizer,
# whose reports inside it would be false ones. The asan preset's leak suppressions are explained in
# tests/hardening/lsan.supp.
#
#   KAVREL_FUZZ_SECONDS   time for each fuzz target (default 60)
set -euo pipefail
cd "$(dirname "$0")/.."

fuzz_seconds="${KAVREL_FUZZ_SECONDS:-60}"

for preset in asan tsan; do
    echo "== ${preset}: build and test"
    cmake --preset "${preset}" --fresh
    cmake --build --preset "${preset}"
    ctest --preset "${preset}"
done

echo "== fuzz: build and replay the corpora"
cmake --preset fuzz --fresh
cmake --build --preset fuzz
ctest --preset fuzz

# New inputs go to a scratch directory: the corpora in the repository only change by hand.
scratch="$(mktemp -d)"
fuzzed=0
trap 'rm -rf "${scratch}"' EXIT
for fuzzer in build/fuzz/bin/fuzz_*; do
    target="$(basename "${fuzzer}")"
    name="${target#fuzz_}"
    options=(-max_total_time="${fuzz_seconds}" -print_final_stats=1 -artifact_prefix="${scratch}/${name}-")
    if [ -f "fuzz/${target}.dict" ]; then
        options+=(-dict="fuzz/${target}.dict")
    fi
    mkdir -p "${scratch}/${name}"
    echo "== ${target}: ${fuzz_seconds} s"
    if ! "${fuzzer}" "${options[@]}" "${scratch}/${name}" "fuzz/corpus/${name}" >"${scratch}/${name}.log" 2>&1; then
        tail -n 60 "${scratch}/${name}.log"
        echo "${target} failed; the input that broke it is shown above (artifact under ${scratch})" >&2
        trap - EXIT
        exit 1
    fi
    grep -E '^stat::(number_of_executed_units|new_units_added|peak_rss_mb)' "${scratch}/${name}.log"
    fuzzed=$((fuzzed + 1))
done
echo "fuzz: ${fuzzed} passed, 0 failed"
