#!/bin/sh
# Times the bulk operations of varnika-db on generated ledger databases of
# several sizes (General sort order), each operation on a fresh copy of the
# file, beside the same work done by Jackcess (jcheck) on an identical copy,
# and prints one table: minimum, median and maximum seconds, records per
# second, how the operation compares with Jackcess, with mdb-export and with
# a plain copy, and peak memory. After each replace and delete the rows of
# both copies are compared (jcheck dump) and ours is verified (jcheck verify).
#
# usage: bench/run_bench.sh BUILD_DIR [ROWS...]      (default: 100000; also
#        1000000 and 2500000, a file of about 250 MB)
# env:   RUNS (default 3), BENCH_DIR (where the files go; default a temporary
#        folder, removed at the end), BENCH_KEEP=1 keeps generated files there
#        for the next run; VARNIKA_JCHECK (default ../shared/tools/jcheck/jcheck
#        beside the project; JCHECK=0 leaves Jackcess out); INSERT_ROWS (the
#        records inserted, default the table's size).
set -eu

build=${1:?usage: bench/run_bench.sh BUILD_DIR [ROWS...]}
shift
[ $# -gt 0 ] || set -- 100000
runs=${RUNS:-3}
tool=$build/tools/varnika-db
make=$build/bench/bench_make_table
for p in "$tool" "$make"; do
    [ -x "$p" ] || { echo "run_bench: $p is not built" >&2; exit 1; }
done
[ -x /usr/bin/time ] || { echo "run_bench: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }
have_mdb=0
command -v mdb-export >/dev/null 2>&1 && have_mdb=1
root=$(cd "$(dirname "$0")/.." && pwd)
jcheck=${VARNIKA_JCHECK:-$root/../shared/tools/jcheck/jcheck}
have_jcheck=0
if [ "${JCHECK:-1}" != 0 ] && [ -x "$jcheck" ] && command -v java >/dev/null 2>&1; then
    have_jcheck=1
else
    echo "run_bench: jcheck (Jackcess) not found at $jcheck: no reference columns" >&2
fi

if [ -n "${BENCH_DIR:-}" ]; then
    work=$BENCH_DIR
    mkdir -p "$work"
else
    work=$(mktemp -d "${TMPDIR:-/tmp}/varnika-bench.XXXXXX")
fi
cleanup() {
    rm -f "$work"/copy.* "$work"/jcopy.* "$work/time.txt" "$work"/*.sql "$work"/*.json "$work"/dump-*.txt "$work/empty.mdb"
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
        if ! /usr/bin/time -f %M -o "$work/time.txt" "$@" <"${r_input:-/dev/null}" >"$work/out.txt" 2>"$work/err.txt"; then
            echo "run_bench: $r_name failed:" >&2
            cat "$work/err.txt" >&2
            exit 1
        fi
        end=$(now)
        kb=$(tail -n 1 "$work/time.txt")
        [ "$kb" -gt "$peak" ] && peak=$kb
        if [ -n "${r_own_clock:-}" ]; then
            # Jackcess times itself, without the JVM's start-up.
            ms=$(sed -n 's/.*total_ms=\([0-9]*\).*/\1/p' "$work/out.txt" | tail -n 1)
            times="$times $(awk -v ms="$ms" 'BEGIN { printf "%.4f", ms / 1000 }')"
        else
            times="$times $(echo "$start $end" | awk '{ printf "%.4f", $2 - $1 }')"
        fi
        i=$((i + 1))
    done
    echo "$r_name $r_rows$times $peak" >>"$results"
}

# Each copy is on the disk before the clock starts: otherwise whichever side
# forces its file to the disk first (both do) pays for writing the copy too.
fresh_copy='cp "$file" "$work/copy.mdb" && sync "$work/copy.mdb"'
fresh_jcopy='cp "$file" "$work/jcopy.mdb" && sync "$work/jcopy.mdb"'

# run_jcheck NAME ROWS COMMAND ARGS...: a Jackcess reference run, on jcopy.mdb.
run_jcheck() {
    j_name=$1 j_rows=$2
    shift 2
    r_own_clock=1
    run_timed "$j_name" "$j_rows" "$fresh_jcopy" "$jcheck" "$@"
    r_own_clock=
}

# same_rows WHAT: the rows of copy.mdb and jcopy.mdb (as each was left by
# its last run) are identical, and jcheck verify passes on ours.
same_rows() {
    "$jcheck" dump "$work/copy.mdb" Hareket | grep '^{' >"$work/dump-ours.txt"
    "$jcheck" dump "$work/jcopy.mdb" Hareket | grep '^{' >"$work/dump-theirs.txt"
    if ! cmp -s "$work/dump-ours.txt" "$work/dump-theirs.txt"; then
        echo "run_bench: $1: the rows differ from Jackcess's" >&2
        diff "$work/dump-ours.txt" "$work/dump-theirs.txt" | head -n 5 >&2
        exit 1
    fi
    if ! "$jcheck" verify "$work/copy.mdb" >"$work/verify.txt" 2>&1; then
        echo "run_bench: $1: jcheck verify fails on our file:" >&2
        grep -v ' OK' "$work/verify.txt" | head -n 10 >&2
        exit 1
    fi
    echo "$1: rows identical to Jackcess's ($(wc -l <"$work/dump-ours.txt") records), jcheck verify OK" >&2
}

# The insert workload: a table with an autonumber key, an indexed text, a
# date, a currency and a memo; INSERT statements one a line for exec, and
# the same table and rows for jcheck make.
insert_table="CREATE TABLE Yeni (Id COUNTER PRIMARY KEY, Birim TEXT(20), Tarih DATETIME, Tutar CURRENCY, Aciklama MEMO)"
make_inserts() {
    awk -v n="$1" 'BEGIN {
        split("Adet Kutu Koli Paket Şişe Çuval Düzine Kilogram Litre Metre", u, " ")
        srand(7)
        for (i = 1; i <= n; i++) {
            d = int(rand() * 28) + 1; m = int(rand() * 12) + 1; y = 2020 + int(rand() * 4)
            printf "INSERT INTO Yeni (Birim, Tarih, Tutar, Aciklama) VALUES (\x27%s\x27, #%d/%d/%d %d:%02d:00#, %d.%02d, \x27Kayıt %d: ödeme havale tahsilat\x27)\n",
                u[(i % 10) + 1], m, d, y, int(rand() * 24), int(rand() * 60), int(rand() * 10000), int(rand() * 100), i
        }
    }' >"$work/inserts.sql"
    cat >"$work/inserts.json" <<JSON
{"format":"V2000","tables":[{"name":"Yeni","columns":[
  {"name":"Id","type":"LONG","autonumber":true},{"name":"Birim","type":"TEXT(20)"},{"name":"Tarih","type":"DATETIME"},
  {"name":"Tutar","type":"CURRENCY"},{"name":"Aciklama","type":"MEMO"}],
 "indexes":[{"name":"PrimaryKey","columns":["Id"],"primary":true},{"name":"ixBirim","columns":["Birim"]}],
 "generate":{"count":$1,"seed":7,"columns":{
  "Birim":{"choice":["Adet","Kutu","Koli","Paket","Şişe","Çuval","Düzine","Kilogram","Litre","Metre"]},
  "Tarih":{"date":["2020-01-01","2023-12-31T23:59:59"],"time":true},
  "Tutar":{"decimal":[0,10000],"scale":2},
  "Aciklama":{"format":"Kayıt {n}: ödeme havale tahsilat"}}}}]}
JSON
    rm -f "$work/empty.mdb"
    "$tool" create "$work/empty.mdb"
    printf '%s\nCREATE INDEX ixBirim ON Yeni (Birim)\n' "$insert_table" | "$tool" exec "$work/empty.mdb" >/dev/null
}

for rows in "$@"; do
    file=$work/hareket-$rows.mdb
    if [ ! -f "$file" ] || [ "${BENCH_KEEP:-0}" != 1 ]; then
        rm -f "$file"
        echo "building $rows records ..." >&2
        "$make" "$file" "$rows" --sort general
    fi
    tenth=$((rows / 10))
    copy=$work/copy.mdb
    run_timed "copy(cp)" "$rows" "rm -f \"$copy\"" cp "$file" "$copy"
    run_timed "tables" "$rows" ":" "$tool" tables "$file"
    run_timed "scan(export)" "$rows" ":" "$tool" export "$file" Hareket
    [ "$have_mdb" = 1 ] && run_timed "scan(mdb-export)" "$rows" ":" mdb-export "$file" Hareket
    run_timed "replace-indexed" "$tenth" "$fresh_copy" \
        "$tool" replace "$copy" --table Hareket --field Birim --old Adet --new Parça
    if [ "$have_jcheck" = 1 ]; then
        run_jcheck "jackcess:replace" "$tenth" update "$work/jcopy.mdb" Hareket Birim Adet Parça
        same_rows "replace-indexed"
    fi
    run_timed "replace-unindexed" "$tenth" "$fresh_copy" \
        "$tool" replace "$copy" --table Hareket --field Sube --old Merkez --new Ataşehir
    run_timed "datetime-mode" "$rows" "$fresh_copy" \
        "$tool" replace "$copy" --table Hareket --field Tarih --old 06.03.2021 --new 01.07.2022 --datetime
    run_timed "titlecase" "$rows" "$fresh_copy" "$tool" titlecase "$copy" --table Hareket --field Musteri
    run_timed "delete-all(10%)" "$tenth" "$fresh_copy" \
        "$tool" delete-all "$copy" --source "Select * From Hareket where Sube='Merkez'"
    if [ "$have_jcheck" = 1 ]; then
        run_jcheck "jackcess:delete" "$tenth" delete "$work/jcopy.mdb" Hareket Sube Merkez
        same_rows "delete-all(10%)"
    fi
    inserts=${INSERT_ROWS:-$rows}
    make_inserts "$inserts"
    r_input=$work/inserts.sql
    run_timed "insert(exec)" "$inserts" 'cp "$work/empty.mdb" "$copy"' "$tool" exec "$copy"
    r_input=
    if [ "$have_jcheck" = 1 ]; then
        r_own_clock=1
        run_timed "jackcess:make" "$inserts" 'rm -f "$work/jcopy.mdb"' "$jcheck" make -f "$work/inserts.json" "$work/jcopy.mdb"
        r_own_clock=
    fi
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
    if ($1 ~ /^jackcess:/) { jackTime[size, $1] = med[key]; jackRecs[size, $1] = $2 }
    blockSize[key] = size
    count = NR
}
END {
    ref["replace-indexed"] = "jackcess:replace"; ref["delete-all(10%)"] = "jackcess:delete"; ref["insert(exec)"] = "jackcess:make"
    printf "%-18s %9s %9s %9s %9s %9s %12s %9s %10s %9s %8s\n", "operation", "table", "records", "min s", "median s", "max s", "records/s", "vs Jcs", "vs mdb", "x copy", "peak MB"
    for (k = 1; k <= count; k++) {
        s = blockSize[k]
        rate = med[k] > 0 ? recs[k] / med[k] : 0
        vsm = "-"
        if (name[k] == "scan(export)" && (s in mdbTime) && med[k] > 0) vsm = sprintf("%.2fx", mdbTime[s] / med[k])
        xc = (s in copyTime) && copyTime[s] > 0 ? sprintf("%.1f", med[k] / copyTime[s]) : "-"
        vsj = "-"
        if ((name[k] in ref) && ((s, ref[name[k]]) in jackTime) && med[k] > 0) {
            # Per record: the insert runs may differ in count.
            j = jackTime[s, ref[name[k]]] / jackRecs[s, ref[name[k]]]
            vsj = sprintf("%.1fx", j / (med[k] / recs[k]))
        }
        printf "%-18s %9d %9d %9.3f %9.3f %9.3f %12.0f %9s %10s %9s %8.1f\n", name[k], s, recs[k], lo[k], med[k], hi[k], rate, vsj, vsm, xc, mem[k] / 1024
    }
    print ""
    print "vs Jcs: Jackcess time per record / ours, on identical copies (above 1: we are faster); jackcess: rows"
    print "        are its own timing without the JVM start-up, their peak memory the whole JVM."
    print "vs mdb: mdb-export time / our time on the same file (above 1: we are faster)."
    print "x copy: our time / the time of cp of the same file (the I/O floor)."
}' "$results"
