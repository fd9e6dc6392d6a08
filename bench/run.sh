#!/usr/bin/env bash
# Times zel_info on the large objects that gen_large writes (a full-size
# object of about 5 MB of code and one of half its size) and prints, per
# option set, the best wall time of several runs, the listing lines per
# second, the peak memory and the growth factor from the half-size to the
# full-size object. For scale it times `objdump -d` on a large system binary
# and `cksum` on the full-size object in the same run, and checks the
# targets:
#   - listing (-i, -a): at least twice objdump's lines per second;
#   - -c: within three times cksum on the same file;
#   - peak memory below three times the object's size plus 16 MB;
#   - doubling the object costs at most 2.2 times the time.
#
# Environment: RUNS (runs per measurement, best taken; default 7),
# BENCH_BUILD (build directory; default build-bench), OBJDUMP_TARGET (the
# binary to disassemble; default /usr/bin/cmake, else the largest under
# /usr/bin), BENCH_STRICT=1 (exit with status 1 when a target is missed).
set -euo pipefail

source "$(dirname "$0")/common.sh"

# ---------------------------------------------------------------- build
build_targets zel_info gen_large sample

export KTE=$build/kte
# The tool needs a 4GL user name (KTE_USER or USER); a shell without USER
# lends it the login name.
export USER=${USER:-$(id -un)}
"$build/gen_large" "$KTE/obj" >/dev/null
full=oxxbigf
half=oxxbigh
full_file=$KTE/obj/oxxbig/obigf
half_file=$KTE/obj/oxxbig/obigh

lines_of() { "$@" 2>/dev/null | wc -l; }
calc() { awk "BEGIN { printf \"$1\", ($2) }"; }

size_of() { stat -c %s "$1"; }

# -------------------------------------------------------------- scale
target=${OBJDUMP_TARGET:-/usr/bin/cmake}
if [[ ! -f $target ]]; then
    target=$(find /usr/bin -maxdepth 1 -type f -exec ls -S {} + 2>/dev/null | head -n 1)
fi
objdump_runs=$((runs < 3 ? runs : 3))
saved_runs=$runs
runs=$objdump_runs
measure objdump -d "$target"
runs=$saved_runs
objdump_time=$best
objdump_lines=$(lines_of objdump -d "$target")
objdump_rate=$(calc "%.0f" "$objdump_lines / $objdump_time")

measure cksum "$full_file"
cksum_time=$best

# --------------------------------------------------------------- tool
declare -A secs lines rate peak
options=(-a -i -s -c)
for opt in "${options[@]}"; do
    for obj in $full $half; do
        measure "$build/zel_info" -m "$opt" "$obj"
        secs[$obj$opt]=$best
        peak[$obj$opt]=$rss
        lines[$obj$opt]=$(lines_of "$build/zel_info" -m "$opt" "$obj")
        rate[$obj$opt]=$(calc "%.0f" "${lines[$obj$opt]} / $best")
    done
done

# -------------------------------------------------------------- report
mb() { calc "%.1f" "$1 / 1048576"; }
full_size=$(size_of "$full_file")
half_size=$(size_of "$half_file")
echo "zel_info benchmark (best of $runs runs; $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg))"
echo "objects: $full $(mb "$full_size") MB, $half $(mb "$half_size") MB"
echo
printf '%-7s %-8s %9s %10s %12s %9s %9s\n' option object "time(s)" lines "lines/s" "peak MB" "limit MB"
for opt in "${options[@]}"; do
    for obj in $full $half; do
        size=$full_size
        [[ $obj == "$half" ]] && size=$half_size
        printf '%-7s %-8s %9s %10s %12s %9s %9s\n' "$opt" "$obj" "${secs[$obj$opt]}" \
            "${lines[$obj$opt]}" "${rate[$obj$opt]}" "$(mb $((peak[$obj$opt] * 1024)))" \
            "$(mb $((3 * size + 16 * 1048576)))"
    done
done
echo
printf '%-36s %9s %10s %12s\n' "reference" "time(s)" lines "lines/s"
printf '%-36s %9s %10s %12s\n' "objdump -d $target" "$objdump_time" "$objdump_lines" "$objdump_rate"
printf '%-36s %9s\n' "cksum $full (full object)" "$cksum_time"
echo

# ------------------------------------------------------------- targets
missed=0
verdict() { # verdict OK TEXT
    if [[ $1 == 1 ]]; then
        echo "  ok      $2"
    else
        echo "  MISSED  $2"
        missed=1
    fi
}
echo "targets:"
for opt in -i -a; do
    r=${rate[$full$opt]}
    verdict "$(calc "%d" "$r >= 2 * $objdump_rate")" \
        "$opt listing $r lines/s >= 2 x objdump $objdump_rate lines/s ($(calc "%.1f" "$r / $objdump_rate") x)"
done
t=${secs[$full-c]}
verdict "$(calc "%d" "$t <= 3 * $cksum_time")" \
    "-c ${t}s <= 3 x cksum ${cksum_time}s ($(calc "%.2f" "$t / $cksum_time") x)"
for opt in "${options[@]}"; do
    for obj in $full $half; do
        size=$full_size
        [[ $obj == "$half" ]] && size=$half_size
        kb=${peak[$obj$opt]}
        verdict "$(calc "%d" "$kb * 1024 < 3 * $size + 16 * 1048576")" \
            "$opt $obj peak $(mb $((kb * 1024))) MB < $(mb $((3 * size + 16 * 1048576))) MB"
    done
done
for opt in "${options[@]}"; do
    g=$(calc "%.2f" "${secs[$full$opt]} / ${secs[$half$opt]}")
    verdict "$(calc "%d" "$g <= 2.2")" "$opt doubling the object: x $g <= 2.2"
done

if [[ $missed == 1 && ${BENCH_STRICT:-0} == 1 ]]; then exit 1; fi
exit 0
