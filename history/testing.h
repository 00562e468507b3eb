// What the history's tests reach inside it.
#pragma once
#include <QString>
#include <functional>

namespace history {

// Connect options added to every SQLite connection made from now on
// ("QSQLITE_OPEN_READONLY": a file that cannot be written). Empty: none.
void SetSqliteOptionsForTests(const QString& options);
// A statement run on every SQLite file right after it is opened
// ("PRAGMA max_page_count=N": a full disk). Empty: none.
void SetSqliteStatementForTests(const QString& statement);
// Called after each run the uploader has committed on the server (the
// server can be stopped there). Null: none.
void SetAfterRunSentForTests(std::function<void(int sent)> hook);

}  // namespace history
