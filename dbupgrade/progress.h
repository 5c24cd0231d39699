// ConsoleProgress: progress lines on a terminal while an updater runs its long steps.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PROGRESS_H
#define PROGRESS_H

#include <QElapsedTimer>
#include <QSqlDatabase>
#include <QString>

#include <cstdio>

/*!
    \brief Prints a progress line on a terminal at most once per interval while one database is
    upgraded; prints nothing when the stream is no terminal.

    Long statements report through SQLite's progress handler, row-by-row copies through
    rowsCopied(). The tool is single-threaded, so at most one progress is active at a time.
*/
class ConsoleProgress
{
public:
    explicit ConsoleProgress(FILE *stream, int intervalMs = 1000);
    ~ConsoleProgress();

    //! Whether lines are printed at all: the stream is a terminal.
    bool isEnabled() const { return m_enabled; }

    //! Starts reporting on \a database, open as \a db, until end().
    void begin(const QString &database, const QSqlDatabase &db);
    void end();

    //! Called by a row-by-row copy after each row; does nothing unless a progress is active.
    static void rowsCopied(const QString &table, qint64 rows);

private:
    Q_DISABLE_COPY(ConsoleProgress)
    static int progressHandler(void *progress);
    void poll();

    FILE *m_stream;
    int m_intervalMs;
    bool m_enabled;
    QString m_database;
    QString m_activity;
    QElapsedTimer m_started;
    QElapsedTimer m_lastLine;
    void *m_handle = nullptr; // the sqlite3 connection the handler is installed on
};

#endif // PROGRESS_H
