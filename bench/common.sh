# Shared by the benchmark scripts (sourced): the Release build, a scratch
# directory removed at exit, and the timing of commands side by side.
#
# Environment: RUNS (runs per measurement, median taken; default 11),
# BENCH_BUILD (build directory; default build-bench), JOBS.

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
runs=${RUNS:-11}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
# The tools need a 4GL user name (KTE_USER or USER); a shell without USER
# lends them the login name.
export USER=${USER:-$(id -un)}

# build_targets TARGET...: configures the Release build when it is not
# configured yet and builds the targets and the timing helper; shows the
# build's output only when it fails.
build_targets() {
    if [[ ! -f $build/CMakeCache.txt ]]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEL_TESTS=OFF >"$tmp/build.log" 2>&1 ||
            { cat "$tmp/build.log" >&2; exit 1; }
    fi
    if ! cmake --build "$build" --target timeit "$@" -j "${JOBS:-2}" >"$tmp/build.log" 2>&1; then
        cat "$tmp/build.log" >&2
        exit 1
    fi
    grep -q '^CMAKE_BUILD_TYPE:STRING=Release$' "$build/CMakeCache.txt" ||
        echo "warning: $build is not a Release build" >&2
}

# measure N CMD... [-- CMD...]...: runs the commands N times each, taking
# turns, with their output discarded; sets the arrays secs (median wall
# time in seconds), peak (largest peak resident size in KB) and cpu (median
# processor time in seconds), one entry per command. A run that fails ends
# the script with its messages.
measure() {
    local n=$1
    shift
    secs=()
    peak=()
    cpu=()
    local s kb c
    while read -r s kb c; do
        secs+=("$s")
        peak+=("$kb")
        cpu+=("$c")
    done < <("$build/timeit" "$n" "$@" 2>"$tmp/err" || { cat "$tmp/err" >&2; kill $$; })
}

calc() { awk "BEGIN { printf \"$1\", ($2) }"; }
mb() { calc "%.1f" "$1 / 1048576"; }
