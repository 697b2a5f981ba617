#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs one of them: scripts/fuzz.sh TARGET SECONDS [libFuzzer options...]
# TARGET is meta, unpack or probe. The growing corpus stays in BUILD/fuzz/corpus-TARGET and
# crashing inputs go to BUILD/fuzz/artifacts-TARGET/ (copy them into fuzz/regressions/TARGET/).
# BUILD is build-fuzz unless VRK_FUZZ_BUILD says otherwise. Runs niced: the machine is shared.
set -euo pipefail
cd "$(dirname "$0")/.."
target=${1:?usage: fuzz.sh meta|unpack|probe SECONDS [libFuzzer options]}
seconds=${2:?usage: fuzz.sh meta|unpack|probe SECONDS [libFuzzer options]}
shift 2
case "$target" in meta|unpack|probe) ;; *) echo "unknown target $target" >&2; exit 2;; esac
build=${VRK_FUZZ_BUILD:-build-fuzz}

if [ ! -f "$build/CMakeCache.txt" ]; then
    # clang's warnings differ from GCC's, which the warning gate (-Werror) of the normal build uses.
    CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVRK_FUZZ=ON -DVRK_SANITIZE=ON \
        -DVRK_WERROR=OFF
fi
nice cmake --build "$build" -j2 --target "fuzz_$target" pack-seed vrk-sample

seeds="$build/fuzz/seeds"
if [ ! -d "$seeds/$target" ]; then
    # The generators run uninstrumented enough; their own sanitizer reports are not the point here.
    ASAN_OPTIONS=detect_leaks=0 bash fuzz/make-seeds.sh "$build/tools/vrk-sample" "$build/fuzz/pack-seed" "$seeds"
fi
corpus="$build/fuzz/corpus-$target"
artifacts="$build/fuzz/artifacts-$target"
mkdir -p "$corpus" "$artifacts"

args=(-max_total_time="$seconds" -timeout=30 -rss_limit_mb=4096 -print_final_stats=1
      -artifact_prefix="$artifacts/")
case "$target" in
    meta|unpack) args+=(-dict=fuzz/meta.dict) ;;
    # Media seeds are tens of kilobytes; let mutations keep them whole.
    probe) args+=(-max_len=65536) ;;
esac
# Qt, fontconfig and the FFmpeg/mpv libraries keep process-lifetime allocations; leaks of the
# project's own code still show under the sanitizer test suite (scripts/sanitize.sh).
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=0:allocator_may_return_null=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
exec nice -n 10 "$build/fuzz/fuzz_$target" "${args[@]}" "$@" \
    "$corpus" "fuzz/corpus/$target" "$seeds/$target" "fuzz/regressions/$target"
