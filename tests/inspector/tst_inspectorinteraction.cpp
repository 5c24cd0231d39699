// The inspector driven as an engineer uses it: a setting edited in the tree, then the upgrade
// run from the Databases page, first refused, then through, on an old copy of the example site.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "calibrationpage.h"
#include "databasespage.h"
#include "inspectortestsite.h"
#include "inspectorwindow.h"
#include "modalboxcatcher.h"
#include "profile.h"
#include "resultspage.h"
#include "settingspage.h"
#include "testdatabase.h"

#include <QFile>
#include <QAbstractButton>
#include <QSet>
#include <QTabWidget>
#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTabWidget>
#include <QTest>
#include <QThread>
#include <QTreeView>
#include <QTreeWidget>

class tst_InspectorInteraction : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void openedReadOnly();
    void keyboardPathsAndNames();
    void editRefusedWhileProfileHeld();
    void editSetting();
    void resultsInBatches();
    void upgrade();

private:
    QStringList states() const;
    static QByteArray folderContents();
    InspectorWindow *m_window = nullptr;
    QByteArray m_untouched; // the folder before the window opened it
};

QStringList tst_InspectorInteraction::states() const
{
    const auto *table = m_window->findChild<QTreeWidget *>(QStringLiteral("databaseTable"));
    QStringList result;
    for (int i = 0; i < table->topLevelItemCount(); ++i)
        result << table->topLevelItem(i)->text(DatabasesPage::FileColumn) + QStringLiteral(": ")
                + table->topLevelItem(i)->text(DatabasesPage::StateColumn);
    return result;
}

QByteArray tst_InspectorInteraction::folderContents()
{
    QByteArray all;
    const QDir folder = QDir::current();
    for (const QString &name : folder.entryList(QDir::Files, QDir::Name)) {
        QFile file(folder.filePath(name));
        all += name.toUtf8() + '\n';
        if (file.open(QIODevice::ReadOnly))
            all += QCryptographicHash::hash(file.readAll(), QCryptographicHash::Sha1).toHex();
    }
    return all;
}

void tst_InspectorInteraction::initTestCase()
{
    QVERIFY(InspectorTestSite::enter());
    m_untouched = folderContents();
    m_window = InspectorTestSite::openWindow();
    QVERIFY(m_window);
}

void tst_InspectorInteraction::cleanupTestCase()
{
    delete m_window;
}

// Every page has read the folder, and the folder is as it was: no file written, none added;
// the connections the application would write through refuse to.
void tst_InspectorInteraction::openedReadOnly()
{
    QCOMPARE(Profile::instance().openMode(), Profile::ReadOnly);
    QSqlQuery insert(Profile::instance().dataDatabase());
    QVERIFY(!insert.exec(QStringLiteral("create table probe(x)")));
    QVERIFY2(insert.lastError().text().contains(QStringLiteral("readonly")),
             qPrintable(insert.lastError().text()));
    QCOMPARE(folderContents(), m_untouched);
}

// Every page has its own Alt key; every control of ours is named for a screen reader, and
// each button has a mnemonic.
void tst_InspectorInteraction::keyboardPathsAndNames()
{
    QSet<QChar> mnemonics;
    for (int i = 0; i < m_window->tabs()->count(); ++i) {
        const QString text = m_window->tabs()->tabText(i);
        const int amp = text.indexOf(QLatin1Char('&'));
        QVERIFY2(amp >= 0 && amp + 1 < text.size(), qPrintable(text));
        QVERIFY2(!mnemonics.contains(text.at(amp + 1).toLower()), qPrintable(text));
        mnemonics << text.at(amp + 1).toLower();
    }
    QList<QWidget *> widgets;
    for (int i = 0; i < m_window->tabs()->count(); ++i)
        widgets += m_window->tabs()->widget(i)->findChildren<QWidget *>();
    int named = 0;
    for (const QWidget *widget : qAsConst(widgets)) {
        if (widget->objectName().isEmpty() || widget->objectName().startsWith(QLatin1String("qt_"))
            || qobject_cast<const QLabel *>(widget))
            continue;
        QVERIFY2(!widget->accessibleName().isEmpty(), qPrintable(widget->objectName()));
        if (const auto *button = qobject_cast<const QAbstractButton *>(widget))
            QVERIFY2(button->text().contains(QLatin1Char('&')),
                     qPrintable(button->objectName() + QLatin1Char(' ') + button->text()));
        ++named;
    }
    QVERIFY(named >= 10);
}

// Another program reading profile.db holds a lock on it: the folder is read again all the same,
// Edit is refused and says why; once it lets go, Edit goes on. Values are read-only meanwhile.
void tst_InspectorInteraction::editRefusedWhileProfileHeld()
{
    SettingsPage *page = m_window->settingsPage();
    QCOMPARE(page->view()->editTriggers(), QAbstractItemView::NoEditTriggers);
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("analyser"));
        db.setDatabaseName(QStringLiteral("profile.db"));
        QVERIFY(db.open());
        QSqlQuery query(db);
        QVERIFY(query.exec(QStringLiteral("begin")));
        QVERIFY(query.exec(QStringLiteral("select count(*) from profile")) && query.next());
        // The folder reads as well as ever meanwhile.
        m_window->reload();
        QVERIFY(InspectorTestSite::waitUntilRead(m_window));
        QVERIFY(page->valueIndex(QStringLiteral("schedule/sample")).isValid());
        QCOMPARE(m_window->calibrationPage()->list()->topLevelItemCount(), 7);
        QVERIFY(!page->setEditing(true));
        QVERIFY(!page->isEditing());
        const auto *notice = page->findChild<QLabel *>(QStringLiteral("settingsNotice"));
        QVERIFY(notice && !notice->isHidden());
        QVERIFY2(notice->text().contains(QStringLiteral("database is locked")),
                 qPrintable(notice->text()));
        QCOMPARE(page->view()->editTriggers(), QAbstractItemView::NoEditTriggers);
        query.finish();
        db.rollback();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("analyser"));
    QVERIFY(page->setEditing(false));
}

void tst_InspectorInteraction::editSetting()
{
    SettingsPage *page = m_window->settingsPage();
    m_window->tabs()->setCurrentWidget(page);
    // By keyboard, as an engineer switches it on.
    auto *edit = page->findChild<QCheckBox *>(QStringLiteral("settingsEdit"));
    QVERIFY(edit);
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_Space);
    QVERIFY(page->isEditing());
    page->filterEdit()->setText(QStringLiteral("schedule/"));
    const QModelIndex index = page->valueIndex(QStringLiteral("schedule/sample"));
    QVERIFY(index.isValid());
    QCOMPARE(index.data().toString(), QStringLiteral("5"));
    // The filter keeps the group and drops what lies outside it.
    QVERIFY(!page->valueIndex(QStringLiteral("hospital/name")).isValid());

    page->view()->setCurrentIndex(index);
    page->view()->edit(index);
    auto *editor = qobject_cast<QLineEdit *>(QApplication::focusWidget());
    QVERIFY(editor);
    editor->selectAll();
    QTest::keyClicks(editor, QStringLiteral("7"));
    QTest::keyClick(editor, Qt::Key_Return);

    // Written through the store once the event loop runs, with the type the row had.
    const auto stored = [] {
        return TestDatabase::rows(QStringLiteral("profile.db"),
                                  QStringLiteral("select value, typeof(value) from profile "
                                                 "where name = 'schedule/sample'"));
    };
    QTRY_COMPARE(stored(), (QList<QVariantList> {{7, QStringLiteral("integer")}}));
}

void tst_InspectorInteraction::resultsInBatches()
{
    // 1000 results in batches of 64: every row arrives, in order, the last batch a short one.
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("many"));
        db.setDatabaseName(QStringLiteral("many.db"));
        QVERIFY(db.open());
        QSqlQuery query(db);
        for (const char *statement :
             {"create table patient(id integer primary key, sampleNo, date, name)",
              "create table result(id integer primary key, patientId, item, subitem, result, "
              "flag, unit, displayOrder)",
              "insert into patient values(1, 1, '2024-03-04', 'P')",
              "with recursive n(i) as (select 1 union all select i + 1 from n where i < 1000) "
              "insert into result select i, 1, 'PT', 'PT.T', i, 0, 's', i from n"})
            QVERIFY2(query.exec(QLatin1String(statement)), statement);
        db.close();
    }
    QSqlDatabase::removeDatabase(QStringLiteral("many"));

    ResultLoader loader(QStringLiteral("many.db"), 64);
    QThread thread;
    loader.moveToThread(&thread);
    connect(&thread, &QThread::started, &loader, &ResultLoader::run);
    // Received here, on the GUI thread, as the page receives them.
    int batches = 0;
    QVector<double> values;
    QString error = QStringLiteral("not finished");
    connect(&loader, &ResultLoader::rowsReady, this, [&](const QVector<ResultRow> &rows) {
        ++batches;
        for (const ResultRow &row : rows)
            values << row.value;
    });
    connect(&loader, &ResultLoader::finished, this, [&](const QString &text) { error = text; });
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(error != QLatin1String("not finished"), 20000);
    thread.quit();
    QVERIFY(thread.wait(20000));
    QCOMPARE(error, QString());
    QCOMPARE(batches, 16);
    QCOMPARE(values.size(), 1000);
    QCOMPARE(values.first(), 1.0);
    QCOMPARE(values.last(), 1000.0);

    // The selected curve exports as a picture.
    ResultsPage *page = m_window->resultsPage();
    QVERIFY(page->selectTest(QStringLiteral("APTT")));
    QVERIFY(page->exportPng(QStringLiteral("curve.png")));
    QCOMPARE(QImage(QStringLiteral("curve.png")).size(), QSize(960, 720));
}

void tst_InspectorInteraction::upgrade()
{
    m_window->tabs()->setCurrentWidget(m_window->databasesPage());
    DatabasesPage *page = m_window->databasesPage();
    auto *button = m_window->findChild<QPushButton *>(QStringLiteral("upgradeButton"));
    auto *output = m_window->findChild<QPlainTextEdit *>(QStringLiteral("upgradeOutput"));
    auto *progress = m_window->findChild<QProgressBar *>();
    QVERIFY(button && output && progress);
    QCOMPARE(states(),
             (QStringList {QStringLiteral("profile.db: would upgrade, backup profile.db.v0.bak"),
                           QStringLiteral("data.db: would upgrade, backup data.db.v0.bak"),
                           QStringLiteral("qc.db: current"),
                           QStringLiteral("syslog.db: would upgrade, backup syslog.db.v0.bak")}));
    QVERIFY(button->isEnabled());

    QSignalSpy finished(page, &DatabasesPage::upgradeFinished);
    QSignalSpy statusRead(page, &DatabasesPage::statusRead);
    ModalBoxCatcher boxes;

    // A damaged syslog.db: the tool refuses before changing anything; the run shows as failed
    // with the tool's reason, and the folder reads as a problem.
    QFile syslog(QStringLiteral("syslog.db"));
    QVERIFY(syslog.open(QIODevice::ReadWrite));
    const QByteArray intact = syslog.readAll();
    QVERIFY(syslog.seek(0));
    syslog.write(QByteArray(intact.size(), 'x'));
    syslog.close();
    page->startUpgrade();
    QVERIFY(finished.wait(60000) || !finished.isEmpty());
    QCOMPARE(finished.takeFirst().at(0).toBool(), false);
    QTRY_VERIFY(!statusRead.isEmpty());
    QCOMPARE(statusRead.takeFirst().at(0).toInt(), 1);
    QVERIFY(output->toPlainText().contains(QStringLiteral("syslog.db")));
    // The failed run, the store's own warning as the folder is read again, the status.
    QVERIFY(boxes.boxes().size() >= 2);
    QCOMPARE(boxes.boxes().first().icon, QMessageBox::Critical);
    QVERIFY(boxes.boxes().first().text.contains(QStringLiteral("is not a database")));
    QVERIFY(boxes.boxes().last().text.contains(
        QStringLiteral("syslog.db: would refuse: not a database")));
    boxes.clear();
    QVERIFY(!button->isEnabled());

    QVERIFY(syslog.open(QIODevice::WriteOnly));
    syslog.write(intact);
    syslog.close();
    page->refresh();
    QVERIFY(statusRead.wait(20000));
    QCOMPARE(statusRead.takeFirst().at(0).toInt(), 3);

    // Through the button: disabled while it runs, every database current afterwards, and the
    // settings page shows what the upgrade added.
    QTest::mouseClick(button, Qt::LeftButton);
    QVERIFY(page->isUpgrading());
    QVERIFY(!button->isEnabled());
    QVERIFY(finished.wait(60000));
    QCOMPARE(finished.takeFirst().at(0).toBool(), true);
    QVERIFY(statusRead.wait(20000));
    QCOMPARE(statusRead.takeFirst().at(0).toInt(), 0);
    QVERIFY(InspectorTestSite::waitUntilRead(m_window));
    QCOMPARE(
        states(),
        (QStringList {QStringLiteral("profile.db: current"), QStringLiteral("data.db: current"),
                      QStringLiteral("qc.db: current"), QStringLiteral("syslog.db: current")}));
    QCOMPARE(progress->value(), progress->maximum());
    QVERIFY(output->toPlainText().contains(QStringLiteral("profile.db: 0 -> 4")));
    QVERIFY(output->toPlainText().contains(QStringLiteral("--- upgrade.log ---")));
    QVERIFY(!button->isEnabled());
    QVERIFY(boxes.boxes().isEmpty());
    // The filter set above stays on the new tree.
    QVERIFY(m_window->settingsPage()->valueIndex(QStringLiteral("schedule/test/APTT")).isValid());
}

QTEST_MAIN(tst_InspectorInteraction)
#include "tst_inspectorinteraction.moc"
