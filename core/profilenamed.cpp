// The named settings' caches: one shared cache per setting and a copy of it per thread.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "profilenamed_p.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

namespace ProfileNamed {

namespace {

struct LiveStores
{
    std::mutex lock;
    std::unordered_set<quint64> ids;
    std::atomic<quint64> next {1};
    std::atomic<quint64> ended {0};
};

// Never destroyed: a thread may still read a setting while the process exits.
LiveStores &liveStores()
{
    static LiveStores *const stores = new LiveStores;
    return *stores;
}

struct ThreadStores
{
    quint64 lastStore = 0;
    ThreadCopies *last = nullptr;
    quint64 seenEnded = 0;
    std::vector<std::pair<quint64, std::unique_ptr<ThreadCopies>>> byStore;
};

thread_local ThreadStores threadStores;

} // namespace

quint64 beginStore()
{
    LiveStores &stores = liveStores();
    const quint64 id = stores.next++;
    std::lock_guard<std::mutex> locker(stores.lock);
    stores.ids.insert(id);
    return id;
}

void endStore(quint64 store)
{
    LiveStores &stores = liveStores();
    std::lock_guard<std::mutex> locker(stores.lock);
    stores.ids.erase(store);
    ++stores.ended;
}

ThreadCopies &threadCopies(quint64 store, ThreadCopies *(*make)())
{
    ThreadStores &mine = threadStores;
    if (store == mine.lastStore)
        return *mine.last;
    LiveStores &stores = liveStores();
    const quint64 ended = stores.ended.load();
    if (ended != mine.seenEnded) {
        std::lock_guard<std::mutex> locker(stores.lock);
        mine.byStore.erase(
            std::remove_if(mine.byStore.begin(), mine.byStore.end(),
                           [&](const auto &entry) { return stores.ids.count(entry.first) == 0; }),
            mine.byStore.end());
        mine.seenEnded = ended;
    }
    auto it = std::find_if(mine.byStore.begin(), mine.byStore.end(),
                           [&](const auto &entry) { return entry.first == store; });
    if (it == mine.byStore.end()) {
        mine.byStore.emplace_back(store, std::unique_ptr<ThreadCopies>(make()));
        it = mine.byStore.end() - 1;
    }
    mine.lastStore = store;
    mine.last = it->second.get();
    return *mine.last;
}

} // namespace ProfileNamed
