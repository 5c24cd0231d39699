// Message boxes for failures the user must see, and the scoped guards BoolLocker and WaitCursor.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef MESSAGEBOX_H
#define MESSAGEBOX_H

#include "core_global.h"

#include <QMessageBox>

class QWidget;

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

#endif // MESSAGEBOX_H
