// Process-wide settings store over profile.db and the connections to the other databases.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PROFILE_H
#define PROFILE_H

#include "core_global.h"

#include <QColor>
#include <QObject>
#include <QSqlDatabase>
#include <QStringList>
#include <QVariant>

class ProfilePrivate;

/*
    The named settings: type, key (also the getter's name). Each is an ordinary row of table
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

    Saved changes are written back on the store's own thread, which is the application's main
    thread: all changes of one event-loop turn go to the file in one transaction, the latest per
    key, in the order memory saw them.

    Each named setting has a getter `const T &key(const T &defaultValue)`, which caches the value
    of its first read for the life of the store (the default of that first read sticks when the
    key is not stored), and a setter `void set_key(const T &value, bool save)`. Any thread may
    call both. The getter returns the calling thread's own copy of the value, so a read costs no
    lock and no copy; the reference stays valid on that thread, and changes only when the same
    thread reads the setting again after a set.
*/
class CORE_EXPORT Profile : public QObject
{
    Q_OBJECT
public:
    /*! \brief The process-wide store over "profile.db", created on the first call and owned by
        the application's main thread whichever thread makes that call. */
    static Profile &instance();

    explicit Profile(QObject *parent = nullptr);
    Profile(const QString &fileName, QObject *parent);
    ~Profile() override;

    QSqlDatabase database() const;
    QSqlDatabase dataDatabase() const;
    QSqlDatabase qcDatabase() const;
    QSqlDatabase syslogDatabase() const;

    /*! \brief The stored value of \a key; \a defaultValue when it has none (and the key is then
        remembered, so keys() lists it). An SQL NULL counts as stored. */
    QVariant value(const QString &key, const QVariant &defaultValue = QVariant());
    /*! \brief The value of \a key, else of \a fallbackKey, else \a defaultValue. */
    QVariant value2(const QString &key, const QString &fallbackKey,
                    const QVariant &defaultValue = QVariant());
    /*! \brief Sets \a key in memory at once; with \a save, also writes the row when the store's
        thread next processes events (an invalid \a value deletes it). */
    void setValue(const QString &key, const QVariant &value, bool save = true);
    void remove(const QString &key);
    QStringList keys() const;

#define PROFILE_DECLARE_SETTING(Type, key) \
    const Type &key(const Type &defaultValue); \
    void set_##key(const Type &value, bool save);
    PROFILE_NAMED_SETTINGS(PROFILE_DECLARE_SETTING)
#undef PROFILE_DECLARE_SETTING

signals:
    void valueChanged(const QString &key, const QVariant &value);
    void keyRemoved(const QString &key);

private:
    Q_DISABLE_COPY(Profile)
    friend class ProfilePrivate;
    void init(const QString &fileName);

    ProfilePrivate *d;
};

#endif // PROFILE_H
