// Tests of the analysis result: classification, display text, error texts and sharing.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "analysisresult.h"
#include "modalboxcatcher.h"
#include "profile.h"
#include "testdatabase.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <limits>
#include <memory>
#include <thread>
#include <vector>

namespace {
const QString fixtures = QStringLiteral(FIXTURES_DIR);
const int NoClassification = -1;

AnalysisResult makeResult(double value, int error, int flags)
{
    AnalysisResult result(value);
    if (error != NoClassification)
        result.setError(AnalysisResult::ErrorCode(error));
    result.setFlags(flags);
    return result;
}
} // namespace

class tst_AnalysisResult : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void classification_data();
    void classification();
    void defaultIsSharedNull();
    void toString_data();
    void toString();
    void prefixAndSuffix_data();
    void prefixAndSuffix();
    void errorText_data();
    void errorText();
    void errorTextPrecedence();
    void toVariant_data();
    void toVariant();
    void flags();
    void copyOnWrite();
    void sharedNullAcrossThreads();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
};

void tst_AnalysisResult::initTestCase()
{
    // One store per process, and its named settings keep their first value: the marks this
    // laboratory configured come from the fixture, every other mark takes its default.
    m_oldDir = QDir::currentPath();
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(TestDatabase::build("profile.db", fixtures + "/result_profile.sql"));
    for (const char *name : {"data.db", "qc.db", "syslog.db"})
        QVERIFY(TestDatabase::build(QLatin1String(name), fixtures + "/other.sql"));
    ModalBoxCatcher boxes;
    Profile::instance();
    QCOMPARE(boxes.texts(), QStringList());
}

void tst_AnalysisResult::cleanupTestCase()
{
    QDir::setCurrent(m_oldDir);
}

void tst_AnalysisResult::classification_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("error");

    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    QTest::newRow("999.9") << 999.9 << int(AnalysisResult::NotClotted);
    QTest::newRow("999.9005") << 999.9005 << int(AnalysisResult::NotClotted);
    QTest::newRow("999.8995") << 999.8995 << int(AnalysisResult::NotClotted);
    QTest::newRow("999.902") << 999.902 << int(AnalysisResult::NoError);
    QTest::newRow("999.898") << 999.898 << int(AnalysisResult::NoError);
    QTest::newRow("-999.9") << -999.9 << int(AnalysisResult::NoError);
    QTest::newRow("1e-8") << 1e-8 << int(AnalysisResult::NullResult);
    QTest::newRow("-1e-8") << -1e-8 << int(AnalysisResult::NullResult);
    QTest::newRow("0") << 0.0 << int(AnalysisResult::NullResult);
    QTest::newRow("just below 2^-23") << 1.19e-7 << int(AnalysisResult::NullResult);
    QTest::newRow("2^-23") << 1.1920928955078125e-07 << int(AnalysisResult::NoError);
    QTest::newRow("1e-6") << 1e-6 << int(AnalysisResult::NoError);
    QTest::newRow("12.5") << 12.5 << int(AnalysisResult::NoError);
    QTest::newRow("NaN") << nan << int(AnalysisResult::InvalidValue);
    QTest::newRow("infinity") << inf << int(AnalysisResult::InvalidValue);
    QTest::newRow("minus infinity") << -inf << int(AnalysisResult::InvalidValue);
}

void tst_AnalysisResult::classification()
{
    QFETCH(double, value);
    QFETCH(int, error);

    const AnalysisResult constructed(value);
    QCOMPARE(int(constructed.error()), error);
    QCOMPARE(constructed.isValid(), error == AnalysisResult::NoError);
    QCOMPARE(constructed.isNull(), error == AnalysisResult::NullResult);
    QCOMPARE(std::isnan(double(constructed)), std::isnan(value));
    if (!std::isnan(value))
        QCOMPARE(constructed.value(), value);

    // setValue reclassifies whatever state came before, and keeps an own error text.
    AnalysisResult reset(AnalysisResult::InvalidMethod);
    reset.setErrorText("fit failed");
    reset.setValue(value);
    QCOMPARE(int(reset.error()), error);
    QCOMPARE(reset.errorText(), QString("fit failed"));
}

void tst_AnalysisResult::defaultIsSharedNull()
{
    const AnalysisResult a;
    const AnalysisResult b;
    QVERIFY(a.isNull());
    QVERIFY(!a.isValid());
    QCOMPARE(a.value(), AnalysisResult::nullValue);
    QCOMPARE(a.od(), AnalysisResult::invalidOD);
    QCOMPARE(a.toString(), QString());
    QVERIFY(a.toString().isEmpty());
    QVERIFY(a.isCopyOf(b));
    QVERIFY(a.curve().isEmpty());
    QCOMPARE(a.flags(), 0);
    QCOMPARE(a.errorText(), QString("结果为空"));
    // A constructed value gets a record of its own, even when it is null.
    QVERIFY(!AnalysisResult(0.0).isCopyOf(a));
    QVERIFY(!AnalysisResult(AnalysisResult::NullResult).isCopyOf(a));
}

void tst_AnalysisResult::toString_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("error");
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("format");
    QTest::addColumn<char>("numberFormat");
    QTest::addColumn<int>("precision");
    QTest::addColumn<QString>("expected");

    const int allMarks = ry::ManualInput | ry::Diluted | ry::AboveReportLimit | ry::AboveMarkLimit;
    const int withFlags = AnalysisResult::WithFlags;
    const int numberOnly = AnalysisResult::NumberOnly;

    QTest::newRow("default marks")
        << 12.5 << NoClassification << allMarks << withFlags << 'f' << 1 << "M!> 12.5 ↑";
    QTest::newRow("number only") << 12.5 << NoClassification << allMarks << numberOnly << 'f' << 1
                                 << "12.5";
    QTest::newRow("unknown format is number only")
        << 12.5 << NoClassification << allMarks << 7 << 'f' << 1 << "12.5";
    QTest::newRow("no marks") << 12.5 << NoClassification << 0 << withFlags << 'f' << 2 << "12.50";
    QTest::newRow("suffix only") << 12.5 << NoClassification << int(ry::AboveMarkLimit) << withFlags
                                 << 'f' << 1 << "12.5 ↑";
    QTest::newRow("manual test has no mark")
        << 12.5 << NoClassification << int(ry::ManualTest) << withFlags << 'f' << 1 << "12.5";
    QTest::newRow("unknown bits have no mark")
        << 12.5 << NoClassification << 0x4001 << withFlags << 'f' << 1 << "12.5";
    QTest::newRow("negative precision")
        << 12.3456789 << NoClassification << 0 << withFlags << 'f' << -1 << "12.3457";
    QTest::newRow("exponent") << 1234.5 << NoClassification << 0 << withFlags << 'E' << 2
                              << "1.23E+03";
    QTest::newRow("configured marks")
        << 0.5 << NoClassification << int(ry::BelowReportLimit | ry::BelowMarkLimit) << withFlags
        << 'f' << 1 << "L< 0.5 (low)";
    QTest::newRow("invalid value") << 12.5 << int(AnalysisResult::InvalidValue) << allMarks
                                   << withFlags << 'f' << 1 << "---.-";
    QTest::newRow("missing parameter")
        << 3.0 << int(AnalysisResult::MissingParameter) << 0 << numberOnly << 'f' << 1 << "---.-";
    QTest::newRow("not clotted") << 999.9 << NoClassification << allMarks << withFlags << 'f' << 1
                                 << "no clot";
    QTest::newRow("error state with not-clotted value")
        << 999.9 << int(AnalysisResult::InvalidValue) << 0 << withFlags << 'f' << 1 << "no clot";
    QTest::newRow("not clotted state with other value")
        << 5.0 << int(AnalysisResult::NotClotted) << 0 << numberOnly << 'f' << 1 << "no clot";
    QTest::newRow("null") << 0.0 << NoClassification << allMarks << withFlags << 'f' << 1 << "";
    QTest::newRow("NaN") << std::numeric_limits<double>::quiet_NaN() << NoClassification << 0
                         << withFlags << 'f' << 1 << "---.-";
}

void tst_AnalysisResult::toString()
{
    QFETCH(double, value);
    QFETCH(int, error);
    QFETCH(int, flags);
    QFETCH(int, format);
    QFETCH(char, numberFormat);
    QFETCH(int, precision);
    QFETCH(QString, expected);

    const AnalysisResult result = makeResult(value, error, flags);
    QCOMPARE(result.toString(AnalysisResult::Format(format), numberFormat, precision), expected);
}

void tst_AnalysisResult::prefixAndSuffix_data()
{
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("prefix");
    QTest::addColumn<QString>("suffix");

    QTest::newRow("order of the prefix")
        << int(ry::AboveReportLimit | ry::Diluted | ry::ManualInput) << "M!>"
        << "";
    QTest::newRow("both report limits") << int(ry::BelowReportLimit | ry::AboveReportLimit) << "L<"
                                        << "";
    QTest::newRow("both mark limits") << int(ry::BelowMarkLimit | ry::AboveMarkLimit) << ""
                                      << "(low)";
    QTest::newRow("upper mark") << int(ry::AboveMarkLimit) << ""
                                << "↑";
}

void tst_AnalysisResult::prefixAndSuffix()
{
    QFETCH(int, flags);
    QFETCH(QString, prefix);
    QFETCH(QString, suffix);
    AnalysisResult result(1.0);
    result.setFlags(flags);
    QCOMPARE(result.prefix(), prefix);
    QCOMPARE(result.suffix(), suffix);
}

void tst_AnalysisResult::errorText_data()
{
    QTest::addColumn<int>("error");
    QTest::addColumn<QString>("text");

    QTest::newRow("valid") << int(AnalysisResult::NoError) << "";
    QTest::newRow("invalid value") << int(AnalysisResult::InvalidValue) << "无效的值";
    QTest::newRow("unknown error") << int(AnalysisResult::UnknownError) << "未知错误";
    QTest::newRow("null") << int(AnalysisResult::NullResult) << "结果为空";
    QTest::newRow("no standard curve") << int(AnalysisResult::NoStandardCurve) << "无标准曲线";
    QTest::newRow("invalid standard curve")
        << int(AnalysisResult::InvalidStandardCurve) << "标准曲线无效";
    QTest::newRow("standard curve set up wrongly")
        << int(AnalysisResult::StandardCurveSettingError) << "标准曲线设置错误";
    QTest::newRow("invalid method") << int(AnalysisResult::InvalidMethod) << "无效的计算方法";
    QTest::newRow("missing parameter")
        << int(AnalysisResult::MissingParameter) << "计算所需的参数不存在";
    QTest::newRow("not clotted") << int(AnalysisResult::NotClotted) << "";
    QTest::newRow("unknown code") << 42 << "";
}

void tst_AnalysisResult::errorText()
{
    QFETCH(int, error);
    QFETCH(QString, text);
    QCOMPARE(AnalysisResult(AnalysisResult::ErrorCode(error)).errorText(), text);
}

void tst_AnalysisResult::errorTextPrecedence()
{
    AnalysisResult result(12.0);
    result.setErrorText("lamp too weak");
    QCOMPARE(result.error(), AnalysisResult::UnknownError);
    QCOMPARE(result.errorText(), QString("lamp too weak"));
    QCOMPARE(result.toString(), QString("---.-"));

    result.setError(AnalysisResult::InvalidMethod);
    QCOMPARE(result.errorText(), QString("无效的计算方法"));

    result.setErrorText("again");
    result.clearErrorText();
    QCOMPARE(result.error(), AnalysisResult::UnknownError);
    QCOMPARE(result.errorText(), QString("未知错误"));

    // An empty own text leaves the built-in one.
    result.setErrorText(QString(""));
    QCOMPARE(result.errorText(), QString("未知错误"));
}

void tst_AnalysisResult::toVariant_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("error");
    QTest::addColumn<QVariant>("expected");

    QTest::newRow("valid") << 12.5 << NoClassification << QVariant(12.5);
    QTest::newRow("not clotted") << 999.9 << NoClassification << QVariant(999.9);
    QTest::newRow("null") << 0.0 << NoClassification << QVariant();
    QTest::newRow("error") << 12.5 << int(AnalysisResult::InvalidValue) << QVariant();
    QTest::newRow("unknown error") << 12.5 << int(AnalysisResult::UnknownError) << QVariant();
}

void tst_AnalysisResult::toVariant()
{
    QFETCH(double, value);
    QFETCH(int, error);
    QFETCH(QVariant, expected);
    const QVariant variant = makeResult(value, error, 0).toVariant();
    QCOMPARE(variant.isValid(), expected.isValid());
    if (expected.isValid()) {
        QCOMPARE(variant.userType(), int(QMetaType::Double));
        QCOMPARE(variant.toDouble(), expected.toDouble());
    }
}

void tst_AnalysisResult::flags()
{
    AnalysisResult result(3.0);
    result.setFlags(0x4000); // a bit the library does not interpret is carried
    result.setFlag(ry::Diluted, true);
    result.setFlag(ry::ManualInput);
    QCOMPARE(result.flags(), 0x4000 | 0x0002 | 0x8000);
    QVERIFY(result.testFlag(ry::Diluted));
    QVERIFY(!result.testFlag(ry::BelowMarkLimit));
    result.setFlag(ry::Diluted, false);
    QCOMPARE(result.flags(), 0x4000 | 0x8000);

    QVERIFY(!result.isManualTest());
    result.setManualTest(true);
    QVERIFY(result.isManualTest());
    QCOMPARE(result.flags(), 0x4000 | 0x8000 | 0x1000);
    result.setManualTest(false);
    QCOMPARE(result.flags(), 0x4000 | 0x8000);
}

void tst_AnalysisResult::copyOnWrite()
{
    ClotCurve curve;
    curve.append(0.0, 0.1, {1.0, 2.0});

    const QVector<QPair<const char *, std::function<void(AnalysisResult &)>>> setters {
        {"setValue", [](AnalysisResult &r) { r.setValue(20.0); }},
        {"setOD", [](AnalysisResult &r) { r.setOD(0.7); }},
        {"setCurve", [&](AnalysisResult &r) { r.setCurve(curve); }},
        {"setId", [](AnalysisResult &r) { r.setId(5); }},
        {"setRecordId", [](AnalysisResult &r) { r.setRecordId(6); }},
        {"setVersion", [](AnalysisResult &r) { r.setVersion(2); }},
        {"setCh", [](AnalysisResult &r) { r.setCh(3); }},
        {"setFlags", [](AnalysisResult &r) { r.setFlags(0x20); }},
        {"setFlag", [](AnalysisResult &r) { r.setFlag(ry::Diluted); }},
        {"setManualTest", [](AnalysisResult &r) { r.setManualTest(true); }},
        {"setError", [](AnalysisResult &r) { r.setError(AnalysisResult::InvalidMethod); }},
        {"setErrorText", [](AnalysisResult &r) { r.setErrorText("x"); }},
        {"clearErrorText", [](AnalysisResult &r) { r.clearErrorText(); }},
    };

    for (const auto &setter : setters) {
        for (const bool fromDefault : {false, true}) {
            const AnalysisResult original = fromDefault ? AnalysisResult() : AnalysisResult(10.0);
            AnalysisResult copy = original;
            AnalysisResult assigned;
            assigned = original;
            QVERIFY(copy.isCopyOf(original));
            QVERIFY(assigned.isCopyOf(original));

            setter.second(copy);
            QVERIFY2(!copy.isCopyOf(original), setter.first);
            QVERIFY2(assigned.isCopyOf(original), setter.first);
            QCOMPARE(original.value(), fromDefault ? 0.0 : 10.0);
            QCOMPARE(original.error(),
                     fromDefault ? AnalysisResult::NullResult : AnalysisResult::NoError);
            QCOMPARE(original.od(), 0.0);
            QVERIFY(original.curve().isEmpty());
            QCOMPARE(original.id() + original.recordId() + original.version() + original.ch()
                         + original.flags(),
                     0);
            QVERIFY(original.errorText().isEmpty() == !fromDefault);
        }
    }
    // The null record itself was never written.
    const AnalysisResult fresh;
    QVERIFY(fresh.isNull());
    QCOMPARE(fresh.value(), 0.0);
    QCOMPARE(fresh.flags(), 0);
    QVERIFY(fresh.curve().isEmpty());
}

void tst_AnalysisResult::sharedNullAcrossThreads()
{
    const AnalysisResult reference;
    QVector<AnalysisResult> collected[4];
    // std::thread: its join is a synchronisation that ThreadSanitizer sees.
    std::vector<std::thread> threads;
    for (QVector<AnalysisResult> &out : collected) {
        threads.emplace_back([&out, &reference] {
            for (int i = 0; i < 20000; ++i) {
                AnalysisResult made;
                AnalysisResult copied = reference;
                AnalysisResult assigned;
                assigned = copied;
                if (i % 1000 == 0)
                    out << made << copied << assigned;
                // A write on one thread leaves the shared record alone.
                if (i % 97 == 0)
                    made.setValue(i + 1.0);
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();

    for (const QVector<AnalysisResult> &out : collected) {
        QCOMPARE(out.size(), 60);
        for (const AnalysisResult &result : out) {
            QVERIFY(result.isCopyOf(reference));
            QVERIFY(result.isNull());
            QCOMPARE(result.value(), 0.0);
        }
    }
    for (QVector<AnalysisResult> &out : collected)
        out.clear();
    // Every copy is gone; the shared record lives on, untouched.
    const AnalysisResult after;
    QVERIFY(after.isCopyOf(reference));
    QVERIFY(after.isNull());
}

QTEST_MAIN(tst_AnalysisResult)
#include "tst_analysisresult.moc"
