#!/usr/bin/env bash
# Times zel_ldd on a chain of DLLs: the program oxxchain uses oxxc0000, which
# uses oxxc0001, and so on (bench/gen_chain.cpp writes them into the bench
# build's sample installation). Prints the median wall time of several runs
# and the peak memory, checks that the run ends with status 0 and nothing on
# standard error and that the tree lists every DLL, and checks the target:
# well under a second for a chain of 1000 DLLs.
#
# Environment: LENGTH (DLLs in the chain; default 1000), RUNS (runs, median
# taken; default 11), BENCH_BUILD (build directory; default build-bench),
# BENCH_STRICT=1 (exit with status 1 when the target is missed).
set -euo pipefail

source "$(dirname "$0")/common.sh"
length=${LENGTH:-1000}
limit=0.5 # seconds: "well under a second"

build_targets zel_ldd gen_chain sample
export KTE=$build/kte
rm -rf "$KTE"/obj/oxxc[0-9]* "$KTE/obj/oxxcha"
"$build/gen_chain" "$KTE/obj" "$length" >/dev/null

measure "$runs" "$build/zel_ldd" -m oxxchain
"$build/zel_ldd" -m oxxchain >"$tmp/out" 2>"$tmp/err"
lines=$(wc -l <"$tmp/out")
if [[ -s $tmp/err || $lines != $((length + 1)) ]]; then
    echo "zel_ldd -m oxxchain: $lines tree lines, expected $((length + 1))" >&2
    cat "$tmp/err" >&2
    exit 1
fi

echo "zel_ldd benchmark (median of $runs runs; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg))"
echo "chain of $length DLLs: ${secs[0]}s, peak $(mb $((peak[0] * 1024))) MB, $lines tree lines"
if awk -v s="${secs[0]}" -v l="$limit" 'BEGIN { exit !(s < l) }'; then
    echo "  ok      ${secs[0]}s < ${limit}s"
else
    echo "  MISSED  ${secs[0]}s < ${limit}s"
    [[ ${BENCH_STRICT:-0} == 1 ]] && exit 1
fi
exit 0
