// UpdateQc and UpdateSyslog: the updaters of qc.db and syslog.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updatesyslog.h"

UpdateQc::UpdateQc(QObject *parent)
    : UpdateBase(QStringLiteral("qc.db"), parent)
{
}

bool UpdateQc::update()
{
    return true;
}

UpdateSyslog::UpdateSyslog(QObject *parent)
    : UpdateBase(QStringLiteral("syslog.db"), parent)
{
}

bool UpdateSyslog::update()
{
    // No step is fatal: a failed statement is logged and the run goes on.
    if (version() < 1)
        EXEC_SQL(QStringLiteral("create table version(version integer)"));
    EXEC_SQL(QStringLiteral("delete from version"));
    EXEC_SQL(QStringLiteral("insert into version values(1)"));
    return true;
}
