// Tests of the clot curve: point numbering, conversion to optical density, blob and storage.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "analysisresult.h"
#include "modalboxcatcher.h"
#include "profile.h"
#include "testdatabase.h"

#include <QDir>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <limits>
#include <memory>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define UNDER_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define UNDER_ASAN 1
#endif
#ifdef UNDER_ASAN
// Part of the sanitizer runtime; gcc ships no header for it.
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

using Segment = ClotCurve::Segment;

namespace {
const QString fixtures = QStringLiteral(FIXTURES_DIR);
const double notANumber = std::numeric_limits<double>::quiet_NaN();
const double infinity = std::numeric_limits<double>::infinity();

// The curve of the worked blob example, and its bytes written out field by field.
ClotCurve exampleCurve()
{
    ClotCurve curve;
    curve.append(0.0, 0.5, {1.0, 2.0});
    return curve;
}

const QByteArray exampleBlob = QByteArray::fromHex("00000000"           // type Intensity
                                                   "00000001"           // one segment
                                                   "0000000000000000"   // x0 0.0
                                                   "3FE0000000000000"   // dx 0.5
                                                   "00000002"           // two values
                                                   "3FF0000000000000"   // 1.0
                                                   "4000000000000000"); // 2.0

QVector<int> segmentSizes(const ClotCurve &curve)
{
    QVector<int> sizes;
    for (const Segment &segment : curve.segments())
        sizes << segment.y.size();
    return sizes;
}

ClotCurve curveOfSizes(const QVector<int> &sizes)
{
    ClotCurve curve;
    double next = 0.0;
    for (int size : sizes) {
        QVector<double> y;
        for (int i = 0; i < size; ++i)
            y << next++;
        curve.append(next, 1.0, y);
    }
    return curve;
}

QList<QVariantList> curveRows()
{
    return TestDatabase::rows(QStringLiteral("data.db"),
                              QStringLiteral("select patientId, typeof(patientId), item, version, "
                                             "typeof(version), typeof(curve), curve from curve "
                                             "order by id"));
}

// Through the store's own connection, so that it knows of schema changes at prepare time.
void execOnData(const QString &statement)
{
    QSqlQuery query(Profile::instance().dataDatabase());
    QVERIFY2(query.exec(statement), qPrintable(statement));
}

QStringList capturedWarnings;
void captureWarning(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg)
        capturedWarnings << message;
}
} // namespace

class tst_ClotCurve : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void defaults();
    void pointNumbering_data();
    void pointNumbering();
    void remove_data();
    void remove();
    void copiesAreValues();

    void toOpticalDensityByHand();
    void toType_data();
    void toType();

    void blobOfExample();
    void saveRoundTrip_data();
    void saveRoundTrip();
    void emptyCurveWritesNoRow();
    void oversizedCurveStoresNothing_data();
    void oversizedCurveStoresNothing();
    void saveFailuresAreLogged_data();
    void saveFailuresAreLogged();

    void fromBuffer_data();
    void fromBuffer();
    void hugeCountsAllocateLittle_data();
    void hugeCountsAllocateLittle();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_oldDir;
};

void tst_ClotCurve::initTestCase()
{
    // Profile::instance() is one per process: its data.db connection stays on this folder.
    m_oldDir = QDir::currentPath();
    m_dir.reset(new QTemporaryDir);
    QVERIFY(m_dir->isValid());
    QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(TestDatabase::build("profile.db", fixtures + "/profile.sql"));
    QVERIFY(TestDatabase::build("data.db", fixtures + "/data_v4.sql"));
    QVERIFY(TestDatabase::build("qc.db", fixtures + "/other.sql"));
    QVERIFY(TestDatabase::build("syslog.db", fixtures + "/other.sql"));
    ModalBoxCatcher boxes;
    Profile::instance();
    QCOMPARE(boxes.texts(), QStringList());
}

void tst_ClotCurve::cleanupTestCase()
{
    QDir::setCurrent(m_oldDir);
}

void tst_ClotCurve::init()
{
    execOnData("delete from curve");
}

void tst_ClotCurve::defaults()
{
    const ClotCurve curve;
    QCOMPARE(curve.type(), ClotCurve::Intensity);
    QVERIFY(curve.isEmpty());
    QCOMPARE(curve.size(), 0);

    ClotCurve onlyEmptySegment;
    onlyEmptySegment.append(Segment());
    QVERIFY(!onlyEmptySegment.isEmpty());
    QCOMPARE(onlyEmptySegment.size(), 0);
}

void tst_ClotCurve::pointNumbering_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<double>("x");
    QTest::addColumn<double>("y");

    QTest::newRow("first point") << 0 << 0.0 << 100.0;
    QTest::newRow("last of first segment") << 9 << 0.9 << 109.0;
    QTest::newRow("first of second segment") << 10 << 5.0 << 200.0;
    QTest::newRow("inside second segment") << 12 << 5.4 << 202.0;
    QTest::newRow("last point") << 19 << 6.8 << 209.0;
    QTest::newRow("at size") << 20 << 0.0 << 0.0;
    QTest::newRow("far beyond") << 1000 << 0.0 << 0.0;
    QTest::newRow("negative") << -1 << 0.0 << 0.0;
}

void tst_ClotCurve::pointNumbering()
{
    QFETCH(int, index);
    QFETCH(double, x);
    QFETCH(double, y);
    ClotCurve curve;
    QVector<double> first, second;
    for (int i = 0; i < 10; ++i) {
        first << 100.0 + i;
        second << 200.0 + i;
    }
    curve.append(0.0, 0.1, first);
    curve.append(Segment {5.0, 0.2, second});
    QCOMPARE(curve.size(), 20);
    QVERIFY(qAbs(curve.x(index) - x) < 1e-12);
    QCOMPARE(curve.y(index), y);
}

void tst_ClotCurve::remove_data()
{
    QTest::addColumn<QVector<int>>("sizes");
    QTest::addColumn<int>("pos");
    QTest::addColumn<int>("count");
    QTest::addColumn<QVector<int>>("expectedSizes");
    QTest::addColumn<double>("firstY"); // y of point 0 afterwards

    QTest::newRow("across the border")
        << QVector<int> {10, 10} << 5 << 10 << QVector<int> {5, 5} << 0.0;
    QTest::newRow("whole first segment")
        << QVector<int> {10, 10} << 0 << 10 << QVector<int> {10} << 10.0;
    QTest::newRow("over three segments")
        << QVector<int> {3, 2, 4} << 1 << 6 << QVector<int> {1, 2} << 0.0;
    QTest::newRow("everything") << QVector<int> {3, 2} << 0 << 5 << QVector<int> {} << 0.0;
    QTest::newRow("more than there is")
        << QVector<int> {3, 2} << 2 << 50 << QVector<int> {2} << 0.0;
    QTest::newRow("count 0") << QVector<int> {3, 2} << 1 << 0 << QVector<int> {3, 2} << 0.0;
    QTest::newRow("pos at size") << QVector<int> {3, 2} << 5 << 3 << QVector<int> {3, 2} << 0.0;
    QTest::newRow("pos beyond size") << QVector<int> {3, 2} << 9 << 3 << QVector<int> {3, 2} << 0.0;
    QTest::newRow("negative count") << QVector<int> {3, 2} << 0 << -2 << QVector<int> {3, 2} << 0.0;
}

void tst_ClotCurve::remove()
{
    QFETCH(QVector<int>, sizes);
    QFETCH(int, pos);
    QFETCH(int, count);
    QFETCH(QVector<int>, expectedSizes);
    QFETCH(double, firstY);

    ClotCurve curve = curveOfSizes(sizes);
    const ClotCurve before = curve;
    curve.remove(pos, count);
    QCOMPARE(segmentSizes(curve), expectedSizes);
    QCOMPARE(curve.y(0), firstY);
    QCOMPARE(curve.isEmpty(), expectedSizes.isEmpty());

    // The remaining points keep their order as one sequence.
    QVector<double> expected;
    for (int i = 0; i < before.size(); ++i) {
        if (i < pos || count <= 0 || i >= pos + count)
            expected << before.y(i);
    }
    QVector<double> actual;
    for (int i = 0; i < curve.size(); ++i)
        actual << curve.y(i);
    QCOMPARE(actual, expected);
    QCOMPARE(segmentSizes(before), sizes);
}

void tst_ClotCurve::copiesAreValues()
{
    ClotCurve a = curveOfSizes({4, 4});
    ClotCurve b = a;
    b.remove(0, 5);
    b.setType(ClotCurve::OpticalDensity);
    QCOMPARE(segmentSizes(a), (QVector<int> {4, 4}));
    QCOMPARE(a.type(), ClotCurve::Intensity);
    QVERIFY(a != b);
    QCOMPARE(a.simplified(), a);
    QCOMPARE(segmentSizes(a.simplified()), (QVector<int> {4, 4}));
}

void tst_ClotCurve::toOpticalDensityByHand()
{
    // x0 0, dx 0.1: the window is points 30..39 (x 3.0 to 3.9), zeros up to point 34.
    QVector<double> y(100, 7.0);
    for (int i = 30; i < 40; ++i)
        y[i] = 500.0 + 100.0 * (i - 30); // mean 950
    for (int k = 0; k < 60; ++k)
        y[40 + k] = 950.0 / std::pow(10.0, k / 10.0); // density k / 10
    ClotCurve curve;
    curve.append(0.0, 0.1, y);
    curve.append(20.0, 1.0, {1.0, 2.0});

    const ClotCurve od = curve.toType(ClotCurve::OpticalDensity);
    QCOMPARE(od.type(), ClotCurve::OpticalDensity);
    QCOMPARE(curve.type(), ClotCurve::Intensity);
    QCOMPARE(curve.y(35), 1000.0);
    QCOMPARE(od.size(), 102);
    for (int i = 0; i < 35; ++i)
        QCOMPARE(od.y(i), 0.0);
    QVERIFY(qAbs(od.y(35) - -0.022276394711152253) < 1e-12); // log10(950 / 1000)
    QVERIFY(qAbs(od.y(39) - -0.16840443038939024) < 1e-12);  // log10(950 / 1400)
    QVERIFY(qAbs(od.y(40)) < 1e-12);
    QVERIFY(qAbs(od.y(45) - 0.5) < 1e-12);
    QVERIFY(qAbs(od.y(89) - 4.9) < 1e-12);
    QCOMPARE(od.y(91), 5.0); // 5.1 capped
    QCOMPARE(od.y(99), 5.0); // 5.9 capped
    // Later segments are carried over.
    QCOMPARE(od.y(100), 1.0);
    QCOMPARE(od.y(101), 2.0);
    QCOMPARE(od.x(99), curve.x(99));
}

void tst_ClotCurve::toType_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("target");
    QTest::addColumn<double>("x0");
    QTest::addColumn<double>("dx");
    QTest::addColumn<QVector<double>>("y");
    QTest::addColumn<int>("expectedType");
    QTest::addColumn<QVector<double>>("expected");

    const QVector<double> ramp {10.0, 100.0, 1.0, 50.0};
    const QVector<double> zeros(4, 0.0);
    const int I = ClotCurve::Intensity;
    const int OD = ClotCurve::OpticalDensity;

    QTest::newRow("density to intensity is unchanged")
        << OD << I << 0.0 << 0.1 << ramp << OD << ramp;
    QTest::newRow("same kind is a copy") << I << I << 0.0 << 0.1 << ramp << I << ramp;
    QTest::newRow("unknown kind stays") << 7 << OD << 0.0 << 0.1 << ramp << 7 << ramp;
    QTest::newRow("fewer points than the window start")
        << I << OD << 0.0 << 0.1 << QVector<double>(20, 3.0) << OD << QVector<double>(20, 0.0);
    // Starting after x = 3.0: window from the first point; x0 5, dx 0.5 gives two points.
    QTest::newRow("starts late") << I << OD << 5.0 << 0.5 << QVector<double> {100.0, 300.0, 2.0}
                                 << OD << QVector<double> {0.0, std::log10(200.0 / 300.0), 2.0};
    // Zero and negative readings count as epsilon: far above the cap for any sane baseline.
    QTest::newRow("epsilon") << I << OD << 3.0 << 1.0 << QVector<double> {1e-9, 0.0, -3.0, 1e-9}
                             << OD << QVector<double> {0.0, 5.0, 5.0, 0.0};
    QTest::newRow("reading above baseline")
        << I << OD << 3.0 << 1.0 << QVector<double> {10.0, 100.0} << OD
        << QVector<double> {0.0, -1.0};
    // Damaged steps: no window can be placed, every value reads 0.0.
    QTest::newRow("dx 0") << I << OD << 0.0 << 0.0 << ramp << OD << zeros;
    QTest::newRow("dx 0 after 3.0") << I << OD << 4.0 << 0.0 << ramp << OD << zeros;
    QTest::newRow("dx NaN") << I << OD << 0.0 << notANumber << ramp << OD << zeros;
    QTest::newRow("x0 NaN") << I << OD << notANumber << 0.1 << ramp << OD << zeros;
    QTest::newRow("x0 infinite") << I << OD << infinity << 0.1 << ramp << OD << zeros;
    QTest::newRow("x0 minus infinite") << I << OD << -infinity << 0.1 << ramp << OD << zeros;
    QTest::newRow("tiny dx") << I << OD << 0.0 << 1e-300 << ramp << OD << zeros;
    // An infinite or negative step puts the window (one point) at the start.
    QTest::newRow("dx infinite") << I << OD << 2.0 << infinity << ramp << OD
                                 << QVector<double> {0.0, -1.0, 1.0, std::log10(0.2)};
    QTest::newRow("negative dx") << I << OD << 0.0 << -0.1 << ramp << OD
                                 << QVector<double> {0.0, -1.0, 1.0, std::log10(10.0 / 50.0)};
    QTest::newRow("tiny negative dx") << I << OD << 0.0 << -1e-300 << ramp << OD
                                      << QVector<double> {0.0, -1.0, 1.0, std::log10(0.2)};
}

void tst_ClotCurve::toType()
{
    QFETCH(int, type);
    QFETCH(int, target);
    QFETCH(double, x0);
    QFETCH(double, dx);
    QFETCH(QVector<double>, y);
    QFETCH(int, expectedType);
    QFETCH(QVector<double>, expected);

    ClotCurve curve;
    curve.setType(ClotCurve::PointType(type));
    curve.append(x0, dx, y);
    const ClotCurve result = curve.toType(ClotCurve::PointType(target));
    QCOMPARE(int(result.type()), expectedType);
    QCOMPARE(result.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i)
        QVERIFY2(qAbs(result.y(i) - expected.at(i)) < 1e-12,
                 qPrintable(QString("point %1: %2").arg(i).arg(result.y(i))));
    QCOMPARE(curve.segments().first().y, y);
}

void tst_ClotCurve::blobOfExample()
{
    QCOMPARE(exampleBlob.size(), 44);
    exampleCurve().save(7, QStringLiteral("PT"), 2);
    const QList<QVariantList> rows = curveRows();
    QCOMPARE(rows.size(), 1);
    QCOMPARE(rows[0].mid(0, 6), (QVariantList {7, "integer", "PT", 2, "integer", "blob"}));
    QCOMPARE(rows[0][6].toByteArray().toHex(), exampleBlob.toHex());
    QCOMPARE(ClotCurve::fromBuffer(exampleBlob), exampleCurve());
}

void tst_ClotCurve::saveRoundTrip_data()
{
    QTest::addColumn<ClotCurve>("curve");

    ClotCurve several;
    several.setType(ClotCurve::OpticalDensity);
    several.append(0.0, 0.1, {0.0, -0.0, 1e-310, -2.5, 1e300});
    several.append(Segment {12.5, 0.25, {}});
    several.append(-3.0, -1.0, {std::numeric_limits<double>::max(), 42.0, infinity, -infinity});
    QTest::newRow("several segments") << several;
    QTest::newRow("one segment") << exampleCurve();
    ClotCurve emptySegment;
    emptySegment.append(Segment());
    QTest::newRow("only an empty segment") << emptySegment;
    QTest::newRow("long") << curveOfSizes({3000, 1, 2000});
}

void tst_ClotCurve::saveRoundTrip()
{
    QFETCH(ClotCurve, curve);
    curve.save(1, QStringLiteral("APTT"), 1);
    const QList<QVariantList> rows = curveRows();
    QCOMPARE(rows.size(), 1);
    const QByteArray blob = rows[0][6].toByteArray();
    qint64 expectedSize = 8;
    for (const Segment &segment : curve.segments())
        expectedSize += 20 + 8 * segment.y.size();
    QCOMPARE(blob.size(), expectedSize);
    const ClotCurve back = ClotCurve::fromBuffer(blob);
    QCOMPARE(back, curve);
    // Bit for bit, so -0.0 stays negative.
    QCOMPARE(std::signbit(back.y(1)), std::signbit(curve.y(1)));
}

void tst_ClotCurve::emptyCurveWritesNoRow()
{
    ClotCurve().save(1, QStringLiteral("PT"), 1);
    ClotCurve emptied = exampleCurve();
    emptied.remove(0, 2);
    QVERIFY(emptied.isEmpty());
    emptied.save(1, QStringLiteral("PT"), 1);
    QCOMPARE(curveRows().size(), 0);
}

void tst_ClotCurve::oversizedCurveStoresNothing_data()
{
    QTest::addColumn<int>("segments");
    QTest::addColumn<int>("points");

    // Segments of 2^24 points: a blob of 2^27 + 20 bytes each.
    QTest::newRow("blob size negative as int") << 17 << 17 * (1 << 24);
    QTest::newRow("blob size wraps to 128 MiB") << 33 << 33 * (1 << 24);
    QTest::newRow("point count past int") << 128 << std::numeric_limits<int>::max();
}

void tst_ClotCurve::oversizedCurveStoresNothing()
{
    QFETCH(int, segments);
    QFETCH(int, points);
    // One vector of 128 MiB shared by every segment.
    const Segment segment {0.0, 1.0, QVector<double>(1 << 24, 1.0)};
    ClotCurve curve;
    curve.setSegments(QVector<Segment>(segments, segment));
    QCOMPARE(curve.size(), points);

    capturedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureWarning);
    const QByteArray blob = curve.toBuffer();
    curve.save(1, QStringLiteral("PT"), 1);
    qInstallMessageHandler(previous);
    QVERIFY(blob.isEmpty());
    QCOMPARE(curveRows().size(), 0);
    QCOMPARE(capturedWarnings.size(), 2);
    QVERIFY2(capturedWarnings.first().contains("cannot be stored"),
             qPrintable(capturedWarnings.first()));
}

void tst_ClotCurve::saveFailuresAreLogged_data()
{
    QTest::addColumn<QString>("breakIt");
    QTest::addColumn<QString>("repairIt");
    QTest::addColumn<int>("warnings");
    QTest::addColumn<QString>("cause");

    // Prepare fails, and the insert that still runs fails as well.
    QTest::newRow("missing table")
        << "alter table curve rename to curve_elsewhere"
        << "alter table curve_elsewhere rename to curve" << 2 << "no such table: curve";
    QTest::newRow("insert refused")
        << "create trigger refuse before insert on curve begin select raise(abort, 'curve "
           "refused'); end"
        << "drop trigger refuse" << 1 << "curve refused";
}

void tst_ClotCurve::saveFailuresAreLogged()
{
    QFETCH(QString, breakIt);
    QFETCH(QString, repairIt);
    QFETCH(int, warnings);
    QFETCH(QString, cause);

    execOnData(breakIt);
    capturedWarnings.clear();
    const QtMessageHandler previous = qInstallMessageHandler(captureWarning);
    exampleCurve().save(3, QStringLiteral("TT"), 1);
    qInstallMessageHandler(previous);
    execOnData(repairIt);

    QCOMPARE(capturedWarnings.size(), warnings);
    QSet<QString> tags;
    const QRegularExpression tag("^(analysisresult\\.cpp:\\d+): \\S");
    for (const QString &message : qAsConst(capturedWarnings)) {
        const QRegularExpressionMatch match = tag.match(message);
        QVERIFY2(match.hasMatch(), qPrintable(message));
        tags << match.captured(1);
    }
    // The first names the cause; an insert run after a failed prepare reports its own error.
    QVERIFY2(capturedWarnings.first().contains(cause), qPrintable(capturedWarnings.first()));
    QCOMPARE(tags.size(), warnings); // one per failing statement, each with its own line
    QCOMPARE(curveRows().size(), 0);
}

void tst_ClotCurve::fromBuffer_data()
{
    QTest::addColumn<QByteArray>("blob");
    QTest::addColumn<ClotCurve>("expected");

    ClotCurve density;
    density.setType(ClotCurve::OpticalDensity);

    QTest::newRow("empty") << QByteArray() << ClotCurve();
    QTest::newRow("type only") << QByteArray::fromHex("00000001") << density;
    QTest::newRow("half a type") << QByteArray::fromHex("0000") << ClotCurve();
    QTest::newRow("segments claimed, none present")
        << QByteArray::fromHex("0000000000000002") << ClotCurve();

    ClotCurve oneValue;
    oneValue.append(0.0, 0.5, {1.0});
    QTest::newRow("last value missing") << exampleBlob.left(36) << oneValue;
    ClotCurve partialValue;
    partialValue.append(0.0, 0.5, {1.0, 0.0});
    QTest::newRow("last value cut") << exampleBlob.left(40) << partialValue;
    ClotCurve noValues;
    noValues.append(0.0, 0.5, {});
    QTest::newRow("values missing") << exampleBlob.left(28) << noValues;
    ClotCurve cutHeader;
    cutHeader.append(0.0, 0.0, {});
    QTest::newRow("segment header cut") << exampleBlob.left(20) << cutHeader;

    // The first segment's values leave room for a second header, which reads as zeros.
    ClotCurve second = exampleCurve();
    second.append(Segment());
    QByteArray twoClaimed = exampleBlob;
    twoClaimed[7] = 2;
    QTest::newRow("second segment missing") << twoClaimed << second;

    // Trailing bytes beyond the stated counts are not read.
    QTest::newRow("trailing bytes") << exampleBlob + QByteArray(13, '\x7f') << exampleCurve();

    ClotCurve hugeSegments;
    hugeSegments.append(Segment());
    QTest::newRow("12-byte blob claiming 4294967295 segments")
        << QByteArray::fromHex("00000000FFFFFFFF00000000") << hugeSegments;
    QByteArray hugeValues = exampleBlob;
    hugeValues.replace(24, 4, QByteArray::fromHex("FFFFFFFF"));
    QTest::newRow("4294967295 values claimed, two present") << hugeValues << exampleCurve();
}

void tst_ClotCurve::fromBuffer()
{
    QFETCH(QByteArray, blob);
    QFETCH(ClotCurve, expected);
    const ClotCurve curve = ClotCurve::fromBuffer(blob);
    QCOMPARE(curve, expected);
    QCOMPARE(segmentSizes(curve), segmentSizes(expected));
}

void tst_ClotCurve::hugeCountsAllocateLittle_data()
{
    QTest::addColumn<QByteArray>("blob");
    for (const char *count : {"FFFFFFFF", "7FFFFFFF", "10000000", "00100000"}) {
        QTest::addRow("segments %s", count)
            << QByteArray::fromHex(QByteArray("00000000") + count + "00000000");
        QByteArray values = exampleBlob;
        values.replace(24, 4, QByteArray::fromHex(count));
        QTest::addRow("values %s", count) << values;
        QByteArray second = exampleBlob;
        second[7] = 2;
        second.append(QByteArray::fromHex(QByteArray("4000000000000000"  // x0 2.0
                                                     "3FF0000000000000") // dx 1.0
                                          + count));
        QTest::addRow("values %s in second segment", count) << second;
    }
}

void tst_ClotCurve::hugeCountsAllocateLittle()
{
    QFETCH(QByteArray, blob);

#ifdef UNDER_ASAN
    // The address space is the sanitizer's; count what its allocator hands out instead.
    const size_t before = __sanitizer_get_current_allocated_bytes();
    {
        const ClotCurve again = ClotCurve::fromBuffer(blob);
        QVERIFY(__sanitizer_get_current_allocated_bytes() - before < 64 * 1024);
    }
#else
    // Read the blob in a child whose address space has only 64 MiB to spare.
    QFile statm("/proc/self/statm");
    QVERIFY(statm.open(QIODevice::ReadOnly));
    const rlim_t pages = statm.readAll().split(' ').first().toULongLong();
    const rlim_t limit = pages * sysconf(_SC_PAGESIZE) + 64 * 1024 * 1024;
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        const rlimit small {limit, limit};
        if (setrlimit(RLIMIT_AS, &small) != 0)
            _exit(2);
        try {
            const ClotCurve inChild = ClotCurve::fromBuffer(blob);
            _exit(inChild.size() < 0 ? 3 : 0);
        } catch (...) {
            _exit(4);
        }
    }
    int status = 0;
    QCOMPARE(waitpid(child, &status, 0), child);
    QVERIFY2(WIFEXITED(status), "the reader died in a small address space");
    QCOMPARE(WEXITSTATUS(status), 0);
#endif

    // Whatever was claimed, the curve holds no more records than the bytes could begin.
    const ClotCurve curve = ClotCurve::fromBuffer(blob);
    QVERIFY(curve.segments().size() <= blob.size() / 20 + 1);
    QVERIFY(curve.size() <= blob.size() / 8 + 1);
}

QTEST_MAIN(tst_ClotCurve)
#include "tst_clotcurve.moc"
