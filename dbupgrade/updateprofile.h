// UpdateProfile: the updater of profile.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPDATEPROFILE_H
#define UPDATEPROFILE_H

#include "updatebase.h"

class UpdateProfile : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateProfile(QObject *parent);

    bool update() override;

private:
    bool updateVariables();
    bool updateCurves();
};

#endif // UPDATEPROFILE_H
