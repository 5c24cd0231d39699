// UpdateProfile: the updater of profile.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updateprofile.h"

namespace {

struct Reagent
{
    int type;
    const char *name;
    int initVolume;
    int alarmLimit;
    int vialType;
};

// The reagents every instrument offers since version 2, in the order they are written.
const Reagent defaultReagents[] = {
    {0, "Latex", 2000, 200, 3},        {0, "FDP", 2000, 200, 3},
    {2, "Saline", 6500, 200, 6},       {2, "Buffer(PT)", 6500, 200, 6},
    {2, "Buffer(APTT)", 6500, 200, 6}, {2, "Buffer(FIB)", 6500, 200, 6},
    {2, "Buffer(TT)", 6500, 200, 6},   {2, "Buffer(DD)", 6500, 200, 6},
    {2, "Buffer(EX)", 6500, 200, 6},   {2, "Buffer(EN)", 6500, 200, 6},
    {2, "Buffer(FDP)", 6500, 200, 6},  {5, "DD ct", 1000, 200, 1},
    {5, "FDP ct", 1000, 200, 1},
};

// The generic reagents that the named ones above replace.
const char *const replacedReagents[] = {"Buffer", "Latex", "Saline"};

struct Setting
{
    const char *name;
    const char *value; // an SQL literal: quoted for text, bare for a number
};

const Setting testSettings[] = {
    {"DD/mix/times", "3"},         {"DD/max_clot_time", "120"}, {"specialValue/DD/P", "0.1"},
    {"DD/priority", "10"},         {"FDP/mix/times", "3"},      {"FDP/max_clot_time", "120"},
    {"specialValue/FDP/P", "0.1"},
};

// Assays that were switched off until the instrument supported them.
const char *const enabledAssays[] = {"DD", "II", "V", "VII", "X", "VIII", "IX", "XI", "XII", "FDP"};

const Setting scheduleSettings[] = {
    {"schedule/sample", "6"},
    {"schedule/reagent", "6"},
    {"schedule/mix", "2"},
    {"schedule/dilution", "12"},
    {"schedule/dilution/1/10", "12"},
    {"schedule/dilution/1/20", "17"},
    {"schedule/dilution/1/40", "22"},
    {"schedule/clean", "15"},
    {"schedule/test/PT", "27"},
    {"schedule/test/FIB/table", "'0.2,25;0.1,35;0.05,45;0.025,65'"},
    {"schedule/test/APTT", "50"},
    {"schedule/test/TT", "35"},
    {"schedule/test/II", "30"},
    {"schedule/test/V", "30"},
    {"schedule/test/VII", "30"},
    {"schedule/test/X", "30"},
    {"schedule/test/VIII", "30"},
    {"schedule/test/IX", "30"},
    {"schedule/test/XI", "30"},
    {"schedule/test/XII", "30"},
};

const Setting thresholdSettings[] = {
    {"analyst/FIB/odThreshold", "'4,0.008; 6,0.004; 10,0.0025; 20,0.001; 40,0.0005'"},
    {"analyst/APTT/odThreshold", "'4,0.2; 10,0.05; 20,0.02'"},
    {"analyst/odThreshold", "'4,0.2; 8,0.05; 10,0.01'"},
};

struct CalibrationSetting
{
    int method;
    const char *funX; // null: the stored functions stay
    const char *funY;
    const char *condition;
};

const CalibrationSetting calibrationSettings[] = {
    {0, nullptr, nullptr, "name='PT'"},
    // The PT-derived FIB calibration was stored under its Chinese or its English name.
    {0, "Log", "Log", "name='PT 演算 FIB' or name='PT calculate FIB'"},
    {0, nullptr, nullptr, "name='FIB'"},
    {4, "Log", "Linear", "name='DD'"},
    {4, "Log", "Linear", "name='FDP'"},
    {4, "Log", "Linear", "name='AT'"},
    {0, nullptr, nullptr, "name='II'"},
    {0, nullptr, nullptr, "name='V'"},
    {0, nullptr, nullptr, "name='VII'"},
    {0, nullptr, nullptr, "name='X'"},
    {0, nullptr, nullptr, "name='VIII'"},
    {0, nullptr, nullptr, "name='IX'"},
    {0, nullptr, nullptr, "name='XI'"},
    {0, nullptr, nullptr, "name='XII'"},
};

// A text as an SQL literal. Translations may hold apostrophes, which would otherwise end the
// literal early and break the statement.
QString sqlText(QString text)
{
    return QLatin1Char('\'') + text.replace(QLatin1Char('\''), QLatin1String("''"))
        + QLatin1Char('\'');
}

// "<verb> into profile values('name',<tabs>value)": the tabs, four columns wide, line the value
// up at column 52 (or the next stop after a long name), as these statements always read.
QString alignedSetting(const char *verb, const Setting &setting)
{
    constexpr int tabWidth = 4;
    constexpr int valueColumn = 52;
    QString statement = QStringLiteral("%1 into profile values('%2',")
                            .arg(QLatin1String(verb), QString::fromUtf8(setting.name));
    int column = statement.size();
    do {
        statement += QLatin1Char('\t');
        column = (column / tabWidth + 1) * tabWidth;
    } while (column < valueColumn);
    return statement + QString::fromUtf8(setting.value) + QLatin1Char(')');
}

QString textInsert(const QString &name, const QString &value)
{
    return QStringLiteral("insert into profile values('%1', %2)").arg(name, sqlText(value));
}

} // namespace

UpdateProfile::UpdateProfile(QObject *parent)
    : UpdateBase(QStringLiteral("profile.db"), parent)
{
}

bool UpdateProfile::update()
{
    // Every test reads the version found at construction; the version row written below does
    // not change which steps run.
    const int from = version();
    if (from < 1 && !updateToVersion1())
        return false;
    if (from < 2)
        updateToVersion2();
    if (from < 3)
        updateToVersion3();
    if (from < 4)
        updateToVersion4();
    writeVersion();
    if (from < 2 && !writeDefaults())
        return false;
    if (from < 3)
        updateCalibrations();
    correctAssayItems();
    if (from < 4)
        fillCurrentCurves();
    // The migrations run their own queries, past exec(): after a held database stopped the
    // steps above, they must not write either.
    if (isLocked())
        return false;
    if (!updateVariables())
        return false;
    return updateCurves();
}

bool UpdateProfile::rebuildUsers()
{
    if (!renameTable(QStringLiteral("user"), QStringLiteral("user_bak")))
        return false;
    if (!EXEC_SQL(
            QStringLiteral("create table user(\n\tid integer primary key,\n\tname text unique "
                           "COLLATE NOCASE,\n\tpassword text,\n\tlevel integer default "
                           "0,\n\thide integer default 0 )")))
        return false;
    if (!copyTable(QStringLiteral("user"), QStringLiteral("user_bak"))) {
        // Names that differ only in letter case, or a column the new table lacks, stop the
        // copy. The old table is put back whole, so nobody loses the login and the next run,
        // after the rows are mended, starts over instead of finding user_bak in its way.
        EXEC_SQL(QStringLiteral("drop table user"));
        renameTable(QStringLiteral("user_bak"), QStringLiteral("user"));
        return false;
    }
    EXEC_SQL(QStringLiteral("drop table user_bak"));
    return true;
}

bool UpdateProfile::updateToVersion1()
{
    if (!rebuildUsers())
        return false;
    if (!EXEC_SQL(QStringLiteral(
            "-- curve debug info, since v1\ncreate table curveInfo (\n\tcurveId integer references "
            "curve,\n\tname text not null,\n\tvalue,\n\tunique (curveId, name) on conflict "
            "replace\n\t)")))
        return false;
    EXEC_SQL(QStringLiteral("drop trigger if exists deleteCurve"));
    if (!EXEC_SQL(QStringLiteral(
            "create trigger deleteCurve after delete on curve \nbegin \n\tdelete from curvePoint "
            "   where    curvePoint.curveId = old.id;\n\tdelete from curveVariable where "
            "curveVariable.curveId = old.id;\n\tdelete from curveReagent  where  "
            "curveReagent.curveId = old.id;\n\tdelete from curveInfo     where     "
            "curveInfo.curveId = old.id;\nend")))
        return false;
    return EXEC_SQL(QStringLiteral("create table version(version integer)"));
}

void UpdateProfile::updateToVersion2()
{
    EXEC_SQL(QStringLiteral("alter table curve add column instrUuid text"));
    EXEC_SQL(QStringLiteral("drop index curve_index"));
    EXEC_SQL(QStringLiteral("create unique index curve_index on curve(name, instrUuid)"));
}

void UpdateProfile::updateToVersion3()
{
    EXEC_SQL(QStringLiteral("alter table assayCalibration add column method integer"));
    EXEC_SQL(QStringLiteral("alter table assayCalibration add column dispX text"));
    EXEC_SQL(QStringLiteral("alter table assayCalibration add column dispY text"));
    EXEC_SQL(QStringLiteral("alter table curve add column c real"));
    EXEC_SQL(QStringLiteral("alter table curve add column d real"));
    EXEC_SQL(QStringLiteral("alter table curve add column e real"));
    EXEC_SQL(QStringLiteral("alter table curve add column valid integer"));
}

void UpdateProfile::updateToVersion4()
{
    EXEC_SQL(QStringLiteral("alter table curve add column lotsNum text"));
    EXEC_SQL(QStringLiteral("-- currentCurve\ncreate table currentCurve (\n\tid integer primary "
                            "key,\n\tname text unique on conflict replace,\n\tcurveId integer "
                            "references curve\n\t)"));
    // Several curves may share a name now; currentCurve says which one is in use.
    EXEC_SQL(QStringLiteral("drop index curve_index"));
    EXEC_SQL(QStringLiteral("drop trigger if exists deleteCurve"));
    EXEC_SQL(QStringLiteral(
        "create trigger deleteCurve after delete on curve\nbegin\n\tdelete from curvePoint    "
        "where    curvePoint.curveId = old.id;\n\tdelete from curveVariable where "
        "curveVariable.curveId = old.id;\n\tdelete from curveReagent  where  curveReagent.curveId "
        "= old.id;\n\tdelete from curveInfo     where     curveInfo.curveId = old.id;\n\tdelete "
        "from currentCurve  where  currentCurve.curveId = old.id;\nend"));
}

void UpdateProfile::writeVersion()
{
    EXEC_SQL(QStringLiteral("delete from version"));
    EXEC_SQL(QStringLiteral("insert into version values(4)"));
}

bool UpdateProfile::writeDefaults()
{
    // These three keys must be new: an existing one stops the run.
    const QString dilution
        = QStringLiteral("%1;1/5;1/10;1/20;1/30,%2;1/5;1/10;1/20;1/30;1/40,%3;1/1;1/2;1/4;1/8,"
                         "%4;1/1;3/4;1/2;1/4")
              .arg(tr("梯度1"))
              .arg(tr("梯度2"))
              .arg(tr("梯度3"))
              .arg(tr("梯度4"));
    if (!EXEC_SQL(textInsert(QStringLiteral("FIB/report/dilution"), QStringLiteral("1/10")))
        || !EXEC_SQL(textInsert(QStringLiteral("dilution"), dilution))
        || !EXEC_SQL(textInsert(QStringLiteral("patient/sampleType"), tr("样本类型"))))
        return false;

    for (const char *name : replacedReagents)
        EXEC_SQL(QStringLiteral("delete from reagent where name = '%1'").arg(QLatin1String(name)));
    for (const Reagent &reagent : defaultReagents) {
        // The volume is right-aligned behind the tab, as the statements always read.
        EXEC_SQL(QStringLiteral("replace into reagent (type, name, initVolume, alarmLimit, "
                                "vialType) values(%1, '%2',\t%3, %4, %5)")
                     .arg(reagent.type)
                     .arg(QLatin1String(reagent.name))
                     .arg(reagent.initVolume, 9)
                     .arg(reagent.alarmLimit)
                     .arg(reagent.vialType));
    }

    for (const Setting &setting : testSettings)
        EXEC_SQL(alignedSetting("replace", setting));
    for (const char *assay : enabledAssays)
        EXEC_SQL(QStringLiteral("delete from profile where name='%1/disable'")
                     .arg(QLatin1String(assay)));

    // Column captions a site may have renamed: an existing key keeps its text.
    EXEC_SQL(textInsert(QStringLiteral("reagent/initVolume"), tr("初始量[ul]")));
    EXEC_SQL(textInsert(QStringLiteral("reagent/alarmLimit"), tr("报警限[ul]")));
    EXEC_SQL(textInsert(QStringLiteral("reagent/interruptLimit"), tr("中断限[ul]")));
    EXEC_SQL(textInsert(QStringLiteral("patient/hospitalNo"), tr("住院号")));

    for (const Setting &setting : scheduleSettings)
        EXEC_SQL(alignedSetting("replace", setting));

    // A site's own FIB OD percentage stays; the thresholds are replaced.
    EXEC_SQL(
        QStringLiteral("insert or abort into profile values('analyst/FIB/odPercent', \t\t0.5)"));
    for (const Setting &setting : thresholdSettings)
        EXEC_SQL(alignedSetting("replace", setting));
    return true;
}

void UpdateProfile::updateCalibrations()
{
    for (const CalibrationSetting &setting : calibrationSettings) {
        QString assignments = QStringLiteral("method=%1").arg(setting.method);
        if (setting.funX) {
            assignments += QStringLiteral(", funX='%1', funY='%2'")
                               .arg(QLatin1String(setting.funX), QLatin1String(setting.funY));
        }
        EXEC_SQL(QStringLiteral("update assayCalibration set %1, dispX='Log', dispY='Log' where %2")
                     .arg(assignments, QString::fromUtf8(setting.condition)));
    }
}

void UpdateProfile::correctAssayItems()
{
    EXEC_SQL(QStringLiteral("update assayItem set precision=-1 where name='OD'"));
    // Only the shipped upper limit is corrected; a limit the site set itself stays.
    EXEC_SQL(QStringLiteral("update assayItem set upperNormal=15 where assayTemplateId=(select id "
                            "from assayTemplate where name='PT') and name='T' and upperNormal=14"));
}

void UpdateProfile::fillCurrentCurves()
{
    // A name shared by several curves keeps the last one the select returns.
    EXEC_SQL(QStringLiteral("insert into currentCurve (name, curveId) select name, id from curve"));
}
