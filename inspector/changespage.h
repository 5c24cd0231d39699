// Changes page of the site inspector: what the upgrade changed, read from dbupgrade --changes.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef CHANGESPAGE_H
#define CHANGESPAGE_H

#include <QProcess>
#include <QStringList>
#include <QWidget>

class QTreeWidget;

/*!
    \brief For each database with a backup, `dbupgrade --changes <its newest backup> --json`
    as a tree: database, then kind (schema, rows, settings, calibration curves), then item.
*/
class ChangesPage : public QWidget
{
    Q_OBJECT
public:
    ChangesPage(const QString &toolPath, QWidget *parent = nullptr);
    ~ChangesPage() override;

    /*! \brief Compares each database with its newest backup again. */
    void reload();
    bool isReading() const;
    QTreeWidget *tree() const { return m_tree; }

    /*! \brief The newest backup of \a database in the current folder; empty when none. */
    static QString newestBackup(const QString &database);

private:
    void compareNext();
    void compared(int exitCode, QProcess::ExitStatus status);

    QString m_toolPath;
    QTreeWidget *m_tree;
    QProcess *m_tool = nullptr;
    QStringList m_waiting; // databases still to compare
    QString m_current;
};

#endif // CHANGESPAGE_H
