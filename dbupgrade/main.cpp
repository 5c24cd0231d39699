// dbupgrade: brings the four databases in the working directory to the current schema.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "upgradedriver.h"

#include <QCoreApplication>
#include <QTranslator>

int main(int argc, char *argv[])
{
    if (argc > 1)
        openLog(argv[1]);

    QCoreApplication app(argc, argv);

    const QStringList directories = translationDirectories();
    const QStringList arguments = app.arguments();
    for (int i = 1; i < arguments.size(); ++i) {
        auto *translator = new QTranslator(&app);
        if (loadTranslation(translator, directories, arguments.at(i)))
            QCoreApplication::installTranslator(translator);
        else
            delete translator;
    }

    const bool ok = runUpdaters();
    closeLog();
    return ok ? 0 : 1;
}
