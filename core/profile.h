// Process-wide settings store over profile.db and the connections to the other databases.
// SPDX-License-Identifier: LicenseRef-Proprietary
/*! \file profile.h
    \brief Profile, the settings store, and the list of its named settings. */
#ifndef PROFILE_H
#define PROFILE_H

#include "core_global.h"

#include <QColor>
#include <QObject>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>

class ProfilePrivate;

/*!
    \brief The named settings: type, key (also the getter's name). Each is an ordinary row of table
    `profile` whose name is the key. This list is the one place a setting is declared.

    Texts and marks shown with results:
      result_can_not_be_calculated, result_not_clotted, dilution_result_flag,
      lower/upper_report_limit_flag (before the value), lower/upper_mark_limit_flag (after it),
      manual_input_flag; result_is_preparing/_incubating/_analysing for tests under way.
    Sample-number prefixes: statim_sample_prefix, qc_sample_prefix.
    Colours of the test states (stored as "#rrggbb"): color_of_*.
    Display and quality-control options: analysis_display_assay, patient_display_fields,
      max_qc_file, qc_method, hospital, is_touch_screen.
*/
#define PROFILE_NAMED_SETTINGS(X) \
    X(QString, statim_sample_prefix) \
    X(QString, qc_sample_prefix) \
    X(QString, result_is_preparing) \
    X(QString, result_can_not_be_calculated) \
    X(QString, result_is_incubating) \
    X(QString, result_is_analysing) \
    X(QString, result_not_clotted) \
    X(QString, dilution_result_flag) \
    X(QString, lower_report_limit_flag) \
    X(QString, upper_report_limit_flag) \
    X(QString, lower_mark_limit_flag) \
    X(QString, upper_mark_limit_flag) \
    X(QString, manual_input_flag) \
    X(QColor, color_of_waiting) \
    X(QColor, color_of_dispensing) \
    X(QColor, color_of_incubating) \
    X(QColor, color_of_analysing) \
    X(QColor, color_of_null_result) \
    X(QString, analysis_display_assay) \
    X(QString, patient_display_fields) \
    X(int, max_qc_file) \
    X(int, qc_method) \
    X(QString, hospital) \
    X(bool, is_touch_screen)

/*!
    \brief The settings store: every row of table `profile` in memory, read under a shared lock.

    Each named setting has a getter `const T &key(const T &defaultValue)`, which caches the value
    of its first read for the life of the store (the default of that first read sticks when the
    key is not stored), and a setter `void set_key(const T &value, bool save)`. Any thread may
    call both. The getter returns the calling thread's own copy of the value, so a read costs no
    lock and no copy; the reference stays valid on that thread, and changes only when the same
    thread reads the setting again after a set.

    \par What a save guarantees
    A change saved with setValue(), set_key(…, true) or remove() is in memory at once, on every
    thread. It reaches the file on the next turn of the event loop of the store's thread (the
    application's main thread), together with every other change of that turn, in one
    transaction, the latest per key, in the order memory saw them; at the latest it is written
    when the application object is destroyed or the process exits normally (or, for a store of
    your own, when it is destroyed). Where no event loop will run (no application object, or
    after it is gone), a change is written at once on the thread that made it. A file held by
    another program is waited for about 100 ms per try on the store's thread and tried again
    later, so the loop never stalls and nothing staged is dropped. Call sync() to make the
    changes durable now, for example before a step that may be killed.

    \par What comes back after a restart
    Values are stored as SQLite stores them and come back as: integers (also bool, uint, and a
    qulonglong up to the largest qlonglong) as qlonglong; reals as double; texts as QString;
    byte arrays as QByteArray (an empty one stays empty, not null); a QDateTime or QTime as its
    ISO text; any other type as its text (a QColor as "#rrggbb"); a qulonglong above the largest
    qlonglong as its decimal text. A null value of any type, and NaN (which SQLite stores as
    NULL), come back as a null QString: found, but 0 or empty when converted. A text with a lone
    UTF-16 surrogate is stored with U+FFFD in its place (and a warning). A value of a type without
    a text form (a QVariantMap, say) is not written; a warning names its key.

    \par Read-only stores
    A store opened ReadOnly (see OpenMode) reads profile.db and opens the four connections
    without write access, for a tool that must look at an instrument folder and leave it as it
    was. A missing file is not created: it is reported as a file that cannot be opened. Values
    load and read as usual. A save (setValue(), set_key(…, true), remove()) changes memory only,
    as one without save does, but still emits valueChanged() or keyRemoved(), since what readers
    see did change; the first such save of the store logs one warning naming its key, and sync()
    returns false from then on, since those changes never reach the file. Nothing is written,
    not at sync(), not when the store or the application object goes, not at exit.
*/
class CORE_EXPORT Profile : public QObject
{
    Q_OBJECT
public:
    /*! \brief Whether the store may change its files. */
    enum OpenMode {
        ReadWrite, //!< Loads and writes profile.db; SQLite creates a missing file.
        ReadOnly   //!< Only reads; a missing file stays missing and a save stays in memory.
    };
    Q_ENUM(OpenMode)

    /*! \brief The process-wide store over "profile.db", created on the first call and owned by
        the application's main thread whichever thread makes that call. It is never destroyed, so
        a thread still saving while the process exits is safe; its changes are written when the
        application object goes and again at exit. */
    static Profile &instance();

    /*! \brief A store over "profile.db" of the current folder. Each store writes its own file,
        and registers the four connections, replacing those of an earlier store. */
    explicit Profile(QObject *parent = nullptr);
    /*! \brief A store over the settings database \a fileName. */
    Profile(const QString &fileName, QObject *parent);
    /*! \brief A store over the settings database \a fileName, opened in \a mode. */
    Profile(const QString &fileName, OpenMode mode, QObject *parent = nullptr);
    ~Profile() override;

    /*! \brief The mode of the stores made afterwards by the constructors without one, and of
        instance() when it is first called: set it before that call, for example first thing in
        main(). ReadWrite unless set; any thread may call it. */
    static void setDefaultOpenMode(OpenMode mode);
    /*! \brief The mode set with setDefaultOpenMode(). */
    static OpenMode defaultOpenMode();
    /*! \brief The mode the store was opened in, for its life. */
    OpenMode openMode() const;

    //!@{
    /*! \brief The connections to profile.db, data.db, qc.db and syslog.db, opened by the store. */
    QSqlDatabase database() const;
    QSqlDatabase dataDatabase() const;
    QSqlDatabase qcDatabase() const;
    QSqlDatabase syslogDatabase() const;
    //!@}

    /*! \brief The stored value of \a key; \a defaultValue when it has none (and the key is then
        remembered, so keys() lists it). An SQL NULL counts as stored. */
    QVariant value(const QString &key, const QVariant &defaultValue = QVariant());
    /*! \brief The value of \a key, else of \a fallbackKey, else \a defaultValue. */
    QVariant value2(const QString &key, const QString &fallbackKey,
                    const QVariant &defaultValue = QVariant());
    /*! \brief Sets \a key in memory at once; with \a save, also writes the row when the store's
        thread next processes events (an invalid \a value deletes it). */
    void setValue(const QString &key, const QVariant &value, bool save = true);
    /*! \brief Forgets \a key and deletes its row. */
    void remove(const QString &key);
    /*! \brief Every key in memory: the stored ones and those read with a default. */
    QStringList keys() const;
    /*! \brief Writes every saved change not yet in the file now, from any thread, waiting up to
        30 s for a file another program holds; true when all of them reached the file (like
        QSettings::sync() with status()). A read-only store writes nothing: false once a save
        has stayed in memory. */
    bool sync();

#define PROFILE_DECLARE_SETTING(Type, key) \
    const Type &key(const Type &defaultValue); \
    void set_##key(const Type &value, bool save);
    //! \name Named settings
    //!@{
    /*! \brief A named setting (see PROFILE_NAMED_SETTINGS): `key(defaultValue)` reads it
        through its cache, `set_key(value, save)` sets it as setValue() does. */
    PROFILE_NAMED_SETTINGS(PROFILE_DECLARE_SETTING)
    //!@}
#undef PROFILE_DECLARE_SETTING

Q_SIGNALS:
    /*! \brief \a key was set to \a value with save; the row is written on the store's thread
        (a read-only store emits it too, and writes nothing). */
    void valueChanged(const QString &key, const QVariant &value);
    /*! \brief \a key was removed; its row is deleted on the store's thread (a read-only store
        emits it too, and deletes nothing). */
    void keyRemoved(const QString &key);

private:
    Q_DISABLE_COPY(Profile)
    friend class ProfilePrivate;
    void init(const QString &fileName, OpenMode mode);

    ProfilePrivate *d;
};

#endif // PROFILE_H
