// UpdateProfile: the updater of profile.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPDATEPROFILE_H
#define UPDATEPROFILE_H

#include "updatebase.h"

/*!
    \brief Brings profile.db from any earlier version to version 4: users, curve info,
    default settings and reagents, calibration settings, and the variables and calibration
    curves carried forward.
*/
class UpdateProfile : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateProfile(QObject *parent);

    bool update() override;

    //! Gives the assay variables the values stored with their calibration curves, once.
    bool updateVariables();
    //! Refits every stored calibration curve that is not marked valid.
    bool updateCurves();

private:
    bool rebuildUsers();
    bool updateToVersion1();
    void updateToVersion2();
    void updateToVersion3();
    void updateToVersion4();
    void writeVersion();
    bool writeDefaults();
    void updateCalibrations();
    void correctAssayItems();
    void fillCurrentCurves();
};

#endif // UPDATEPROFILE_H
