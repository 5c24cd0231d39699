// Value types of one measurement: the clot curve and the analysis result.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "analysisresult.h"

#include "profile.h"
#include "sqlwarning_p.h"

#include <QCoreApplication>
#include <QDataStream>
#include <QIODevice>
#include <QSqlQuery>

#include <cmath>
#include <iterator>

namespace {

// The baseline window of the optical-density conversion: one unit of x from x = 3.0.
const double BaselineStart = 3.0;
const double DensityCap = 5.0;
// Keeps log10 finite for readings of 0 or below.
const double Epsilon = 2.220446049250313e-16;

// Bytes of a segment record before its values, and of one value.
const qint64 SegmentHeaderBytes = 20;
const qint64 ValueBytes = 8;

// Halves go upward: 2.5 -> 3, -2.5 -> -2.
int nearest(double d)
{
    if (d >= 0.0)
        return int(d + 0.5);
    const int k = int(d - 1);
    return k + int(d - k + 0.5);
}

// An index computed from a damaged step (0, negative, NaN) may be infinite or NaN; converting
// that to int is undefined. NaN means there is no window, so it goes past the last point.
double boundedIndex(double index, int count)
{
    if (std::isnan(index) || index > count)
        return count;
    return index < 0.0 ? 0.0 : index;
}

// The blob states its counts and nothing bounds them: a damaged one may claim billions of
// records. Allow only as many records as could begin in the bytes that are left.
int boundedCount(quint32 claimed, qint64 bytesLeft, qint64 recordBytes)
{
    const qint64 possible = (qMax<qint64>(bytesLeft, 0) + recordBytes - 1) / recordBytes;
    return int(qMin<qint64>(claimed, possible));
}

QByteArray toBlob(const ClotCurve &curve)
{
    QByteArray bytes;
    QDataStream out(&bytes, QIODevice::WriteOnly);
    const QVector<ClotCurve::Segment> segments = curve.segments();
    out << qint32(curve.type()) << quint32(segments.size());
    for (const ClotCurve::Segment &segment : segments) {
        out << segment.x0 << segment.dx << quint32(segment.y.size());
        for (double value : segment.y)
            out << value;
    }
    return bytes;
}

} // namespace

void ClotCurve::append(const Segment &segment)
{
    m_segments.append(segment);
}

void ClotCurve::append(double x0, double dx, const QVector<double> &y)
{
    m_segments.append(Segment {x0, dx, y});
}

int ClotCurve::size() const
{
    int total = 0;
    for (const Segment &segment : m_segments)
        total += segment.y.size();
    return total;
}

double ClotCurve::x(int i) const
{
    if (i < 0)
        return 0.0;
    for (const Segment &segment : m_segments) {
        if (i < segment.y.size())
            return segment.x0 + i * segment.dx;
        i -= segment.y.size();
    }
    return 0.0;
}

double ClotCurve::y(int i) const
{
    if (i < 0)
        return 0.0;
    for (const Segment &segment : m_segments) {
        if (i < segment.y.size())
            return segment.y.at(i);
        i -= segment.y.size();
    }
    return 0.0;
}

void ClotCurve::remove(int pos, int count)
{
    if (pos < 0 || count <= 0)
        return;
    int s = 0;
    while (s < m_segments.size() && count != 0) {
        QVector<double> &values = m_segments[s].y;
        const int n = values.size();
        if (pos < n) {
            const int m = qMin(count, n - pos);
            values.remove(pos, m);
            count -= m;
            if (values.isEmpty()) {
                // The next segment moves up to index s; pos is 0 here.
                m_segments.remove(s);
                continue;
            }
        }
        pos -= values.size();
        ++s;
    }
}

ClotCurve ClotCurve::simplified() const
{
    return *this;
}

ClotCurve ClotCurve::toType(PointType target) const
{
    if (target == m_type || target != OpticalDensity || m_type != Intensity)
        return *this;

    ClotCurve c = simplified();
    c.m_type = OpticalDensity;
    if (c.m_segments.isEmpty())
        return c;

    // Only the first segment holds the baseline window; the others are carried over.
    Segment &first = c.m_segments[0];
    QVector<double> &y = first.y;
    const int count = y.size();
    const double t = qMax(first.x0, BaselineStart);
    const int start = nearest(boundedIndex((t - first.x0) / first.dx, count));
    const int perUnit = nearest(boundedIndex(1.0 / first.dx, count));
    const int n = qMin(count - start, qMax(1, perUnit));
    if (n <= 0) {
        y.fill(0.0);
        return c;
    }

    double sum = 0.0;
    for (int i = start; i < start + n; ++i)
        sum += y.at(i);
    const double base = sum / n;

    // Points before the middle of the window read 0.0.
    const int firstConverted = start + n / 2;
    double *values = y.data();
    for (int i = 0; i < firstConverted; ++i)
        values[i] = 0.0;
    for (int j = firstConverted; j < count; ++j)
        values[j] = qMin(DensityCap, std::log10(base / qMax(values[j], Epsilon)));
    return c;
}

QByteArray ClotCurve::toBuffer() const
{
    return toBlob(*this);
}

ClotCurve ClotCurve::fromBuffer(const QByteArray &bytes)
{
    // A field beyond the end reads as 0; the sizes read so far stand.
    QDataStream in(bytes);
    const QIODevice *device = in.device();

    qint32 type = 0;
    quint32 segmentCount = 0;
    in >> type >> segmentCount;

    ClotCurve curve;
    curve.m_type = PointType(type);
    curve.m_segments.resize(
        boundedCount(segmentCount, device->bytesAvailable(), SegmentHeaderBytes));
    for (Segment &segment : curve.m_segments) {
        quint32 valueCount = 0;
        in >> segment.x0 >> segment.dx >> valueCount;
        segment.y.resize(boundedCount(valueCount, device->bytesAvailable(), ValueBytes));
        for (double &value : segment.y)
            in >> value;
    }
    return curve;
}

void ClotCurve::save(int patientId, const QString &item, int version) const
{
    if (isEmpty())
        return;

    QSqlQuery query(Profile::instance().dataDatabase());
    // On a failed prepare the insert is still tried, so its own failure is logged as well.
    if (!query.prepare(QStringLiteral("insert into curve (patientId, item, version, curve) "
                                      "values(:patientId, :item, :version, :curve)")))
        CORE_SQL_WARNING(query);
    query.bindValue(QStringLiteral(":patientId"), patientId);
    query.bindValue(QStringLiteral(":item"), item);
    query.bindValue(QStringLiteral(":version"), version);
    query.bindValue(QStringLiteral(":curve"), toBuffer());
    if (!query.exec())
        CORE_SQL_WARNING(query);
}

namespace {

const double NullLimit = 1.1920928955078125e-07; // 2^-23
const double NotClottedWindow = 0.001;

bool isNotClottedValue(double value)
{
    return std::fabs(value - AnalysisResult::notClottedValue) < NotClottedWindow;
}

// Indexed by AnalysisResult::ErrorCode; no text for a valid or a not-clotted result.
const char *const BuiltInErrorTexts[] = {
    nullptr,
    QT_TRANSLATE_NOOP("QObject", "无效的值"),
    QT_TRANSLATE_NOOP("QObject", "未知错误"),
    QT_TRANSLATE_NOOP("QObject", "结果为空"),
    QT_TRANSLATE_NOOP("QObject", "无标准曲线"),
    QT_TRANSLATE_NOOP("QObject", "标准曲线无效"),
    QT_TRANSLATE_NOOP("QObject", "标准曲线设置错误"),
    QT_TRANSLATE_NOOP("QObject", "无效的计算方法"),
    QT_TRANSLATE_NOOP("QObject", "计算所需的参数不存在"),
    nullptr,
};
static_assert(std::size(BuiltInErrorTexts) == AnalysisResult::NotClotted + 1,
              "one text per error code");

} // namespace

// Its count starts at 1 and so never drops to 0: the record is never freed or written.
AnalysisResult::Data AnalysisResult::shared_null(1);

AnalysisResult::AnalysisResult()
    : d(&shared_null)
{
}

AnalysisResult::AnalysisResult(double value)
    : d(new Data)
{
    setValue(value);
}

AnalysisResult::AnalysisResult(ErrorCode error)
    : d(new Data)
{
    d->value = nullValue;
    d->error = error;
}

AnalysisResult::AnalysisResult(const AnalysisResult &other) = default;
AnalysisResult &AnalysisResult::operator=(const AnalysisResult &other) = default;
AnalysisResult::~AnalysisResult() = default;

void AnalysisResult::setValue(double value)
{
    d.detach();
    d->value = value;
    if (!std::isfinite(value))
        d->error = InvalidValue; // NaN or infinity is no result, though it fails both tests
    else if (std::fabs(value) < NullLimit)
        d->error = NullResult;
    else if (isNotClottedValue(value))
        d->error = NotClotted;
    else
        d->error = NoError;
}

void AnalysisResult::setOD(double od)
{
    d.detach();
    d->od = od;
}

void AnalysisResult::setCurve(const ClotCurve &curve)
{
    d.detach();
    d->curve = curve;
}

void AnalysisResult::setId(int id)
{
    d.detach();
    d->id = id;
}

void AnalysisResult::setRecordId(int recordId)
{
    d.detach();
    d->recordId = recordId;
}

void AnalysisResult::setVersion(int version)
{
    d.detach();
    d->version = version;
}

void AnalysisResult::setCh(int ch)
{
    d.detach();
    d->ch = ch;
}

void AnalysisResult::setFlags(int flags)
{
    d.detach();
    d->flags = flags;
}

void AnalysisResult::setFlag(ry::ResultFlag flag, bool on)
{
    d.detach();
    if (on)
        d->flags |= flag;
    else
        d->flags &= ~flag;
}

void AnalysisResult::setManualTest(bool on)
{
    setFlag(ry::ManualTest, on);
}

void AnalysisResult::setError(ErrorCode error)
{
    d.detach();
    d->error = error;
    d->errorText.clear();
}

void AnalysisResult::setErrorText(const QString &text)
{
    d.detach();
    d->errorText = text;
    d->error = UnknownError;
}

void AnalysisResult::clearErrorText()
{
    d.detach();
    d->errorText.clear();
}

QString AnalysisResult::errorText() const
{
    if (!d->errorText.isEmpty())
        return d->errorText;
    const int code = d->error;
    if (code >= 0 && code < int(std::size(BuiltInErrorTexts)) && BuiltInErrorTexts[code])
        return QCoreApplication::translate("QObject", BuiltInErrorTexts[code]);
    return QString();
}

QVariant AnalysisResult::toVariant() const
{
    if (d->error == NoError || d->error == NotClotted)
        return QVariant(d->value);
    return QVariant();
}

QString AnalysisResult::toString(Format format, char numberFormat, int precision) const
{
    if (precision < 0) {
        numberFormat = 'g';
        precision = 6;
    }
    if (d->error == NoError) {
        const bool withFlags = format == WithFlags;
        QString text;
        if (withFlags) {
            text = prefix();
            if (!text.isEmpty())
                text += QLatin1Char(' ');
        }
        text += QString::number(d->value, numberFormat, precision);
        if (withFlags) {
            const QString mark = suffix();
            if (!mark.isEmpty())
                text += QLatin1Char(' ') + mark;
        }
        return text;
    }
    if (d->error == NotClotted || isNotClottedValue(d->value))
        return Profile::instance().result_not_clotted(Profile::tr("不凝"));
    if (d->error == NullResult)
        return QString();
    return Profile::instance().result_can_not_be_calculated(Profile::tr("---.-"));
}

QString AnalysisResult::prefix() const
{
    Profile &profile = Profile::instance();
    QString text;
    if (testFlag(ry::ManualInput))
        text += profile.manual_input_flag(Profile::tr("M"));
    if (testFlag(ry::Diluted))
        text += profile.dilution_result_flag(Profile::tr("!"));
    if (testFlag(ry::BelowReportLimit))
        text += profile.lower_report_limit_flag(Profile::tr("<"));
    else if (testFlag(ry::AboveReportLimit))
        text += profile.upper_report_limit_flag(Profile::tr(">"));
    return text;
}

QString AnalysisResult::suffix() const
{
    Profile &profile = Profile::instance();
    if (testFlag(ry::BelowMarkLimit))
        return profile.lower_mark_limit_flag(Profile::tr("↓"));
    if (testFlag(ry::AboveMarkLimit))
        return profile.upper_mark_limit_flag(Profile::tr("↑"));
    return QString();
}
