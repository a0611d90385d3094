#!/bin/sh
# Times the bulk operations of varnika-db on generated ledger databases of
# several sizes, each operation on a fresh copy of the file, and prints one
# table: minimum, median and maximum seconds, records per second, how the
# operation compares with mdb-export and with a plain copy, and peak memory.
#
# usage: bench/run_bench.sh BUILD_DIR [ROWS...]      (default: 10000 100000;
#        2500000 makes a file of about 250 MB)
# env:   RUNS (default 3), BENCH_DIR (where the files go; default a temporary
#        folder, removed at the end), BENCH_KEEP=1 keeps generated files there
#        for the next run.
set -eu

build=${1:?usage: bench/run_bench.sh BUILD_DIR [ROWS...]}
shift
[ $# -gt 0 ] || set -- 10000 100000
runs=${RUNS:-3}
tool=$build/tools/varnika-db
make=$build/bench/bench_make_table
for p in "$tool" "$make"; do
    [ -x "$p" ] || { echo "run_bench: $p is not built" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "run_bench: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }
have_mdb=0
command -v mdb-export >/dev/null 2>&1 && have_mdb=1

if [ -n "${BENCH_DIR:-}" ]; then
    work=$BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/varnika-bench.XXXXXX")
fi
cleanup() {
    rm -f "$work/copy.mdb" "$work/copy.ldb" "$work/copy.mdb-journal" "$work/time.txt"
    [ -n "${BENCH_DIR:-}" ] || rm -rf "$work"
}
trap cleanup EXIT INT TERM
results=$work/results.txt
: >"$results"

now() { date +%s.%N; }

# run_timed NAME ROWS PREPARE COMMAND...: runs COMMAND $runs times, each after
# PREPARE (not timed), and appends "name rows seconds... peak_kb" to results.
# (Plain sh has no local variables: hence the r_ names.)
run_timed() {
    r_name=$1 r_rows=$2 r_prepare=$3
    shift 3
    times="" peak=0
    i=0
    while [ "$i" -lt "$runs" ]; do
        eval "$r_prepare"
        start=$(now)
        if ! /usr/bin/time -f %M -o "$work/time.txt" "$@" >/dev/null 2>"$work/err.txt"; then
            echo "run_bench: $r_name failed:" >&2
            cat "$work/err.txt" >&2
            exit 1
        fi
        end=$(now)
        kb=$(tail -n 1 "$work/time.txt")
        [ "$kb" -gt "$peak" ] && peak=$kb
        times="$times $(echo "$start $end" | awk '{ printf "%.4f", $2 - $1 }')"
        i=$((i + 1))
    done
    echo "$r_name $r_rows$times $peak" >>"$results"
}

fresh_copy='cp "$file" "$work/copy.mdb"'

for rows in "$@"; do
    file=$work/hareket-$rows.mdb
    if [ ! -f "$file" ] || [ "${BENCH_KEEP:-0}" != 1 ]; then
        rm -f "$file"
        echo "building $rows records ..." >&2
        "$make" "$file" "$rows"
    fi
    tenth=$((rows / 10))
    copy=$work/copy.mdb
    run_timed "copy(cp)" "$rows" "rm -f \"$copy\"" cp "$file" "$copy"
    run_timed "tables" "$rows" ":" "$tool" tables "$file"
    run_timed "scan(export)" "$rows" ":" "$tool" export "$file" Hareket
    [ "$have_mdb" = 1 ] && run_timed "scan(mdb-export)" "$rows" ":" mdb-export "$file" Hareket
    run_timed "replace-indexed" "$tenth" "$fresh_copy" \
        "$tool" replace "$copy" --table Hareket --field Birim --old Adet --new Parça
    run_timed "replace-unindexed" "$tenth" "$fresh_copy" \
        "$tool" replace "$copy" --table Hareket --field Sube --old Merkez --new Ataşehir
    run_timed "datetime-mode" "$rows" "$fresh_copy" \
        "$tool" replace "$copy" --table Hareket --field Tarih --old 06.03.2021 --new 01.07.2022 --datetime
    run_timed "titlecase" "$rows" "$fresh_copy" "$tool" titlecase "$copy" --table Hareket --field Musteri
    run_timed "delete-all(10%)" "$tenth" "$fresh_copy" \
        "$tool" delete-all "$copy" --source "Select * From Hareket where Sube='Merkez'"
    [ "${BENCH_KEEP:-0}" = 1 ] || rm -f "$file"
done

echo "nproc: $(nproc)   runs per operation: $runs"
awk -v runs="$runs" '
function median(a, n,   i, j, t) {
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] < a[i]) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
{
    key = NR; name[key] = $1; recs[key] = $2
    n = 0
    for (i = 3; i < NF; i++) { v[++n] = $i }
    mn = v[1]; mx = v[1]
    for (i = 1; i <= n; i++) { if (v[i] < mn) mn = v[i]; if (v[i] > mx) mx = v[i] }
    lo[key] = mn; hi[key] = mx; med[key] = median(v, n); mem[key] = $NF
    # The size is the table size of the block this row belongs to.
    if ($1 == "copy(cp)") { size = $2; copyTime[size] = med[key] }
    if ($1 == "scan(mdb-export)") mdbTime[size] = med[key]
    blockSize[key] = size
    count = NR
}
END {
    printf "%-18s %9s %9s %9s %9s %9s %12s %10s %9s %8s\n", "operation", "table", "records", "min s", "median s", "max s", "records/s", "vs mdb", "x copy", "peak MB"
    for (k = 1; k <= count; k++) {
        s = blockSize[k]
        rate = med[k] > 0 ? recs[k] / med[k] : 0
        vsm = "-"
        if (name[k] == "scan(export)" && (s in mdbTime) && med[k] > 0) vsm = sprintf("%.2fx", mdbTime[s] / med[k])
        xc = (s in copyTime) && copyTime[s] > 0 ? sprintf("%.1f", med[k] / copyTime[s]) : "-"
        printf "%-18s %9d %9d %9.3f %9.3f %9.3f %12.0f %10s %9s %8.1f\n", name[k], s, recs[k], lo[k], med[k], hi[k], rate, vsm, xc, mem[k] / 1024
    }
    print ""
    print "vs mdb: mdb-export time / our time on the same file (above 1: we are faster)."
    print "x copy: our time / the time of cp of the same file (the I/O floor)."
}' "$results"
