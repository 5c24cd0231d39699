// The upgrade tool's service record: the log file, its line format and the checks that a log
// name can serve as one.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "servicelog.h"

#include "databases.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

FILE *logFile = nullptr;
QString logPath;
QString logFailure;

// Flushed line by line: an abort or a crash must not lose the last lines. The first failure
// (a full disk) is kept, and nothing more is written there.
void writeLog(const char *format, const QString &message)
{
    if (logWritten()
        && (std::fprintf(logFile, format, message.toUtf8().constData()) < 0
            || std::fflush(logFile) != 0))
        logFailure = qt_error_string(errno);
}

} // namespace

bool openLog(const char *path, QString *error)
{
#ifdef Q_OS_WIN
    FILE *file = std::fopen(path, "a");
    if (!file) {
        if (error)
            *error = qt_error_string(errno);
        return false;
    }
#else
    // Non-blocking, so that a FIFO put in the log's place cannot hold the tool; only a regular
    // file is kept.
    const int fd = ::open(path, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_NOCTTY, 0644);
    struct stat info;
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        if (error)
            *error = fd < 0 ? qt_error_string(errno) : QStringLiteral("not a regular file");
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::fcntl(fd, F_SETFL, O_WRONLY | O_APPEND);
    FILE *file = ::fdopen(fd, "a");
    if (!file) {
        if (error)
            *error = qt_error_string(errno);
        ::close(fd);
        return false;
    }
#endif
    logFile = file;
    logPath = QString::fromLocal8Bit(path);
    logFailure.clear();
    qInstallMessageHandler(messageHandler);
    return true;
}

void closeLog()
{
    if (!logFile)
        return;
    // Messages from the clean-up after main must not reach a closed stream.
    qInstallMessageHandler(nullptr);
    std::fclose(logFile);
    logFile = nullptr;
}

void messageHandler(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    const char *format = nullptr;
    switch (type) {
    case QtDebugMsg:
        format = "Debug: %s\n";
        break;
    case QtWarningMsg:
        format = "Warning: %s\n";
        break;
    case QtCriticalMsg:
        format = "Critical: %s\n";
        break;
    case QtFatalMsg:
        format = "Fatal: %s\n";
        break;
    default:
        return;
    }
    writeLog(format, message);
    // A log that cannot be written (a full disk) must not swallow the messages.
    if (!logWritten())
        std::fprintf(stderr, format, message.toLocal8Bit().constData());
    if (type == QtFatalMsg)
        std::abort();
}

void logInfo(const QString &text)
{
    writeLog("Info: %s\n", text);
}

void logRunStart(const QStringList &arguments)
{
    logInfo(QStringLiteral("dbupgrade %1 started %2 in %3, arguments: %4")
                .arg(QCoreApplication::applicationVersion(),
                     QDateTime::currentDateTime().toString(Qt::ISODate), QDir::currentPath(),
                     arguments.join(QLatin1Char(' '))));
}

bool logWritten()
{
    return logFile && logFailure.isEmpty();
}

QString logError()
{
    return logFailure;
}

QString logDestination()
{
    return logWritten() ? logPath : QStringLiteral("standard error");
}

void printLine(FILE *console, const QString &line)
{
    std::fprintf(console, "%s\n", line.toLocal8Bit().constData());
    std::fflush(console);
}

QString unfitLogReason(const QString &path)
{
    const QFileInfo info(path);
    if (databaseEntry(info.fileName().toLower()))
        return QStringLiteral("it is the name of a database");
    if (info.suffix().compare(QLatin1String("qm"), Qt::CaseInsensitive) == 0)
        return QStringLiteral("it is a translation file");
#ifndef Q_OS_WIN
    // Looked at, not opened: opening a FIFO for writing waits for a reader.
    struct stat entry;
    if (::stat(QFile::encodeName(path).constData(), &entry) != 0) {
        if (errno != ENOENT)
            return qt_error_string(errno);
        const QString folder = info.absolutePath();
        if (!QFileInfo(folder).isDir())
            return QStringLiteral("its folder %1 does not exist").arg(folder);
        if (::access(QFile::encodeName(folder).constData(), W_OK | X_OK) != 0)
            return QStringLiteral("its folder %1 cannot be written").arg(folder);
        return QString(); // a new log
    }
    if (S_ISDIR(entry.st_mode))
        return QStringLiteral("it is a folder");
    if (S_ISFIFO(entry.st_mode) || S_ISSOCK(entry.st_mode))
        return QStringLiteral("it is a FIFO or a socket, not a file");
    if (!S_ISREG(entry.st_mode))
        return QStringLiteral("it is a device, not a file");
    if (::access(QFile::encodeName(path).constData(), W_OK) != 0)
        return QStringLiteral("it cannot be written");
#else
    if (!info.exists())
        return info.absoluteDir().exists()
            ? QString()
            : QStringLiteral("its folder %1 does not exist").arg(info.absolutePath());
    if (!info.isFile())
        return QStringLiteral("it is not a file");
#endif
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString(); // write-only: opened for appending, it serves
    const QByteArray head = file.read(64 * 1024);
    if (head.startsWith(QByteArray("SQLite format 3\0", 16)))
        return QStringLiteral("it is a database");
    static const char qmMagic[] = {'\x3c', '\xb8', '\x64', '\x18'};
    if (head.startsWith(QByteArray(qmMagic, 4)))
        return QStringLiteral("it is a translation file");
    if (head.contains('\0'))
        return QStringLiteral("it is not a text file");
    return QString();
}
