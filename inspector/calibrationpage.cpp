// Calibration page of the site inspector: the calibration curves of profile.db, each drawn
// over its standard points, beside its fit before the upgrade.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "calibrationpage.h"

#include "calibrationplot.h"
#include "changespage.h"
#include "ryglobal.h"

#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

CalibrationPage::CalibrationPage(QWidget *parent)
    : QWidget(parent)
    , m_list(new QTreeWidget(this))
    , m_plot(new CalibrationPlot(this))
    , m_exportButton(new QPushButton(tr("&Export PNG..."), this))
    , m_status(new QLabel(this))
{
    m_list->setObjectName(QStringLiteral("calibrationList"));
    m_list->setAccessibleName(tr("Calibration curves"));
    m_list->setHeaderLabels({tr("Curve"), tr("Units"), tr("Date"), tr("Fit"), tr("Upgrade")});
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->header()->setStretchLastSection(true);
    const int widths[] = {54, 74, 76, 84};
    for (int column = 0; column < 4; ++column)
        m_list->setColumnWidth(column, widths[column]);
    m_exportButton->setObjectName(QStringLiteral("calibrationExportButton"));
    m_exportButton->setAccessibleName(tr("Export the calibration curve as PNG"));
    m_exportButton->setEnabled(false);
    m_status->setObjectName(QStringLiteral("calibrationStatus"));
    m_status->setWordWrap(true);

    PlotPage::layOut(this, m_list, m_status, m_plot, m_exportButton, 380, 520,
                     tr("Export the calibration curve"), QStringLiteral("calibration.png"),
                     [this](const QString &fileName) { exportPng(fileName); });

    connect(m_list, &QTreeWidget::currentItemChanged, this, &CalibrationPage::showSelected);
}

void CalibrationPage::reload()
{
    const QTreeWidgetItem *current = m_list->currentItem();
    const int selected = current ? current->data(CurveColumn, Qt::UserRole).toInt() : 0;
    m_list->clear();

    QString error;
    m_curves = readStoredCurves(QStringLiteral("profile.db"), &error);
    m_backup = ChangesPage::newestBackup(QStringLiteral("profile.db"));
    QString backupError;
    m_before = m_backup.isEmpty() ? QVector<StoredCurve>()
                                  : readStoredCurves(m_backup, &backupError);

    for (const StoredCurve &curve : m_curves) {
        const StoredCurve *before = beforeOf(curve);
        QString upgrade;
        if (!m_backup.isEmpty())
            upgrade = !before ? tr("not in the backup")
                              : before->fitDiffers(curve) ? tr("refitted") : tr("unchanged");
        auto *item = new QTreeWidgetItem(
            m_list, {QStringLiteral("%1 %2").arg(curve.id).arg(curve.name),
                     QStringLiteral("%1 / %2").arg(curve.xUnit, curve.yUnit), curve.dateText(),
                     curve.validityText(), upgrade});
        item->setData(CurveColumn, Qt::UserRole, curve.id);
    }

    QStringList status;
    if (!error.isEmpty())
        status << tr("The curves cannot be read: %1").arg(error);
    else
        status << tr("%1 calibration curves in profile.db.").arg(m_curves.size());
    if (m_backup.isEmpty())
        status << tr("No backup of profile.db: nothing to compare with.");
    else if (!backupError.isEmpty())
        status << tr("The backup %1 cannot be read: %2").arg(m_backup, backupError);
    else
        status << tr("Before the upgrade: %1.").arg(m_backup);
    m_status->setText(status.join(QLatin1Char('\n')));

    if (!selectCurve(selected) && m_list->topLevelItemCount() > 0)
        m_list->setCurrentItem(m_list->topLevelItem(0));
    if (m_list->topLevelItemCount() == 0)
        m_plot->clear(error.isEmpty() ? tr("profile.db holds no calibration curve.") : error);
}

const StoredCurve *CalibrationPage::beforeOf(const StoredCurve &curve) const
{
    // Ids are kept by the upgrade; a row of another name under the same id is another curve.
    for (const StoredCurve &candidate : m_before) {
        if (candidate.id == curve.id)
            return candidate.name == curve.name ? &candidate : nullptr;
    }
    return nullptr;
}

bool CalibrationPage::selectCurve(int id)
{
    for (int i = 0; i < m_list->topLevelItemCount(); ++i) {
        QTreeWidgetItem *item = m_list->topLevelItem(i);
        if (item->data(CurveColumn, Qt::UserRole).toInt() == id) {
            m_list->setCurrentItem(item);
            return true;
        }
    }
    return false;
}

void CalibrationPage::showSelected()
{
    const QTreeWidgetItem *item = m_list->currentItem();
    const int row = item ? m_list->indexOfTopLevelItem(const_cast<QTreeWidgetItem *>(item)) : -1;
    if (row < 0 || row >= m_curves.size()) {
        m_plot->clear(QString());
        m_exportButton->setEnabled(false);
        return;
    }
    m_plot->setCurve(m_curves.at(row), beforeOf(m_curves.at(row)),
                     QFileInfo(m_backup).fileName());
    m_exportButton->setEnabled(true);
}

bool CalibrationPage::exportPng(const QString &fileName)
{
    if (m_plot->hasCurve())
        return m_plot->exportPng(fileName, tr("calibration curve"));
    critical(tr("No calibration curve is selected: nothing to write to %1.").arg(fileName));
    return false;
}
