#pragma once
// The schema browser: choosing the database file, listing its tables and a
// table's fields into the window, and adding a column. Every listing opens a
// connection of its own and closes it before it returns, also on failure.

#include "db/status.h"
#include "ops/window_port.h"

#include <string>
#include <vector>

namespace varnika {

// "Dosya Seç": the file dialog, the chosen path into Text1, then the table
// list. A cancel changes nothing; every failure ends it without a message.
Status Command4_Click(WindowPort& window);

// Fills lstTables with the database's tables and empties lstFields. A failed
// open leaves both lists untouched; a later failure leaves them cleared and
// lstTables holding the names read so far.
Status LoadTableList(WindowPort& window, const std::u16string& path);

// A click on a table: its name into Text5 and its columns into lstFields.
Status lstTables_Click(WindowPort& window);

// Fills lstFields with the columns of `table`, read through a connection to
// `path`. A failed open leaves the list untouched.
Status LoadFieldList(WindowPort& window, const std::u16string& path, const std::u16string& table);

// A click on a field: its name into Text2, then the focus into Text3.
void lstFields_Click(WindowPort& window);

// "Add Field": ALTER TABLE on a connection of its own, then the statement and
// "Ok" in a message. A failure closes the connection and shows nothing.
Status AddField_Click(WindowPort& window);

// The pieces, exposed for tests and the command-line tool.
std::u16string listingConnectionString(const std::u16string& path);
std::u16string addFieldConnectionString(const std::u16string& path);
// ALTER TABLE T ADD COLUMN C type [DEFAULT d]; the DEFAULT clause only when d
// holds more than blanks.
std::u16string addFieldStatement(const std::u16string& table, const std::u16string& column,
                                 const std::u16string& typeText, const std::u16string& defaultValue = {});
// The settings of the file-open dialog.
FileDialogRequest mdbFileDialogRequest();
// The dialog's file name: the one path chosen, or, for several files, the
// folder followed by each file name, every piece separated by a NUL character
// (as multiple-selection dialogs report them), which names no file.
std::u16string dialogFileName(const std::vector<std::u16string>& paths);

}  // namespace varnika
