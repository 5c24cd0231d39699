// ConsoleProgress: progress lines on a terminal while an updater runs its long steps.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "progress.h"

#include "updatebase.h"

#include <QSqlDriver>
#include <QVariant>

#include <sqlite3.h>

#ifdef Q_OS_WIN
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

ConsoleProgress *activeProgress = nullptr;

// Virtual machine steps between two calls of the handler: often enough for a line per second,
// rare enough to cost nothing measurable.
constexpr int handlerSteps = 10000;

} // namespace

ConsoleProgress::ConsoleProgress(FILE *stream, int intervalMs)
    : m_stream(stream)
    , m_intervalMs(intervalMs)
    , m_enabled(stream && isatty(fileno(stream)))
{
}

ConsoleProgress::~ConsoleProgress()
{
    end();
}

void ConsoleProgress::begin(const QString &database, const QSqlDatabase &db)
{
    end();
    if (!m_enabled)
        return;
    m_database = database;
    m_activity.clear();
    m_started.start();
    m_lastLine.start();
    activeProgress = this;
    if (sqlite3 *handle = UpdateBase::sqliteHandle(db)) {
        sqlite3_progress_handler(handle, handlerSteps, &ConsoleProgress::progressHandler, this);
        m_handle = handle;
    }
}

void ConsoleProgress::end()
{
    if (m_handle) {
        sqlite3_progress_handler(static_cast<sqlite3 *>(m_handle), 0, nullptr, nullptr);
        m_handle = nullptr;
    }
    if (activeProgress == this)
        activeProgress = nullptr;
}

void ConsoleProgress::rowsCopied(const QString &table, qint64 rows)
{
    if (!activeProgress)
        return;
    activeProgress->m_activity = QStringLiteral("%1 rows copied into %2").arg(rows).arg(table);
    activeProgress->poll();
}

int ConsoleProgress::progressHandler(void *progress)
{
    static_cast<ConsoleProgress *>(progress)->poll();
    return 0; // never interrupts the statement
}

void ConsoleProgress::poll()
{
    if (m_lastLine.elapsed() < m_intervalMs)
        return;
    m_lastLine.start();
    const qint64 seconds = m_started.elapsed() / 1000;
    const QString line = m_activity.isEmpty()
        ? QStringLiteral("  %1: working, %2 s").arg(m_database).arg(seconds)
        : QStringLiteral("  %1: %2, %3 s").arg(m_database, m_activity).arg(seconds);
    std::fprintf(m_stream, "%s\n", line.toLocal8Bit().constData());
    std::fflush(m_stream);
}
