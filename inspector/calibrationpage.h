// Calibration page of the site inspector: the calibration curves of profile.db, each drawn
// over its standard points, beside its fit before the upgrade.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef CALIBRATIONPAGE_H
#define CALIBRATIONPAGE_H

#include "calibrationcurves.h"

#include <QWidget>

class CalibrationPlot;
class QLabel;
class QPushButton;
class QTreeWidget;

/*!
    \brief Lists every curve of table `curve` with its units, date and validity; the selected
    one is drawn, with the same curve of the newest backup of profile.db when there is one.
*/
class CalibrationPage : public QWidget
{
    Q_OBJECT
public:
    enum Column { CurveColumn, UnitsColumn, DateColumn, ValidColumn, UpgradeColumn };

    explicit CalibrationPage(QWidget *parent = nullptr);

    /*! \brief Reads the curves of profile.db and of its newest backup again. */
    void reload();

    QTreeWidget *list() const { return m_list; }
    CalibrationPlot *plot() const { return m_plot; }
    /*! \brief Selects the curve with \a id; false when there is none. */
    bool selectCurve(int id);
    /*! \brief Writes the plot as a PNG; false (after a message box) when it cannot. */
    bool exportPng(const QString &fileName);

private:
    void showSelected();
    const StoredCurve *beforeOf(const StoredCurve &curve) const;

    QVector<StoredCurve> m_curves;
    QVector<StoredCurve> m_before;
    QString m_backup;
    QTreeWidget *m_list;
    CalibrationPlot *m_plot;
    QPushButton *m_exportButton;
    QLabel *m_status;
};

#endif // CALIBRATIONPAGE_H
