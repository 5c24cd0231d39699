// Test helper: closes every modal message box as it appears and records what it showed.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef MODALBOXCATCHER_H
#define MODALBOXCATCHER_H

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QTimer>

struct CapturedBox
{
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QString title;
    QString text;
    QPointer<QWidget> parent;                 // the box's parent widget when it was shown
    Qt::CursorShape cursor = Qt::ArrowCursor; // override cursor while it was shown
    bool hadOverrideCursor = false;
};

/*!
    \brief Watches for modal message boxes while alive; each one is recorded and then
    answered with the next queued button (or its default/escape button).

    Modal boxes run a nested event loop, so the timer fires inside it.
*/
class ModalBoxCatcher : public QObject
{
    Q_OBJECT
public:
    explicit ModalBoxCatcher(QObject *parent = nullptr);

    void queueAnswer(QMessageBox::StandardButton button) { m_answers.append(button); }
    const QList<CapturedBox> &boxes() const { return m_boxes; }
    QStringList texts() const;
    void clear() { m_boxes.clear(); }

private:
    void poll();

    QTimer m_timer;
    QList<CapturedBox> m_boxes;
    QList<QMessageBox::StandardButton> m_answers;
};

#endif // MODALBOXCATCHER_H
