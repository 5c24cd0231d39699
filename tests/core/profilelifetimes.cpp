// A process that saves settings at the edges of its life, for tst_profile; also a holder of the
// file. SPDX-License-Identifier: LicenseRef-Proprietary
#include "profile.h"

#include <QCoreApplication>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <thread>

namespace {

void save(const char *key, const QVariant &value = QStringLiteral("saved"))
{
    Profile::instance().setValue(QLatin1String(key), value, true);
}

void onWorker(void (*job)())
{
    std::unique_ptr<QThread> worker(QThread::create(job));
    worker->start();
    worker->wait();
}

// Holds profile.db with an exclusive lock for the given milliseconds, as an analyser would.
int hold(int ms)
{
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("h"));
        db.setDatabaseName(QStringLiteral("profile.db"));
        if (!db.open() || !QSqlQuery(db).exec(QStringLiteral("begin exclusive")))
            return 1;
        std::puts("held");
        std::fflush(stdout);
        QThread::msleep(ms);
        db.rollback();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("h"));
    return 0;
}

} // namespace

// Usage: profilelifetimes <case> [argument], in an instrument folder. Each case saves the keys
// its name gives; the test reads the file once the process has ended.
int main(int argc, char *argv[])
{
    const char *mode = argc > 1 ? argv[1] : "";
    auto is = [&](const char *name) { return std::strcmp(mode, name) == 0; };
    if (is("hold"))
        return argc > 2 ? hold(std::atoi(argv[2])) : 2;
    if (is("quit")) { // saves and quits before any event loop turns
        QCoreApplication app(argc, argv);
        if (argc != 4)
            return 2;
        Profile::instance().setValue(QString::fromLocal8Bit(argv[2]),
                                     QString::fromLocal8Bit(argv[3]), true);
        return 0;
    }
    if (is("read before application")) { // then a save in the loop's last turn
        Profile::instance().value(QStringLiteral("hospital"), QVariant());
        QCoreApplication app(argc, argv);
        QTimer::singleShot(0, [] {
            save("last/turn");
            QCoreApplication::quit();
        });
        return app.exec();
    }
    if (is("after application")) {
        {
            QCoreApplication app(argc, argv);
            Profile::instance();
        }
        save("main/after");
        onWorker([] { save("worker/after"); });
        return 0;
    }
    if (is("no application, worker saves")) {
        onWorker([] { save("worker/key"); });
        save("main/key");
        return 0;
    }
    if (is("no application, made on a worker")) {
        onWorker([] { Profile::instance(); });
        save("main/key");
        return 0;
    }
    if (is("straggling thread")) {
        QCoreApplication app(argc, argv);
        static std::atomic<bool> first {false};
        std::thread([] {
            for (int i = 0;; ++i) {
                save(i == 0 ? "straggler/first" : "straggler/more", i);
                first = true;
            }
        }).detach();
        while (!first)
            QThread::yieldCurrentThread();
        save("main/key");
        return 0;
    }
    if (is("exit in the loop")) {
        QCoreApplication app(argc, argv);
        QTimer::singleShot(0, [] {
            save("main/key");
            std::exit(0);
        });
        return app.exec();
    }
    if (is("sync then kill")) {
        QCoreApplication app(argc, argv);
        save("main/key");
        if (!Profile::instance().sync())
            return 1;
        std::raise(SIGKILL);
    }
    if (is("sync on a worker then kill")) {
        QCoreApplication app(argc, argv);
        Profile::instance();
        bool synced = false;
        std::unique_ptr<QThread> worker(QThread::create([&synced] {
            save("worker/key");
            synced = Profile::instance().sync();
        }));
        worker->start();
        worker->wait();
        if (!synced)
            return 1;
        std::raise(SIGKILL);
    }
    return 2;
}
