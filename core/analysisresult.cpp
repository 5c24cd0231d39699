// Value types of one measurement: the clot curve and the analysis result.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "analysisresult.h"

#include "logging_p.h"
#include "numberformat_p.h"
#include "profile.h"
#include "sqlwarning_p.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QtEndian>

#include <cmath>
#include <iterator>
#include <limits>

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

// The largest QByteArray: its int size less the allocation's header and terminator.
const qint64 MaxBlobBytes = std::numeric_limits<int>::max() - 64;

qint64 blobSize(const QVector<ClotCurve::Segment> &segments)
{
    qint64 size = 8;
    for (const ClotCurve::Segment &segment : segments)
        size += SegmentHeaderBytes + ValueBytes * segment.y.size();
    return size;
}

// The layout QDataStream gives (big-endian, doubles as 8 bytes), written into one buffer sized
// up front: a stream call per value costs tens of times the byte swap itself.
QByteArray toBlob(const ClotCurve &curve)
{
    const QVector<ClotCurve::Segment> segments = curve.segments();
    const qint64 size = blobSize(segments);
    if (size > MaxBlobBytes) {
        qCWarning(lcResult, "ClotCurve::toBuffer: a curve of %lld bytes cannot be stored", size);
        return QByteArray();
    }

    QByteArray bytes(int(size), Qt::Uninitialized);
    uchar *out = reinterpret_cast<uchar *>(bytes.data());
    qToBigEndian<qint32>(curve.type(), out);
    qToBigEndian<quint32>(quint32(segments.size()), out + 4);
    out += 8;
    for (const ClotCurve::Segment &segment : segments) {
        qToBigEndian<double>(segment.x0, out);
        qToBigEndian<double>(segment.dx, out + 8);
        qToBigEndian<quint32>(quint32(segment.y.size()), out + 16);
        out += SegmentHeaderBytes;
        for (double value : segment.y) {
            qToBigEndian<double>(value, out);
            out += ValueBytes;
        }
    }
    return bytes;
}

// Reads fields as QDataStream would: a field that does not fit in the bytes left reads as 0 and
// uses them up, so every later field reads as 0 too.
class BlobReader
{
public:
    explicit BlobReader(const QByteArray &bytes)
        : m_next(reinterpret_cast<const uchar *>(bytes.constData()))
        , m_end(m_next + bytes.size())
    {
    }

    qint64 bytesLeft() const { return m_end - m_next; }

    template<typename T>
    T read()
    {
        if (bytesLeft() < qint64(sizeof(T))) {
            m_next = m_end;
            return T(0);
        }
        const T value = qFromBigEndian<T>(m_next);
        m_next += sizeof(T);
        return value;
    }

    // Fills \a values, already zeroed, from as many whole doubles as are left.
    void readValues(QVector<double> &values)
    {
        const int whole = int(qMin<qint64>(values.size(), bytesLeft() / ValueBytes));
        double *out = values.data();
        for (int i = 0; i < whole; ++i)
            out[i] = qFromBigEndian<double>(m_next + i * ValueBytes);
        m_next += whole * ValueBytes;
        if (whole < values.size())
            m_next = m_end;
    }

private:
    const uchar *m_next;
    const uchar *m_end;
};

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
    // Segments may together hold more points than an int counts; the count stops at its maximum.
    qint64 total = 0;
    for (const Segment &segment : m_segments)
        total += segment.y.size();
    return int(qMin<qint64>(total, std::numeric_limits<int>::max()));
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
    BlobReader in(bytes);
    const qint32 type = in.read<qint32>();
    const quint32 segmentCount = in.read<quint32>();

    ClotCurve curve;
    curve.m_type = PointType(type);
    curve.m_segments.resize(boundedCount(segmentCount, in.bytesLeft(), SegmentHeaderBytes));
    for (Segment &segment : curve.m_segments) {
        segment.x0 = in.read<double>();
        segment.dx = in.read<double>();
        const quint32 valueCount = in.read<quint32>();
        segment.y.resize(boundedCount(valueCount, in.bytesLeft(), ValueBytes));
        in.readValues(segment.y);
    }
    return curve;
}

void ClotCurve::save(int patientId, const QString &item, int version) const
{
    if (isEmpty())
        return;
    const QByteArray blob = toBuffer();
    if (blob.isEmpty()) // too large to store; toBuffer() said so
        return;

    QSqlQuery query(Profile::instance().dataDatabase());
    // On a failed prepare the insert is still tried, so its own failure is logged as well.
    if (!query.prepare(QStringLiteral("insert into curve (patientId, item, version, curve) "
                                      "values(:patientId, :item, :version, :curve)")))
        CORE_SQL_WARNING(lcResult, query);
    query.bindValue(QStringLiteral(":patientId"), patientId);
    query.bindValue(QStringLiteral(":item"), item);
    query.bindValue(QStringLiteral(":version"), version);
    query.bindValue(QStringLiteral(":curve"), blob);
    if (!query.exec())
        CORE_SQL_WARNING(lcResult, query);
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

namespace {

// A named setting reads its default only on its first read, yet the argument would be translated
// on every formatted result. Each default is translated once, on its first use, which is also
// the first read of its setting through the one store: the same text as translating every time.
#define TRANSLATED_ONCE(source) \
    []() -> const QString & { \
        static const QString text = QCoreApplication::translate("Profile", source); \
        return text; \
    }()

// At most three marks go before a value; collected first so the text is allocated once.
// The marks are the store's caches, which live as long as the store.
struct PrefixMarks
{
    const QString *marks[3] = {};
    int count = 0;
    int length = 0;

    void add(const QString &mark)
    {
        marks[count++] = &mark;
        length += mark.size();
    }

    void appendTo(QString &text) const
    {
        for (int i = 0; i < count; ++i)
            text += *marks[i];
    }
};

PrefixMarks prefixMarks(int flags)
{
    Profile &profile = Profile::instance();
    PrefixMarks prefix;
    if (flags & ry::ManualInput)
        prefix.add(profile.manual_input_flag(TRANSLATED_ONCE(QT_TRANSLATE_NOOP("Profile", "M"))));
    if (flags & ry::Diluted)
        prefix.add(
            profile.dilution_result_flag(TRANSLATED_ONCE(QT_TRANSLATE_NOOP("Profile", "!"))));
    if (flags & ry::BelowReportLimit)
        prefix.add(
            profile.lower_report_limit_flag(TRANSLATED_ONCE(QT_TRANSLATE_NOOP("Profile", "<"))));
    else if (flags & ry::AboveReportLimit)
        prefix.add(
            profile.upper_report_limit_flag(TRANSLATED_ONCE(QT_TRANSLATE_NOOP("Profile", ">"))));
    return prefix;
}

const QString &suffixMark(int flags)
{
    static const QString none;
    Profile &profile = Profile::instance();
    if (flags & ry::BelowMarkLimit)
        return profile.lower_mark_limit_flag(TRANSLATED_ONCE(QT_TRANSLATE_NOOP("Profile", "↓")));
    if (flags & ry::AboveMarkLimit)
        return profile.upper_mark_limit_flag(TRANSLATED_ONCE(QT_TRANSLATE_NOOP("Profile", "↑")));
    return none;
}

} // namespace

QString AnalysisResult::toString(Format format, char numberFormat, int precision) const
{
    if (precision < 0) {
        numberFormat = 'g';
        precision = 6;
    }
    if (d->error == NoError) {
        const QString number
            = QString::number(d->value, numberFormat,
                              CorePrivate::boundedPrecision(d->value, numberFormat, precision));
        if (format != WithFlags)
            return number;
        const PrefixMarks prefix = prefixMarks(d->flags);
        const QString &suffix = suffixMark(d->flags);
        QString text;
        text.reserve(prefix.length + 1 + number.size() + 1 + suffix.size());
        prefix.appendTo(text);
        if (!text.isEmpty())
            text += QLatin1Char(' ');
        text += number;
        if (!suffix.isEmpty()) {
            text += QLatin1Char(' ');
            text += suffix;
        }
        return text;
    }
    if (d->error == NotClotted || isNotClottedValue(d->value))
        return Profile::instance().result_not_clotted(
            TRANSLATED_ONCE(QT_TRANSLATE_NOOP("Profile", "不凝")));
    if (d->error == NullResult)
        return QString();
    return Profile::instance().result_can_not_be_calculated(
        TRANSLATED_ONCE(QT_TRANSLATE_NOOP("Profile", "---.-")));
}

QString AnalysisResult::prefix() const
{
    const PrefixMarks prefix = prefixMarks(d->flags);
    QString text;
    text.reserve(prefix.length);
    prefix.appendTo(text);
    return text;
}

QString AnalysisResult::suffix() const
{
    return suffixMark(d->flags);
}
