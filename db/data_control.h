#pragma once
// The record-oriented access path: a data control bound to a database file
// and a record source (a table name or a "Select * From" query).

#include "db/jet/file/page_file.h"
#include "db/record_set.h"
#include "db/regional_settings.h"
#include "db/status.h"

#include <functional>
#include <memory>
#include <string>

namespace varnika {

namespace jet { class Database; }

class DataControl {
public:
    DataControl();
    ~DataControl();
    DataControl(const DataControl&) = delete;
    DataControl& operator=(const DataControl&) = delete;

    void SetDatabaseName(std::u16string path) { m_databaseName = std::move(path); }
    const std::u16string& DatabaseName() const { return m_databaseName; }
    void SetRecordSource(std::u16string source) { m_recordSource = std::move(source); }
    const std::u16string& RecordSource() const { return m_recordSource; }

    // How text written into number and date fields is read.
    void setRegionalSettings(const RegionalSettings& settings) { m_settings = settings; }
    const RegionalSettings& regionalSettings() const { return m_settings; }

    // A layer over the files Refresh opens (tests count their writes).
    void setFileLayer(jet::PageFileLayer layer) { m_fileLayer = std::move(layer); }

    // Opens the database Refresh binds to (path in UTF-8), in place of
    // opening the file for writing: a dry run hands over a copy in memory.
    using DatabaseOpener = std::function<Result<std::shared_ptr<jet::Database>>(const std::string& path)>;
    void setDatabaseOpener(DatabaseOpener opener) { m_opener = std::move(opener); }

    // Opens the record source in the database and makes it the Recordset.
    // The previous record set is closed first. On failure there is no
    // record set afterwards.
    Status Refresh();
    // The same, but the records are selected when the record set is first
    // used (a record set closed unused reads no record). A statement that
    // names a missing table or field still fails here.
    Status RefreshSelectingLater();

    // The record set opened by the last Refresh; null when none was opened.
    // The same object until the next Refresh.
    RecordSet* Recordset() { return m_recordSet.get(); }

private:
    Status refresh(bool selectLater);

    std::u16string m_databaseName;
    std::u16string m_recordSource;
    RegionalSettings m_settings;
    jet::PageFileLayer m_fileLayer;
    DatabaseOpener m_opener;
    std::unique_ptr<RecordSet> m_recordSet;
};

}  // namespace varnika
