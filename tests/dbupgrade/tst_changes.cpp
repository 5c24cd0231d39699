// Tests that --changes tells, as text and as JSON, what the upgrade of the example site changed,
// that it writes nothing (a hot journal is refused, not rolled back) and its command-line errors.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradetestutil.h"

#include <QCryptographicHash>
#include <QDate>
#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

using namespace UpgradeTest;

namespace {

const QStringList databases = {"profile.db", "data.db", "qc.db", "syslog.db"};

// Every file of the folder, hidden ones too, with a hash of its bytes.
QStringList folderState()
{
    QStringList state;
    for (const QFileInfo &info : QDir().entryInfoList(QDir::Files | QDir::Hidden, QDir::Name))
        state << info.fileName() + ' '
                + QCryptographicHash::hash(readFile(info.filePath()), QCryptographicHash::Md5)
                      .toHex();
    return state;
}

// The item of kind \a kind ("schema", "rows", ...) named \a key, or the top object for no kind.
QJsonValue jsonItem(const QJsonObject &object, const QString &kind, const QString &key)
{
    if (kind.isEmpty())
        return object;
    for (const QJsonValue item : object.value(kind).toArray()) {
        const QJsonObject o = item.toObject();
        if (o.value("name").toString() == key || o.value("table").toString() == key
            || QString::number(o.value("id").toInt()) == key)
            return o;
    }
    return QJsonValue();
}

} // namespace

class TestChanges : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();
    void reportsChanges_data();
    void reportsChanges();
    void writesNothing_data();
    void writesNothing();

private:
    QTemporaryDir m_upgraded;
    std::unique_ptr<TemporarySite> m_site;
};

void TestChanges::initTestCase()
{
    QVERIFY(m_upgraded.isValid());
    for (const QString &name : databases) {
        QFile sql(QStringLiteral(EXAMPLE_SITE_DIR "/%1.sql").arg(name.section('.', 0, 0)));
        QVERIFY(sql.open(QIODevice::ReadOnly));
        QVERIFY(runSql(m_upgraded.filePath(name), sql.readAll()));
    }
    const ProgramRun run = runTool({"upgrade.log"}, m_upgraded.path());
    QCOMPARE(run.exitCode, 0);
    QFile::remove(m_upgraded.filePath("upgrade.log"));
}

// Each case gets its own copy of the upgraded site.
void TestChanges::init()
{
    m_site = std::make_unique<TemporarySite>();
    QVERIFY(m_site->isValid());
    for (const QString &name : QDir(m_upgraded.path()).entryList(QDir::Files))
        QVERIFY(QFile::copy(m_upgraded.filePath(name), name));
}

void TestChanges::cleanup()
{
    {
        QSqlDatabase::database("wal writer", false).close();
    }
    QSqlDatabase::removeDatabase("wal writer");
    m_site.reset();
}

void TestChanges::reportsChanges_data()
{
    QTest::addColumn<QString>("backup");
    QTest::addColumn<bool>("json");
    // Text: lines the output holds; JSON: "kind|item|field|value" (no kind: the top object).
    QTest::addColumn<QStringList>("expected");

    const QString today = QDate::currentDate().toString(Qt::ISODate);
    QTest::newRow("profile.db text")
        << "profile.db.v0.bak" << false
        << QStringList {"profile.db: version 0 -> 4 (compared with profile.db.v0.bak)",
                        "    + table currentCurve",
                        "    ~ table curve (definition changed)",
                        "    profile: 10 -> 43",
                        "    curve: 7, contents changed",
                        "    + schedule/clean = 15",
                        "    ~ schedule/sample = 6 (was 5)",
                        "    - DD/disable (was 1)",
                        "    2 FIB: refitted, valid, r -0.99997 (was 0.99620), fitted " + today
                            + " (was 2023-11-20), a 1.47 -> 1.40183, b -0.91 -> -0.947765"};
    QTest::newRow("profile.db JSON") << "profile.db.v0.bak" << true
                                     << QStringList {"||changed|true",
                                                     "||version/before|0",
                                                     "||version/after|4",
                                                     "schema|currentCurve|change|added",
                                                     "schema|curve_index|change|removed",
                                                     "rows|profile|before|10",
                                                     "rows|profile|after|43",
                                                     "settings|schedule/sample|change|changed",
                                                     "settings|schedule/sample|before|5",
                                                     "settings|schedule/clean|change|gained",
                                                     "settings|DD/disable|change|lost",
                                                     "curves|1|change|refitted",
                                                     "curves|1|after/valid|0",
                                                     "curves|2|after/valid|1",
                                                     "curves|2|before/correlation|0.9962",
                                                     "curves|2|after/date|" + today};
    QTest::newRow("data.db text") << "data.db.v0.bak" << false
                                  << QStringList {"data.db: version 0 -> 4 (compared with "
                                                  "data.db.v0.bak)",
                                                  "    + view result", "    result: 6 (table gone)",
                                                  "    results: 6 (new table)"};
    QTest::newRow("current backup text")
        << "profile.db.v4.bak" << false
        << QStringList {"profile.db: version 4 -> 4 (compared with profile.db.v4.bak)",
                        "  no changes", "    4 PT: unchanged, valid, r -0.99734, fitted " + today};
    QTest::newRow("current backup JSON")
        << "./profile.db.v4.bak" << true
        << QStringList {"||changed|false", "curves|5|change|unchanged", "||schema|0",
                        "||settings|0"};
}

void TestChanges::reportsChanges()
{
    QFETCH(QString, backup);
    QFETCH(bool, json);
    QFETCH(QStringList, expected);
    QVERIFY(QFile::copy("profile.db", "profile.db.v4.bak"));

    const ProgramRun run = runTool(json ? QStringList {"--changes", backup, "--json"}
                                        : QStringList {"--changes", backup});
    QCOMPARE(run.exitCode, 0);
    QCOMPARE(run.standardError, QByteArray());
    if (!json) {
        const QStringList lines = QString::fromUtf8(run.standardOutput).split('\n');
        for (const QString &line : expected)
            QVERIFY2(lines.contains(line), qPrintable(line + "\nnot in\n" + lines.join('\n')));
        return;
    }
    QJsonParseError error;
    const QJsonObject object = QJsonDocument::fromJson(run.standardOutput, &error).object();
    QCOMPARE(error.error, QJsonParseError::NoError);
    for (const QString &check : expected) {
        const QStringList parts = check.split('|');
        QJsonValue value = jsonItem(object, parts.at(0), parts.at(1));
        for (const QString &field : parts.at(2).split('/', Qt::SkipEmptyParts))
            value = value.toObject().value(field);
        // A list is compared by its length.
        const QString found = value.isArray() ? QString::number(value.toArray().size())
                                              : value.toVariant().toString();
        QCOMPARE(found, parts.at(3));
    }
}

void TestChanges::writesNothing_data()
{
    QTest::addColumn<QString>("prepare");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("said"); // in standard output, or standard error on a failure

    const QStringList changes = {"--changes", "profile.db.v0.bak"};
    QTest::newRow("upgraded site") << "" << changes << 0 << "  settings:";
    QTest::newRow("WAL, frames in the -wal")
        << "wal" << changes << 0 << "    + wal/only = 'in the WAL'";
    QTest::newRow("hot journal")
        << "hot journal" << changes << 1
        << "dbupgrade: profile.db: no changes shown: profile.db has an interrupted write";
    QTest::newRow("link as backup") << "link" << QStringList {"--changes", "profile.db.v9.bak"} << 1
                                    << "profile.db.v9.bak cannot serve as a backup";
    QTest::newRow("backup of another database")
        << "other kind" << QStringList {"--changes", "profile.db.v9.bak"} << 1
        << "holds the tables of data.db, not those of profile.db";
    QTest::newRow("not a backup name")
        << "" << QStringList {"--changes", "profile.db"} << 2
        << "profile.db is not the name of a backup of a database in this folder";
    QTest::newRow("backup of another folder")
        << "" << QStringList {"--changes", "/tmp/profile.db.v0.bak"} << 2 << "not the name";
    QTest::newRow("with --status")
        << "" << (changes + QStringList {"--status"}) << 2 << "--changes takes one backup";
    QTest::newRow("with --restore") << "" << (changes + QStringList {"--restore", "data.db.v0.bak"})
                                    << 2 << "--changes takes one backup";
    QTest::newRow("with a log file")
        << "" << (changes + QStringList {"changes.log"}) << 2 << "--changes takes one backup";
}

void TestChanges::writesNothing()
{
    QFETCH(QString, prepare);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, said);

    if (prepare == "wal") {
        QVERIFY(runSql("profile.db", "PRAGMA journal_mode=WAL;"));
        QSqlDatabase writer = QSqlDatabase::addDatabase("QSQLITE", "wal writer");
        writer.setDatabaseName("profile.db");
        QVERIFY(writer.open());
        QSqlQuery query(writer);
        QVERIFY(query.exec("PRAGMA wal_autocheckpoint=0"));
        QVERIFY(query.exec("insert into profile values('wal/only', 'in the WAL')"));
        QVERIFY(QFileInfo("profile.db-wal").size() > 0);
    } else if (prepare == "hot journal") {
        runProgram("sh",
                   {"-c",
                    "printf 'pragma cache_size=1;\nbegin;\nupdate profile set value = value "
                    "|| randomblob(500);\ndelete from curvePoint;\n.shell kill -9 $PPID\n' | "
                    "sqlite3 profile.db"},
                   m_site->path());
        QVERIFY(readFile("profile.db-journal").startsWith(QByteArray::fromHex("d9d505f920a163d7")));
    } else if (prepare == "link") {
        QVERIFY(QFile::link("profile.db.v0.bak", "profile.db.v9.bak"));
    } else if (prepare == "other kind") {
        QVERIFY(QFile::copy("data.db.v0.bak", "profile.db.v9.bak"));
    }
    const QStringList before = folderState();

    const ProgramRun run = runTool(arguments);
    QCOMPARE(folderState(), before); // no journal rolled back, no -shm, no log
    QCOMPARE(run.exitCode, exitCode);
    const QString output
        = QString::fromUtf8(exitCode == 0 ? run.standardOutput : run.standardError);
    QVERIFY2(output.contains(said), qPrintable(output));
}

QTEST_GUILESS_MAIN(TestChanges)
#include "tst_changes.moc"
