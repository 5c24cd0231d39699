// Exported helpers of the core library: message boxes, scoped guards and the ry enumerations.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "ryglobal.h"

#include "numberformat_p.h"
#include "profile.h"
#include "sqlwarning_p.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QDate>
#include <QDebug>
#include <QFile>
#include <QRegularExpression>
#include <QScriptEngine>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <array>
#include <atomic>
#include <iterator>
#include <limits>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#endif

namespace {

// Cursors and boxes belong to the GUI thread of a widget application; elsewhere they are no-ops.
bool onGuiThread()
{
    return qobject_cast<QApplication *>(QCoreApplication::instance())
        && QCoreApplication::instance()->thread() == QThread::currentThread();
}

QMessageBox::StandardButton showBox(QMessageBox::Icon icon, const QString &text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    // A widget made without a QApplication, or off its thread, aborts the process. The store
    // reports its start-up failures through these boxes, so a console tool or a worker thread
    // gets the text in the log instead, and no button.
    if (!onGuiThread()) {
        qWarning().noquote() << text;
        return QMessageBox::NoButton;
    }
    // A box raised inside a wait-cursor scope must show the arrow.
    WaitCursor arrow(Qt::ArrowCursor);
    QMessageBox box(icon, QCoreApplication::applicationName(), text, buttons, topLevelWidget(),
                    Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    if (defaultButton != QMessageBox::NoButton)
        box.setDefaultButton(defaultButton);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

BoolLocker::BoolLocker(bool &flag, bool value)
    : m_flag(&flag)
    , m_saved(flag)
{
    flag = value;
}

BoolLocker::~BoolLocker()
{
    *m_flag = m_saved;
}

WaitCursor::WaitCursor(Qt::CursorShape shape)
{
    if (onGuiThread())
        QApplication::setOverrideCursor(QCursor(shape));
}

WaitCursor::~WaitCursor()
{
    if (onGuiThread())
        QApplication::restoreOverrideCursor();
}

QWidget *topLevelWidget()
{
    QWidget *w = QApplication::activeModalWidget();
    if (!w)
        w = QApplication::activeWindow();
    if (w && w->window())
        return w->window();
    return w;
}

QMessageBox::StandardButton information(const QString &text, QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton defaultButton)
{
    return showBox(QMessageBox::Information, text, buttons, defaultButton);
}

QMessageBox::StandardButton question(const QString &text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return showBox(QMessageBox::Question, text, buttons, defaultButton);
}

QMessageBox::StandardButton warning(const QString &text, QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton defaultButton)
{
    return showBox(QMessageBox::Warning, text, buttons, defaultButton);
}

QMessageBox::StandardButton critical(const QString &text, QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton defaultButton)
{
    return showBox(QMessageBox::Critical, text, buttons, defaultButton);
}

// --- Global helpers ---

namespace {

const char *const Dilutions[] = {
    "1/1",  "1/2",  "1/4",   "1/5",   "1/8",   "1/10", "1/16", "1/20", "1/30", "1/40",
    "1/50", "1/80", "1/100", "1/160", "1/320", "2/5",  "3/4",  "3/5",  "4/5",
};

// Table k, entry i: the register after byte i followed by k zero bytes, shifted through the
// polynomial from zero. Table 0 alone gives a byte at a time; the eight together give eight bytes
// in one step of independent lookups, which is what makes a long buffer fast.
using Crc16Tables = std::array<std::array<quint16, 256>, 8>;

constexpr Crc16Tables makeCrc16Tables()
{
    Crc16Tables tables {};
    for (int i = 0; i < 256; ++i) {
        quint16 crc = quint16(i << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = quint16((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
        tables[0][i] = crc;
    }
    for (int k = 1; k < 8; ++k) {
        for (int i = 0; i < 256; ++i) {
            const quint16 previous = tables[k - 1][i];
            tables[k][i] = quint16(previous << 8) ^ tables[0][previous >> 8];
        }
    }
    return tables;
}

constexpr Crc16Tables Crc16Table = makeCrc16Tables();
static_assert(Crc16Table[0][1] == 0x1021, "CRC-16 table");

} // namespace

Core::Core() = default;
Core::Core(const Core &) = default;
Core::~Core() = default;
Core &Core::operator=(const Core &) = default;

double fraction(const QString &text, bool *ok)
{
    // Built once (thread-safe static initialisation); match() is const, so sharing is safe.
    static const QRegularExpression pattern(
        QStringLiteral("([+-]?\\d+(?:\\.\\d*)?)\\s*[:/]\\s*([+-]?\\d+(?:\\.\\d*)?)"));
    const QRegularExpressionMatch match = pattern.match(text);
    if (ok)
        *ok = match.hasMatch();
    if (!match.hasMatch())
        return 0.0;
    return match.capturedRef(1).toDouble() / match.capturedRef(2).toDouble();
}

double round(double value, int precision, char format)
{
    return QString::number(value, format, CorePrivate::boundedPrecision(value, format, precision))
        .toDouble();
}

QStringList dilutionList()
{
    QStringList list;
    list.reserve(int(std::size(Dilutions)));
    for (const char *dilution : Dilutions)
        list << QLatin1String(dilution);
    return list;
}

QString humanReadableVolume(int volume)
{
    if (volume > 1000000)
        return QStringLiteral("%1 L").arg(volume * 0.000001, 0, 'g', 4);
    if (volume > 1000)
        return QStringLiteral("%1 mL").arg(volume * 0.001, 0, 'g', 4);
    return QStringLiteral("%1 uL").arg(volume);
}

QString humanReadableVolume(int kind, int volume, bool plainForm)
{
    if (kind != 4096 || plainForm)
        return humanReadableVolume(volume);
    if (volume < 100000)
        return QStringLiteral("<%1 L").arg(100000 * 0.000001, 0, 'f', 1);
    return QStringLiteral("%1 L").arg(volume * 0.000001, 0, 'f', 1);
}

namespace {

std::atomic<int> scriptTimeLimitMs {10000};

/*!
    Evaluates \a program on \a engine, stopped after the time limit: the engine processes the
    thread's events while it runs, and a timer among them aborts the evaluation. False when it
    was stopped; the log names the script's first line and the limit.
*/
bool evaluateWithinLimit(QScriptEngine &engine, const QString &program, const QString &fileName,
                         const char *caller, QScriptValue *result)
{
    const int limit = scriptTimeLimitMs.load(std::memory_order_relaxed);
    // Without an event dispatcher (no application object) no timer can fire.
    const bool bounded = limit > 0 && QAbstractEventDispatcher::instance() != nullptr;
    bool stopped = false;
    QTimer timer;
    if (bounded) {
        timer.setSingleShot(true);
        QObject::connect(&timer, &QTimer::timeout, [&engine, &stopped] {
            stopped = true;
            engine.abortEvaluation();
        });
        engine.setProcessEventsInterval(qBound(1, limit / 10, 100));
        timer.start(limit);
    }
    *result = engine.evaluate(program, fileName, 1);
    if (!stopped)
        return true;
    const QString firstLine = program.section(QLatin1Char('\n'), 0, 0).left(120);
    qWarning("%s: script stopped at the time limit of %d ms: %s", caller, limit,
             qUtf8Printable(firstLine));
    return false;
}

} // namespace

void setScriptTimeLimit(int ms)
{
    scriptTimeLimitMs.store(ms, std::memory_order_relaxed);
}

int scriptTimeLimit()
{
    return scriptTimeLimitMs.load(std::memory_order_relaxed);
}

QVariant eval(const QString &program)
{
    QScriptEngine engine;
    QScriptValue result;
    if (!evaluateWithinLimit(engine, program, QString(), "eval", &result))
        return QVariant();
    return result.toVariant();
}

QVariant load_script(const QString &fileName)
{
    // An unreadable file reads as an empty script, whose value is invalid.
    QString program;
    QFile file(fileName);
    if (file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream stream(&file);
        stream.setCodec("UTF-8");
        program = stream.readAll();
    }

    QScriptEngine engine;
    QScriptValue value;
    if (!evaluateWithinLimit(engine, program, fileName, "load_script", &value))
        return QVariant();
    const QVariant result = value.toVariant();
    if (engine.hasUncaughtException()) {
        critical(engine.uncaughtException().toString() + QLatin1Char('\n')
                     + engine.uncaughtExceptionBacktrace().join(QLatin1Char('\n')),
                 QMessageBox::Ok, QMessageBox::NoButton);
        return QVariant();
    }
    return result;
}

QString samplePrefix(ry::SampleType type)
{
    switch (type) {
    case ry::Statim:
        return Profile::instance().statim_sample_prefix(QStringLiteral("S"));
    case ry::QualityControl:
        return Profile::instance().qc_sample_prefix(QStringLiteral("QC"));
    default:
        return QString();
    }
}

int nextSampleNo(const QDate &date)
{
    QSqlQuery query(Profile::instance().dataDatabase());
    if (!query.prepare(
            QStringLiteral("select max(cast(sampleNo as integer)) from patient where date=:date")))
        CORE_SQL_WARNING(query);
    query.bindValue(QStringLiteral(":date"), date);
    if (!query.exec())
        CORE_SQL_WARNING(query);
    // A day without patients gives a null maximum, a failed query no row: both count as 0.
    if (!query.next())
        return 1;
    // SQLite casts to 64 bits: a larger number (a date-style one) would wrap to a negative or
    // small int, and the int maximum would overflow; the int maximum stands in for them.
    const qlonglong largest = query.value(0).toLongLong();
    return int(qBound<qlonglong>(std::numeric_limits<int>::min(), largest,
                                 std::numeric_limits<int>::max() - 1LL)
               + 1);
}

void setGeneratedValue(QSqlRecord &record, const QString &field, const QVariant &value)
{
    const int index = record.indexOf(field);
    if (index < 0)
        return;
    record.setValue(index, value);
    record.setGenerated(index, true);
}

unsigned short crc16(const void *data, int len)
{
    quint16 crc = 0xFFFF;
    const auto *bytes = static_cast<const uchar *>(data);
    int i = 0;
    // The register goes into the first two bytes of each block of eight.
    for (; len - i >= 8; i += 8) {
        const uchar *b = bytes + i;
        crc = Crc16Table[7][b[0] ^ (crc >> 8)] ^ Crc16Table[6][b[1] ^ (crc & 0xFF)]
            ^ Crc16Table[5][b[2]] ^ Crc16Table[4][b[3]] ^ Crc16Table[3][b[4]] ^ Crc16Table[2][b[5]]
            ^ Crc16Table[1][b[6]] ^ Crc16Table[0][b[7]];
    }
    for (; i < len; ++i)
        crc = quint16(crc << 8) ^ Crc16Table[0][((crc >> 8) ^ bytes[i]) & 0xFF];
    return crc;
}

void sleep(int ms)
{
    if (ms <= 0)
        return;
#ifdef Q_OS_WIN
    ::Sleep(DWORD(ms));
#else
    // nanosleep may be cut short by a signal; sleep on for what remains.
    timespec remaining {ms / 1000, long(ms % 1000) * 1000000L};
    while (::nanosleep(&remaining, &remaining) != 0 && errno == EINTR) { }
#endif
}

// --- end of global helpers ---
