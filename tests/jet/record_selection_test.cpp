// A data control refreshed to select its records later: the statement is
// bound at once, the rows are chosen at the record set's first use (the
// table as it is then), and a row the condition cannot be evaluated on
// fails that use and every later one, while closing still works.

#include "db/data_control.h"
#include "db/jet/record_sets.h"
#include "db/text.h"
#include "support/ddl_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace varnika::jet {
namespace {

struct Bound {
    ddltest::NewDb t;
    DataControl data;

    Bound()
    {
        EXPECT_TRUE(t.run("CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20), Depo LONG)").isOk());
        EXPECT_TRUE(t.run("CREATE INDEX ixBirim ON Stok (Birim)").isOk());
        for (int i = 0; i < 10; ++i)
            EXPECT_TRUE(t.run("INSERT INTO Stok (Birim, Depo) VALUES ('" + std::string(i % 2 ? "Adet" : "Kutu") +
                              "', " + std::to_string(i) + ")")
                            .isOk());
        data.SetDatabaseName(fromUtf8(t.path.string()));
        std::shared_ptr<Database> db = t.db;
        data.setDatabaseOpener([db](const std::string&) -> Result<std::shared_ptr<Database>> { return db; });
    }
    int64_t count() { return data.Recordset()->RecordCount().value(); }
};

TEST(RecordSelection, AtFirstUseTheTableIsTakenAsItIsThen)
{
    Bound b;
    b.data.SetRecordSource(u"Select * From Stok where Birim='Adet'");

    ASSERT_TRUE(b.data.Refresh().isOk());
    ASSERT_TRUE(b.t.run("INSERT INTO Stok (Birim, Depo) VALUES ('Adet', 20)").isOk());
    EXPECT_EQ(b.count(), 5) << "a refresh selects at once";

    ASSERT_TRUE(b.data.RefreshSelectingLater().isOk());
    ASSERT_TRUE(b.t.run("INSERT INTO Stok (Birim, Depo) VALUES ('Adet', 21)").isOk());
    RecordSet& rs = *b.data.Recordset();
    EXPECT_FALSE(rs.BOF().value());
    EXPECT_EQ(b.count(), 7);
    std::vector<int32_t> depots;
    while (!rs.Eof().value()) {
        depots.push_back(rs.Fields(u"Depo").value()->Value().value().asLong());
        ASSERT_TRUE(rs.MoveNext().isOk());
    }
    EXPECT_EQ(depots, (std::vector<int32_t>{1, 3, 5, 7, 9, 20, 21}));

    // Selected once: later changes are not seen by the same set.
    ASSERT_TRUE(b.t.run("INSERT INTO Stok (Birim, Depo) VALUES ('Adet', 22)").isOk());
    EXPECT_EQ(b.count(), 7);
}

TEST(RecordSelection, WhatFailsAtOnceAndWhatAtFirstUse)
{
    Bound b;
    // A missing table or field is known without reading a record.
    for (const char16_t* source : {u"Select * From Yok", u"Select * From Stok where Yok='x'", u"Yok"}) {
        b.data.SetRecordSource(source);
        EXPECT_FALSE(b.data.RefreshSelectingLater().isOk()) << toUtf8(source);
        EXPECT_EQ(b.data.Recordset(), nullptr);
    }

    // A text is no condition: known only on a record.
    b.data.SetRecordSource(u"Select * From Stok where Birim");
    EXPECT_EQ(b.data.Refresh().code(), ErrorCode::TypeMismatch);
    ASSERT_TRUE(b.data.RefreshSelectingLater().isOk());
    RecordSet& rs = *b.data.Recordset();
    EXPECT_TRUE(rs.isOpen());
    EXPECT_EQ(rs.Eof().status().code(), ErrorCode::TypeMismatch);
    EXPECT_EQ(rs.RecordCount().status().code(), ErrorCode::TypeMismatch) << "told again, not taken as no records";
    EXPECT_EQ(rs.MoveFirst().code(), ErrorCode::TypeMismatch);
    EXPECT_TRUE(rs.Close().isOk());
    EXPECT_EQ(rs.Eof().status().code(), ErrorCode::Closed);

    // Closed unused: nothing was selected, nothing is missed.
    b.data.SetRecordSource(u"Stok");
    ASSERT_TRUE(b.data.RefreshSelectingLater().isOk());
    EXPECT_TRUE(b.data.Recordset()->Close().isOk());
    ASSERT_TRUE(b.data.RefreshSelectingLater().isOk());
    EXPECT_EQ(b.count(), 10);
}

}  // namespace
}  // namespace varnika::jet

namespace varnika::jet {
namespace {

// A condition on one field is decided once for each stored form of the
// field and the outcome used again for the records that store the same
// bytes. What it selects must be what deciding every record selects: a null
// field apart from an empty text, texts equal but for their case, a Yes/No
// field (its value is no stored bytes), a number, and a field of as many
// values as records, on which the memo gives up partway.
TEST(RecordSelection, AConditionOnOneFieldSelectsAsDecidedOnEveryRecord)
{
    ddltest::NewDb t;
    ASSERT_TRUE(t.run("CREATE TABLE Kayit (Id COUNTER PRIMARY KEY, Sube TEXT(20), Kod TEXT(20), Onay YESNO, Tutar CURRENCY)")
                    .isOk());
    const char* branches[] = {"'Merkez'", "'merkez'", "''", "NULL", "'Ataşehir'", "'Kadıköy'"};
    constexpr int kRecords = 300;
    for (int i = 0; i < kRecords; ++i)
        ASSERT_TRUE(t.run("INSERT INTO Kayit (Sube, Kod, Onay, Tutar) VALUES (" + std::string(branches[i % 6]) + ", 'K" +
                          std::to_string(i) + "', " + (i % 3 == 0 ? "True" : "False") + ", " + std::to_string(i % 7) + ")")
                        .isOk());
    DataControl data;
    data.SetDatabaseName(fromUtf8(t.path.string()));
    std::shared_ptr<Database> db = t.db;
    data.setDatabaseOpener([db](const std::string&) -> Result<std::shared_ptr<Database>> { return db; });

    const std::vector<std::pair<std::u16string, std::function<bool(int)>>> cases = {
        {u"Sube='Merkez'", [](int i) { return i % 6 <= 1; }},
        {u"Sube=''", [](int i) { return i % 6 == 2; }},
        {u"Sube Is Null", [](int i) { return i % 6 == 3; }},
        {u"Sube<>'Merkez'", [](int i) { return i % 6 == 2 || i % 6 >= 4; }},
        {u"Sube Like 'Ka*'", [](int i) { return i % 6 == 5; }},
        {u"Kod='K250'", [](int i) { return i == 250; }},
        {u"Kod<'K2'", [](int i) { return "K" + std::to_string(i) < std::string("K2"); }},
        {u"Onay=True", [](int i) { return i % 3 == 0; }},
        {u"Tutar=3", [](int i) { return i % 7 == 3; }},
    };
    for (const auto& [condition, selected] : cases) {
        data.SetRecordSource(u"Select * From Kayit where " + condition);
        ASSERT_TRUE(data.Refresh().isOk()) << toUtf8(condition);
        RecordSet& rs = *data.Recordset();
        std::vector<int32_t> ids, expected;
        while (!rs.Eof().value()) {
            ids.push_back(rs.Fields(u"Id").value()->Value().value().asLong());
            ASSERT_TRUE(rs.MoveNext().isOk());
        }
        for (int i = 0; i < kRecords; ++i)
            if (selected(i)) expected.push_back(i + 1);
        EXPECT_EQ(ids, expected) << toUtf8(condition);
    }
}

}  // namespace
}  // namespace varnika::jet
