// Tests of the global helpers: numbers, volumes, scripts, sample numbers, CRC-16, sleep.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "analysisresult.h"
#include "modalboxcatcher.h"
#include "overloadcalls.h"
#include "profile.h"
#include "ryglobal.h"
#include "testdatabase.h"

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QUuid>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>
#include <thread>

namespace {

const QString fixtures = QStringLiteral(FIXTURES_DIR);

QStringList capturedWarnings;

void captureWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        capturedWarnings << message;
}

// Bit by bit, straight from the definition: no table.
quint16 referenceCrc16(const QByteArray &data)
{
    quint16 crc = 0xFFFF;
    for (const char c : data) {
        crc ^= quint16(uchar(c)) << 8;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? quint16((crc << 1) ^ 0x1021) : quint16(crc << 1);
    }
    return crc;
}

// Runs a statement on data.db through a writable connection of the test's own.
bool execOnData(const QString &statement)
{
    const QString name = QUuid::createUuid().toString();
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(QStringLiteral("data.db"));
        QSqlQuery query(db);
        ok = db.open() && query.exec(statement);
        if (!ok)
            qWarning() << statement << query.lastError().text();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

class tst_GlobalHelpers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void fraction_data();
    void fraction();
    void fractionWithoutOk();
    void round_data();
    void round();
    void precisionIsBounded_data();
    void precisionIsBounded();
    void overloadsOfTheCLibrary();
    void dilutionList();
    void humanReadableVolume_data();
    void humanReadableVolume();
    void humanReadableVolumeOfKind_data();
    void humanReadableVolumeOfKind();

    void eval_data();
    void eval();
    void evalOfThrowingScript();
    void loadScriptOfUtf8File();
    void loadScriptOfMissingFile();
    void loadScriptThatThrows_data();
    void loadScriptThatThrows();
    void endlessScriptIsStopped_data();
    void endlessScriptIsStopped();
    void scriptValueTypes_data();
    void scriptValueTypes();
    void scriptTimeLimitOnThreadWithoutEvents();

    void samplePrefix_data();
    void samplePrefix();
    void nextSampleNo_data();
    void nextSampleNo();
    void nextSampleNoWithoutPatientTable_data();
    void nextSampleNoWithoutPatientTable();
    void setGeneratedValue();

    void crc16KnownValues();
    void crc16AgainstReference();
    void sleepWaits();

private:
    QString writeScript(const QString &name, const QByteArray &utf8);
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
};

void tst_GlobalHelpers::initTestCase()
{
    QCoreApplication::setApplicationName(QStringLiteral("Analyser"));
    m_oldDir = QDir::currentPath();
    // The store is process-wide and opens its files on the first call: seed them first.
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(TestDatabase::build(QStringLiteral("profile.db"), fixtures + "/profile.sql"));
    QVERIFY(TestDatabase::build(QStringLiteral("profile.db"), fixtures + "/sampleprefix.sql"));
    QVERIFY(TestDatabase::build(QStringLiteral("data.db"), fixtures + "/patients.sql"));
    QVERIFY(TestDatabase::build(QStringLiteral("qc.db"), fixtures + "/other.sql"));
    QVERIFY(TestDatabase::build(QStringLiteral("syslog.db"), fixtures + "/other.sql"));
    ModalBoxCatcher catcher;
    Profile::instance();
    QVERIFY2(catcher.boxes().isEmpty(), qPrintable(catcher.texts().join('\n')));
}

void tst_GlobalHelpers::cleanupTestCase()
{
    QDir::setCurrent(m_oldDir);
}

void tst_GlobalHelpers::fraction_data()
{
    const double inf = std::numeric_limits<double>::infinity();
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");
    QTest::addColumn<bool>("ok");
    QTest::newRow("slash") << "1/10" << 0.1 << true;
    QTest::newRow("colon") << "1:4" << 0.25 << true;
    QTest::newRow("spaces and words around") << "dilute 1 / 8 with saline" << 0.125 << true;
    QTest::newRow("negative") << "-3/4" << -0.75 << true;
    QTest::newRow("plus sign and decimals") << "+1.5:3" << 0.5 << true;
    QTest::newRow("trailing point") << "2./4" << 0.5 << true;
    QTest::newRow("first of two") << "1/2 then 1/4" << 0.5 << true;
    QTest::newRow("no separator") << "10" << 0.0 << false;
    QTest::newRow("letters") << "a/b" << 0.0 << false;
    QTest::newRow("empty") << "" << 0.0 << false;
    QTest::newRow("non-ASCII digits") << QString::fromUtf8("١/٢") << 0.0 << false;
    QTest::newRow("zero divisor") << "1/0" << inf << true;
    QTest::newRow("negative zero divisor") << "-1/0" << -inf << true;
    QTest::newRow("zero by zero") << "0/0" << std::nan("") << true;
}

void tst_GlobalHelpers::fraction()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    QFETCH(bool, ok);
    bool found = !ok;
    const double value = ::fraction(text, &found);
    QCOMPARE(found, ok);
    if (std::isnan(expected))
        QVERIFY(std::isnan(value));
    else
        QCOMPARE(value, expected);
}

void tst_GlobalHelpers::fractionWithoutOk()
{
    QCOMPARE(::fraction(QStringLiteral("3/4")), 0.75);
    QCOMPARE(::fraction(QStringLiteral("none"), nullptr), 0.0);
}

void tst_GlobalHelpers::round_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("precision");
    QTest::addColumn<char>("format");
    QTest::addColumn<double>("expected");
    QTest::newRow("decimals") << 3.14159 << 2 << 'f' << 3.14;
    QTest::newRow("significant digits") << 0.012345 << 3 << 'g' << 0.0123;
    QTest::newRow("large, significant digits") << 123456.0 << 2 << 'g' << 120000.0;
    // Halves that binary holds exactly round away from zero...
    QTest::newRow("exact half up") << 2.5 << 0 << 'f' << 3.0;
    QTest::newRow("exact half negative") << -2.5 << 0 << 'f' << -3.0;
    QTest::newRow("exact half at 2 decimals") << 0.125 << 2 << 'f' << 0.13;
    // ...while a decimal half that binary holds just below it rounds down.
    QTest::newRow("1.005 is below the half") << 1.005 << 2 << 'f' << 1.0;
    QTest::newRow("2.675 is below the half") << 2.675 << 2 << 'f' << 2.67;
}

void tst_GlobalHelpers::round()
{
    QFETCH(double, value);
    QFETCH(int, precision);
    QFETCH(char, format);
    QFETCH(double, expected);
    QCOMPARE(::round(value, precision, format), expected);
}

// round() and a result's text share the bound; beyond it Qt aborts or builds huge texts.
void tst_GlobalHelpers::precisionIsBounded_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("precision");
    QTest::addColumn<char>("format");
    QTest::addColumn<QString>("text");

    const int huge = std::numeric_limits<int>::max();
    QTest::newRow("f, int maximum") << 1.5 << huge << 'f' << "1.50000000000000000";
    QTest::newRow("f, 10^8") << 1.5 << 100000000 << 'f' << "1.50000000000000000";
    QTest::newRow("f, small value: 17 significant digits")
        << 1.25e-5 << huge << 'f' << "0.000012500000000000001";
    QTest::newRow("g, int maximum") << 0.1 << huge << 'g' << "0.10000000000000001";
    QTest::newRow("e, int maximum") << -2.5 << huge << 'e' << "-2.50000000000000000e+00";
    QTest::newRow("within the bound") << 3.14159 << 17 << 'f' << "3.14158999999999988";
}

void tst_GlobalHelpers::precisionIsBounded()
{
    QFETCH(double, value);
    QFETCH(int, precision);
    QFETCH(char, format);
    QFETCH(QString, text);
    QCOMPARE(::round(value, precision, format), value);
    QCOMPARE(AnalysisResult(value).toString(AnalysisResult::NumberOnly, format, precision), text);
}

void tst_GlobalHelpers::overloadsOfTheCLibrary()
{
    const OverloadResults results = callOverloads();
    QCOMPARE(results.libraryRound, 3.0);
    QCOMPARE(results.helperRound, 2.35);
    QCOMPARE(results.librarySleep, 0u);
    QVERIFY2(results.helperSleepMs >= 30, qPrintable(QString::number(results.helperSleepMs)));
    QVERIFY(results.helperSleepMs < 1000); // milliseconds, not seconds

    // Copies and assignments of the empty class link against the library.
    Core core;
    Core copy(core);
    copy = core;
}

void tst_GlobalHelpers::dilutionList()
{
    const QStringList list = ::dilutionList();
    QCOMPARE(list,
             QStringList({"1/1", "1/2", "1/4", "1/5", "1/8", "1/10", "1/16", "1/20", "1/30", "1/40",
                          "1/50", "1/80", "1/100", "1/160", "1/320", "2/5", "3/4", "3/5", "4/5"}));
    // Every entry is a ratio that fraction() reads.
    for (const QString &dilution : list) {
        bool ok = false;
        const double value = ::fraction(dilution, &ok);
        QVERIFY2(ok && value > 0 && value <= 1, qPrintable(dilution));
    }
}

void tst_GlobalHelpers::humanReadableVolume_data()
{
    QTest::addColumn<int>("volume");
    QTest::addColumn<QString>("expected");
    QTest::newRow("999") << 999 << "999 uL";
    QTest::newRow("1000 stays microlitres") << 1000 << "1000 uL";
    QTest::newRow("1500") << 1500 << "1.5 mL";
    QTest::newRow("four significant digits") << 123456 << "123.5 mL";
    QTest::newRow("1 000 000 stays millilitres") << 1000000 << "1000 mL";
    QTest::newRow("2 500 000") << 2500000 << "2.5 L";
    QTest::newRow("largest int") << std::numeric_limits<int>::max() << "2147 L";
    QTest::newRow("zero") << 0 << "0 uL";
    QTest::newRow("negative") << -2500 << "-2500 uL";
}

void tst_GlobalHelpers::humanReadableVolume()
{
    QFETCH(int, volume);
    QFETCH(QString, expected);
    QCOMPARE(::humanReadableVolume(volume), expected);
}

void tst_GlobalHelpers::humanReadableVolumeOfKind_data()
{
    QTest::addColumn<int>("kind");
    QTest::addColumn<int>("volume");
    QTest::addColumn<bool>("plainForm");
    QTest::addColumn<QString>("expected");
    QTest::newRow("litres, below 0.1") << 4096 << 99999 << false << "<0.1 L";
    QTest::newRow("litres, at 0.1") << 4096 << 100000 << false << "0.1 L";
    QTest::newRow("litres, small volume") << 4096 << 50 << false << "<0.1 L";
    QTest::newRow("litres") << 4096 << 2500000 << false << "2.5 L";
    QTest::newRow("plain form") << 4096 << 2500000 << true << "2.5 L";
    QTest::newRow("plain form, small") << 4096 << 1500 << true << "1.5 mL";
    QTest::newRow("other kind") << 1 << 50 << false << "50 uL";
    QTest::newRow("other kind, large") << 1 << 200000 << false << "200 mL";
}

void tst_GlobalHelpers::humanReadableVolumeOfKind()
{
    QFETCH(int, kind);
    QFETCH(int, volume);
    QFETCH(bool, plainForm);
    QFETCH(QString, expected);
    QCOMPARE(::humanReadableVolume(kind, volume, plainForm), expected);
}

void tst_GlobalHelpers::eval_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QVariant>("expected");
    QTest::newRow("arithmetic") << "1 + 2 * 3" << QVariant(7);
    QTest::newRow("fraction") << "1 / 4" << QVariant(0.25);
    QTest::newRow("unicode text") << QString::fromUtf8("'不凝' + '↑'")
                                  << QVariant(QString::fromUtf8("不凝↑"));
    QTest::newRow("object") << "({ ratio: 0.5, name: 'PT' })"
                            << QVariant(QVariantMap {{"ratio", 0.5}, {"name", "PT"}});
    QTest::newRow("array") << "[1, 'a']" << QVariant(QVariantList {1, "a"});
    QTest::newRow("empty") << "" << QVariant();
    QTest::newRow("thrown string") << "throw 'boom'" << QVariant("boom");
}

void tst_GlobalHelpers::eval()
{
    QFETCH(QString, program);
    QFETCH(QVariant, expected);
    ModalBoxCatcher catcher;
    const QVariant value = ::eval(program);
    QCOMPARE(value.isValid(), expected.isValid());
    if (expected.isValid())
        QCOMPARE(value, expected);
    QVERIFY(catcher.boxes().isEmpty());
}

void tst_GlobalHelpers::evalOfThrowingScript()
{
    ModalBoxCatcher catcher;
    const QVariantMap error
        = ::eval(QStringLiteral("var a = 1;\nthrow new Error('bad value')")).toMap();
    QCOMPARE(error.value("message"), QVariant("bad value"));
    QCOMPARE(error.value("lineNumber").toInt(), 2);
    const QVariantMap reference = ::eval(QStringLiteral("missing + 1")).toMap();
    QVERIFY(reference.value("message").toString().contains("missing"));
    QVERIFY(catcher.boxes().isEmpty());
}

QString tst_GlobalHelpers::writeScript(const QString &name, const QByteArray &utf8)
{
    const QString path = m_dir->filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(utf8) != utf8.size())
        return QString();
    return path;
}

void tst_GlobalHelpers::loadScriptOfUtf8File()
{
    // CRLF line ends as a Windows editor leaves them.
    const QString path = writeScript("ok.js",
                                     "var prefix = '急诊';\r\n"
                                     "var mark = '\xe2\x86\x91';\r\n"
                                     "prefix + ' ' + mark + ' ' + prefix.length\r\n");
    QVERIFY(!path.isEmpty());
    ModalBoxCatcher catcher;
    QCOMPARE(::load_script(path), QVariant(QString::fromUtf8("急诊 ↑ 2")));
    QVERIFY(catcher.boxes().isEmpty());
}

void tst_GlobalHelpers::loadScriptOfMissingFile()
{
    ModalBoxCatcher catcher;
    const QVariant value = ::load_script(m_dir->filePath("absent.js"));
    QVERIFY(!value.isValid());
    QVERIFY(catcher.boxes().isEmpty());
}

void tst_GlobalHelpers::loadScriptThatThrows_data()
{
    QTest::addColumn<QString>("fileName");
    QTest::addColumn<QByteArray>("program");
    QTest::addColumn<QString>("text"); // %1: the script's path
    const QByteArray nested = "var x = 1;\n"
                              "function check() {\n"
                              "    throw new Error('\xe5\x9d\x8f\xe7\x9a\x84 value');\n"
                              "}\n"
                              "check();\n";
    const QString nestedText = QString::fromUtf8("Error: 坏的 value\ncheck() at %1:3\n<global>() at %1:5");
    QTest::newRow("nested function") << "throws.js" << nested << nestedText;
    // Qt 6's engine names the file by URL; the box must still show the path.
    QTest::newRow("path with URL characters") << QString::fromUtf8("坏 #1 %20;x.js") << nested
                                              << nestedText;
    QTest::newRow("thrown number") << "number.js" << QByteArray("\n\nthrow 42") << "42\n<global>() at %1:3";
    // Qt 5's engine lists the native map() and the arguments of the anonymous function too.
    const QByteArray callback = "[1].map(function () { throw new TypeError('no') })";
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    QTest::newRow("callback of a native function")
        << "map.js" << callback << "TypeError: no\n<anonymous>() at %1:1\n<global>() at %1:1";
#else
    QTest::newRow("callback of a native function")
        << "map.js" << callback
        << "TypeError: no\n<anonymous>(1, 0, 1) at %1:1\nmap() at -1\n<global>() at %1:1";
#endif
}

void tst_GlobalHelpers::loadScriptThatThrows()
{
    QFETCH(QString, fileName);
    QFETCH(QByteArray, program);
    QFETCH(QString, text);
    const QString path = writeScript(fileName, program);
    QVERIFY(!path.isEmpty());
    ModalBoxCatcher catcher;
    const QVariant value = ::load_script(path);
    QVERIFY(!value.isValid());
    QCOMPARE(catcher.boxes().size(), 1);
    const CapturedBox box = catcher.boxes().first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Analyser"));
    QCOMPARE(box.text, text.arg(path));
}

void tst_GlobalHelpers::endlessScriptIsStopped_data()
{
    QTest::addColumn<bool>("fromFile");
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("firstLine");

    QTest::newRow("eval") << false << "while(true){}"
                          << "while(true){}";
    QTest::newRow("eval, loop below the first line") << false << "var n = 0;\nfor (;;) { ++n; }"
                                                     << "var n = 0;";
    QTest::newRow("load_script") << true << "// 无尽\nwhile (1) {}"
                                 << "// 无尽";
}

void tst_GlobalHelpers::endlessScriptIsStopped()
{
    QFETCH(bool, fromFile);
    QFETCH(QString, program);
    QFETCH(QString, firstLine);
    const int previousLimit = ::scriptTimeLimit();
    ::setScriptTimeLimit(200);

    capturedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureWarnings);
    ModalBoxCatcher catcher;
    const QVariant value
        = fromFile ? ::load_script(writeScript("endless.js", program.toUtf8())) : ::eval(program);
    qInstallMessageHandler(previous);
    ::setScriptTimeLimit(previousLimit);

    QVERIFY(!value.isValid());
    QCOMPARE(catcher.boxes().size(), 0);
    QCOMPARE(capturedWarnings.size(), 1);
    QVERIFY2(capturedWarnings.first().contains("200 ms")
                 && capturedWarnings.first().endsWith(": " + firstLine),
             qPrintable(capturedWarnings.first()));
}

// The conversions that differ between the two engines, and those that must not.
void tst_GlobalHelpers::scriptValueTypes_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("path"); // keys and indexes down to the value, dot-separated
    QTest::addColumn<QByteArray>("typeName"); // empty: an invalid variant
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    const QByteArray regExp = "QRegularExpression", function = "";
#else
    const QByteArray regExp = "QRegExp", function = "QVariantMap";
#endif
    QTest::newRow("null") << "null" << "" << QByteArray();
    QTest::newRow("null in an object") << "({ n: null })" << "n" << QByteArray();
    QTest::newRow("null in nested arrays") << "({ a: [[1, null]] })" << "a.0.1" << QByteArray();
    QTest::newRow("whole number") << "6 / 2" << "" << QByteArray("int");
    QTest::newRow("date") << "new Date(0)" << "" << QByteArray("QDateTime");
    QTest::newRow("regular expression") << "/a+/i" << "" << regExp;
    QTest::newRow("function") << "(function () {})" << "" << function;
    QTest::newRow("function in an object") << "({ f: function () {} })" << "f" << function;
    QTest::newRow("error message") << "throw new RangeError('r')" << "message" << QByteArray("QString");
    QTest::newRow("error line") << "\nthrow new Error()" << "lineNumber" << QByteArray("int");
    QTest::newRow("error file name") << "throw new Error()" << "fileName" << QByteArray("QString");
}

void tst_GlobalHelpers::scriptValueTypes()
{
    QFETCH(QString, program);
    QFETCH(QString, path);
    QFETCH(QByteArray, typeName);
    QVariant value = ::eval(program);
    for (const QString &step : path.split(QLatin1Char('.'), Qt::SkipEmptyParts)) {
        if (value.userType() == QMetaType::QVariantList)
            value = value.toList().value(step.toInt());
        else
            value = value.toMap().value(step);
    }
    QCOMPARE(QByteArray(value.typeName()), typeName);
}

void tst_GlobalHelpers::scriptTimeLimitOnThreadWithoutEvents()
{
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    QSKIP("Qt 5's engine stops a script through the thread's events; this thread has none");
#else
    const int previousLimit = ::scriptTimeLimit();
    ::setScriptTimeLimit(200);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("time limit of 200 ms"));
    QVariant value = 1;
    QElapsedTimer timer;
    timer.start();
    std::thread([&value] { value = ::eval(QStringLiteral("for (;;) {}")); }).join();
    const qint64 elapsed = timer.elapsed();
    ::setScriptTimeLimit(previousLimit);
    QVERIFY(!value.isValid());
    QVERIFY2(elapsed >= 200 && elapsed < 5000, qPrintable(QString::number(elapsed)));
#endif
}

void tst_GlobalHelpers::samplePrefix_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("expected");
    QTest::newRow("statim, stored") << int(ry::Statim) << QString::fromUtf8("急");
    QTest::newRow("quality control, not stored") << int(ry::QualityControl) << "QC";
    QTest::newRow("ordinary") << int(ry::Ordinary) << "";
    QTest::newRow("other value") << 7 << "";
}

void tst_GlobalHelpers::samplePrefix()
{
    QFETCH(int, type);
    QFETCH(QString, expected);
    QCOMPARE(::samplePrefix(ry::SampleType(type)), expected);
}

void tst_GlobalHelpers::nextSampleNo_data()
{
    QTest::addColumn<QDate>("date");
    QTest::addColumn<int>("expected");
    QTest::newRow("numeric, not text, maximum") << QDate(2024, 3, 5) << 13;
    QTest::newRow("day without patients") << QDate(2024, 3, 7) << 1;
    QTest::newRow("prefix casts to zero") << QDate(2024, 3, 6) << 5;
    QTest::newRow("leading integer of 21b") << QDate(2024, 3, 8) << 22;
    QTest::newRow("only prefixed numbers") << QDate(2024, 3, 9) << 1;
    QTest::newRow("null sample number") << QDate(2024, 3, 10) << 1;
    QTest::newRow("invalid date") << QDate() << 1;
    QTest::newRow("largest int") << QDate(2024, 3, 11) << std::numeric_limits<int>::max();
    QTest::newRow("beyond int") << QDate(2024, 3, 12) << std::numeric_limits<int>::max();
}

void tst_GlobalHelpers::nextSampleNo()
{
    QFETCH(QDate, date);
    QFETCH(int, expected);
    capturedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureWarnings);
    const int next = ::nextSampleNo(date);
    qInstallMessageHandler(previous);
    QCOMPARE(next, expected);
    QCOMPARE(capturedWarnings, QStringList());
}

void tst_GlobalHelpers::nextSampleNoWithoutPatientTable_data()
{
    QTest::addColumn<bool>("schemaSeen");
    QTest::addColumn<int>("warnings");
    // Preparation fails, then execution of the unprepared query: both are logged.
    QTest::newRow("connection knows the table is gone") << true << 2;
    // Dropped by another process since the connection last looked: preparation still succeeds.
    QTest::newRow("dropped behind the connection") << false << 1;
}

void tst_GlobalHelpers::nextSampleNoWithoutPatientTable()
{
    QFETCH(bool, schemaSeen);
    QFETCH(int, warnings);
    QCOMPARE(::nextSampleNo(QDate(2024, 3, 5)), 13);
    QVERIFY(execOnData(QStringLiteral("drop table patient")));
    if (schemaSeen) {
        QSqlQuery refresh(Profile::instance().dataDatabase());
        QVERIFY(refresh.exec(QStringLiteral("select count(*) from sqlite_master")));
    }
    capturedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureWarnings);
    const int next = ::nextSampleNo(QDate(2024, 3, 5));
    qInstallMessageHandler(previous);
    QVERIFY(TestDatabase::build(QStringLiteral("data.db"), fixtures + "/patients.sql"));

    QCOMPARE(next, 1);
    // Each warning is led by the unit and line of its statement; the first carries the
    // driver's error.
    QCOMPARE(capturedWarnings.size(), warnings);
    const QRegularExpression tag(QStringLiteral("^ryglobal\\.cpp:(\\d+): "));
    int lastLine = 0;
    for (const QString &message : qAsConst(capturedWarnings)) {
        const QRegularExpressionMatch match = tag.match(message);
        QVERIFY2(match.hasMatch(), qPrintable(message));
        QVERIFY2(match.captured(1).toInt() > lastLine, qPrintable(message));
        lastLine = match.captured(1).toInt();
    }
    QVERIFY2(capturedWarnings.first().contains("no such table: patient"),
             qPrintable(capturedWarnings.first()));

    // Back to normal once the table is there again.
    QCOMPARE(::nextSampleNo(QDate(2024, 3, 5)), 13);
}

void tst_GlobalHelpers::setGeneratedValue()
{
    QSqlRecord record;
    record.append(QSqlField("sampleNo", QVariant::String));
    record.append(QSqlField("date", QVariant::Date));
    record.setGenerated(0, false);
    record.setGenerated(1, false);

    ::setGeneratedValue(record, "date", QDate(2024, 3, 5));
    QCOMPARE(record.value("date"), QVariant(QDate(2024, 3, 5)));
    QVERIFY(record.isGenerated("date"));
    QVERIFY(!record.isGenerated("sampleNo"));
    QVERIFY(record.isNull("sampleNo"));

    const QSqlRecord before = record;
    ::setGeneratedValue(record, "absent", 12);
    QCOMPARE(record, before);
    QCOMPARE(record.count(), 2);
}

void tst_GlobalHelpers::crc16KnownValues()
{
    QCOMPARE(crc16("", 0), quint16(0xFFFF));
    QCOMPARE(crc16(nullptr, 0), quint16(0xFFFF));
    QCOMPARE(crc16("123456789", -1), quint16(0xFFFF));
    QCOMPARE(crc16("123456789", 9), quint16(0x29B1));
    QCOMPARE(crc16("\x01", 1), quint16(0xF1D1));
}

void tst_GlobalHelpers::crc16AgainstReference()
{
    QRandomGenerator random(20240305);
    QList<int> lengths;
    for (int length = 1; length <= 300; ++length)
        lengths << length;
    lengths << 1024 << 4095 << 65536 + 7;
    for (const int length : qAsConst(lengths)) {
        QByteArray data(length, Qt::Uninitialized);
        for (char &c : data)
            c = char(random.bounded(256));
        QCOMPARE(crc16(data.constData(), data.size()), referenceCrc16(data));
    }
}

void tst_GlobalHelpers::sleepWaits()
{
    QElapsedTimer timer;
    timer.start();
    ::sleep(50);
    QVERIFY2(timer.elapsed() >= 50, qPrintable(QString::number(timer.elapsed())));
    QVERIFY(timer.elapsed() < 1000);

    timer.restart();
    ::sleep(0);
    ::sleep(-5);
    QVERIFY(timer.elapsed() < 50);
}

QTEST_MAIN(tst_GlobalHelpers)
#include "tst_globalhelpers.moc"
