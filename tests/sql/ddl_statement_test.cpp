#include "db/sql/ddl_statement.h"

#include "db/text.h"

#include <gtest/gtest.h>

namespace varnika::jet {
namespace {

TEST(DdlStatement, AddColumnTakesEveryEntryOfTheFieldTypeList)
{
    struct Case {
        const char16_t* type;
        ColumnType expected;
        int size;
    } cases[] = {
        {u"Boolean", ColumnType::Boolean, 0},   {u"Byte", ColumnType::Byte, 0},
        {u"Integer", ColumnType::Long, 0},      {u"Long", ColumnType::Long, 0},
        {u"Currency", ColumnType::Currency, 0}, {u"Single", ColumnType::Single, 0},
        {u"Double", ColumnType::Double, 0},     {u"Date/Time", ColumnType::DateTime, 0},
        {u"Text", ColumnType::Text, 255},       {u"Binary", ColumnType::Binary, 510},
        {u"Memo", ColumnType::Memo, 0},
    };
    for (const Case& c : cases) {
        std::u16string sql = std::u16string(u"ALTER TABLE Stok ADD COLUMN Adet ") + c.type;
        auto r = parseDdlStatement(sql);
        ASSERT_TRUE(r.isOk()) << r.status().toString();
        const auto& a = std::get<AlterTableAddColumn>(*r);
        EXPECT_EQ(a.table, u"Stok");
        EXPECT_EQ(a.column.name, u"Adet");
        EXPECT_EQ(a.column.type, c.expected) << std::u16string(c.type).size();
        EXPECT_EQ(a.column.size, c.size);
        EXPECT_FALSE(a.column.defaultText);
    }
}

TEST(DdlStatement, AddColumnRefusesWhatJetRefuses)
{
    const char16_t* bad[] = {
        u"ALTER TABLE Stok ADD COLUMN Yeni Fiield ismi girin Boolean",  // the hidden box's initial text
        u"ALTER TABLE  ADD COLUMN Adet Long",                           // no table name
        u"ALTER TABLE Stok ADD COLUMN  Long",                           // no column name
        u"ALTER TABLE Stok ADD COLUMN Adet Lung",                       // unknown type
        u"ALTER TABLE Stok ADD COLUMN Adet Long extra",
        u"ALTER TABLE Stok ADD COLUMN Adet Text(300)",
        u"ALTER TABLE Stok ADD COLUMN [a.b] Long",
        u"ALTER TABLE Stok ADD COLUMN Adet Long; DROP TABLE Stok",
        u"DROP TABLE Stok",
        u"",
        u"ALTER TABLE Stok ADD COLUMN 'x' Long",
        u"ALTER TABLE Stok ADD COLUMN Adet Text(1.2.3)",                // a number has one point at most
        u"INSERT INTO Stok VALUES (1.2.3)",
        u"ALTER TABLE Stok ADD COLUMN Adet Long = 5",
    };
    for (const char16_t* s : bad) {
        auto r = parseDdlStatement(s);
        EXPECT_FALSE(r.isOk()) << std::u16string(s).size();
        if (!r.isOk()) {
            EXPECT_EQ(r.status().code(), ErrorCode::InvalidArgument);
        }
    }
}

TEST(DdlStatement, AddColumnWithSizeDefaultAndBracketedNames)
{
    auto r = parseDdlStatement(u"alter table [Stok Kartı] add [Açıklama 2] text(40) not null default 'yok'");
    ASSERT_TRUE(r.isOk()) << r.status().toString();
    const auto& a = std::get<AlterTableAddColumn>(*r);
    EXPECT_EQ(a.table, u"Stok Kartı");
    EXPECT_EQ(a.column.name, u"Açıklama 2");
    EXPECT_EQ(a.column.size, 40);
    EXPECT_TRUE(a.column.notNull);
    EXPECT_EQ(*a.column.defaultText, u"'yok'");
}

// A no-break space is part of a name here (a record source takes it for a
// blank): a field name typed with one is made as typed.
TEST(DdlStatement, ANoBreakSpaceBelongsToTheName)
{
    auto r = parseDdlStatement(u"ALTER TABLE Stok ADD COLUMN Yeni\u00A0Alan Long");
    ASSERT_TRUE(r.isOk()) << r.status().toString();
    EXPECT_EQ(std::get<AlterTableAddColumn>(*r).column.name, u"Yeni\u00A0Alan");
    auto unclosed = parseDdlStatement(u"INSERT INTO Stok VALUES ('a)");
    EXPECT_NE(unclosed.status().message().find("syntax error in the statement at position 26"), std::string::npos)
        << unclosed.status().toString();
}

TEST(DdlStatement, CreateTableWithKeysAndConstraints)
{
    auto r = parseDdlStatement(
        u"CREATE TABLE Stok (Id COUNTER PRIMARY KEY, Birim TEXT(20) NOT NULL, Kod LONG UNIQUE, "
        u"Tarih DATETIME, Alacak CURRENCY, CONSTRAINT ix UNIQUE (Birim, Tarih DESC))");
    ASSERT_TRUE(r.isOk()) << r.status().toString();
    const auto& ct = std::get<CreateTable>(*r);
    ASSERT_EQ(ct.columns.size(), 5u);
    EXPECT_TRUE(ct.columns[0].autoNumber);
    EXPECT_TRUE(ct.columns[0].primaryKey);
    ASSERT_EQ(ct.indexes.size(), 3u);
    EXPECT_EQ(ct.indexes[0].name, u"ix");
    EXPECT_FALSE(ct.indexes[0].columns[1].ascending);
    EXPECT_TRUE(ct.indexes[1].primaryKey);
    EXPECT_EQ(ct.indexes[2].name, u"Kod");

    EXPECT_FALSE(parseDdlStatement(u"CREATE TABLE t (a LONG PRIMARY KEY, b LONG, PRIMARY KEY (b))").isOk());
    EXPECT_FALSE(parseDdlStatement(u"CREATE TABLE t ()").isOk());
    EXPECT_FALSE(parseDdlStatement(u"CREATE TABLE t (a LONG").isOk());
}

TEST(DdlStatement, CreateIndexAndInsert)
{
    auto ci = parseDdlStatement(u"CREATE UNIQUE INDEX ixBirim ON Stok (Birim ASC, Depo DESC)");
    ASSERT_TRUE(ci.isOk()) << ci.status().toString();
    EXPECT_TRUE(std::get<CreateIndex>(*ci).index.unique);
    EXPECT_EQ(std::get<CreateIndex>(*ci).index.columns.size(), 2u);

    auto in = parseDdlStatement(u"INSERT INTO Stok (Birim, Miktar, Tarih, Fiyat, Aktif, Not) "
                                u"VALUES ('O''Neil', -5, #12/31/2010 14:30:05#, 1.5e3, True, Null)");
    ASSERT_TRUE(in.isOk()) << in.status().toString();
    const auto& i = std::get<InsertInto>(*in);
    ASSERT_EQ(i.values.size(), 6u);
    EXPECT_EQ(i.values[0], Variant::text(u"O'Neil"));
    EXPECT_EQ(i.values[1], Variant::longValue(-5));
    EXPECT_TRUE(i.dateLiteral[2]);
    EXPECT_EQ(i.values[3], Variant::doubleValue(1500));
    EXPECT_EQ(i.values[4], Variant::boolean(true));
    EXPECT_TRUE(i.values[5].isNull());

    // Doubled quotes anywhere in the text, the other quote kept as it is.
    auto quoted = parseDdlStatement(u"INSERT INTO Stok (a, b, c, d) VALUES ('''Çay''', '', '''''', \"a''b\"\"c\")");
    ASSERT_TRUE(quoted.isOk()) << quoted.status().toString();
    const auto& q = std::get<InsertInto>(*quoted).values;
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[0], Variant::text(u"'Çay'"));
    EXPECT_EQ(q[1], Variant::text(u""));
    EXPECT_EQ(q[2], Variant::text(u"''"));
    EXPECT_EQ(q[3], Variant::text(u"a''b\"c"));

    EXPECT_FALSE(parseDdlStatement(u"INSERT INTO Stok (a, b) VALUES (1)").isOk());
    EXPECT_FALSE(parseDdlStatement(u"INSERT INTO Stok VALUES ('unterminated)").isOk());
    EXPECT_FALSE(parseDdlStatement(u"INSERT INTO Stok VALUES ('ends in a doubled quote'')").isOk());
}

TEST(DdlStatement, AParserOfManyStatementsReadsEachAsOneStatementAlone)
{
    // Inserts that share their text up to the values list, and texts that
    // only look as if they did.
    const char16_t* script[] = {
        u"INSERT INTO Stok (Ad, Adet) VALUES ('Vida', 3)",
        u"INSERT INTO Stok (Ad, Adet) VALUES ('Somun', -4);",
        u"INSERT INTO Stok (Ad, Adet) VALUES ('Pul', 5, 6)",        // one value too many
        u"INSERT INTO Stok (Ad, Adet) VALUES ('Pul' 5)",            // a comma missing
        u"INSERT INTO Stok (Ad, Adet) VALUES ('Pul', 5) extra",
        u"INSERT INTO Stok (Ad, Adet) VALUES ('Pul, 5)",            // a quote not closed
        u"INSERT INTO Stok (Ad, Adet) VALUESX('Pul', 5)",
        u"INSERT INTO Stok (Ad, Adet) VALUES",
        u"INSERT INTO Stok (Ad, Adet) VALUES ('Pul', #1/2/2024#)",
        u"INSERT INTO Stok (Ad, Adet) VALUES('Civata', 7)",
        u"INSERT INTO Stok (Ad, Adet) VALUES(NULL, 8)",
        u"INSERT INTO Stok (Ad, Adet) VALUESX('Pul', 5)",           // VALUES( is the cached text now
        u"INSERT INTO Stok (Ad, Adet) VALUES(X('Pul', 5)",
        u"INSERT INTO Stok (Ad) VALUES ('Kutu')",
        u"INSERT INTO [Stok] (Ad, Adet) VALUES ('Pul', 9)",
        u"CREATE INDEX ix ON Stok (Ad)",
        u"INSERT INTO Stok (Ad, Adet) VALUES(TRUE, 1.5E3)",
        u"INSERT INTO Stok VALUES (1, 'a', 2)",
        u"INSERT INTO Stok VALUES (3, 'b')",
    };
    DdlStatementParser parser;
    for (const char16_t* text : script) {
        SCOPED_TRACE(toUtf8(text));
        Result<DdlStatement> alone = parseDdlStatement(text);
        Result<DdlStatement> inRun = parser.parse(text);
        ASSERT_EQ(inRun.isOk(), alone.isOk());
        if (!alone.isOk()) {
            EXPECT_EQ(inRun.status().toString(), alone.status().toString());
            continue;
        }
        ASSERT_EQ(inRun->index(), alone->index());
        if (const auto* a = std::get_if<InsertInto>(&*alone)) {
            const auto& b = std::get<InsertInto>(*inRun);
            EXPECT_EQ(b.table, a->table);
            EXPECT_EQ(b.columns, a->columns);
            EXPECT_EQ(b.values, a->values);
            EXPECT_EQ(b.dateLiteral, a->dateLiteral);
        }
    }
}

}  // namespace
}  // namespace varnika::jet
