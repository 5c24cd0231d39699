// UpdateQc and UpdateSyslog: the updaters of qc.db and syslog.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef UPDATESYSLOG_H
#define UPDATESYSLOG_H

#include "updatebase.h"

/*!
    \brief Opens qc.db and reads its version; the quality-control schema needs no change.
*/
class UpdateQc : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateQc(QObject *parent);

    bool update() override;
};

/*!
    \brief Brings syslog.db to version 1: a version table holding the single row 1.
*/
class UpdateSyslog : public UpdateBase
{
    Q_OBJECT
public:
    explicit UpdateSyslog(QObject *parent);

    bool update() override;
};

#endif // UPDATESYSLOG_H
