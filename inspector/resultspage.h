// Results page of the site inspector: the results of data.db and the selected one's clot curve.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef RESULTSPAGE_H
#define RESULTSPAGE_H

#include <QMetaType>
#include <QVariant>
#include <QVector>
#include <QWidget>

#include <atomic>
#include <memory>

class CurvePlot;
class QLabel;
class QPushButton;
class QStandardItemModel;
class QTableView;
class QThread;
class WaitCursor;

/*! \brief One stored result as read from data.db, before it is formatted. */
struct ResultRow
{
    int patientId = 0;
    QString patient;
    QVariant sampleNo;
    QString date;
    QString item;
    QString subitem;
    double value = 0.0;
    int flags = 0;
    QString unit;
};
Q_DECLARE_METATYPE(ResultRow)

/*!
    \brief Reads the results of data.db on a thread of its own, through a connection of its own,
    and hands them over in batches.
*/
class ResultLoader : public QObject
{
    Q_OBJECT
public:
    explicit ResultLoader(const QString &fileName, int batchSize = 256);
    void run();
    void stop() { m_stop = true; }

signals:
    void rowsReady(const QVector<ResultRow> &rows);
    /*! \brief The load ended; \a error is empty when every row was read. */
    void finished(const QString &error);

private:
    QString m_fileName;
    int m_batchSize;
    std::atomic<bool> m_stop {false};
};

class ResultsPage : public QWidget
{
    Q_OBJECT
public:
    enum Column { PatientColumn, SampleColumn, DateColumn, TestColumn, ResultColumn, UnitColumn };

    explicit ResultsPage(QWidget *parent = nullptr);
    ~ResultsPage() override;

    /*! \brief Reads the results again; the table fills as rows arrive. */
    void reload();
    bool isLoading() const { return m_thread != nullptr; }

    QTableView *view() const { return m_view; }
    CurvePlot *plot() const { return m_plot; }
    /*! \brief Selects the first row whose test is \a item; false when there is none. */
    bool selectTest(const QString &item);
    /*! \brief Writes the plot as a PNG; false (after a message box) when it cannot. */
    bool exportPng(const QString &fileName);

signals:
    void loaded();

private:
    void appendRows(const QVector<ResultRow> &rows);
    void loadFinished(const QString &error);
    void showCurve();
    void stopLoading();

    QStandardItemModel *m_model;
    QTableView *m_view;
    CurvePlot *m_plot;
    QPushButton *m_exportButton;
    QLabel *m_count;
    QThread *m_thread = nullptr;
    ResultLoader *m_loader = nullptr;
    int m_generation = 0;
    std::unique_ptr<WaitCursor> m_waitCursor;
};

#endif // RESULTSPAGE_H
