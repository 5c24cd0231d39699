// The named settings' caches: one shared cache per setting and a copy of it per thread (private).
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PROFILENAMED_P_H
#define PROFILENAMED_P_H

#include <QtGlobal>

#include <atomic>

namespace ProfileNamed {

// The shared cache of one named setting: filled by the first read, changed by the setter, both
// under the store's lock. The generation tells each thread's copy whether it is still current
// (0: not filled yet).
template<typename T>
struct Cache
{
    T value {};
    bool filled = false;
    std::atomic<quint64> generation {0};
};

// One thread's copy of a named setting, so a reader never shares an object with a setter.
template<typename T>
struct Copy
{
    T value {};
    quint64 generation = 0;
};

// A thread's copies of every named setting of one store (the store declares them).
struct ThreadCopies
{
    virtual ~ThreadCopies() = default;
};

// A store's number, never given twice; ended when the store goes.
quint64 beginStore();
void endStore(quint64 store);

// The calling thread's copies for \a store. They go with the thread, and a thread drops the
// copies of ended stores when it next turns to another store, so they stay as few as the stores.
// \a make builds them on the thread's first read.
ThreadCopies &threadCopies(quint64 store, ThreadCopies *(*make)());

} // namespace ProfileNamed

#endif // PROFILENAMED_P_H
