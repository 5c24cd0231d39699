// Space given back after an upgrade: SQLite's VACUUM when free pages fill much of the file.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef COMPACTION_H
#define COMPACTION_H

#include <QString>

struct sqlite3;

struct Compaction
{
    enum Outcome { NotNeeded, Compacted, Skipped };
    Outcome outcome = NotNeeded;
    qint64 sizeBefore = 0;
    qint64 sizeAfter = 0;
    //! Why a compaction that was due did not run.
    QString reason;

    //! The console item: "346.8 MB -> 175.1 MB", "not compacted: <reason>", or empty.
    QString text() const;
};

//! The free disk a compaction of a database of \a bytes in use needs, beside the folder's disk
//! and the temporary folder's: the compacted copy is built in the latter and journalled in the
//! former.
qint64 compactionSpace(qint64 bytes);

//! Compacts the committed database open as \a db (no transaction open) when its free pages
//! exceed a quarter of the file, the disk has room and every row keeps its rowid.
Compaction compactDatabase(sqlite3 *db, const QString &fileName);

#endif // COMPACTION_H
