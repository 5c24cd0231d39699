// The upgrade tool's run: its log file, translations and the updaters in their fixed order.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradedriver.h"

#include "updatedata.h"
#include "updateprofile.h"
#include "updatesyslog.h"

#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <cstdlib>

namespace {

FILE *logFile = nullptr;

template<class Updater>
bool runUpdater()
{
    Updater updater(nullptr);
    return updater.update();
}

} // namespace

bool openLog(const char *path)
{
    FILE *file = std::fopen(path, "a");
    if (!file)
        return false;
    logFile = file;
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
    if (logFile) {
        std::fprintf(logFile, format, message.toUtf8().constData());
        // Flushed line by line: an abort or a crash must not lose the last lines.
        std::fflush(logFile);
    }
    if (type == QtFatalMsg)
        std::abort();
}

QStringList translationDirectories()
{
    return {QStringLiteral("."), QStringLiteral(".."),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)};
}

bool loadTranslation(QTranslator *translator, const QStringList &directories, const QString &name)
{
    for (const QString &directory : directories) {
        if (translator->load(name, directory))
            return true;
    }
    return false;
}

bool runUpdaters()
{
    return runUpdater<UpdateProfile>() && runUpdater<UpdateData>() && runUpdater<UpdateQc>()
        && runUpdater<UpdateSyslog>();
}
