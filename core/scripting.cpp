// Script evaluation on the toolkit's script engine, bounded by a time limit.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "scripting.h"

#include "logging_p.h"
#include "messagebox.h"

#include <QAbstractEventDispatcher>
#include <QFile>
#include <QScriptEngine>
#include <QTextStream>
#include <QTimer>

#include <atomic>

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
    qCWarning(lcScript, "%s: script stopped at the time limit of %d ms: %s", caller, limit,
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
