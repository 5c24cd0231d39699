// UpdateData: the updater of data.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPDATEDATA_H
#define UPDATEDATA_H

#include "updatebase.h"

class UpdateData : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateData(QObject *parent);

    bool update() override;
};

#endif // UPDATEDATA_H
