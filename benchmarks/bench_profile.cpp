// Settings store against QSettings over an INI file of the same keys: read, load and writes.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "benchsite.h"
#include "profile.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QSettings>

#include <benchmark/benchmark.h>

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
    benchmark::RegisterBenchmark("settings_load/peer", [=, &keys](benchmark::State &state) {
        QFile file(iniFile);
        qint64 stamp = QDateTime::currentMSecsSinceEpoch();
        for (auto _ : state) {
            // QSettings keeps a parsed file while its size and time are unchanged; a new time
            // makes every construction read and parse the file again.
            state.PauseTiming();
            stamp += 1000;
            file.setFileTime(QDateTime::fromMSecsSinceEpoch(stamp),
                             QFileDevice::FileModificationTime);
            state.ResumeTiming();
            QSettings ini(iniFile, QSettings::IniFormat);
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
