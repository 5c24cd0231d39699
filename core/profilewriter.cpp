// The settings store's writer: saved changes waiting for the file, and the one way they are
// written.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "profilewriter_p.h"

#include "sqlwarning_p.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFileInfo>
#include <QThread>
#include <QTimerEvent>

#include <sqlite3.h>

#include <limits>

namespace {

// The longest pause between two tries of a held or failing file.
const int MaxRetryInterval = 5000;

enum class Bound { Exactly, Replaced, Refused };

bool hasLoneSurrogate(const QString &text)
{
    const ushort *unit = text.utf16();
    const ushort *end = unit + text.size();
    for (; unit != end; ++unit) {
        if ((*unit & 0xf800) != 0xd800) // not a surrogate: nearly every unit
            continue;
        if (QChar::isHighSurrogate(*unit) && unit + 1 != end && QChar::isLowSurrogate(unit[1]))
            ++unit;
        else
            return true;
    }
    return false;
}

// SQLite would take a lone surrogate apart with the text around it, and Qt's own encoder writes
// '?': the character that says "something was here" is the honest choice.
QString withReplacementCharacters(QString text)
{
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c.isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate())
            ++i;
        else if (c.isSurrogate())
            text[i] = QChar::ReplacementCharacter;
    }
    return text;
}

// The text as SQLite stores it; \a replaced tells whether a lone surrogate had to go.
QByteArray utf8Of(const QString &text, bool *replaced)
{
    *replaced = hasLoneSurrogate(text);
    return *replaced ? withReplacementCharacters(text).toUtf8() : text.toUtf8();
}

int bindBytes(sqlite3_stmt *statement, int index, const QByteArray &utf8)
{
    return sqlite3_bind_text(statement, index, utf8.constData(), utf8.size(), SQLITE_STATIC);
}

// \a utf8 must live until the statement has run.
Bound bindText(sqlite3_stmt *statement, int index, const QString &text, QByteArray &utf8)
{
    bool replaced;
    utf8 = utf8Of(text, &replaced);
    if (bindBytes(statement, index, utf8) != SQLITE_OK)
        return Bound::Refused;
    return replaced ? Bound::Replaced : Bound::Exactly;
}

// A null string, array, date or time stores as NULL, as Qt's driver binds it; Qt 6's
// QVariant::isNull no longer looks inside the value, Qt 5's did.
bool holdsNull(const QVariant &value)
{
    switch (value.userType()) {
    case QMetaType::QString: return value.toString().isNull();
    case QMetaType::QByteArray: return value.toByteArray().isNull();
    case QMetaType::QDate: return value.toDate().isNull();
    case QMetaType::QTime: return value.toTime().isNull();
    case QMetaType::QDateTime: return value.toDateTime().isNull();
    default: return value.isNull();
    }
}

// The storage class Qt's SQLite driver gives each type, so files stay as they were; an unsigned
// value keeps its number, and a type without a text form is refused rather than stored empty.
Bound bindValue(sqlite3_stmt *statement, int index, const QVariant &value, QByteArray &bytes)
{
    if (holdsNull(value))
        return sqlite3_bind_null(statement, index) == SQLITE_OK ? Bound::Exactly : Bound::Refused;
    int code = SQLITE_OK;
    switch (value.userType()) {
    case QMetaType::QByteArray: {
        const auto *blob = static_cast<const QByteArray *>(value.constData());
        // An empty array binds as an empty blob, not as NULL.
        code = sqlite3_bind_blob(statement, index, blob->isEmpty() ? "" : blob->constData(),
                                 blob->size(), SQLITE_STATIC);
        break;
    }
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        code = sqlite3_bind_int64(statement, index, value.toLongLong());
        break;
    case QMetaType::ULongLong: {
        const qulonglong number = value.toULongLong();
        if (number <= qulonglong(std::numeric_limits<qint64>::max()))
            code = sqlite3_bind_int64(statement, index, qint64(number));
        else
            return bindText(statement, index, QString::number(number), bytes);
        break;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        code = sqlite3_bind_double(statement, index, value.toDouble());
        break;
    case QMetaType::QDateTime:
        return bindText(statement, index,
                        value.toDateTime().toString(QStringLiteral("yyyy-MM-ddThh:mm:ss.zzz")),
                        bytes);
    case QMetaType::QTime:
        return bindText(statement, index, value.toTime().toString(QStringLiteral("hh:mm:ss.zzz")),
                        bytes);
    case QMetaType::QString:
        return bindText(statement, index, *static_cast<const QString *>(value.constData()), bytes);
    default: {
        QVariant text = value;
        if (!text.convert(QMetaType::QString))
            return Bound::Refused;
        return bindText(statement, index, text.toString(), bytes);
    }
    }
    return code == SQLITE_OK ? Bound::Exactly : Bound::Refused;
}

// Failures that belong to one row: the rest of the batch still goes in.
bool isRowError(int code)
{
    switch (code & 0xff) {
    case SQLITE_CONSTRAINT:
    case SQLITE_TOOBIG:
    case SQLITE_MISMATCH:
    case SQLITE_RANGE:
        return true;
    default:
        return false;
    }
}

int run(sqlite3_stmt *statement)
{
    const int code = sqlite3_step(statement);
    sqlite3_reset(statement);
    return code == SQLITE_DONE || code == SQLITE_ROW ? SQLITE_OK : code;
}

} // namespace

#define PROFILE_NOTE(type, text) \
    ProfileWriter::Note \
    { \
        type, __LINE__, text \
    }

ProfileWriter::ProfileWriter(const QString &fileName, ProfileStorage::Handle handle,
                             QHash<QString, ProfileStorage::StoredName> oddNames, QObject *parent)
    : QObject(parent)
    // Absolute, so a later change of the working folder cannot send the rows elsewhere.
    , m_fileName(QFileInfo(fileName).absoluteFilePath())
    , m_label(QFileInfo(fileName).fileName())
    , m_db(std::move(handle))
    , m_oddNames(std::move(oddNames))
{
}

ProfileWriter::~ProfileWriter()
{
    finish();
    finalize();
}

void ProfileWriter::stage(const QString &key, const QVariant &value)
{
    std::lock_guard<std::mutex> locker(m_stagedLock);
    m_staged.insert(key, value);
}

bool ProfileWriter::loopWillDeliver() const
{
    if (m_finished.load() || !QCoreApplication::instance())
        return false;
    // On its own thread the thread is running, which spares the check its lock.
    QThread *own = thread();
    return own == QThread::currentThread() || !own->isFinished();
}

void ProfileWriter::requestWrite()
{
    if (!loopWillDeliver()) {
        // What cannot be written now stays staged for the next change and for the end.
        write(AttemptTimeout, true);
        return;
    }
    // Posted under the lock that event() takes first, which also shows ThreadSanitizer (blind to
    // Qt's event queue) that the event was made before it is read.
    std::lock_guard<std::mutex> locker(m_stagedLock);
    if (m_requested)
        return;
    m_requested = true;
    QCoreApplication::postEvent(this, new QEvent(QEvent::UpdateRequest));
}

bool ProfileWriter::event(QEvent *event)
{
    bool request;
    {
        std::lock_guard<std::mutex> locker(m_stagedLock);
        request = event->type() == QEvent::UpdateRequest;
        if (request)
            m_requested = false;
    }
    if (!request)
        return QObject::event(event);
    // While a held file is tried again, new changes wait for the next try, not a new wait.
    if (!m_retry.isActive())
        attemptOnOwnThread();
    return true;
}

void ProfileWriter::timerEvent(QTimerEvent *event)
{
    if (event->timerId() != m_retry.timerId())
        return QObject::timerEvent(event);
    m_retry.stop();
    attemptOnOwnThread();
}

void ProfileWriter::attemptOnOwnThread()
{
    switch (write(AttemptTimeout, false)) {
    case Attempt::Written:
    case Attempt::Refused:
        m_retryInterval = AttemptTimeout;
        break;
    case Attempt::Skipped: // sync() on another thread is writing: look again soon
        m_retry.start(AttemptTimeout, this);
        break;
    case Attempt::Failed:
        m_retry.start(m_retryInterval, this);
        m_retryInterval = qMin(m_retryInterval * 2, MaxRetryInterval);
        break;
    }
}

bool ProfileWriter::sync(int busyTimeout)
{
    return write(busyTimeout, true) == Attempt::Written;
}

void ProfileWriter::finish()
{
    if (m_finished.exchange(true))
        return;
    if (sync())
        return;
    int lost;
    {
        std::lock_guard<std::mutex> locker(m_stagedLock);
        lost = m_staged.size();
    }
    if (lost > 0)
        emitNotes({PROFILE_NOTE(
            QtWarningMsg,
            QStringLiteral("%1: %2 saved changes were not written").arg(m_label).arg(lost))});
}

ProfileWriter::Attempt ProfileWriter::write(int busyTimeout, bool wait)
{
    QVector<Note> notes;
    Attempt attempt = Attempt::Written;
    {
        std::unique_lock<std::mutex> writing(m_writeLock, std::defer_lock);
        if (wait)
            writing.lock();
        else if (!writing.try_lock())
            return Attempt::Skipped;
        QHash<QString, QVariant> batch;
        {
            std::lock_guard<std::mutex> locker(m_stagedLock);
            batch.swap(m_staged);
        }
        if (batch.isEmpty())
            return Attempt::Written;
        int refused = 0;
        Note failure;
        if (commit(batch, busyTimeout, notes, refused, failure)) {
            if (m_failing)
                notes.append(PROFILE_NOTE(QtInfoMsg,
                                          QStringLiteral("%1: the saved changes were written "
                                                         "after %2 failed attempts")
                                              .arg(m_label)
                                              .arg(m_failedAttempts)));
            m_failing = false;
            m_failedAttempts = 0;
            attempt = refused > 0 ? Attempt::Refused : Attempt::Written;
        } else {
            {
                // Newer changes made meanwhile win over the ones given back.
                std::lock_guard<std::mutex> locker(m_stagedLock);
                for (auto it = batch.cbegin(); it != batch.cend(); ++it) {
                    if (!m_staged.contains(it.key()))
                        m_staged.insert(it.key(), it.value());
                }
            }
            ++m_failedAttempts;
            if (!m_failing) {
                m_failing = true;
                failure.text = QStringLiteral("%1: %2 saved changes not written, tried again "
                                              "later: %3")
                                   .arg(m_label)
                                   .arg(batch.size())
                                   .arg(failure.text);
                notes.append(failure);
            }
            attempt = Attempt::Failed;
        }
    }
    // Logged after the locks are released: a message handler may save a setting itself.
    emitNotes(notes);
    return attempt;
}

int ProfileWriter::prepare()
{
    if (m_store)
        return SQLITE_OK;
    if (!m_db) {
        sqlite3 *db = nullptr;
        const int code = sqlite3_open_v2(m_fileName.toUtf8().constData(), &db,
                                         SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
        m_db.reset(db);
        if (code != SQLITE_OK)
            return code;
    }
    // A unique name is updated in place; a table without one gets delete and insert, so a
    // name never ends up in two rows.
    int code = sqlite3_prepare_v2(m_db.get(),
                                  "insert into profile (name, value) values(?,?) on "
                                  "conflict(name) do update set value = excluded.value",
                                  -1, &m_store, nullptr);
    m_nameIsUnique = code == SQLITE_OK;
    if (!m_nameIsUnique)
        code = sqlite3_prepare_v2(m_db.get(), "insert into profile (name, value) values(?,?)", -1,
                                  &m_store, nullptr);
    if (code == SQLITE_OK)
        code = sqlite3_prepare_v2(m_db.get(), "delete from profile where name = ?", -1, &m_delete,
                                  nullptr);
    if (code != SQLITE_OK)
        finalize();
    return code;
}

void ProfileWriter::finalize()
{
    sqlite3_finalize(m_store);
    sqlite3_finalize(m_delete);
    m_store = nullptr;
    m_delete = nullptr;
}

bool ProfileWriter::commit(const QHash<QString, QVariant> &batch, int busyTimeout,
                           QVector<Note> &notes, int &refused, Note &failure)
{
    int code = prepare();
    if (code != SQLITE_OK) {
        failure = PROFILE_NOTE(QtWarningMsg, ProfileStorage::errorText(m_db.get(), code));
        // Opened or prepared anew next time: the file or its table may be back by then.
        if (code == SQLITE_CANTOPEN)
            m_db.reset();
        return false;
    }
    sqlite3 *db = m_db.get();
    sqlite3_busy_timeout(db, busyTimeout);
    // One transaction, so a burst of changes costs one disk sync.
    code = sqlite3_exec(db, "begin immediate", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        failure = PROFILE_NOTE(QtWarningMsg, ProfileStorage::errorText(db, code));
        return false;
    }
    QByteArray valueBytes;
    for (auto it = batch.cbegin(); it != batch.cend() && code == SQLITE_OK; ++it) {
        const QString &key = it.key();
        const QVariant &value = it.value();
        bool replaced;
        const QByteArray name = utf8Of(key, &replaced); // as the file stores it
        const auto label = [&] { return m_label + QLatin1String(": ") + key; };
        // The value is bound first: one that cannot be stored leaves the row as it was.
        const Bound bound
            = value.isValid() ? bindValue(m_store, 2, value, valueBytes) : Bound::Exactly;
        if (bound == Bound::Refused) {
            notes.append(PROFILE_NOTE(QtWarningMsg,
                                      QStringLiteral("%1: a %2 cannot be stored; not written")
                                          .arg(label(), QLatin1String(value.typeName()))));
            ++refused;
            continue;
        }
        if (bound == Bound::Replaced || replaced)
            notes.append(PROFILE_NOTE(QtWarningMsg,
                                      QStringLiteral("%1: the text holds a lone surrogate, "
                                                     "stored as U+FFFD")
                                          .arg(label())));
        if (const ProfileStorage::StoredName stored = m_oddNames.value(key)) {
            sqlite3_bind_value(m_delete, 1, stored.get());
            code = run(m_delete);
        }
        if (code == SQLITE_OK && (!value.isValid() || !m_nameIsUnique)) {
            bindBytes(m_delete, 1, name);
            code = run(m_delete);
        }
        if (code == SQLITE_OK && value.isValid()) {
            bindBytes(m_store, 1, name);
            code = run(m_store);
            if (isRowError(code)) {
                notes.append(PROFILE_NOTE(QtWarningMsg,
                                          QStringLiteral("%1: not written: %2")
                                              .arg(label(), ProfileStorage::errorText(db, code))));
                ++refused;
                code = SQLITE_OK;
            }
        }
    }
    sqlite3_clear_bindings(m_store);
    sqlite3_clear_bindings(m_delete);
    if (code == SQLITE_OK)
        code = sqlite3_exec(db, "commit", nullptr, nullptr, nullptr);
    if (code != SQLITE_OK) {
        failure = PROFILE_NOTE(QtWarningMsg, ProfileStorage::errorText(db, code));
        sqlite3_exec(db, "rollback", nullptr, nullptr, nullptr);
        // Prepared anew next time, in case the table changed under us.
        finalize();
        return false;
    }
    if (!m_oddNames.isEmpty()) {
        for (auto it = batch.cbegin(); it != batch.cend(); ++it)
            m_oddNames.remove(it.key());
    }
    return true;
}

void ProfileWriter::emitNotes(const QVector<Note> &notes)
{
    for (const Note &note : notes) {
        if (note.type == QtInfoMsg)
            qCInfo(lcProfile).noquote() << note.text;
        else
            qCWarning(lcProfile).noquote().nospace()
                << CorePrivate::unitName(__FILE__) << ':' << note.line << ": " << note.text;
    }
}
