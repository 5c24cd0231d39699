// UpdateProfile: the updater of profile.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updateprofile.h"

UpdateProfile::UpdateProfile(QObject *parent)
    : UpdateBase(QStringLiteral("profile.db"), parent)
{
}

bool UpdateProfile::update()
{
    // The schema steps from the older versions are not here yet, so only the version is
    // rewritten. A file that is no readable database fails now, as it will at the first of
    // those steps.
    if (!EXEC_SQL(QStringLiteral("select count(*) from sqlite_master")))
        return false;

    EXEC_SQL(QStringLiteral("delete from version"));
    EXEC_SQL(QStringLiteral("insert into version values(4)"));

    if (!updateVariables())
        return false;
    return updateCurves();
}
