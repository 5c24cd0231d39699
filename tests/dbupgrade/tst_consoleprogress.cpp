// Tests of ConsoleProgress: lines on a terminal, at most one per interval, none elsewhere.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "progress.h"
#include "updatebase.h"
#include "upgradetestutil.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

#include <fcntl.h>
#include <pty.h>
#include <unistd.h>

using namespace UpgradeTest;

namespace {

class TestUpdater : public UpdateBase
{
public:
    TestUpdater()
        : UpdateBase(QStringLiteral("test.db"), nullptr)
    {
    }
    bool update() override { return true; }
};

// A stream on a pseudo-terminal, or on a pipe, and what arrives at its other end.
class Console
{
public:
    explicit Console(bool terminal)
    {
        int fds[2] = {-1, -1};
        if (terminal) {
            if (openpty(&fds[0], &fds[1], nullptr, nullptr, nullptr) != 0)
                return;
        } else if (pipe(fds) != 0) {
            return;
        }
        m_reader = fds[0];
        fcntl(m_reader, F_SETFL, O_NONBLOCK);
        m_stream = fdopen(fds[1], "w");
    }
    ~Console()
    {
        if (m_stream)
            fclose(m_stream);
        if (m_reader >= 0)
            close(m_reader);
    }
    FILE *stream() const { return m_stream; }
    //! The lines written since the last call, without line ends.
    QStringList takeLines()
    {
        QByteArray text;
        char buffer[4096];
        ssize_t count;
        while ((count = read(m_reader, buffer, sizeof buffer)) > 0)
            text.append(buffer, int(count));
        text.replace("\r\n", "\n");
        QStringList lines = QString::fromLocal8Bit(text).split(QLatin1Char('\n'));
        lines.removeAll(QString());
        return lines;
    }

private:
    int m_reader = -1;
    FILE *m_stream = nullptr;
};

// A statement that keeps SQLite's virtual machine busy for a while.
void runStatementsFor(int milliseconds)
{
    QElapsedTimer timer;
    timer.start();
    QSqlQuery query;
    while (timer.elapsed() < milliseconds) {
        QVERIFY(query.exec("with recursive c(x) as (select 1 union all select x + 1 from c "
                           "where x < 20000) select count(*) from c"));
        QVERIFY(query.next());
    }
}

} // namespace

class TestConsoleProgress : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void longStatement_data();
    void longStatement();
    void rowsOfCopies_data();
    void rowsOfCopies();

private:
    std::unique_ptr<TemporarySite> m_site;
};

void TestConsoleProgress::init()
{
    m_site.reset(new TemporarySite);
    QVERIFY(m_site->isValid());
}

void TestConsoleProgress::cleanup()
{
    m_site.reset();
}

void TestConsoleProgress::longStatement_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("terminal") << true;
    QTest::newRow("pipe") << false;
}

void TestConsoleProgress::longStatement()
{
    QFETCH(bool, terminal);
    Console console(terminal);
    QVERIFY(console.stream());
    TestUpdater updater;
    ConsoleProgress progress(console.stream());
    QCOMPARE(progress.isEnabled(), terminal);

    progress.begin("test.db", QSqlDatabase::database());
    runStatementsFor(2500);
    progress.end();
    const QStringList lines = console.takeLines();
    if (!terminal) {
        QCOMPARE(lines, QStringList());
        return;
    }
    // A line after a full second, then at most one a second, not one per call of the handler.
    QVERIFY2(lines.size() == 1 || lines.size() == 2, qPrintable(lines.join('\n')));
    const QRegularExpression expected("^  test\\.db: working, [12] s$");
    for (const QString &line : lines)
        QVERIFY2(expected.match(line).hasMatch(), qPrintable(line));

    // After end() the connection runs without the handler.
    runStatementsFor(1200);
    QCOMPARE(console.takeLines(), QStringList());
}

void TestConsoleProgress::rowsOfCopies_data()
{
    QTest::addColumn<bool>("terminal");
    QTest::newRow("terminal") << true;
    QTest::newRow("pipe") << false;
}

void TestConsoleProgress::rowsOfCopies()
{
    QFETCH(bool, terminal);
    Console console(terminal);
    QVERIFY(console.stream());
    QVERIFY(runSql("test.db",
                   "create table source(id integer primary key, name text);"
                   "insert into source values(1, 'a'), (2, 'b'), (3, 'c');"
                   "create table target(id integer primary key, name text);"));
    TestUpdater updater;
    // Without an interval every report is a line, so each copied row shows.
    ConsoleProgress progress(console.stream(), 0);
    progress.begin("test.db", QSqlDatabase::database());
    QVERIFY(updater.copyTable("target", "source"));
    progress.end();
    // Copies outside a progress report nothing.
    QVERIFY(updater.copyTable("target", "source", QSqlRecord(), {"id"}));

    const QStringList expected = terminal
        ? QStringList({"  test.db: 1 rows copied into target, 0 s",
                       "  test.db: 2 rows copied into target, 0 s",
                       "  test.db: 3 rows copied into target, 0 s"})
        : QStringList();
    QCOMPARE(console.takeLines(), expected);
}

QTEST_GUILESS_MAIN(TestConsoleProgress)
#include "tst_consoleprogress.moc"
