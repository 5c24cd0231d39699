// Databases page of the site inspector: the versions of the four databases and the upgrade run.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef DATABASESPAGE_H
#define DATABASESPAGE_H

#include <QProcess>
#include <QWidget>

class QLabel;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;
class QTreeWidget;

/*!
    \brief One row per database as `dbupgrade --status` reports it, and an Upgrade button that
    runs the tool on the folder with its log file, showing its lines as they come.

    The version rules live in the tool alone: this page only runs it and shows what it says.
*/
class DatabasesPage : public QWidget
{
    Q_OBJECT
public:
    enum Column { FileColumn, SizeColumn, FoundColumn, CurrentColumn, StateColumn };

    DatabasesPage(const QString &toolPath, QWidget *parent = nullptr);
    ~DatabasesPage() override;

    /*! \brief Reads the folder again: runs `dbupgrade --status` and fills the table. */
    void refresh();
    /*! \brief Runs `dbupgrade upgrade.log` in the folder. */
    void startUpgrade();
    bool isUpgrading() const;
    bool isReadingStatus() const;

    static QString logFileName() { return QStringLiteral("upgrade.log"); }

signals:
    /*! \brief The table shows a new status; \a exitCode is the tool's (0, 3 or 1; -1 when it
        did not run). */
    void statusRead(int exitCode);
    void upgradeFinished(bool ok);

private:
    void statusFinished(int exitCode, QProcess::ExitStatus status);
    void readUpgradeOutput();
    void upgradeDone(int exitCode, QProcess::ExitStatus status);
    void appendOutput(const QString &line);
    void updateButton();

    QString m_toolPath;
    QTreeWidget *m_table;
    QLabel *m_summary;
    QPushButton *m_upgradeButton;
    QProgressBar *m_progress;
    QLabel *m_runResult;
    QPlainTextEdit *m_output;
    QProcess *m_status = nullptr;
    QProcess *m_upgrade = nullptr;
    QString m_lastToolLine;
    qint64 m_logOffset = 0;
    int m_lastStatus = -1;
};

#endif // DATABASESPAGE_H
