// What the inspector's plots share: a white widget painted by one function, the same picture as
// a PNG, and the page layout of a list beside a plot with its Export button.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "plotwidget.h"

#include "ryglobal.h"

#include <QFileDialog>
#include <QImage>
#include <QPainter>
#include <QPushButton>
#include <QSplitter>
#include <QVBoxLayout>

QImage PlotWidget::toImage(const QSize &size) const
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setFont(font());
    paint(painter, image.rect());
    return image;
}

bool PlotWidget::exportPng(const QString &fileName, const QString &what) const
{
    if (toImage(QSize(960, 720)).save(fileName, "PNG"))
        return true;
    critical(tr("The %1 cannot be written to %2.").arg(what, fileName));
    return false;
}

void PlotWidget::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::white);
    paint(painter, rect());
}

namespace PlotPage {

void layOut(QWidget *page, QWidget *list, QWidget *below, PlotWidget *plot,
            QPushButton *exportButton, int listWidth, int plotWidth, const QString &dialogTitle,
            const QString &defaultName, const std::function<void(const QString &)> &exportTo)
{
    auto *left = new QWidget(page);
    auto *leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(list);
    leftLayout->addWidget(below);
    auto *right = new QWidget(page);
    auto *rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(plot, 1);
    rightLayout->addWidget(exportButton, 0, Qt::AlignRight);
    auto *splitter = new QSplitter(page);
    splitter->addWidget(left);
    splitter->addWidget(right);
    splitter->setStretchFactor(0, 0);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({listWidth, plotWidth});
    auto *layout = new QVBoxLayout(page);
    layout->addWidget(splitter);

    QObject::connect(exportButton, &QPushButton::clicked, page, [=] {
        const QString fileName = QFileDialog::getSaveFileName(
            page, dialogTitle, defaultName, PlotWidget::tr("PNG images (*.png)"));
        if (!fileName.isEmpty())
            exportTo(fileName);
    });
}

} // namespace PlotPage
