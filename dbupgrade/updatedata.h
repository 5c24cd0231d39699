// UpdateData: the updater of data.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPDATEDATA_H
#define UPDATEDATA_H

#include "updatebase.h"

/*!
    \brief Brings data.db from any earlier form to version 4: results kept by version, curves and
    details carrying their result version, and the view of the counting results.
*/
class UpdateData : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateData(QObject *parent);

    bool update() override;

private:
    bool updateToVersion1();
    bool updateToVersion2();
    bool updateToVersion3();
    void updateToVersion4();
};

#endif // UPDATEDATA_H
