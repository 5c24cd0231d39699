// Writes one message of each kind through the upgrade tool's message handler, the last fatal.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "servicelog.h"

#include <QtGlobal>

int main(int argc, char *argv[])
{
    if (argc < 2 || !openLog(argv[1]))
        return 2;
    qDebug("debug line");
    qInfo("info line");
    qWarning("warning line");
    qCritical("critical line");
    qFatal("fatal line");
    return 0;
}
