// Tests of the message boxes and scoped guards.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "modalboxcatcher.h"
#include "ryglobal.h"

#include <QApplication>
#include <QDialog>
#include <QThread>
#include <QtTest>

using BoxFunction = QMessageBox::StandardButton (*)(const QString &, QMessageBox::StandardButtons,
                                                    QMessageBox::StandardButton);
Q_DECLARE_METATYPE(BoxFunction)

class tst_RyGlobal : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QCoreApplication::setApplicationName(QStringLiteral("Analyser")); }
    void boolLocker_data();
    void boolLocker();
    void waitCursorNests();
    void waitCursorOnWorkerThread();
    void boxes_data();
    void boxes();
    void boxParentIsModalDialog();
    void boxWithoutWindowHasNoParent();
    void boxInsideWaitCursorShowsArrow();
    void boxOnWorkerThreadIsLogged();
};

void tst_RyGlobal::boolLocker_data()
{
    QTest::addColumn<bool>("initial");
    QTest::addColumn<bool>("value");
    QTest::newRow("true set false") << true << false;
    QTest::newRow("false set true") << false << true;
    QTest::newRow("true set true") << true << true;
}

void tst_RyGlobal::boolLocker()
{
    QFETCH(bool, initial);
    QFETCH(bool, value);
    bool flag = initial;
    {
        BoolLocker outer(flag, value);
        QCOMPARE(flag, value);
        {
            BoolLocker inner(flag, !value);
            QCOMPARE(flag, !value);
        }
        QCOMPARE(flag, value);
    }
    QCOMPARE(flag, initial);
}

void tst_RyGlobal::waitCursorNests()
{
    QVERIFY(!QApplication::overrideCursor());
    {
        WaitCursor wait;
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        {
            WaitCursor busy(Qt::BusyCursor);
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::BusyCursor);
        }
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    QVERIFY(!QApplication::overrideCursor());
}

void tst_RyGlobal::waitCursorOnWorkerThread()
{
    bool sawCursor = true;
    QThread *worker = QThread::create([&sawCursor] {
        WaitCursor wait;
        sawCursor = QApplication::overrideCursor() != nullptr;
    });
    worker->start();
    QVERIFY(worker->wait(5000));
    delete worker;
    QVERIFY(!sawCursor);
    QVERIFY(!QApplication::overrideCursor());
}

void tst_RyGlobal::boxes_data()
{
    QTest::addColumn<BoxFunction>("function");
    QTest::addColumn<QMessageBox::Icon>("icon");
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("answer");
    QTest::newRow("information") << BoxFunction(&information) << QMessageBox::Information
                                 << int(QMessageBox::Ok) << int(QMessageBox::Ok);
    QTest::newRow("question") << BoxFunction(&question) << QMessageBox::Question
                              << int(QMessageBox::Yes | QMessageBox::No) << int(QMessageBox::No);
    QTest::newRow("warning") << BoxFunction(&warning) << QMessageBox::Warning
                             << int(QMessageBox::Ok | QMessageBox::Cancel)
                             << int(QMessageBox::Cancel);
    QTest::newRow("critical") << BoxFunction(&critical) << QMessageBox::Critical
                              << int(QMessageBox::Ok) << int(QMessageBox::Ok);
}

void tst_RyGlobal::boxes()
{
    QFETCH(BoxFunction, function);
    QFETCH(QMessageBox::Icon, icon);
    QFETCH(int, buttons);
    QFETCH(int, answer);
    ModalBoxCatcher catcher;
    catcher.queueAnswer(QMessageBox::StandardButton(answer));
    const auto result = function(QStringLiteral("text ✓"), QMessageBox::StandardButtons(buttons),
                                 QMessageBox::NoButton);
    QCOMPARE(int(result), answer);
    QCOMPARE(catcher.boxes().size(), 1);
    QCOMPARE(catcher.boxes().first().icon, icon);
    QCOMPARE(catcher.boxes().first().title, QStringLiteral("Analyser"));
    QCOMPARE(catcher.boxes().first().text, QStringLiteral("text ✓"));
}

void tst_RyGlobal::boxParentIsModalDialog()
{
    QDialog dialog;
    dialog.setModal(true);
    dialog.show();
    QTRY_COMPARE(QApplication::activeModalWidget(), &dialog);
    QCOMPARE(topLevelWidget(), &dialog);

    ModalBoxCatcher catcher;
    warning(QStringLiteral("over the dialog"));
    QCOMPARE(catcher.boxes().size(), 1);
    QCOMPARE(catcher.boxes().first().parent.data(), static_cast<QWidget *>(&dialog));
}

void tst_RyGlobal::boxWithoutWindowHasNoParent()
{
    QVERIFY(!topLevelWidget());
    ModalBoxCatcher catcher;
    information(QStringLiteral("alone"));
    QCOMPARE(catcher.boxes().size(), 1);
    QVERIFY(!catcher.boxes().first().parent);
}

void tst_RyGlobal::boxInsideWaitCursorShowsArrow()
{
    WaitCursor wait;
    ModalBoxCatcher catcher;
    critical(QStringLiteral("failed"));
    QCOMPARE(catcher.boxes().size(), 1);
    QVERIFY(catcher.boxes().first().hadOverrideCursor);
    QCOMPARE(catcher.boxes().first().cursor, Qt::ArrowCursor);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
}

void tst_RyGlobal::boxOnWorkerThreadIsLogged()
{
    // A widget made off the GUI thread would abort the process.
    ModalBoxCatcher catcher;
    QTest::ignoreMessage(QtWarningMsg, "from a worker");
    QMessageBox::StandardButton result = QMessageBox::Ok;
    QScopedPointer<QThread> worker(
        QThread::create([&result] { result = warning(QStringLiteral("from a worker")); }));
    worker->start();
    QVERIFY(worker->wait(10000));
    QCOMPARE(result, QMessageBox::NoButton);
    QVERIFY(catcher.boxes().isEmpty());
}

QTEST_MAIN(tst_RyGlobal)
#include "tst_ryglobal.moc"
