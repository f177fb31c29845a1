#!/usr/bin/env bash
# The libFuzzer targets of fuzz/, built with clang, AddressSanitizer and
# UndefinedBehaviorSanitizer (Lua and oscpack too) in build/fuzz.
#
#   bash scripts/fuzz.sh          every target for CORVANE_FUZZ_SECONDS seconds
#                                 (default 4) over its seed corpus: the short
#                                 bounded run of scripts/test.sh
#   bash scripts/fuzz.sh long     every target to CORVANE_FUZZ_RUNS executions
#                                 (default 1000000), one target after another
#   bash scripts/fuzz.sh long LuaApiFuzz   one target only
#
# New inputs go to build/fuzz/corpus/<target> (the seeds in fuzz/corpus stay
# as they are); a crash leaves its input in build/fuzz/artifacts/ and ends
# the script with a failure.
set -uo pipefail
cd "$(dirname "$0")/.."

mode=${1:-short}
only=${2:-}
targets=(OscPacketFuzz StateChunkFuzz MidiEventsFuzz LuaApiFuzz CalibrationFileFuzz)
[ -n "$only" ] && targets=("$only")
jobs=${CORVANE_JOBS:-$(nproc)}

if ! command -v clang++ >/dev/null 2>&1; then
  echo "fuzz: clang++ is not installed (scripts/setup.sh installs it)"; exit 1
fi
mkdir -p build
if ! CC=clang CXX=clang++ cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCORVANE_FUZZ=ON \
     >build/fuzz.configure.log 2>&1; then
  cat build/fuzz.configure.log; exit 1
fi
if ! ninja -C build/fuzz -j "$jobs" "${targets[@]}" >build/fuzz.build.log 2>&1; then
  tail -n 60 build/fuzz.build.log; exit 1
fi

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=0:detect_stack_use_after_return=0"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
mkdir -p build/fuzz/artifacts
status=0
for target in "${targets[@]}"; do
  mkdir -p "build/fuzz/corpus/$target"
  if [ "$mode" = long ]; then
    limit="-runs=${CORVANE_FUZZ_RUNS:-1000000}"
  else
    limit="-max_total_time=${CORVANE_FUZZ_SECONDS:-4}"
  fi
  log="build/fuzz/$target.log"
  echo "--- $target ($mode)"
  if "build/fuzz/fuzz/$target" "$limit" -timeout=10 -rss_limit_mb=4096 -print_final_stats=1 \
       -artifact_prefix="build/fuzz/artifacts/$target-" \
       "build/fuzz/corpus/$target" "fuzz/corpus/$target" >"$log" 2>&1; then
    grep -E "^(stat::number_of_executed_units|Done )" "$log" | tail -n 2
  else
    tail -n 40 "$log"; echo "$target: FAILED"; status=1
  fi
done
exit $status
