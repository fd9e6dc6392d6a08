#!/usr/bin/env bash
# The five figures of zel_info's speed and memory, each beside its yardstick
# measured in the same run (medians of several runs taken in turns, so that
# the machine's other work falls on both alike):
#   1. -m -c on the large generated object against `cksum` of the same file;
#   2. -m -c on the sample's small program object against `cksum` of it;
#   3. the full report's lines per second (-a on the large object) against
#      `objdump -d` on a large system binary;
#   4. the peak memory of -a on the large object against the object's size;
#   5. the time of the large object against that of the half-size object,
#      for -a, -i, -s and -c, beside `cksum` of the two files.
# Goals: 1. at most 3 x cksum; 2. at most 1.5 x cksum; 3. at least 12 x
# objdump's lines per second; 4. at most the object's size plus 8 MB; 5. at
# most 2.0 x the time.
#
# Beside the wall times, the ratios of processor time are printed for the
# doubling, which the machine's other work changes less.
#
# Environment: RUNS (runs per measurement, median taken; default 11),
# OBJDUMP_RUNS (default 5), BENCH_BUILD (build directory; default
# build-bench), OBJDUMP_TARGET (the binary to disassemble; default
# /usr/bin/cmake, else the largest under /usr/bin), BENCH_STRICT=1 (exit with
# status 1 when a goal is missed).
set -euo pipefail

source "$(dirname "$0")/common.sh"

build_targets zel_info gen_large sample
export KTE=$build/kte
"$build/gen_large" "$KTE/obj" >/dev/null
zi=$build/zel_info
full=oxxbigf
half=oxxbigh
small=oxxmain
full_file=$KTE/obj/oxxbig/obigf
half_file=$KTE/obj/oxxbig/obigh
small_file=$KTE/obj/oxxmai/omain
target=${OBJDUMP_TARGET:-/usr/bin/cmake}
if [[ ! -f $target ]]; then
    target=$(find /usr/bin -maxdepth 1 -type f -exec ls -S {} + 2>/dev/null | head -n 1)
fi

# ----------------------------------------------------------- measuring
measure "$runs" "$zi" -m -c "$full" -- cksum "$full_file" -- "$zi" -m -c "$small" -- \
    cksum "$small_file" -- "$zi" -m -c "$half" -- cksum "$half_file"
c_full=${secs[0]} ck_full=${secs[1]} c_small=${secs[2]} ck_small=${secs[3]}
c_half=${secs[4]} ck_half=${secs[5]} c_full_cpu=${cpu[0]} c_half_cpu=${cpu[4]}

measure "$runs" "$zi" -m -a "$full" -- "$zi" -m -a "$half" -- "$zi" -m -i "$full" -- \
    "$zi" -m -i "$half" -- "$zi" -m -s "$full" -- "$zi" -m -s "$half"
a_full=${secs[0]} a_half=${secs[1]} i_full=${secs[2]} i_half=${secs[3]}
s_full=${secs[4]} s_half=${secs[5]} a_peak=${peak[0]}
a_full_cpu=${cpu[0]} a_half_cpu=${cpu[1]} i_full_cpu=${cpu[2]} i_half_cpu=${cpu[3]}
s_full_cpu=${cpu[4]} s_half_cpu=${cpu[5]}

measure "${OBJDUMP_RUNS:-5}" objdump -d "$target"
objdump_time=${secs[0]}
objdump_lines=$(objdump -d "$target" | wc -l)
a_lines=$("$zi" -m -a "$full" | wc -l)
a_rate=$(calc "%.0f" "$a_lines / $a_full")
objdump_rate=$(calc "%.0f" "$objdump_lines / $objdump_time")
full_size=$(stat -c %s "$full_file")
half_size=$(stat -c %s "$half_file")

# -------------------------------------------------------------- report
missed=0
# row FIGURE VALUE YARDSTICK RATIO GOAL OK
row() {
    local verdict=ok
    if [[ $6 != 1 ]]; then
        verdict=MISSED
        missed=1
    fi
    printf '%-22s %-22s %-30s %8s  %-8s %s\n' "$1" "$2" "$3" "$4" "$5" "$verdict"
}
ms() { calc "%.2f ms" "$1 * 1000"; }
mlines() { calc "%.2f M lines/s" "$1 / 1e6"; }

echo "zel_info benchmark: $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) CPUs ($(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')), load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "medians of $runs runs (objdump: ${OBJDUMP_RUNS:-5}); $full $(mb "$full_size") MB, $half $(mb "$half_size") MB, $small $(stat -c %s "$small_file") bytes"
echo
printf '%-22s %-22s %-30s %8s  %-8s %s\n' figure zel_info yardstick ratio goal ""
row "-c, large object" "$(ms "$c_full")" "cksum $(ms "$ck_full")" \
    "$(calc "%.2fx" "$c_full / $ck_full")" "<= 3x" "$(calc "%d" "$c_full <= 3 * $ck_full")"
row "-c, small object" "$(ms "$c_small")" "cksum $(ms "$ck_small")" \
    "$(calc "%.2fx" "$c_small / $ck_small")" "<= 1.5x" "$(calc "%d" "$c_small <= 1.5 * $ck_small")"
row "-a throughput" "$(mlines "$a_rate")" "objdump -d $(mlines "$objdump_rate")" \
    "$(calc "%.1fx" "$a_rate / $objdump_rate")" ">= 12x" "$(calc "%d" "$a_rate >= 12 * $objdump_rate")"
row "-a peak memory" "$(mb $((a_peak * 1024))) MB" "object $(mb "$full_size") MB + 8 MB" \
    "$(calc "%.1f MB" "($a_peak * 1024 - $full_size) / 1048576") over" "<= 8 MB" \
    "$(calc "%d" "$a_peak * 1024 <= $full_size + 8 * 1048576")"
for opt in a i s c; do
    f=${opt}_full
    h=${opt}_half
    row "doubling, -$opt" "$(ms "${!h}") -> $(ms "${!f}")" "cksum $(calc "%.2fx" "$ck_full / $ck_half")" \
        "$(calc "%.2fx" "${!f} / ${!h}")" "<= 2.0x" "$(calc "%d" "${!f} <= 2.0 * ${!h}")"
done
echo
# Processor time, which the machine's other work changes less than the wall
# time (a longer run is more often set aside for other processes).
printf 'processor time, full / half object:'
for opt in a i s c; do
    f=${opt}_full_cpu
    h=${opt}_half_cpu
    printf ' -%s %s' "$opt" "$(calc "%.2fx" "${!f} / ${!h}")"
done
echo
echo "objdump -d $target: $objdump_lines lines in $(ms "$objdump_time"); zel_info -a $full: $a_lines lines in $(ms "$a_full")"

if [[ $missed == 1 && ${BENCH_STRICT:-0} == 1 ]]; then exit 1; fi
exit 0
