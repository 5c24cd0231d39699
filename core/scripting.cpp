// Script evaluation on the toolkit's script engine, bounded by a time limit.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "scripting.h"

#include "logging_p.h"
#include "messagebox.h"

#include <QFile>
#include <QTextStream>

#include <atomic>

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
#include <QJSEngine>
#include <QRegularExpression>
#include <QUrl>

#include <condition_variable>
#include <mutex>
#include <thread>
#else
#include <QAbstractEventDispatcher>
#include <QScriptEngine>
#include <QTimer>
#endif

namespace {

std::atomic<int> scriptTimeLimitMs {10000};

void warnStopped(const char *caller, int limit, const QString &program)
{
    const QString firstLine = program.section(QLatin1Char('\n'), 0, 0).left(120);
    qCWarning(lcScript, "%s: script stopped at the time limit of %d ms: %s", caller, limit,
              qUtf8Printable(firstLine));
}

// An unreadable file reads as an empty script, whose value is invalid.
QString readScript(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return QString();
    QTextStream stream(&file);
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    stream.setCodec("UTF-8"); // Qt 6 streams read UTF-8 unless told otherwise
#endif
    return stream.readAll();
}

void showUncaught(const QString &exception, const QStringList &backtrace)
{
    critical(exception + QLatin1Char('\n') + backtrace.join(QLatin1Char('\n')), QMessageBox::Ok,
             QMessageBox::NoButton);
}

#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)

struct Outcome
{
    QJSValue value;
    QStringList stack; // empty when nothing was thrown
    bool stopped = false;
};

/*!
    Evaluates \a program on \a engine; a watchdog thread interrupts it at the time limit. The
    engine checks the flag as it runs, so the limit needs no event loop, and none is served.
*/
Outcome evaluateWithinLimit(QJSEngine &engine, const QString &program, const QString &fileName,
                            const char *caller)
{
    const int limit = scriptTimeLimitMs.load(std::memory_order_relaxed);
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    std::thread watchdog;
    if (limit > 0) {
        watchdog = std::thread([&] {
            std::unique_lock<std::mutex> lock(mutex);
            if (!finished.wait_for(lock, std::chrono::milliseconds(limit), [&] { return done; }))
                engine.setInterrupted(true);
        });
    }
    Outcome outcome;
    outcome.value = engine.evaluate(program, fileName, 1, &outcome.stack);
    if (watchdog.joinable()) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            done = true;
        }
        finished.notify_one();
        watchdog.join();
    }
    outcome.stopped = engine.isInterrupted();
    if (outcome.stopped)
        warnStopped(caller, limit, program);
    return outcome;
}

// The engine names scripts by URL; the backtrace and error values name the file as given.
QString scriptFileName(const QString &source)
{
    const QUrl url(source);
    return url.isLocalFile() ? url.toLocalFile() : source;
}

/*!
    Frames of QJSEngine ("function:line:column:source") in the form the Qt 5 engine gave them:
    "check() at /path/file.js:3", "<global>() at 5" for an unnamed script.
*/
QStringList backtrace(const QStringList &stack)
{
    static const QRegularExpression frame(QStringLiteral("^(.*?):(-?\\d+):(-?\\d+):(.*)$"));
    QStringList lines;
    for (const QString &text : stack) {
        const QRegularExpressionMatch match = frame.match(text);
        if (!match.hasMatch()) {
            lines.append(text);
            continue;
        }
        QString function = match.captured(1);
        if (function == QLatin1String("%entry"))
            function = QStringLiteral("<global>");
        else if (function.isEmpty())
            function = QStringLiteral("<anonymous>");
        const QString source = scriptFileName(match.captured(4));
        const QString line = QString::number(qAbs(match.captured(2).toInt()));
        lines.append(function + QLatin1String("() at ")
                     + (source.isEmpty() ? line : source + QLatin1Char(':') + line));
    }
    return lines;
}

// What Qt 5's engine made of values QJSEngine converts otherwise (see scripting.h).
QVariant comparable(const QVariant &value)
{
    switch (value.metaType().id()) {
    case QMetaType::Nullptr:
        return QVariant();
    case QMetaType::QVariantMap: {
        QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            *it = comparable(*it);
        return map;
    }
    case QMetaType::QVariantList: {
        QVariantList list = value.toList();
        for (QVariant &item : list)
            item = comparable(item);
        return list;
    }
    default:
        // A function stays a QJSValue, which must not outlive the engine of this call.
        return value.metaType() == QMetaType::fromType<QJSValue>() ? QVariant() : value;
    }
}

QVariant toVariant(const QJSValue &value)
{
    if (!value.isError())
        return comparable(value.toVariant());
    // An error's properties are not enumerable here; take the ones both engines give.
    return QVariantMap {
        {QStringLiteral("message"), value.property(QStringLiteral("message")).toString()},
        {QStringLiteral("lineNumber"), value.property(QStringLiteral("lineNumber")).toInt()},
        {QStringLiteral("fileName"),
         scriptFileName(value.property(QStringLiteral("fileName")).toString())},
    };
}

} // namespace

QVariant eval(const QString &program)
{
    QJSEngine engine;
    const Outcome outcome = evaluateWithinLimit(engine, program, QString(), "eval");
    return outcome.stopped ? QVariant() : toVariant(outcome.value);
}

QVariant load_script(const QString &fileName)
{
    const QString program = readScript(fileName);
    QJSEngine engine;
    const Outcome outcome = evaluateWithinLimit(engine, program, fileName, "load_script");
    if (outcome.stopped)
        return QVariant();
    if (!outcome.stack.isEmpty()) {
        showUncaught(outcome.value.toString(), backtrace(outcome.stack));
        return QVariant();
    }
    return toVariant(outcome.value);
}

#else

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
    warnStopped(caller, limit, program);
    return false;
}

} // namespace

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
    const QString program = readScript(fileName);
    QScriptEngine engine;
    QScriptValue value;
    if (!evaluateWithinLimit(engine, program, fileName, "load_script", &value))
        return QVariant();
    const QVariant result = value.toVariant();
    if (engine.hasUncaughtException()) {
        showUncaught(engine.uncaughtException().toString(), engine.uncaughtExceptionBacktrace());
        return QVariant();
    }
    return result;
}

#endif

void setScriptTimeLimit(int ms)
{
    scriptTimeLimitMs.store(ms, std::memory_order_relaxed);
}

int scriptTimeLimit()
{
    return scriptTimeLimitMs.load(std::memory_order_relaxed);
}
