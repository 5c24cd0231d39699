// Results page of the site inspector: the results of data.db and the selected one's clot curve.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "resultspage.h"

#include "analysisresult.h"
#include "curveplot.h"
#include "profile.h"
#include "ryglobal.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardItemModel>
#include <QTableView>
#include <QThread>

namespace {

// Old folders keep their results in table `result`; upgraded ones show the counting version of
// each result through the view of the same name, so one statement reads both.
const char resultsStatement[]
    = "select r.patientId, p.name, p.sampleNo, p.date, r.item, r.subitem, r.result, r.flag, r.unit"
      " from result r left join patient p on p.id = r.patientId"
      " order by p.date, p.sampleNo, r.patientId, r.displayOrder, r.id";

enum { PatientIdRole = Qt::UserRole + 1 };

} // namespace

ResultLoader::ResultLoader(const QString &fileName, int batchSize)
    : m_fileName(fileName)
    , m_batchSize(batchSize)
{
}

void ResultLoader::run()
{
    const QString connection = QStringLiteral("inspector-results-%1").arg(quintptr(this), 0, 16);
    QString error;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(m_fileName);
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=30000;QSQLITE_OPEN_READONLY"));
        if (!db.open()) {
            error = db.lastError().text();
        } else {
            QSqlQuery query(db);
            query.setForwardOnly(true);
            if (!query.exec(QLatin1String(resultsStatement))) {
                error = query.lastError().text();
            } else {
                QVector<ResultRow> batch;
                while (!m_stop && query.next()) {
                    ResultRow row;
                    row.patientId = query.value(0).toInt();
                    row.patient = query.value(1).toString();
                    row.sampleNo = query.value(2);
                    row.date = query.value(3).toString();
                    row.item = query.value(4).toString();
                    row.subitem = query.value(5).toString();
                    row.value = query.value(6).toDouble();
                    row.flags = query.value(7).toInt();
                    row.unit = query.value(8).toString();
                    batch.append(row);
                    if (batch.size() >= m_batchSize) {
                        emit rowsReady(batch);
                        batch.clear();
                    }
                }
                if (!batch.isEmpty())
                    emit rowsReady(batch);
            }
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(connection);
    emit finished(error);
}

ResultsPage::ResultsPage(QWidget *parent)
    : QWidget(parent)
    , m_model(new QStandardItemModel(0, 6, this))
    , m_view(new QTableView(this))
    , m_plot(new CurvePlot(this))
    , m_exportButton(new QPushButton(tr("&Export PNG..."), this))
    , m_count(new QLabel(this))
{
    qRegisterMetaType<QVector<ResultRow>>();
    m_model->setHorizontalHeaderLabels(
        {tr("Patient"), tr("Sample"), tr("Date"), tr("Test"), tr("Result"), tr("Unit")});
    m_view->setObjectName(QStringLiteral("resultTable"));
    m_view->setAccessibleName(tr("Results"));
    m_view->setModel(m_model);
    m_view->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_view->setSelectionMode(QAbstractItemView::SingleSelection);
    m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_view->verticalHeader()->hide();
    m_view->verticalHeader()->setDefaultSectionSize(m_view->fontMetrics().height() + 6);
    m_view->horizontalHeader()->setDefaultSectionSize(60);
    m_view->horizontalHeader()->setStretchLastSection(true);
    m_view->setWordWrap(false);
    const int widths[] = {74, 56, 80, 62, 64};
    for (int column = 0; column < 5; ++column)
        m_view->setColumnWidth(column, widths[column]);
    m_exportButton->setObjectName(QStringLiteral("exportButton"));
    m_exportButton->setAccessibleName(tr("Export the clot curve as PNG"));
    m_exportButton->setEnabled(false);

    PlotPage::layOut(this, m_view, m_count, m_plot, m_exportButton, 430, 460,
                     tr("Export the curve"), QStringLiteral("curve.png"),
                     [this](const QString &fileName) { exportPng(fileName); });

    connect(m_view->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            &ResultsPage::showCurve);
}

ResultsPage::~ResultsPage()
{
    stopLoading();
}

void ResultsPage::stopLoading()
{
    if (!m_thread)
        return;
    m_loader->stop();
    m_loader->disconnect(this);
    m_thread->quit();
    m_thread->wait();
    delete m_loader;
    delete m_thread;
    m_loader = nullptr;
    m_thread = nullptr;
    m_waitCursor.reset();
}

void ResultsPage::reload()
{
    stopLoading();
    m_model->removeRows(0, m_model->rowCount());
    m_plot->setCurve(ClotCurve(), QString());
    m_exportButton->setEnabled(false);
    m_count->setText(tr("Loading results..."));

    m_waitCursor.reset(new WaitCursor);
    m_thread = new QThread;
    m_loader = new ResultLoader(QStringLiteral("data.db"));
    m_loader->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_loader, &ResultLoader::run);
    // Batches still queued from a load that was stopped belong to the old table.
    const int generation = ++m_generation;
    connect(m_loader, &ResultLoader::rowsReady, this,
            [this, generation](const QVector<ResultRow> &rows) {
                if (generation == m_generation)
                    appendRows(rows);
            });
    connect(m_loader, &ResultLoader::finished, this, [this, generation](const QString &error) {
        if (generation == m_generation)
            loadFinished(error);
    });
    m_thread->start();
}

void ResultsPage::appendRows(const QVector<ResultRow> &rows)
{
    for (const ResultRow &row : rows) {
        // Formatted here, on the thread that reads the named settings.
        AnalysisResult result(row.value);
        result.setFlags(row.flags);
        QList<QStandardItem *> cells;
        cells << new QStandardItem(row.patient) << new QStandardItem(row.sampleNo.toString())
              << new QStandardItem(row.date)
              << new QStandardItem(row.subitem.isEmpty() ? row.item : row.subitem)
              << new QStandardItem(result.toString()) << new QStandardItem(row.unit);
        cells.at(PatientColumn)->setData(row.patientId, PatientIdRole);
        cells.at(TestColumn)->setData(row.item, PatientIdRole);
        cells.at(ResultColumn)->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
        m_model->appendRow(cells);
    }
    if (!m_view->currentIndex().isValid() && m_model->rowCount() > 0)
        m_view->setCurrentIndex(m_model->index(0, 0));
}

void ResultsPage::loadFinished(const QString &error)
{
    stopLoading();
    m_count->setText(tr("%n result(s)", nullptr, m_model->rowCount()));
    if (!error.isEmpty())
        critical(tr("The results of data.db cannot be read:\n%1").arg(error));
    emit loaded();
}

bool ResultsPage::selectTest(const QString &item)
{
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->index(row, TestColumn).data(PatientIdRole).toString() == item) {
            m_view->setCurrentIndex(m_model->index(row, 0));
            return true;
        }
    }
    return false;
}

void ResultsPage::showCurve()
{
    const int row = m_view->currentIndex().row();
    if (row < 0) {
        m_plot->setCurve(ClotCurve(), QString());
        m_exportButton->setEnabled(false);
        return;
    }
    const int patientId = m_model->index(row, PatientColumn).data(PatientIdRole).toInt();
    const QString item = m_model->index(row, TestColumn).data(PatientIdRole).toString();
    ClotCurve curve;
    {
        // The newest curve of the test: after an upgrade that is the counting version's.
        QSqlQuery query(Profile::instance().dataDatabase());
        query.prepare(QStringLiteral(
            "select curve from curve where patientId = ? and item = ? order by id desc limit 1"));
        query.addBindValue(patientId);
        query.addBindValue(item);
        if (query.exec() && query.next())
            curve = ClotCurve::fromBuffer(query.value(0).toByteArray());
    }
    const QString title = tr("%1, sample %2, %3: %4")
                              .arg(m_model->index(row, PatientColumn).data().toString(),
                                   m_model->index(row, SampleColumn).data().toString(), item,
                                   m_model->index(row, ResultColumn).data().toString());
    m_plot->setCurve(curve, title);
    m_exportButton->setEnabled(!curve.isEmpty());
}

bool ResultsPage::exportPng(const QString &fileName)
{
    return m_plot->exportPng(fileName, tr("curve"));
}
