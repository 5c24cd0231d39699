// Value types of one measurement: the clot curve and the analysis result.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef ANALYSISRESULT_H
#define ANALYSISRESULT_H

#include "core_global.h"
#include "ryenums.h"

#include <QByteArray>
#include <QMetaType>
#include <QSharedData>
#include <QString>
#include <QVariant>
#include <QVector>

/*!
    \brief The optical signal of one measurement: segments of equally spaced points.

    Points are numbered across all segments, segment after segment. The curve is stored in
    table `curve` of data.db as a big-endian blob in the layout QDataStream writes.
*/
class CORE_EXPORT ClotCurve
{
public:
    // A fixed underlying type: a blob may carry any 32-bit value here.
    enum PointType : int {
        Intensity = 0,
        OpticalDensity = 1, //!< log10(baseline / intensity), capped at 5.0
    };

    struct Segment
    {
        double x0 = 0.0;   //!< x of the first point
        double dx = 0.0;   //!< step between consecutive points
        QVector<double> y; //!< point k lies at x0 + k * dx

        bool operator==(const Segment &other) const
        {
            return x0 == other.x0 && dx == other.dx && y == other.y;
        }
        bool operator!=(const Segment &other) const { return !(*this == other); }
    };

    ClotCurve() = default;

    PointType type() const { return m_type; }
    /*! \brief Sets the kind of the values only; the values are not converted. */
    void setType(PointType type) { m_type = type; }

    QVector<Segment> segments() const { return m_segments; }
    void setSegments(const QVector<Segment> &segments) { m_segments = segments; }
    void append(const Segment &segment);
    void append(double x0, double dx, const QVector<double> &y);

    /*! \brief Number of points over all segments, at most the int maximum. */
    int size() const;
    /*! \brief x of global point \a i; 0.0 outside the curve. */
    double x(int i) const;
    /*! \brief y of global point \a i; 0.0 outside the curve. */
    double y(int i) const;
    /*! \brief Removes \a count points from global index \a pos on, across segment borders;
        segments left without points disappear. */
    void remove(int pos, int count);
    /*! \brief True when the curve has no segments (a segment without points counts). */
    bool isEmpty() const { return m_segments.isEmpty(); }
    ClotCurve simplified() const;
    /*! \brief The curve converted to \a target; only Intensity to OpticalDensity converts,
        against the mean intensity of one unit of x from x = 3.0 of the first segment. */
    ClotCurve toType(PointType target) const;

    /*! \brief The blob that save() stores and fromBuffer() reads; empty, with a warning, for a
        curve whose blob would not fit in a QByteArray (2 GiB). */
    QByteArray toBuffer() const;
    /*! \brief The curve read from a blob; a short or damaged blob gives what could be read. */
    static ClotCurve fromBuffer(const QByteArray &bytes);
    /*! \brief Inserts the curve into table `curve` of data.db; failures are logged. An empty
        curve, or one too large for a blob, stores nothing. */
    void save(int patientId, const QString &item, int version) const;

    bool operator==(const ClotCurve &other) const
    {
        return m_type == other.m_type && m_segments == other.m_segments;
    }
    bool operator!=(const ClotCurve &other) const { return !(*this == other); }

private:
    PointType m_type = Intensity;
    QVector<Segment> m_segments;
};

/*!
    \brief One computed result of an assay: value, state, flag marks and the clot curve.

    Implicitly shared; every default-constructed result shares one static null record.
*/
class CORE_EXPORT AnalysisResult
{
public:
    enum ErrorCode : int {
        NoError = 0,
        InvalidValue = 1,
        UnknownError = 2, //!< also the state after setErrorText()
        NullResult = 3,
        NoStandardCurve = 4,
        InvalidStandardCurve = 5,
        StandardCurveSettingError = 6,
        InvalidMethod = 7,
        MissingParameter = 8,
        NotClotted = 9,
    };

    enum Format : int {
        WithFlags = 0,  //!< the number with its prefix and suffix marks
        NumberOnly = 1, //!< any other value behaves like this
    };

    static constexpr double notClottedValue = 999.9;
    static constexpr double nullValue = 0.0;
    static constexpr double invalidOD = 0.0;

    AnalysisResult();
    AnalysisResult(double value);
    AnalysisResult(ErrorCode error);
    AnalysisResult(const AnalysisResult &other);
    AnalysisResult &operator=(const AnalysisResult &other);
    ~AnalysisResult();

    void swap(AnalysisResult &other) noexcept { d.swap(other.d); }

    double value() const { return d->value; }
    operator double() const { return d->value; }
    /*! \brief Sets the value and classifies it: null, not clotted, invalid or valid. The own
        error text stays. */
    void setValue(double value);

    double od() const { return d->od; }
    void setOD(double od);
    ClotCurve curve() const { return d->curve; }
    void setCurve(const ClotCurve &curve);
    int id() const { return d->id; }
    void setId(int id);
    int recordId() const { return d->recordId; }
    void setRecordId(int recordId);
    int version() const { return d->version; }
    void setVersion(int version);
    int ch() const { return d->ch; }
    void setCh(int ch);

    int flags() const { return d->flags; }
    void setFlags(int flags);
    void setFlag(ry::ResultFlag flag, bool on = true);
    bool testFlag(ry::ResultFlag flag) const { return (d->flags & flag) != 0; }
    bool isManualTest() const { return testFlag(ry::ManualTest); }
    void setManualTest(bool on);

    ErrorCode error() const { return d->error; }
    /*! \brief Sets the state and drops the own error text. */
    void setError(ErrorCode error);
    /*! \brief Sets an own error text; the state becomes UnknownError. */
    void setErrorText(const QString &text);
    void clearErrorText();
    /*! \brief The own error text, else the built-in text of the state (empty for NoError and
        NotClotted). */
    QString errorText() const;

    bool isValid() const { return d->error == NoError; }
    bool isNull() const { return d->error == NullResult; }
    /*! \brief True when both share one record (no write has separated them). */
    bool isCopyOf(const AnalysisResult &other) const { return d == other.d; }

    /*! \brief The value for a valid or not-clotted result, else an invalid variant. */
    QVariant toVariant() const;
    /*! \brief The display text: the number (with its marks for WithFlags) of a valid result,
        else the configured text of its state. A negative \a precision means 'g' with 6 digits;
        one beyond what a double holds counts as that bound, as for round(). */
    QString toString(Format format = WithFlags, char numberFormat = 'g', int precision = -1) const;
    /*! \brief The marks put before a valid value: manual input, diluted, report limit. */
    QString prefix() const;
    /*! \brief The mark put after a valid value: the normal-range limit. */
    QString suffix() const;

private:
    struct Data : public QSharedData
    {
        Data() = default;
        Data(const Data &other) = default; // a clone starts with no owner
        explicit Data(int initialRef) { ref.storeRelaxed(initialRef); }

        int id = 0;
        double value = nullValue;
        double od = invalidOD;
        int flags = 0;
        ErrorCode error = NullResult;
        QString errorText;
        ClotCurve curve;
        int ch = 0;
        int version = 0;
        int recordId = 0;
    };

    static Data shared_null;

    // Explicit: every setter detaches, getters never do.
    QExplicitlySharedDataPointer<Data> d;
};

Q_DECLARE_TYPEINFO(ClotCurve::Segment, Q_MOVABLE_TYPE);
Q_DECLARE_TYPEINFO(ClotCurve, Q_MOVABLE_TYPE);
Q_DECLARE_SHARED(AnalysisResult)
Q_DECLARE_METATYPE(ClotCurve)
Q_DECLARE_METATYPE(AnalysisResult)

#endif // ANALYSISRESULT_H
