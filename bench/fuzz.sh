#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UBSan) and runs each
# for a number of seconds, seeded from databases our engine generates (among
# them the layouts of bench_make_layouts) and from typical record sources,
# statements and values.
#   bench/fuzz.sh [SECONDS]      default 600 per target; CI runs 60
# The corpus grows in build-fuzz/corpus/<target>/ from run to run; a crash,
# leak, hang or sanitizer report stops the script with the input kept in
# build-fuzz/artifacts/. At the end a table gives each target's executions
# and corpus size.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}

sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
need=()
for p in clang cmake ninja-build python3; do installed "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}"
fi
major=$(clang -dumpversion | cut -d. -f1)
if ! installed "libclang-rt-$major-dev" && apt-cache show "libclang-rt-$major-dev" >/dev/null 2>&1; then
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "libclang-rt-$major-dev"
fi

build=build-fuzz
CC=clang CXX=clang++ cmake -S . -B "$build" -G Ninja -DVARNIKA_FUZZ=ON -DVARNIKA_BUILD_APP=OFF \
  -DVARNIKA_BUILD_TESTS=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" --target fuzz_open_database fuzz_write_table \
  fuzz_record_source fuzz_ddl_statement fuzz_convert varnika-db bench_make_layouts

corpus=$build/corpus
seeds=$build/seeds
rm -rf "$seeds"
mkdir -p "$corpus" "$seeds" "$build/artifacts"
for t in open_database write_table record_source ddl_statement convert; do mkdir -p "$corpus/$t" "$seeds/$t"; done

# Databases: an empty one, and small tables of every column type with an
# index, a memo over a page, Turkish text and a Turkish sort order.
export ASAN_OPTIONS=detect_leaks=0
tool=$build/tools/varnika-db
"$tool" create "$seeds/open_database/empty.mdb"
"$tool" create "$seeds/open_database/stok.mdb"
python3 - <<'EOF' | "$tool" exec "$seeds/open_database/stok.mdb"
print("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(50), Miktar LONG, Depo SHORT, Tarih DATETIME, "
      "Aciklama MEMO, Alacak CURRENCY, Borc CURRENCY, Oran DOUBLE, Aktif BIT, Resim OLEOBJECT)")
print("CREATE INDEX ixBirim ON Stok (Birim)")
print("CREATE UNIQUE INDEX ixMiktar ON Stok (Miktar DESC)")
units = ["Adet", "Kutu", "İğne", "Çuval", "ışık", "ŞEKER"]
for i in range(40):
    note = "ğ" * 2500 if i == 7 else f"not {i}"
    print(f"INSERT INTO Stok (Birim, Miktar, Depo, Tarih, Aciklama, Alacak, Borc, Oran, Aktif) VALUES "
          f"('{units[i % 6]}', {i}, {i % 3}, #12/{i % 28 + 1}/2010 14:30:05#, '{note}', {i * 1.5}, 0, {i / 7}, {i % 2})")
EOF

# Access 97 (Jet 3) files: 2 KB pages, one-byte row offsets (rows past 256
# bytes with their jump table), text in code page 1252 or 1254, keys under
# Access 97's sort orders. The Access-made ones too, when VARNIKA_FIXTURES
# names them.
"$tool" create "$seeds/open_database/empty97.mdb" --format jet3
"$tool" create "$seeds/open_database/empty97tr.mdb" --format jet3 --sort turkish
"$tool" create "$seeds/open_database/stok97.mdb" --format jet3
python3 - <<'EOF' | "$tool" exec "$seeds/open_database/stok97.mdb"
print("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(50), Miktar LONG, Tarih DATETIME, Aciklama MEMO, "
      "Alacak CURRENCY, Aktif BIT, Ek1 TEXT(255), Ek2 TEXT(255))")
print("CREATE INDEX ixBirim ON Stok (Birim)")
print("CREATE UNIQUE INDEX ixMiktar ON Stok (Miktar DESC)")
units = ["Adet", "Kutu", "Çuval", "Müller", "naïve café", "ÅSA"]
for i in range(40):
    note = "é" * 2500 if i == 7 else f"not {i}"
    extra = "x" * (i * 6 % 250)
    print(f"INSERT INTO Stok (Birim, Miktar, Tarih, Aciklama, Alacak, Aktif, Ek1, Ek2) VALUES "
          f"('{units[i % 6]}', {i}, #12/{i % 28 + 1}/2010 14:30:05#, '{note}', {i * 1.5}, {i % 2}, '{extra}', '{extra}')")
EOF
if [ -n "${VARNIKA_FIXTURES:-}" ]; then
  for f in "$VARNIKA_FIXTURES"/jet3/*.mdb "$VARNIKA_FIXTURES"/jet3-turkish/*.mdb; do
    [ -f "$f" ] && cp "$f" "$seeds/open_database/fixture-$(basename "$f")"
  done
fi

# The layouts Access leaves in real files: moved rows whose old slot keeps
# its old length, numbers stored as variable-length values, the damage of a
# copy made while the file was open, text indexes under sort orders we do
# not encode.
"$build/bench/bench_make_layouts" "$seeds/open_database"
# The same databases, to be written to.
cp "$seeds/open_database/"* "$seeds/write_table/"

utf16() { python3 -c 'import sys; sys.stdout.buffer.write(sys.argv[1].encode("utf-16-le"))' "$1"; }
n=0
while IFS= read -r line; do
  n=$((n + 1)); utf16 "$line" > "$seeds/record_source/$n"
done <<'EOF'
Stok
Select * From Stok where Birim='Adet'
Select * From Stok where Birim='Adet' and Depo=2
Select * From Stok where Miktar=5 Order By Tarih DESC, [Birim]
Select * From Stok where Tarih=#12/31/2010# or Tarih between #2010-01-01# and #2010-12-31 14:30:05#
select * from [Stok] where Birim like '[!a-c]*#?' and not Aciklama is null and Depo in (1,2,3)
Select * From Stok where Len(Trim(Birim)) > 2 and Mid(Birim, 2, 3) & 'x' <> UCase(LCase('Y')) and Nz(Alacak, 0) * 2 ^ 3 \ 4 Mod 5 >= -1.5e3
Select * From Stok where IIf(IsNull(Tarih), Date(), Now()) > DateSerial(2010, 12, 31) and Year(Tarih) = 2010 and CDbl('1,5') = 1.5
Select * From Stok where Birim='O''Neil' and InStr(1, Replace(Birim, 'a', 'b'), "b") > 0 and Round(Val(CStr(Depo)), 2) = Fix(Int(Abs(-2)))
EOF
n=0
while IFS= read -r line; do
  n=$((n + 1)); utf16 "$line" > "$seeds/ddl_statement/$n"
done <<'EOF'
ALTER TABLE Stok ADD COLUMN Yeni TEXT(20)
ALTER TABLE [Stok] ADD COLUMN [Yeni Alan] Currency DEFAULT 0
ALTER TABLE Stok ADD COLUMN Kontrol Yes/No
ALTER TABLE Stok ADD COLUMN Zaman Date/Time DEFAULT #12/31/2010#
ALTER TABLE Stok ADD COLUMN Notlar Memo
CREATE TABLE Yeni (Id COUNTER PRIMARY KEY, Ad TEXT(30) NOT NULL UNIQUE, Tutar CURRENCY)
CREATE UNIQUE INDEX ixDepo ON Stok (Depo DESC, Birim)
INSERT INTO Stok (Birim, Depo, Alacak) VALUES ('Koli', 3, 1.234)
EOF
n=0
for v in "31.12.2010 14:30:05" "1.234,56" "12/31/2010 2:30:05 PM" "1,234.56" "True" "-32768" "2010-12-31" "1E308" "İğne"; do
  for sel in 0 7 14 22; do
    n=$((n + 1)); { printf "\\x$(printf %02x $sel)"; utf16 "$v"; } > "$seeds/convert/$n"
  done
done

printf '\n%-16s %10s %12s %8s %10s\n' target seconds executions files bytes
results=()
for t in open_database write_table record_source ddl_statement convert; do
  log=$build/fuzz_$t.log
  set +e
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
    "$build/fuzz/fuzz_$t" "$corpus/$t" "$seeds/$t" -max_total_time="$seconds" -timeout=20 -rss_limit_mb=2048 \
    -max_len=131072 -print_final_stats=1 -artifact_prefix="$build/artifacts/${t}-" >"$log" 2>&1
  rc=$?
  set -e
  if [ $rc -ne 0 ]; then
    echo "fuzz_$t failed (exit $rc); the end of its log:" >&2
    tail -n 60 "$log" >&2
    exit 1
  fi
  execs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' | tail -n 1)
  files=$(find "$corpus/$t" -type f | wc -l)
  bytes=$(du -sb "$corpus/$t" | cut -f1)
  results+=("$(printf '%-16s %10s %12s %8s %10s' "$t" "$seconds" "${execs:-?}" "$files" "$bytes")")
  echo "${results[-1]}"
done
