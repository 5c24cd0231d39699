// Script evaluation on the toolkit's script engine, bounded by a time limit.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SCRIPTING_H
#define SCRIPTING_H

#include "core_global.h"

#include <QVariant>

class QString;

/*! \brief The value of the script \a program; a script that throws gives its error value.
    A script still running at scriptTimeLimit() is stopped: an invalid variant and a warning. */
CORE_EXPORT QVariant eval(const QString &program);

/*! \brief The value of the UTF-8 script file \a fileName. An uncaught exception is shown in a
    critical box and gives an invalid variant; so does a file that cannot be read. A script
    still running at scriptTimeLimit() is stopped as for eval(). */
CORE_EXPORT QVariant load_script(const QString &fileName);

/*! \brief Milliseconds after which eval() and load_script() stop a script (10 000 unless
    set; 0 or less: no limit). While a script runs longer than a tenth of it, the calling
    thread's events are processed, as the limit needs them. */
CORE_EXPORT void setScriptTimeLimit(int ms);
CORE_EXPORT int scriptTimeLimit();

#endif // SCRIPTING_H
