#pragma once
// A small in-memory Stok table that the condition tests select from.

#include "db/date_time.h"
#include "db/sql/sql_query.h"
#include "db/variant.h"

#include <string>
#include <vector>

namespace varnika::test {

inline Variant dateValue(int y, int m, int d, int h = 0, int mi = 0, int s = 0)
{
    return Variant::date(*dateSerial(DateParts{y, m, d, h, mi, s}));
}

inline Variant money(double amount)
{
    return Variant::currency(Currency{static_cast<int64_t>(amount * 10000 + (amount < 0 ? -0.5 : 0.5))});
}

inline std::vector<SqlColumn> stokColumns()
{
    return {
        {u"Birim", ColumnType::Text, 20},    {u"Miktar", ColumnType::Long, 4},  {u"Depo", ColumnType::Integer, 2},
        {u"Tarih", ColumnType::DateTime, 8}, {u"Alacak", ColumnType::Currency, 8},
        {u"Borc", ColumnType::Currency, 8},  {u"Aciklama", ColumnType::Memo, 0}, {u"Aktif", ColumnType::Boolean, 1},
        {u"Fiyat", ColumnType::Double, 8},   {u"Resim", ColumnType::OLE, 0},
    };
}

// Rows are numbered from 1 in the expectations.
inline std::vector<std::vector<Variant>> stokRows()
{
    const Variant N;
    auto t = [](const char16_t* s) { return Variant::text(s); };
    auto l = [](int v) { return Variant::longValue(v); };
    auto i = [](int v) { return Variant::integer(static_cast<int16_t>(v)); };
    auto b = [](bool v) { return Variant::boolean(v); };
    auto d = [](double v) { return Variant::doubleValue(v); };
    const Variant pic = Variant::binary({0x42, 0x4D});
    return {
        {t(u"Adet"), l(5), i(2), dateValue(2010, 12, 31), money(0), money(150), t(u"Kırmızı kalem"), b(true), d(12.5), pic},
        {t(u"Kutu"), l(10), i(1), dateValue(2010, 12, 31, 14, 30, 5), money(20), money(150), t(u"mavi kutu"), b(false), d(3.25), N},
        {t(u"adet"), l(5), i(1), dateValue(2011, 1, 15), money(0), money(0), N, b(true), d(0), N},
        {t(u"Paket"), N, i(2), N, money(80), money(0), t(u"O'Neil paketi"), N, N, N},
        {N, l(0), N, dateValue(2009, 6, 5, 8), N, N, t(u""), b(false), d(-7.5), N},
        {t(u"Koli 12"), l(250), i(3), dateValue(2010, 5, 6), money(1234.56), money(0), t(u"yüzde 50% indirim"), b(true), d(1234.5678), N},
        {t(u"05"), l(7), i(2), dateValue(1999, 12, 31, 23, 59, 59), money(0.5), money(2.5), t(u"a*b?c"), b(false), d(100), N},
        {t(u"  Adet  "), l(5), i(2), dateValue(2010, 12, 31), money(0), money(150), t(u"tarih.nokta"), b(true), d(0.1), N},
    };
}

// Now() in the tests: 2026-12-07 12:00.
inline double testNow()
{
    return *dateSerial(DateParts{2026, 12, 7, 12, 0, 0});
}

}  // namespace varnika::test
