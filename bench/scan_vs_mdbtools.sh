#!/bin/sh
# Scans every table of FILE with bench_scan and with mdb-export in the same
# run and prints both rates.
# usage: bench/scan_vs_mdbtools.sh BUILD_DIR FILE
set -eu
build=$1
file=$2
echo "== varnika (bench_scan, decode every value)"
"$build/bench/bench_scan" "$file" 5
echo "== mdb-export (CSV to /dev/null)"
start=$(date +%s.%N)
mdb-tables -1 "$file" | while IFS= read -r t; do
    [ -n "$t" ] || continue
    s=$(date +%s.%N)
    rows=$(mdb-export "$file" "$t" | wc -l)
    e=$(date +%s.%N)
    rows=$((rows - 1))
    awk -v t="$t" -v n="$rows" -v s="$s" -v e="$e" 'BEGIN { d = e - s; printf "%-28s %8d rows  %10.0f rows/s\n", t, n, (d > 0 ? n / d : 0) }'
done
end=$(date +%s.%N)
echo "$start $end" | awk '{ printf "mdb-export wall time for all tables: %.3f s\n", $2 - $1 }'
