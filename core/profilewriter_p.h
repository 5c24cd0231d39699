// The settings store's writer: saved changes waiting for the file, and the one way they are
// written (private).
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PROFILEWRITER_P_H
#define PROFILEWRITER_P_H

#include "profilereader_p.h"

#include <QBasicTimer>
#include <QHash>
#include <QObject>
#include <QVariant>
#include <QVector>

#include <atomic>
#include <mutex>

struct sqlite3_stmt;

/*
    Saved changes are staged here, the latest per key (an invalid value removes the row), and
    written in one transaction on the writer's thread, asked for by one posted request per
    turn, as QSettings does. A write there waits at most AttemptTimeout for the file: a batch
    that cannot be written stays staged, merged with newer changes, and is tried again at a
    growing interval, with one warning when an episode starts and one line when it ends.
    sync() writes from any thread and waits as long as the application's connections do.
    Where no event loop will deliver the request (no application object, or it is gone, or the
    writer's thread has ended), a change is written at once on the thread that made it.
    The writer owns its SQLite handle, so the last write at exit needs no Qt SQL driver.
*/
class ProfileWriter : public QObject
{
public:
    static constexpr int AttemptTimeout = 100;

    ProfileWriter(const QString &fileName, ProfileStorage::Handle handle,
                  QHash<QString, ProfileStorage::StoredName> oddNames, QObject *parent);
    ~ProfileWriter() override;

    // Called with the store's lock held for writing, so the file sees changes in memory's order.
    void stage(const QString &key, const QVariant &value);
    // After the store's lock is released: makes sure the staged changes will be written.
    void requestWrite();
    // Writes every staged change now; true when all of them reached the file.
    bool sync(int busyTimeout = ProfileStorage::BusyTimeout);
    // The last write, at exit or with the store; from then on changes are written at once.
    void finish();

protected:
    bool event(QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    struct Note
    {
        QtMsgType type;
        int line;
        QString text;
    };
    enum class Attempt { Written, Refused, Failed, Skipped };

    Attempt write(int busyTimeout, bool wait);
    bool commit(const QHash<QString, QVariant> &batch, int busyTimeout, QVector<Note> &notes,
                int &refused, Note &failure);
    int prepare();
    void finalize();
    bool loopWillDeliver() const;
    void attemptOnOwnThread();
    static void emitNotes(const QVector<Note> &notes);

    const QString m_fileName;
    const QString m_label; // the file's name, which leads every log line

    // Staged changes and whether a request is on its way; taken inside the store's lock.
    std::mutex m_stagedLock;
    QHash<QString, QVariant> m_staged;
    bool m_requested = false;
    std::atomic<bool> m_finished {false};

    // Everything below is used under m_writeLock only.
    std::mutex m_writeLock;
    ProfileStorage::Handle m_db;
    QHash<QString, ProfileStorage::StoredName> m_oddNames;
    sqlite3_stmt *m_store = nullptr;
    sqlite3_stmt *m_delete = nullptr;
    bool m_nameIsUnique = true;
    bool m_failing = false;
    int m_failedAttempts = 0;

    // The retry timer, on the writer's thread only.
    QBasicTimer m_retry;
    int m_retryInterval = AttemptTimeout;
};

#endif // PROFILEWRITER_P_H
