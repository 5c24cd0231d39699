// Exported helpers of the core library: message boxes, scoped guards and the ry enumerations.
// SPDX-License-Identifier: LicenseRef-Proprietary
/*! \file ryglobal.h
    \brief Helpers of the core library: message boxes, scoped guards, numbers and texts,
    scripts, sample numbers, a checksum, and the ry enumerations. */
#ifndef RYGLOBAL_H
#define RYGLOBAL_H

#include "core_global.h"

#include <QMessageBox>
#include <QStringList>
#include <QVariant>

class QDate;
class QSqlRecord;
class QWidget;

// The analyser's shared enumerations.
namespace ry {

/*! \brief Kind of a sample; only statim and quality-control samples are told apart, every
    other value is an ordinary sample. */
enum SampleType {
    Ordinary = 0,
    Statim = 1,
    QualityControl = 2,
};

/*! \brief Bits of a result's flag word; they mark the value on reports. Other bits are carried
    unchanged. */
enum ResultFlag {
    Diluted = 0x0002,
    BelowReportLimit = 0x0004,
    AboveReportLimit = 0x0008,
    BelowMarkLimit = 0x0010,
    AboveMarkLimit = 0x0020,
    ManualTest = 0x1000,
    ManualInput = 0x8000,
};

} // namespace ry

/*!
    \brief Sets a bool for the life of a scope and restores the previous value.
*/
class CORE_EXPORT BoolLocker
{
public:
    /*! \brief Sets \a flag to \a value until the locker is destroyed. */
    BoolLocker(bool &flag, bool value);
    ~BoolLocker();

private:
    Q_DISABLE_COPY(BoolLocker)
    bool *m_flag;
    bool m_saved;
};

/*!
    \brief Shows an override cursor for the life of a scope; does nothing off the GUI thread.
*/
class CORE_EXPORT WaitCursor
{
public:
    /*! \brief Shows \a shape until the guard is destroyed. */
    explicit WaitCursor(Qt::CursorShape shape = Qt::WaitCursor);
    ~WaitCursor();

private:
    Q_DISABLE_COPY(WaitCursor)
};

/*! \brief The window to use as parent of a dialog: the active modal widget's window, else the
 * active window's, else null. */
CORE_EXPORT QWidget *topLevelWidget();

//!@{
/*! \brief A modal box with the icon of its name over topLevelWidget(); the button pressed. Off
    the GUI thread, or without a QApplication, the text goes to the log and NoButton is returned. */
CORE_EXPORT QMessageBox::StandardButton
information(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
            QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton
question(const QString &text,
         QMessageBox::StandardButtons buttons = QMessageBox::Yes | QMessageBox::No,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton
warning(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
        QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
CORE_EXPORT QMessageBox::StandardButton
critical(const QString &text, QMessageBox::StandardButtons buttons = QMessageBox::Ok,
         QMessageBox::StandardButton defaultButton = QMessageBox::NoButton);
//!@}

// --- Global helpers ---

/*! \brief Empty exported class; the application derives from it. */
class CORE_EXPORT Core
{
public:
    Core();
    //!@{
    /*! \brief Copying copies nothing. */
    Core(const Core &other);
    Core &operator=(const Core &other);
    //!@}
    ~Core();
};

/*!
    \brief The first ratio "a/b" or "a:b" found in \a text, as a / b; 0 (and *ok false) when there
    is none. b = 0 gives the floating-point result (an infinity, or NaN for 0/0).

    The pattern is compiled once per process and only read afterwards, so the function may be
    called from several threads at the same time.
*/
CORE_EXPORT double fraction(const QString &text, bool *ok = nullptr);

/*!
    \brief \a value rounded as QString::number(value, format, precision) writes it: 'f' keeps
    \a precision decimals, 'g' \a precision significant digits.

    No default arguments: round(x) must stay the C library's.
*/
CORE_EXPORT double round(double value, int precision, char format);

/*! \brief The 19 dilution ratios offered to the user, from "1/1" to "4/5". */
CORE_EXPORT QStringList dilutionList();

/*! \brief A volume in microlitres as "999 uL", "1.5 mL" or "2.5 L" (4 significant digits). */
CORE_EXPORT QString humanReadableVolume(int volume);

/*! \brief For \a kind 4096 without \a plainForm, the volume in litres with one decimal
    ("<0.1 L" below 100 000 uL); otherwise humanReadableVolume(volume). */
CORE_EXPORT QString humanReadableVolume(int kind, int volume, bool plainForm);

/*! \brief The value of the script \a program; a script that throws gives its error value. */
CORE_EXPORT QVariant eval(const QString &program);

/*! \brief The value of the UTF-8 script file \a fileName. An uncaught exception is shown in a
    critical box and gives an invalid variant; so does a file that cannot be read. */
CORE_EXPORT QVariant load_script(const QString &fileName);

/*! \brief The sample-number prefix of \a type from the settings ("S" and "QC" by default);
    empty for ordinary samples. */
CORE_EXPORT QString samplePrefix(ry::SampleType type);

/*! \brief One more than the largest integer sample number of \a date in data.db (1 for a day
    without patients, or when the table cannot be read; the int maximum when the largest number
    reaches it). */
CORE_EXPORT int nextSampleNo(const QDate &date);

/*! \brief Sets \a field of \a record to \a value and marks it to be written; a field the record
    lacks changes nothing. */
CORE_EXPORT void setGeneratedValue(QSqlRecord &record, const QString &field, const QVariant &value);

/*! \brief CRC-16/CCITT-FALSE (polynomial 0x1021, initial 0xFFFF, no reflection, no final XOR)
    of \a len bytes at \a data; 0xFFFF for \a len <= 0. */
CORE_EXPORT unsigned short crc16(const void *data, int len);

/*! \brief Blocks the calling thread for \a ms milliseconds. Takes an int, so sleep(50) is this
    one and sleep(50u) stays the C library's (seconds). */
CORE_EXPORT void sleep(int ms);

// --- end of global helpers ---

#endif // RYGLOBAL_H
