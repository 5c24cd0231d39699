// Exported helpers of the core library: message boxes, scoped guards and the ry enumerations.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef RYGLOBAL_H
#define RYGLOBAL_H

#include "core_global.h"

#include <QMessageBox>

class QWidget;

namespace ry {
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
    explicit WaitCursor(Qt::CursorShape shape = Qt::WaitCursor);
    ~WaitCursor();

private:
    Q_DISABLE_COPY(WaitCursor)
};

/*! \brief The window to use as parent of a dialog: the active modal widget's window, else the
 * active window's, else null. */
CORE_EXPORT QWidget *topLevelWidget();

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

#endif // RYGLOBAL_H
