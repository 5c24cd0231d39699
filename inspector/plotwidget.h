// What the inspector's plots share: a white widget painted by one function, the same picture as
// a PNG, and the page layout of a list beside a plot with its Export button.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PLOTWIDGET_H
#define PLOTWIDGET_H

#include <QWidget>

#include <functional>

class QPainter;
class QPushButton;

/*! \brief A plot that paints itself through paint(), on screen and into images alike. */
class PlotWidget : public QWidget
{
    Q_OBJECT
public:
    using QWidget::QWidget;

    /*! \brief The plot drawn on an image of \a size, as the PNG export writes it. */
    QImage toImage(const QSize &size) const;
    /*! \brief Writes the plot at 960x720 as a PNG; false (after a message box) when it cannot. */
    bool exportPng(const QString &fileName, const QString &what) const;

protected:
    void paintEvent(QPaintEvent *event) override;
    /*! \brief Draws the plot into \a area of a white background. */
    virtual void paint(QPainter &painter, const QRect &area) const = 0;
};

namespace PlotPage {

/*! \brief Lays \a page out as \a list with \a below it on the left, \a plot with \a exportButton
    under it on the right, their widths \a listWidth and \a plotWidth at first. Clicking the
    button asks for a file (\a dialogTitle, \a defaultName) and calls \a exportTo with it. */
void layOut(QWidget *page, QWidget *list, QWidget *below, PlotWidget *plot,
            QPushButton *exportButton, int listWidth, int plotWidth, const QString &dialogTitle,
            const QString &defaultName, const std::function<void(const QString &)> &exportTo);

} // namespace PlotPage

#endif // PLOTWIDGET_H
