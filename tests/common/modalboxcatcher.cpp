// Test helper: closes every modal message box as it appears and records what it showed.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "modalboxcatcher.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPushButton>

ModalBoxCatcher::ModalBoxCatcher(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &ModalBoxCatcher::poll);
    m_timer.start(5);
}

QStringList ModalBoxCatcher::texts() const
{
    QStringList result;
    for (const CapturedBox &box : m_boxes)
        result << box.text;
    return result;
}

void ModalBoxCatcher::poll()
{
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box || !box->isVisible())
        return;
    CapturedBox captured;
    captured.icon = box->icon();
    captured.title = box->windowTitle();
    captured.text = box->text();
    captured.parent = box->parentWidget();
    if (const QCursor *cursor = QApplication::overrideCursor()) {
        captured.hadOverrideCursor = true;
        captured.cursor = cursor->shape();
    }
    m_boxes.append(captured);

    QAbstractButton *button = nullptr;
    if (!m_answers.isEmpty())
        button = box->button(m_answers.takeFirst());
    if (!button)
        button = box->defaultButton();
    if (!button)
        button = box->escapeButton();
    if (!button && !box->buttons().isEmpty())
        button = box->buttons().first();
    if (button)
        button->click();
    else
        box->reject();
}
