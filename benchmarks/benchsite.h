// Shared set-up of the peer benchmarks: a scratch instrument folder and the benchmark main.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef BENCHSITE_H
#define BENCHSITE_H

#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

/*!
    \brief A temporary folder made the current directory, holding profile.db, data.db, qc.db
    and syslog.db, so that the settings store opens without a warning.

    The profile table holds \a keyCount keys of the shape "groupN/settingM" besides the named
    settings; settings.ini holds the same keys and values for the QSettings peer.
*/
class BenchSite
{
public:
    explicit BenchSite(int keyCount);
    ~BenchSite();

    QString path() const { return m_dir.path(); }
    QString profileFile() const { return m_dir.filePath(QStringLiteral("profile.db")); }
    QString iniFile() const { return m_dir.filePath(QStringLiteral("settings.ini")); }
    const QStringList &keys() const { return m_keys; }

private:
    QTemporaryDir m_dir;
    QString m_previous;
    QStringList m_keys;
};

/*!
    \brief Runs the benchmarks inside a QCoreApplication. \a registerAll is called after the
    command line has been read and registers them; what it builds must outlive this call.
    Warnings of the SQL module about replaced connections are dropped: every Profile constructed
    by a benchmark registers its connections anew.
*/
int runBenchmarks(int argc, char **argv, const std::function<void()> &registerAll);

#endif // BENCHSITE_H
