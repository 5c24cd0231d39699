// Screenshots of the inspector's pages on the example site before and after an upgrade,
// compared with the golden pictures in golden/.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "calibrationpage.h"
#include "inspectortestsite.h"
#include "inspectorwindow.h"
#include "resultspage.h"

#include <QApplication>
#include <QDir>
#include <QImage>
#include <QProcess>
#include <QTabWidget>
#include <QTest>

class tst_InspectorScreens : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void page_data();
    void page();

private:
    InspectorWindow *m_window = nullptr;
    bool m_upgraded = false;
};

void tst_InspectorScreens::initTestCase()
{
    InspectorTestSite::useFixedLook();
    QVERIFY(InspectorTestSite::enter());
    m_window = InspectorTestSite::openWindow();
    QVERIFY(m_window);
}

void tst_InspectorScreens::cleanupTestCase()
{
    delete m_window;
}

void tst_InspectorScreens::page_data()
{
    QTest::addColumn<int>("tab");
    QTest::addColumn<bool>("afterUpgrade");
    QTest::addColumn<int>("curve"); // the calibration curve shown
    // Rows run in order: the folder is upgraded once, before the first "after" row.
    QTest::newRow("databases-before") << int(InspectorWindow::DatabasesTab) << false << 0;
    QTest::newRow("settings-before") << int(InspectorWindow::SettingsTab) << false << 0;
    QTest::newRow("results-before") << int(InspectorWindow::ResultsTab) << false << 0;
    QTest::newRow("changes-before") << int(InspectorWindow::ChangesTab) << false << 0;
    // PT on log axes, refitted by the upgrade; DD, logistic after it.
    QTest::newRow("calibration-before") << int(InspectorWindow::CalibrationTab) << false << 4;
    QTest::newRow("databases-after") << int(InspectorWindow::DatabasesTab) << true << 0;
    QTest::newRow("settings-after") << int(InspectorWindow::SettingsTab) << true << 0;
    QTest::newRow("results-after") << int(InspectorWindow::ResultsTab) << true << 0;
    QTest::newRow("changes-after") << int(InspectorWindow::ChangesTab) << true << 0;
    QTest::newRow("calibration-after") << int(InspectorWindow::CalibrationTab) << true << 4;
    QTest::newRow("calibration-after-logistic")
        << int(InspectorWindow::CalibrationTab) << true << 3;
}

void tst_InspectorScreens::page()
{
    QFETCH(int, tab);
    QFETCH(bool, afterUpgrade);
    QFETCH(int, curve);
    if (afterUpgrade && !m_upgraded) {
        // Outside the window, so the picture holds no run times or log lines.
        QProcess tool;
        tool.start(QStringLiteral(DBUPGRADE_PATH), {QStringLiteral("upgrade.log")});
        QVERIFY(tool.waitForFinished(60000));
        QCOMPARE(tool.exitCode(), 0);
        m_window->reload();
        QVERIFY(InspectorTestSite::waitUntilRead(m_window));
        m_upgraded = true;
    }
    m_window->tabs()->setCurrentIndex(tab);
    // Before: a curve in two segments; after: one whose optical density is drawn whole.
    if (tab == InspectorWindow::ResultsTab)
        QVERIFY(m_window->resultsPage()->selectTest(afterUpgrade ? QStringLiteral("PT")
                                                                 : QStringLiteral("APTT")));
    if (tab == InspectorWindow::CalibrationTab)
        QVERIFY(m_window->calibrationPage()->selectCurve(curve));
    QTest::qWait(50);
    const QImage actual = m_window->grab().toImage().convertToFormat(QImage::Format_RGB32);

    const QString name = QString::fromLatin1(QTest::currentDataTag()) + QStringLiteral(".png");
    const QString goldenFile = QStringLiteral(GOLDEN_DIR "/") + name;
    if (qEnvironmentVariableIsSet("INSPECTOR_UPDATE_GOLDENS")) {
        QVERIFY(actual.save(goldenFile));
        return;
    }
    const QString actualFile = QStringLiteral(ACTUAL_DIR "/") + name;
    const QImage golden = QImage(goldenFile).convertToFormat(QImage::Format_RGB32);
    QVERIFY2(!golden.isNull(), qPrintable(goldenFile + QStringLiteral(" is missing")));
    const int different = InspectorTestSite::differingPixels(actual, golden);
    if (different != 0) {
        actual.save(actualFile);
        QFAIL(qPrintable(QStringLiteral("%1 pixels differ from %2 (-1: another size, %3x%4); "
                                        "picture in %5")
                             .arg(different)
                             .arg(goldenFile)
                             .arg(actual.width())
                             .arg(actual.height())
                             .arg(actualFile)));
    }
}

QTEST_MAIN(tst_InspectorScreens)
#include "tst_inspectorscreens.moc"
