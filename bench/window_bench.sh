#!/bin/sh
# Times the window's runs beside varnika-db on the same generated ledger file:
# the title case of Musteri (the window should stay within 1.5 times
# varnika-db titlecase) and a replace of Sube in every record. The window is
# the real one, shown by bench_window_run on an Xvfb display with openbox as
# the window manager where it is installed; each run works on a fresh copy of
# the file. Prints the median seconds of each, their ratio, and how often the
# window drew the counter and the old-value box per second during the run.
#
# usage: bench/window_bench.sh BUILD_DIR [ROWS]      (default 100000)
# env:   RUNS (default 3)
set -eu

build=${1:?usage: bench/window_bench.sh BUILD_DIR [ROWS]}
rows=${2:-100000}
runs=${RUNS:-3}
tool=$build/tools/varnika-db
make=$build/bench/bench_make_table
window=$build/bench/bench_window_run
for p in "$tool" "$make" "$window"; do
    [ -x "$p" ] || { echo "window_bench: $p is not built" >&2; exit 1; }
done
command -v Xvfb >/dev/null 2>&1 || { echo "window_bench: Xvfb is missing (apt-get install xvfb openbox)" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/varnika-window-bench.XXXXXX")
xvfb_pid="" wm_pid=""
cleanup() {
    [ -z "$wm_pid" ] || kill "$wm_pid" 2>/dev/null || true
    [ -z "$xvfb_pid" ] || kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT INT TERM

echo "building $rows records ..." >&2
"$make" "$work/hareket.mdb" "$rows" >/dev/null 2>&1

# The display: Xvfb writes its number to fd 5 once it is ready.
Xvfb -displayfd 5 -screen 0 1024x768x24 -dpi 96 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
i=0
while [ ! -s "$work/display" ] && [ "$i" -lt 300 ]; do sleep 0.1; i=$((i + 1)); done
[ -s "$work/display" ] || { echo "window_bench: Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }
DISPLAY=:$(head -n 1 "$work/display")
mkdir -m 700 "$work/runtime"
export DISPLAY QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime"
if command -v openbox >/dev/null 2>&1; then
    openbox >"$work/openbox.log" 2>&1 &
    wm_pid=$!
    sleep 1
fi

now() { date +%s.%N; }
copy=$work/copy.mdb
results=$work/results.txt
: >"$results"

i=0
while [ "$i" -lt "$runs" ]; do
    cp "$work/hareket.mdb" "$copy"
    start=$(now)
    "$tool" titlecase "$copy" --table Hareket --field Musteri >/dev/null
    end=$(now)
    echo "titlecase tool $(echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }') 0 0" >>"$results"

    cp "$work/hareket.mdb" "$copy"
    "$window" "$copy" Hareket Musteri --titlecase |
        awk '{ print "titlecase window", $2, $4, $6 }' >>"$results"

    cp "$work/hareket.mdb" "$copy"
    start=$(now)
    "$tool" replace "$copy" --table Hareket --field Sube --old "" --new Atasehir >/dev/null
    end=$(now)
    echo "replace tool $(echo "$start $end" | awk '{ printf "%.3f", $2 - $1 }') 0 0" >>"$results"

    cp "$work/hareket.mdb" "$copy"
    "$window" "$copy" Hareket Sube --replace "" Atasehir |
        awk '{ print "replace window", $2, $4, $6 }' >>"$results"
    i=$((i + 1))
done

echo "records: $rows   runs: $runs   nproc: $(nproc)   load: $(cut -d ' ' -f 1-3 /proc/loadavg)"
awk '
function median(list,   n, a, i, j, t) {
    n = split(list, a, " ")
    for (i = 1; i <= n; i++) for (j = i + 1; j <= n; j++) if (a[j] + 0 < a[i] + 0) { t = a[i]; a[i] = a[j]; a[j] = t }
    return n % 2 ? a[(n + 1) / 2] : (a[n / 2] + a[n / 2 + 1]) / 2
}
{
    seconds[$1 " " $2] = seconds[$1 " " $2] " " $3
    if ($2 == "window") { counter[$1] = counter[$1] " " $4; box[$1] = box[$1] " " $5 }
}
END {
    printf "%-10s %14s %12s %8s %18s %16s\n", "operation", "varnika-db s", "window s", "ratio", "counter draws/s", "Text3 draws/s"
    split("titlecase replace", ops, " ")
    for (k = 1; k <= 2; k++) {
        op = ops[k]; t = median(seconds[op " tool"]); w = median(seconds[op " window"])
        ratio = 0
        if (t > 0) ratio = w / t
        printf "%-10s %14.3f %12.3f %8.2f %18.1f %16.1f\n", op, t, w, ratio, median(counter[op]), median(box[op])
    }
    print ""
    print "ratio: window seconds / varnika-db seconds on the same file (title case target: 1.5 at most)."
    print "replace: Sube of every record; draws/s: paints of Label2 and Text3 per second of the window run."
}' "$results"
