// Message boxes for failures the user must see, and the scoped guards BoolLocker and WaitCursor.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "messagebox.h"

#include "logging_p.h"

#include <QApplication>
#include <QThread>

namespace {

// Cursors and boxes belong to the GUI thread of a widget application; elsewhere they are no-ops.
bool onGuiThread()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance())
        && QCoreApplication::instance()->thread() == QThread::currentThread();
}

QMessageBox::StandardButton showBox(QMessageBox::Icon icon, const QString &text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    // A widget made without a QApplication, or off its thread, aborts the process. The store
    // reports its start-up failures through these boxes, so a console tool or a worker thread
    // gets the text in the log instead, and no button.
    if (!onGuiThread()) {
        qCWarning(lcMessageBox).noquote() << text;
        return QMessageBox::NoButton;
    }
    // A box raised inside a wait-cursor scope must show the arrow.
    WaitCursor arrow(Qt::ArrowCursor);
    QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, topLevelWidget(),
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

BoolLocker::BoolLocker(bool &flag, bool value)
    : m_flag(&flag)
    , m_saved(flag)
{
    flag = value;
}

BoolLocker::~BoolLocker()
{
    *m_flag = m_saved;
}

WaitCursor::WaitCursor(Qt::CursorShape shape)
{
    if (onGuiThread())
        QApplication::setOverrideCursor(QCursor(shape));
}

WaitCursor::~WaitCursor()
{
    if (onGuiThread())
        QApplication::restoreOverrideCursor();
}

QWidget *topLevelWidget()
{
    QWidget *w = QApplication::activeModalWidget();
    if (!w)
        w = QApplication::activeWindow();
    if (w && w->window())
        return w->window();
    return w;
}

QMessageBox::StandardButton information(const QString &text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    return showBox(QMessageBox::Information, text, buttons, defaultButton);
}

QMessageBox::StandardButton question(const QString &text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return showBox(QMessageBox::Question, text, buttons, defaultButton);
}

QMessageBox::StandardButton warning(const QString &text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    return showBox(QMessageBox::Warning, text, buttons, defaultButton);
}

QMessageBox::StandardButton critical(const QString &text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return showBox(QMessageBox::Critical, text, buttons, defaultButton);
}
