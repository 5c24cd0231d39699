// Settings store against QSettings over an INI file of the same keys, and against the floor:
// the same work done by plain SQLite and QHash calls. Read, load (and its parts) and writes.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "benchsite.h"
#include "profile.h"
#include "profilereader_p.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <memory>

namespace {

const int KeyCount = 10000;

struct Stores
{
    explicit Stores(const BenchSite &site)
        : profile(site.profileFile(), nullptr)
        , ini(site.iniFile(), QSettings::IniFormat)
    {
        // Warm both: every key read once.
        for (const QString &key : site.keys()) {
            profile.value(key, QVariant());
            ini.value(key);
        }
        profile.result_not_clotted(QString());
    }
    Profile profile;
    QSettings ini;
};

// The floor of a load: one handle, one step loop, every row into a QHash.
QHash<QString, QVariant> plainLoad(const QString &fileName)
{
    QHash<QString, QVariant> values;
    sqlite3 *db = nullptr;
    sqlite3_open_v2(fileName.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
    sqlite3_stmt *statement = nullptr;
    sqlite3_prepare_v2(db, "select name, value from profile", -1, &statement, nullptr);
    while (sqlite3_step(statement) == SQLITE_ROW) {
        const auto text = [&](int i) {
            return QString::fromUtf8(
                reinterpret_cast<const char *>(sqlite3_column_text(statement, i)),
                sqlite3_column_bytes(statement, i));
        };
        values.insert(text(0), text(1));
    }
    sqlite3_finalize(statement);
    sqlite3_close(db);
    return values;
}

// The floor of a write: one prepared statement stepped per change, in one transaction.
struct PlainWriter
{
    explicit PlainWriter(const QString &fileName)
    {
        sqlite3_open_v2(fileName.toUtf8().constData(), &db, SQLITE_OPEN_READWRITE, nullptr);
        sqlite3_busy_timeout(db, 30000);
        sqlite3_prepare_v2(db,
                           "insert into profile (name, value) values(?,?) on conflict(name) do "
                           "update set value = excluded.value",
                           -1, &statement, nullptr);
    }
    ~PlainWriter()
    {
        sqlite3_finalize(statement);
        sqlite3_close(db);
    }
    void write(const QStringList &keys, const QString &value)
    {
        sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr);
        for (const QString &key : keys) {
            // Each change converted, as a store with a value per key must.
            const QByteArray name = key.toUtf8();
            const QByteArray utf8 = value.toUtf8();
            sqlite3_bind_text(statement, 1, name.constData(), name.size(), SQLITE_STATIC);
            sqlite3_bind_text(statement, 2, utf8.constData(), utf8.size(), SQLITE_STATIC);
            sqlite3_step(statement);
            sqlite3_reset(statement);
        }
        sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    }
    sqlite3 *db = nullptr;
    sqlite3_stmt *statement = nullptr;
};

void registerAll(const BenchSite &site, Stores &stores)
{
    const QStringList &keys = site.keys();

    benchmark::RegisterBenchmark("settings_read/ours", [&](benchmark::State &state) {
        int i = 0;
        for (auto _ : state) {
            benchmark::DoNotOptimize(stores.profile.value(keys.at(i), QVariant()));
            i = i + 1 == keys.size() ? 0 : i + 1;
        }
    });
    benchmark::RegisterBenchmark("settings_read/peer", [&](benchmark::State &state) {
        int i = 0;
        for (auto _ : state) {
            benchmark::DoNotOptimize(stores.ini.value(keys.at(i)));
            i = i + 1 == keys.size() ? 0 : i + 1;
        }
    });

    benchmark::RegisterBenchmark("settings_read/floor", [&](benchmark::State &state) {
        const QHash<QString, QVariant> values = plainLoad(site.profileFile());
        int i = 0;
        for (auto _ : state) {
            benchmark::DoNotOptimize(values.value(keys.at(i)));
            i = i + 1 == keys.size() ? 0 : i + 1;
        }
    });

    benchmark::RegisterBenchmark("named_setting_read/ours", [&](benchmark::State &state) {
        const QString defaultText = QStringLiteral("not clotted");
        for (auto _ : state)
            benchmark::DoNotOptimize(stores.profile.result_not_clotted(defaultText));
    });
    benchmark::RegisterBenchmark("named_setting_read/peer", [&](benchmark::State &state) {
        const QString key = QStringLiteral("result_not_clotted");
        for (auto _ : state)
            benchmark::DoNotOptimize(stores.ini.value(key));
    });

    benchmark::RegisterBenchmark("named_setting_read/floor", [&](benchmark::State &state) {
        const QString cached = stores.profile.result_not_clotted(QString());
        for (auto _ : state)
            benchmark::DoNotOptimize(&cached);
    });

    const QString profileFile = site.profileFile();
    const QString iniFile = site.iniFile();
    // Both sides read every key once after opening: QSettings parses its file lazily and the
    // store builds a loaded value on its first read, so opening alone would leave work undone.
    benchmark::RegisterBenchmark("settings_load/ours", [=, &keys](benchmark::State &state) {
        for (auto _ : state) {
            Profile profile(profileFile, nullptr);
            for (const QString &key : keys)
                benchmark::DoNotOptimize(profile.value(key, QVariant()));
        }
    });
    benchmark::RegisterBenchmark("settings_load/floor", [=, &keys](benchmark::State &state) {
        for (auto _ : state) {
            const QHash<QString, QVariant> values = plainLoad(profileFile);
            for (const QString &key : keys)
                benchmark::DoNotOptimize(values.value(key));
        }
    });
    // The load's parts: the four connections (a store over an empty table), the read of the
    // table, and the first read of every key.
    benchmark::RegisterBenchmark("settings_load_connections/ours", [=](benchmark::State &state) {
        const QString empty = QFileInfo(profileFile).absolutePath() + QLatin1String("/empty.db");
        sqlite3 *db = nullptr;
        sqlite3_open(empty.toUtf8().constData(), &db);
        sqlite3_exec(db, "create table if not exists profile (name text primary key, value)",
                     nullptr, nullptr, nullptr);
        sqlite3_close(db);
        for (auto _ : state)
            Profile profile(empty, nullptr);
    });
    benchmark::RegisterBenchmark("settings_load_read/ours", [=](benchmark::State &state) {
        for (auto _ : state) {
            QHash<QString, QVariant> values;
            QHash<QString, ProfileStorage::StoredName> oddNames;
            ProfileReader reader(profileFile);
            reader.tableCount();
            reader.load(values, oddNames);
            benchmark::DoNotOptimize(reader.takeHandle());
        }
    });
    benchmark::RegisterBenchmark(
        "settings_load_first_reads/ours", [=, &keys](benchmark::State &state) {
            for (auto _ : state) {
                state.PauseTiming();
                auto profile = std::make_unique<Profile>(profileFile, nullptr);
                state.ResumeTiming();
                for (const QString &key : keys)
                    benchmark::DoNotOptimize(profile->value(key, QVariant()));
                state.PauseTiming();
                profile.reset();
                state.ResumeTiming();
            }
        });
    // A copy of the INI file that no other QSettings holds: one that is open elsewhere in the
    // process shares its parsed keys with a new QSettings, which an application's start-up
    // never finds.
    const QString loadIniFile = QFileInfo(iniFile).absolutePath() + QLatin1String("/load.ini");
    QFile::copy(iniFile, loadIniFile);
    benchmark::RegisterBenchmark("settings_load/peer", [=, &keys](benchmark::State &state) {
        QFile file(loadIniFile);
        qint64 stamp = QDateTime::currentMSecsSinceEpoch();
        for (auto _ : state) {
            // QSettings keeps a parsed file while its size and time are unchanged; a new time
            // makes every construction read and parse the file again.
            state.PauseTiming();
            stamp += 1000;
            file.setFileTime(QDateTime::fromMSecsSinceEpoch(stamp),
                             QFileDevice::FileModificationTime);
            state.ResumeTiming();
            QSettings ini(loadIniFile, QSettings::IniFormat);
            for (const QString &key : keys)
                benchmark::DoNotOptimize(ini.value(key));
        }
    });

    // One change, written before the next: a transaction (ours) against a file rewrite (peer).
    benchmark::RegisterBenchmark("settings_write/ours", [&](benchmark::State &state) {
        const QString key = QStringLiteral("group0/setting0");
        int i = 0;
        for (auto _ : state) {
            stores.profile.setValue(key, ++i & 1 ? QStringLiteral("one") : QStringLiteral("two"),
                                    true);
            QCoreApplication::processEvents();
        }
    })->UseRealTime();
    benchmark::RegisterBenchmark("settings_write/floor", [=](benchmark::State &state) {
        PlainWriter writer(profileFile);
        const QStringList key = {QStringLiteral("group0/setting0")};
        int i = 0;
        for (auto _ : state)
            writer.write(key, ++i & 1 ? QStringLiteral("one") : QStringLiteral("two"));
    })->UseRealTime();
    benchmark::RegisterBenchmark("settings_write/peer", [&](benchmark::State &state) {
        const QString key = QStringLiteral("group0/setting0");
        int i = 0;
        for (auto _ : state) {
            stores.ini.setValue(key, ++i & 1 ? QStringLiteral("one") : QStringLiteral("two"));
            stores.ini.sync();
        }
    })->UseRealTime();

    // A burst: every key changed, then the store's thread turns its loop once (ours) or the
    // file is synced once (peer). Each run stores other values than the one before.
    const auto burstOurs = [&](benchmark::State &state) {
        int i = 0;
        for (auto _ : state) {
            const QString value = QStringLiteral("burst %1").arg(++i);
            for (const QString &key : keys)
                stores.profile.setValue(key, value, true);
            QCoreApplication::processEvents();
        }
    };
    const auto burstPeer = [&](benchmark::State &state) {
        int i = 0;
        for (auto _ : state) {
            const QString value = QStringLiteral("burst %1").arg(++i);
            for (const QString &key : keys)
                stores.ini.setValue(key, value);
            stores.ini.sync();
        }
    };
    benchmark::RegisterBenchmark("settings_burst_write/ours", burstOurs)->UseRealTime();
    benchmark::RegisterBenchmark("settings_burst_write/floor", [=, &keys](benchmark::State &state) {
        PlainWriter writer(profileFile);
        int i = 0;
        for (auto _ : state)
            writer.write(keys, QStringLiteral("burst %1").arg(++i));
    })->UseRealTime();
    benchmark::RegisterBenchmark("settings_burst_write/peer", burstPeer)->UseRealTime();
}

} // namespace

int main(int argc, char **argv)
{
    std::unique_ptr<BenchSite> site;
    std::unique_ptr<Stores> stores;
    return runBenchmarks(argc, argv, [&] {
        site = std::make_unique<BenchSite>(KeyCount);
        stores = std::make_unique<Stores>(*site);
        registerAll(*site, *stores);
    });
}
