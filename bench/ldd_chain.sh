#!/usr/bin/env bash
# Times zel_ldd on a chain of DLLs: the program oxxchain uses oxxc0000, which
# uses oxxc0001, and so on (bench/gen_chain.cpp writes them into the bench
# build's sample installation). Prints the best wall time of several runs and
# the peak memory, checks that the tree lists every DLL and that the run
# ends with status 0, and checks the target: well under a second for a chain
# of 1000 DLLs.
#
# Environment: LENGTH (DLLs in the chain; default 1000), RUNS (runs, best
# taken; default 7), BENCH_BUILD (build directory; default build-bench),
# BENCH_STRICT=1 (exit with status 1 when the target is missed).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BENCH_BUILD:-$root/build-bench}
runs=${RUNS:-7}
length=${LENGTH:-1000}
limit=0.5 # seconds: "well under a second"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZEL_TESTS=OFF >"$tmp/build.log" 2>&1 ||
        { cat "$tmp/build.log" >&2; exit 1; }
fi
if ! cmake --build "$build" --target zel_ldd gen_chain sample -j "${JOBS:-2}" >"$tmp/build.log" 2>&1; then
    cat "$tmp/build.log" >&2
    exit 1
fi

export KTE=$build/kte
rm -rf "$KTE"/obj/oxxc[0-9]* "$KTE/obj/oxxcha"
"$build/gen_chain" "$KTE/obj" "$length" >/dev/null

best=
rss=0
for ((r = 0; r < runs; r++)); do
    t0=$(date +%s%N)
    status=0
    /usr/bin/time -f %M -o "$tmp/rss" "$build/zel_ldd" -m oxxchain >"$tmp/out" 2>"$tmp/err" || status=$?
    t1=$(date +%s%N)
    if [[ $status != 0 || -s $tmp/err ]]; then
        echo "zel_ldd -m oxxchain: status $status" >&2
        cat "$tmp/err" >&2
        exit 1
    fi
    ns=$((t1 - t0))
    if [[ -z $best || $ns -lt $best ]]; then best=$ns; fi
    kb=$(tail -n 1 "$tmp/rss")
    if ((kb > rss)); then rss=$kb; fi
done
lines=$(wc -l <"$tmp/out")
if ((lines != length + 1)); then
    echo "the tree has $lines lines, expected $((length + 1))" >&2
    exit 1
fi
secs=$(awk -v ns="$best" 'BEGIN { printf "%.4f", ns / 1e9 }')
echo "zel_ldd benchmark (best of $runs runs; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg))"
echo "chain of $length DLLs: ${secs}s, peak $(awk -v kb="$rss" 'BEGIN { printf "%.1f", kb / 1024 }') MB, $lines tree lines"
if awk -v s="$secs" -v l="$limit" 'BEGIN { exit !(s < l) }'; then
    echo "  ok      ${secs}s < ${limit}s"
else
    echo "  MISSED  ${secs}s < ${limit}s"
    [[ ${BENCH_STRICT:-0} == 1 ]] && exit 1
fi
exit 0
