// Script evaluation on the toolkit's script engine, bounded by a time limit.
// SPDX-License-Identifier: LicenseRef-Proprietary
/*! \file scripting.h
    \brief Script evaluation, bounded by a time limit. */
#ifndef SCRIPTING_H
#define SCRIPTING_H

#include "core_global.h"

#include <QVariant>

class QString;

/*! \brief The value of the script \a program; a script that throws gives its error value.
    A script still running at scriptTimeLimit() is stopped: an invalid variant and a warning.

    Built against Qt 6 the engine is QJSEngine, and a few values convert otherwise than on
    Qt 5's engine:
    - a regular expression gives a QRegularExpression (Qt 5: a QRegExp);
    - a function gives an invalid variant (Qt 5: a map of its properties);
    - an error value gives a map of its "message", "lineNumber" and "fileName" only (Qt 5 adds
      the engine's own offsets and source id).
    null gives an invalid variant under both, inside maps and lists too. */
CORE_EXPORT QVariant eval(const QString &program);

/*! \brief The value of the UTF-8 script file \a fileName. An uncaught exception is shown in a
    critical box and gives an invalid variant; so does a file that cannot be read. A script
    still running at scriptTimeLimit() is stopped as for eval(). The backtrace has a line per
    script frame, "check() at /path/file.js:3"; under Qt 6 it leaves out the frames of the
    engine's own functions (Qt 5: "map() at -1") and the arguments of anonymous ones. */
CORE_EXPORT QVariant load_script(const QString &fileName);

//!@{
/*! \brief Milliseconds after which eval() and load_script() stop a script (10 000 unless
    set; 0 or less: no limit). Under Qt 5 the limit needs the calling thread's event
    dispatcher (without one a script runs unbounded), and while a script runs longer than a
    tenth of it that thread's events are processed. Under Qt 6 a watchdog thread interrupts
    the engine: the limit holds on any thread, and no events are processed meanwhile. */
CORE_EXPORT void setScriptTimeLimit(int ms);
CORE_EXPORT int scriptTimeLimit();
//!@}

#endif // SCRIPTING_H
