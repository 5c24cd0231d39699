// The site inspector: a service engineer's view of one instrument folder.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "inspectorwindow.h"

#include "profile.h"
#include "ryglobal.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

// Beside the inspector once installed; in the build tree the tool has a folder of its own.
QString findTool(const QString &given)
{
    if (!given.isEmpty())
        return QFileInfo(given).absoluteFilePath();
    const QString here = QCoreApplication::applicationDirPath();
    for (const QString &candidate :
         {here + QStringLiteral("/dbupgrade"), here + QStringLiteral("/../dbupgrade/dbupgrade")}) {
        if (QFileInfo(candidate).isExecutable())
            return QFileInfo(candidate).canonicalFilePath();
    }
    return QStandardPaths::findExecutable(QStringLiteral("dbupgrade"));
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("siteinspector"));
    QApplication::setApplicationDisplayName(QObject::tr("Site inspector"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QObject::tr(
        "Shows an instrument folder: the versions of its four databases (and upgrades them with "
        "dbupgrade), its settings, its results and clot curves.\n"
        "The settings store opens the databases by bare file name, so the inspector makes the "
        "folder its working directory and shows one folder per run: start it again for another "
        "folder."));
    parser.addHelpOption();
    const QCommandLineOption toolOption(
        QStringLiteral("dbupgrade"),
        QObject::tr("The upgrade tool to run (default: the one installed beside the inspector, "
                    "else dbupgrade from PATH)."),
        QObject::tr("path"));
    parser.addOption(toolOption);
    parser.addPositionalArgument(
        QStringLiteral("folder"),
        QObject::tr("The instrument folder; without it a folder dialog asks for one."),
        QStringLiteral("[folder]"));
    parser.process(app);

    QString folder = parser.positionalArguments().value(0);
    if (folder.isEmpty()) {
        folder = QFileDialog::getExistingDirectory(nullptr,
                                                   QObject::tr("Choose an instrument folder"));
        if (folder.isEmpty())
            return 0;
    }
    const QDir dir(folder);
    if (!dir.exists()) {
        critical(QObject::tr("The folder %1 does not exist.").arg(folder));
        return 1;
    }
    // An instrument folder has both; the read-only store could only say that it cannot open them.
    for (const char *file : {"profile.db", "data.db"}) {
        if (!dir.exists(QLatin1String(file))) {
            critical(QObject::tr("%1 is not an instrument folder: it has no %2.")
                         .arg(QDir::toNativeSeparators(dir.absolutePath()), QLatin1String(file)));
            return 1;
        }
    }
    const QString tool = findTool(parser.value(toolOption));
    if (tool.isEmpty()) {
        critical(QObject::tr("dbupgrade was not found beside the inspector nor in PATH; name it "
                             "with --dbupgrade."));
        return 1;
    }
    if (!QDir::setCurrent(dir.absolutePath())) {
        critical(QObject::tr("Cannot change into %1.").arg(dir.absolutePath()));
        return 1;
    }

    // Looking at a folder must not change it: every database is opened read-only (a missing
    // one is not created), and settings are opened for writing only while Edit is on.
    Profile::setDefaultOpenMode(Profile::ReadOnly);
    Profile::instance(); // the first use, now that the folder is the working directory
    InspectorWindow window(tool);
    window.resize(960, 640);
    window.show();
    return app.exec();
}
