#!/usr/bin/env python3
"""Writes examples/ornek.sql: the statements that build the sample database
examples/ornek.mdb (a Stok table of a few hundred records with Turkish text).
Deterministic: the same file every run."""
import random
import sys

rng = random.Random(1907)
birimler = ["Adet", "Kutu", "Koli", "Paket", "Kilo", "Metre", "Litre", "Düzine"]
urunler = [
    "İSTANBUL ŞUBESİ SİPARİŞİ", "ırmak kıyısı deposu", "iğne ipliği", "IŞIK ARMATÜRÜ",
    "çay bardağı", "ÖĞRENCİ DEFTERİ", "şeker kamışı", "üzüm pekmezi", "Gül Suyu",
    "kağıt havlu", "ÇİĞ KÖFTE MALZEMESİ", "zeytinyağı", "Izgara Teli", "iş eldiveni",
    "o'neil-smith adaptörü", "kalem  kutusu", "BEYAZ PEYNİR", "fındık ezmesi",
]
notlar = [
    "fatura kesildi", "irsaliye bekleniyor", "Müşteri iade etti", "SAYIM FARKI",
    "Depodan depoya aktarım", "kırık ürün, değişim yapıldı", "",
]

def q(s):
    return "'" + s.replace("'", "''") + "'"

lines = [
    "CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20), Miktar LONG, Depo SHORT, "
    "Tarih DATETIME, Urun TEXT(80), Aciklama MEMO, Alacak CURRENCY, Borc CURRENCY)",
    "CREATE INDEX ixBirim ON Stok (Birim)",
]
for i in range(300):
    birim = rng.choice(birimler)
    miktar = rng.randint(1, 500)
    depo = rng.randint(1, 5)
    day = rng.randint(1, 28)
    month = rng.randint(1, 12)
    year = rng.choice([2009, 2010, 2011])
    hh, mm, ss = rng.randint(8, 18), rng.randint(0, 59), rng.randint(0, 59)
    tarih = "#%d/%d/%d %02d:%02d:%02d#" % (month, day, year, hh, mm, ss)
    urun = rng.choice(urunler)
    note = rng.choice(notlar)
    if rng.random() < 0.15:
        note = (note + " ") * rng.randint(10, 40)  # long memos
    amount = "%d.%02d" % (rng.randint(0, 5000), rng.randint(0, 99))
    if rng.random() < 0.5:
        alacak, borc = amount, "0"
    else:
        alacak, borc = "0", amount
    aciklama = "Null" if rng.random() < 0.05 else q(note.strip())
    lines.append(
        "INSERT INTO Stok (Birim, Miktar, Depo, Tarih, Urun, Aciklama, Alacak, Borc) VALUES "
        "(%s, %d, %d, %s, %s, %s, %s, %s)" % (q(birim), miktar, depo, tarih, q(urun), aciklama, alacak, borc)
    )

out = sys.argv[1] if len(sys.argv) > 1 else "examples/ornek.sql"
with open(out, "w", encoding="utf-8") as f:
    f.write("\n".join(lines) + "\n")
