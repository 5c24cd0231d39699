// Tests of UpdateBase: open and version read, statement and rename logging, table copies.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updatebase.h"
#include "upgradetestutil.h"

#include <QDir>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlField>
#include <QtTest>

#include <memory>

Q_DECLARE_METATYPE(QSqlRecord)

using namespace UpgradeTest;

namespace {

class TestUpdater : public UpdateBase
{
public:
    explicit TestUpdater(const QString &fileName)
        : UpdateBase(fileName, nullptr)
    {
    }
    // Keeps what the test's calls did, as the driver does after a successful update.
    ~TestUpdater() override { finish(true); }
    bool update() override { return true; }
};

QSqlRecord makeRecord(const QList<QPair<QString, QVariant>> &fields)
{
    QSqlRecord record;
    for (const auto &field : fields) {
        QSqlField sqlField(field.first, field.second.type());
        sqlField.setValue(field.second);
        record.append(sqlField);
    }
    return record;
}

} // namespace

class TestUpdateBase : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void version_data();
    void version();
    void openFailure();
    void renameDespiteTriggerOnDroppedTable();
    void failureLines_data();
    void failureLines();
    void copyTable_data();
    void copyTable();
    void copyTableKeepsValuesExactly();
    void copyTableJoinsCallersTransaction();
    void heldDatabaseStopsLaterSteps_data();
    void heldDatabaseStopsLaterSteps();

private:
    std::unique_ptr<TemporarySite> m_site;
};

void TestUpdateBase::init()
{
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
}

void TestUpdateBase::cleanup()
{
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    m_site.reset();
}

void TestUpdateBase::version_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<int>("expected");

    QTest::newRow("2 and 4") << QByteArray("create table version(version integer);"
                                           "insert into version values(2);"
                                           "insert into version values(4);")
                             << 4;
    QTest::newRow("single 1") << QByteArray("create table version(version integer);"
                                            "insert into version values(1);")
                              << 1;
    QTest::newRow("only a text") << QByteArray("create table version(version integer);"
                                               "insert into version values('four');")
                                 << 0;
    QTest::newRow("only NULL") << QByteArray("create table version(version integer);"
                                             "insert into version values(NULL);")
                               << 0;
    QTest::newRow("empty table") << QByteArray("create table version(version integer);") << 0;
    QTest::newRow("no table") << QByteArray("create table other(x);") << 0;
}

void TestUpdateBase::version()
{
    QFETCH(QByteArray, sql);
    QFETCH(int, expected);
    QString error;
    QVERIFY2(runSql(m_site->filePath("test.db"), sql, &error), qPrintable(error));

    WarningCatcher catcher;
    TestUpdater updater(QStringLiteral("test.db"));
    QCOMPARE(updater.version(), expected);
    QCOMPARE(catcher.take(), QStringList());
}

void TestUpdateBase::openFailure()
{
    QVERIFY(QDir().mkdir("folder.db"));
    WarningCatcher catcher;
    TestUpdater updater(QStringLiteral("folder.db"));
    QCOMPARE(updater.version(), 0);
    const QStringList warnings = catcher.take();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(warnings.first().startsWith("Can't open folder.db: "), qPrintable(warnings.first()));
    QVERIFY(warnings.first().size() > QString("Can't open folder.db: ").size());
}

// Old schemas hold triggers that name tables an upgrade has already dropped; renaming the
// tables beside them must still work.
void TestUpdateBase::renameDespiteTriggerOnDroppedTable()
{
    QString error;
    QVERIFY2(runSql(m_site->filePath("data.db"),
                    "create table patient(id integer primary key);"
                    "create table result(id integer primary key, patientId integer);"
                    "create table curve(id integer primary key, patientId integer, curve blob);"
                    "create trigger on_delete_patient after delete on patient begin "
                    "delete from result where old.id = result.patientId; "
                    "delete from curve where old.id = curve.patientId; end;"
                    "drop table result;",
                    &error),
             qPrintable(error));

    WarningCatcher catcher;
    TestUpdater updater(QStringLiteral("data.db"));
    QVERIFY(updater.renameTable("curve", "old_curve"));
    QVERIFY(updater.finish(true));
    QCOMPARE(catcher.take(), QStringList());
    QCOMPARE(schemaObjects(m_site->filePath("data.db")),
             QStringList({"table old_curve", "table patient", "trigger on_delete_patient"}));
}

void TestUpdateBase::failureLines_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("pattern");

    QTest::newRow("exec") << "exec"
                          << R"(^tst_updatebase\.cpp\(4711\): no such table: missing\b.*: )"
                             R"(\[select \* from missing\]$)";
    QTest::newRow("renameTable") << "renameTable"
                                 << R"(^updatebase\.cpp\(\d+\): no such table: missing\b.*: )"
                                    R"(\[alter table missing rename to other\]$)";
    QTest::newRow("renameTable onto existing")
        << "renameTable onto existing"
        << R"(^updatebase\.cpp\(\d+\): .*there is already another table .*other.*: )"
           R"(\[alter table present rename to other\]$)";
}

void TestUpdateBase::failureLines()
{
    QFETCH(QString, operation);
    QFETCH(QString, pattern);
    QString error;
    QVERIFY2(runSql(m_site->filePath("test.db"), "create table present(x); create table other(y);",
                    &error),
             qPrintable(error));

    WarningCatcher catcher;
    TestUpdater updater(QStringLiteral("test.db"));
    bool ok = true;
    if (operation == "exec")
        ok = updater.exec("select * from missing", "/some/build/dir/tst_updatebase.cpp", 4711);
    else if (operation == "renameTable")
        ok = updater.renameTable("missing", "other");
    else
        ok = updater.renameTable("present", "other");
    QVERIFY(!ok);

    const QStringList warnings = catcher.take();
    QCOMPARE(warnings.size(), 1);
    QVERIFY2(QRegularExpression(pattern).match(warnings.first()).hasMatch(),
             qPrintable(warnings.first()));
}

void TestUpdateBase::copyTable_data()
{
    QTest::addColumn<QByteArray>("sql");
    QTest::addColumn<QSqlRecord>("extra");
    QTest::addColumn<QStringList>("dropped");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<QStringList>("rows");

    const QByteArray source = "create table src(id integer primary key, a text, b integer);"
                              "insert into src values(3, 'x', 10);"
                              "insert into src values(7, 'y', NULL);"
                              "insert into src values(9, NULL, 30);";

    QTest::newRow("plain copy by column name")
        << source
            + "create table dst(b integer, c text default 'def', a text, "
              "id integer primary key);"
        << QSqlRecord() << QStringList() << true << 0
        << QStringList({"10|def|x|3", "NULL|def|y|7", "30|def|NULL|9"});
    QTest::newRow("empty source") << QByteArray(
        "create table src(id integer primary key, a text, b integer);"
        "create table dst(id integer primary key, a text, b integer, c text);")
                                  << QSqlRecord() << QStringList() << true << 0 << QStringList();
    QTest::newRow("extra overrides a column and adds one")
        << source + "create table dst(id integer primary key, a text, b integer, c text);"
        << makeRecord({{"a", QString("new")}, {"c", QString("added")}}) << QStringList() << true
        << 0 << QStringList({"3|new|10|added", "7|new|NULL|added", "9|new|30|added"});
    QTest::newRow("dropped column and a name the rows lack")
        << source + "create table dst(id integer primary key, a text, c text);" << QSqlRecord()
        << QStringList({"nosuch", "b"}) << true << 0
        << QStringList({"3|x|NULL", "7|y|NULL", "9|NULL|NULL"});
    QTest::newRow("dropped and added again by extra")
        << source + "create table dst(id integer primary key, a text, b integer, c text);"
        << makeRecord({{"b", 5}}) << QStringList({"b"}) << true << 0
        << QStringList({"3|x|5|NULL", "7|y|5|NULL", "9|NULL|5|NULL"});
    QTest::newRow("missing source table")
        << QByteArray("create table dst(id integer primary key, a text, b integer, c text);")
        << QSqlRecord() << QStringList() << true << 1 << QStringList();
    QTest::newRow("source column the destination lacks")
        << source + "create table dst(id integer primary key, a text, c text);" << QSqlRecord()
        << QStringList() << false << 1 << QStringList();
    QTest::newRow("failed insert keeps the earlier rows")
        << source
            + "create table dst(id integer primary key, a text, b integer check(b <> 30), "
              "c text);"
        << QSqlRecord() << QStringList() << false << 1
        << QStringList({"3|x|10|NULL", "7|y|NULL|NULL"});
}

void TestUpdateBase::copyTable()
{
    QFETCH(QByteArray, sql);
    QFETCH(QSqlRecord, extra);
    QFETCH(QStringList, dropped);
    QFETCH(bool, result);
    QFETCH(int, warnings);
    QFETCH(QStringList, rows);
    QString error;
    QVERIFY2(runSql(m_site->filePath("test.db"), sql, &error), qPrintable(error));

    WarningCatcher catcher;
    {
        TestUpdater updater(QStringLiteral("test.db"));
        QCOMPARE(updater.copyTable("dst", "src", extra, dropped), result);
    }
    const QStringList lines = catcher.take();
    QCOMPARE(lines.size(), warnings);
    for (const QString &line : lines)
        QVERIFY2(line.startsWith("updatebase.cpp("), qPrintable(line));

    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    QCOMPARE(queryTexts(m_site->filePath("test.db"), "select * from dst order by id"), rows);
}

// Every value must arrive with its storage class and bytes, whatever the first row of its
// column held.
void TestUpdateBase::copyTableKeepsValuesExactly()
{
    QString error;
    QVERIFY2(runSql(m_site->filePath("test.db"),
                    "create table src(id integer primary key, v, w);"
                    "insert into src values(1, 17, x'00ff10');"
                    "insert into src values(2, '0042', 2.5);"
                    "insert into src values(3, x'00ff10', 0.1);"
                    "insert into src values(4, 2.5, 42);"
                    "insert into src values(5, x'', '0042');"
                    "insert into src values(6, '', NULL);"
                    "insert into src values(7, NULL, 'it''s 血浆');"
                    "insert into src values(8, 9223372036854775807, -1e300);"
                    "insert into src values(9, '1e3', x'0000');"
                    "create table dst(id integer primary key, v, w blob);",
                    &error),
             qPrintable(error));

    WarningCatcher catcher;
    {
        TestUpdater updater(QStringLiteral("test.db"));
        QVERIFY(updater.copyTable("dst", "src", QSqlRecord(), QStringList()));
    }
    QCOMPARE(catcher.take(), QStringList());
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));

    const QString dump = "select id, typeof(v), hex(v), typeof(w), hex(w) from %1 order by id";
    const QStringList before = queryTexts(m_site->filePath("test.db"), dump.arg("src"));
    QCOMPARE(before.size(), 9);
    QCOMPARE(queryTexts(m_site->filePath("test.db"), dump.arg("dst")), before);
}

void TestUpdateBase::copyTableJoinsCallersTransaction()
{
    QString error;
    QVERIFY2(runSql(m_site->filePath("test.db"),
                    "create table src(id integer primary key, a);"
                    "insert into src values(1, 'x');"
                    "create table dst(id integer primary key, a);",
                    &error),
             qPrintable(error));
    {
        TestUpdater updater(QStringLiteral("test.db"));
        QVERIFY(updater.EXEC_SQL("begin transaction"));
        QVERIFY(updater.copyTable("dst", "src"));
        QVERIFY(updater.EXEC_SQL("rollback"));
    }
    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    QCOMPARE(queryTexts(m_site->filePath("test.db"), "select count(*) from dst"),
             QStringList({"0"}));
}

void TestUpdateBase::heldDatabaseStopsLaterSteps_data()
{
    QTest::addColumn<bool>("copyFirst");
    QTest::newRow("statement") << false;
    // A held source table must not pass for a missing one, or the caller drops it uncopied.
    QTest::newRow("copy") << true;
}

void TestUpdateBase::heldDatabaseStopsLaterSteps()
{
    QFETCH(bool, copyFirst);
    QString error;
    QVERIFY2(runSql(m_site->filePath("test.db"),
                    "create table src(id integer primary key, a);"
                    "insert into src values(1, 'x');"
                    "create table dst(id integer primary key, a);",
                    &error),
             qPrintable(error));

    WarningCatcher catcher;
    {
        TestUpdater updater(QStringLiteral("test.db"));
        QVERIFY(!updater.isLocked());
        // The tool waits 30 s; the behaviour after the time-out is the same with a short one.
        QSqlDatabase db = QSqlDatabase::database();
        db.close();
        db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=50"));
        QVERIFY(db.open());
        // Deferred, so that the holder below can still take the database.
        QVERIFY(QSqlQuery(db).exec("begin"));

        {
            QSqlDatabase holder = QSqlDatabase::addDatabase("QSQLITE", "holder");
            holder.setDatabaseName("test.db");
            QVERIFY(holder.open());
            QVERIFY(QSqlQuery(holder).exec("begin exclusive"));
            if (copyFirst)
                QVERIFY(!updater.copyTable("dst", "src"));
            else
                QVERIFY(!updater.EXEC_SQL("create table held(x)"));
            QVERIFY(updater.isLocked());
            QVERIFY(QSqlQuery(holder).exec("rollback"));
            holder.close();
        }
        QSqlDatabase::removeDatabase("holder");

        // Free again, but the steps after a skipped one must not run.
        QVERIFY(!updater.EXEC_SQL("create table later(x)"));
        QVERIFY(!updater.copyTable("dst", "src"));
    }
    const QStringList lines = catcher.take();
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.first().contains("database is locked"), qPrintable(lines.first()));

    QSqlDatabase::removeDatabase(QLatin1String(QSqlDatabase::defaultConnection));
    QCOMPARE(queryTexts(m_site->filePath("test.db"),
                        "select name from sqlite_master where type = 'table' order by name"),
             QStringList({"dst", "src"}));
    QCOMPARE(queryTexts(m_site->filePath("test.db"), "select count(*) from dst"),
             QStringList({"0"}));
}

QTEST_GUILESS_MAIN(TestUpdateBase)
#include "tst_updatebase.moc"
