#!/usr/bin/env bash
# Times zel_ldd (bench/gen_chain.cpp writes the objects into the bench
# build's sample installation):
#   1. on a chain of DLLs: the program oxxchain uses oxxc0000, which uses
#      oxxc0001, and so on; target: well under a second for 1000 DLLs;
#   2. on a deployment: 1000 programs over 50 DLLs, four DLLs and ten
#      imported functions each, every import called several times, all
#      checked in one run (argument counts included) beside `cat` of all the
#      files; targets: at most 1.5 times the time of `cat`, at most 32 MB.
# Prints the median wall times of several runs and the peak memory, and
# checks that each run ends with status 0, nothing on standard error and a
# tree line for every object and DLL.
#
# Environment: LENGTH (DLLs in the chain; default 1000), PROGRAMS (1000) and
# DLLS (50) of the deployment, RUNS (runs, median taken; default 11),
# BENCH_BUILD (build directory; default build-bench), BENCH_STRICT=1 (exit
# with status 1 when a target is missed).
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

# The deployment.
programs=${PROGRAMS:-1000}
dlls=${DLLS:-50}
rm -rf "$KTE"/obj/oxxp[0-9]* "$KTE"/obj/oxxd[0-9]*
"$build/gen_chain" "$KTE/obj" deploy "$programs" "$dlls" >/dev/null
names=()
for ((k = 0; k < programs; k++)); do names+=("$(printf 'oxxp%04d' "$k")"); done
files=("$KTE"/obj/oxxp[0-9]*/* "$KTE"/obj/oxxd[0-9]*/*)
"$build/zel_ldd" -m "${names[@]}" >"$tmp/out" 2>"$tmp/err" || true
deploy_lines=$(grep -c '^oxxp' "$tmp/out" || true)
if [[ -s $tmp/err || $deploy_lines != "$programs" ]]; then
    echo "zel_ldd -m on the deployment: $deploy_lines trees, expected $programs" >&2
    head "$tmp/err" >&2
    exit 1
fi
chain_secs=${secs[0]} chain_peak=${peak[0]}
measure "$runs" "$build/zel_ldd" -m "${names[@]}" -- cat "${files[@]}"
deploy_secs=${secs[0]} deploy_peak=${peak[0]} cat_secs=${secs[1]}
ratio=$(calc "%.2f" "$deploy_secs / $cat_secs")

echo "zel_ldd benchmark (median of $runs runs; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg))"
echo "chain of $length DLLs: ${chain_secs}s, peak $(mb $((chain_peak * 1024))) MB, $lines tree lines"
echo "deployment of $programs programs over $dlls DLLs ($(cat "${files[@]}" | wc -c) bytes):" \
    "${deploy_secs}s, ${ratio}x cat (${cat_secs}s), peak $(mb $((deploy_peak * 1024))) MB"
missed=0
check() { # check TEXT CONDITION
    if awk "BEGIN { exit !($2) }"; then echo "  ok      $1"; else echo "  MISSED  $1"; missed=1; fi
}
check "chain ${chain_secs}s < ${limit}s" "$chain_secs < $limit"
check "deployment ${ratio}x cat <= 1.5x" "$ratio <= 1.5"
check "deployment peak $(mb $((deploy_peak * 1024))) MB <= 32 MB" "$deploy_peak <= 32 * 1024"
[[ $missed == 1 && ${BENCH_STRICT:-0} == 1 ]] && exit 1
exit 0
