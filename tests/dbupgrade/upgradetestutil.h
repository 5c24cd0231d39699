// Helpers for the upgrade tool's tests: temporary instrument folders, fixture databases, runs of
// the built tool and read-back through a connection of their own.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPGRADETESTUTIL_H
#define UPGRADETESTUTIL_H

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <QtGlobal>

namespace UpgradeTest {

//! Absolute path of a file in tests/dbupgrade/fixtures.
QString fixturePath(const QString &name);
//! Path of the built dbupgrade.
QString toolPath();

//! Runs \a sql through the sqlite3 command-line shell on \a databasePath (created if missing).
//! Stops at the first error; false and \a error set on failure.
bool runSql(const QString &databasePath, const QByteArray &sql, QString *error = nullptr);
//! Builds \a databasePath from a fixture SQL file.
bool buildDatabase(const QString &databasePath, const QString &fixtureName,
                   QString *error = nullptr);

struct ProgramRun
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::CrashExit;
    int exitCode = -1;
    QByteArray standardOutput;
    QByteArray standardError;
};

ProgramRun runProgram(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory);
//! Runs the built dbupgrade in \a workingDirectory (the current directory when empty).
ProgramRun runTool(const QStringList &arguments, const QString &workingDirectory = QString());

QByteArray readFile(const QString &path);
//! The lines of a text file, without their line ends.
QStringList readLines(const QString &path);
//! The messages of the tool's log: its lines without the run's record lines ("Info: ").
QStringList logMessages(const QString &path);

//! Every row of \a sql on \a databasePath, read through a connection of its own that is removed
//! again; an empty list and a test failure message in \a error when the query fails.
QList<QVariantList> queryRows(const QString &databasePath, const QString &sql,
                              QString *error = nullptr);
//! Each row of \a sql joined into one text ("|" between columns), for compact comparisons.
QStringList queryTexts(const QString &databasePath, const QString &sql);
//! "type name" of every schema object, sorted; sqlite_master read back.
QStringList schemaObjects(const QString &databasePath);
//! The sqlite3 shell's output of \a command (".dump", ".schema") on \a databasePath, for
//! comparisons with golden files; empty when the shell fails.
QByteArray shellOutput(const QString &databasePath, const QString &command);
//! Every schema object with its statement and every row of every table (values as SQL literals,
//! blobs in hex), in a fixed order: equal dumps mean equal databases.
QStringList databaseDump(const QString &databasePath);
//! sqlite_master in the layout of the golden schema files: per object, sorted by type and name,
//! a line "-- type name on table", its statement followed by ";" when it has one, a blank line.
QString schemaText(const QString &databasePath);

/*!
    \brief A temporary folder made the current directory for the life of the object.
*/
class TemporarySite
{
public:
    //! \a subfolder, when given, is created inside the temporary folder and made current.
    explicit TemporarySite(const QString &subfolder = QString());
    ~TemporarySite();

    bool isValid() const;
    //! The current directory while the object lives.
    QString path() const;
    //! The temporary folder itself (the parent of path() when a subfolder was asked for).
    QString rootPath() const;
    QString filePath(const QString &name) const;
    bool build(const QString &databaseName, const QString &fixtureName, QString *error = nullptr);
    //! Names of the entries of path(), sorted.
    QStringList entries() const;

private:
    Q_DISABLE_COPY(TemporarySite)
    QTemporaryDir m_dir;
    QString m_path;
    QString m_previous;
};

/*!
    \brief Collects the warnings written in this process while it lives (for the updaters'
    own calls made in a test, not the tool's log).
*/
class WarningCatcher
{
public:
    WarningCatcher();
    ~WarningCatcher();
    QStringList take();

private:
    Q_DISABLE_COPY(WarningCatcher)
    QtMessageHandler m_previous;
};

} // namespace UpgradeTest

#endif // UPGRADETESTUTIL_H
