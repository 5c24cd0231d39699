// Saves one setting through the process-wide store and quits before any event loop turns.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "profile.h"

#include <QCoreApplication>

// Usage: savequit <key> <value>, in an instrument folder
int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 3)
        return 2;
    Profile::instance().setValue(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]),
                                 true);
    return 0;
}
