# Shared by the benchmark scripts (sourced): the Release build, a scratch
# directory removed at exit, and the timing of a command.
#
# Environment: RUNS (runs per measurement, best taken; default 7),
# BENCH_BUILD (build directory; default build-bench), JOBS.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
runs=${RUNS:-7}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

# build_targets TARGET...: configures the Release build when it is not
# configured yet and builds the targets; shows the build's output only when
# it fails.
build_targets() {
    if [[ ! -f $build/CMakeCache.txt ]]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEL_TESTS=OFF >"$tmp/build.log" 2>&1 ||
            { cat "$tmp/build.log" >&2; exit 1; }
    fi
    if ! cmake --build "$build" --target "$@" -j "${JOBS:-2}" >"$tmp/build.log" 2>&1; then
        cat "$tmp/build.log" >&2
        exit 1
    fi
    grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" ||
        echo "warning: $build is not a Release build" >&2
}

# measure CMD...: runs the command $runs times with its output discarded;
# sets best (seconds, the shortest wall time) and rss (KB, the largest peak
# resident size). A run that fails ends the script with its messages.
measure() {
    best=
    rss=0
    local r t0 t1 ns kb
    for ((r = 0; r < runs; r++)); do
        t0=$(date +%s%N)
        if ! /usr/bin/time -f %M -o "$tmp/rss" "$@" >/dev/null 2>"$tmp/err"; then
            echo "failed: $*" >&2
            cat "$tmp/err" >&2
            exit 1
        fi
        t1=$(date +%s%N)
        ns=$((t1 - t0))
        if [[ -z $best || $ns -lt $best ]]; then best=$ns; fi
        kb=$(tail -n 1 "$tmp/rss")
        if ((kb > rss)); then rss=$kb; fi
    done
    best=$(awk -v ns="$best" 'BEGIN { printf "%.4f", ns / 1e9 }')
}
