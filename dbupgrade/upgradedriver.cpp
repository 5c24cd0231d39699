// The upgrade tool's commands, one function each: the upgrade, --status, --restore and --changes;
// and the translations the upgrade loads. SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradedriver.h"

#include "changes.h"
#include "databases.h"
#include "restore.h"
#include "servicelog.h"
#include "updatebase.h"
#include "upgradeplan.h"
#include "upgraderun.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

void printError(const QString &text)
{
    printLine(stderr, QStringLiteral("dbupgrade: ") + text);
}

// A refusal is recorded in an existing log only: a refused run creates no file.
void recordRefusal(const QString &logName, const QStringList &arguments, const QString &text)
{
    if (logName.isEmpty() || !QFileInfo(logName).isFile() || !unfitLogReason(logName).isEmpty()
        || !openLog(QFile::encodeName(logName).constData()))
        return;
    logRunStart(arguments);
    logInfo(text);
    logInfo(QStringLiteral("dbupgrade finished: refused, nothing was changed"));
    closeLog();
}

// The log's name is tried as a translation too and may well be none; every other argument names
// one, and texts stored without it could not be taken back. Empty when all loaded.
QString loadTranslations(const QStringList &positional, std::vector<QTranslator *> *loaded)
{
    const QStringList directories = translationDirectories();
    for (int i = 0; i < positional.size(); ++i) {
        auto translator = std::make_unique<QTranslator>(QCoreApplication::instance());
        if (loadTranslation(translator.get(), directories, positional.at(i))) {
            loaded->push_back(translator.release());
        } else if (i > 0) {
            return QStringLiteral("the translation %1 cannot be found or loaded (looked in %2); "
                                  "nothing was changed")
                .arg(positional.at(i), directories.join(QLatin1String(", ")));
        }
    }
    return QString();
}

void usageHint()
{
    std::fputs("Try 'dbupgrade --help'.\n", stderr);
}

} // namespace

QStringList translationDirectories()
{
    return {QStringLiteral("."), QStringLiteral(".."), QCoreApplication::applicationDirPath(),
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

QString schemaVersions()
{
    QStringList versions;
    for (const DatabaseEntry &entry : databaseEntries()) {
        versions.append(
            entry.currentVersion == notVersioned
                ? QStringLiteral("%1 not versioned").arg(entry.fileName)
                : QStringLiteral("%1 %2").arg(entry.fileName).arg(entry.currentVersion));
    }
    return versions.join(QStringLiteral(", "));
}

int upgradeCommand(const QStringList &positional, const QStringList &arguments)
{
    const QString logName = positional.value(0);
    if (!logName.isEmpty()) {
        if (const QString reason = unfitLogReason(logName); !reason.isEmpty()) {
            printError(QStringLiteral("%1 cannot be the log file: %2; nothing was changed")
                           .arg(logName, reason));
            usageHint();
            return 2;
        }
    }
    std::vector<QTranslator *> translators;
    if (const QString problem = loadTranslations(positional, &translators); !problem.isEmpty()) {
        printError(problem);
        recordRefusal(logName, arguments, problem);
        return 2;
    }
    const UpgradePlan plan = makePlan(false);
    if (const QString problem = plan.refusalLine(); !problem.isEmpty()) {
        printError(problem);
        recordRefusal(logName, arguments, problem);
        return 1;
    }

    // The service record exists before the first change, or nothing is changed.
    QString error;
    if (!logName.isEmpty() && !openLog(QFile::encodeName(logName).constData(), &error)) {
        printError(QStringLiteral("%1 cannot be the log file: %2; nothing was changed")
                       .arg(logName, error));
        return 2;
    }
    logRunStart(arguments);
    for (QTranslator *translator : translators)
        QCoreApplication::installTranslator(translator);

    const bool ok = runUpdaters(plan, stdout);
    logInfo(QStringLiteral("dbupgrade finished %1: %2")
                .arg(QDateTime::currentDateTime().toString(Qt::ISODate),
                     ok ? QStringLiteral("every database ok, exit 0")
                        : QStringLiteral("FAILED, exit 1")));
    if (!logName.isEmpty() && !logWritten())
        printError(QStringLiteral("the log %1 could not be written (%2); its messages went to "
                                  "standard error")
                       .arg(logName, logError()));
    closeLog();
    return ok ? 0 : 1;
}

int statusCommand(bool json)
{
    return printStatus(stdout, json);
}

int restoreCommand(const QString &backup)
{
    UpdateBase::setWaitNotice(
        [](const QString &fileName) { printLine(stdout, waitNoticeText(fileName)); });
    return restoreBackup(backup, stdout);
}

int changesCommand(const QString &backup, bool json)
{
    // The wait goes to standard error, so that standard output stays one JSON object.
    UpdateBase::setWaitNotice(
        [](const QString &fileName) { printLine(stderr, waitNoticeText(fileName)); });
    return printChanges(backup, json, stdout);
}
