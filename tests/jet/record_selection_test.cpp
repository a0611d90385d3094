// A data control refreshed to select its records later: the statement is
// bound at once, the rows are chosen at the record set's first use (the
// table as it is then), and a row the condition cannot be evaluated on
// fails that use and every later one, while closing still works.

#include "db/data_control.h"
#include "db/jet/record_sets.h"
#include "db/text.h"
#include "support/ddl_test_support.h"

#include <gtest/gtest.h>

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
