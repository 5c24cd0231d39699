// UpdateData: the updater of data.db.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "updatedata.h"

#include <QSqlDatabase>
#include <QSqlRecord>

namespace {

// The statement texts are what sqlite_master keeps and what the application and later upgrades
// read back, so they stay exactly as the tables were first created, tabs and comments included.

const char *const lookupTables[]
    = {"department", "sex", "treatmentRoom", "diagnosis", "doctor", "operator"};

const char createLookupTable[] = "create table %1(\n"
                                 "\tid integer primary key,\n"
                                 "\tabbr text COLLATE NOCASE,\n"
                                 "\tname text)";
const char createLookupIndex[] = "create index if not exists %1_index on %1 (abbr)";

const char createDetailVersion1[]
    = "create table detail(\n"
      "\tid integer primary key,\n"
      "\tpatientId integer references patient,\n"
      "\titem text,\t\t\t\t\t\t\t\t\t\t-- 测量项目, 如PT\n"
      "\tinfo text,\t\t\t\t\t\t\t\t\t\t-- 测试详细信息, 如测试通道等\n"
      "\tunique(patientId, item) on conflict replace)";

const char createTriggerVersion1[]
    = "create trigger on_delete_patient after delete on patient\n"
      "begin\n"
      "\tdelete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;\n"
      "\tdelete from result where old.id = result.patientId;\n"
      "\tdelete from patientExtra where old.id = patientExtra.patientId;\n"
      "\tdelete from curve where old.id = curve.patientId;\n"
      "\tdelete from detail where old.id = detail.patientId;\n"
      "end";

struct Step
{
    const char *sql;
    // A copy of old rows into a new table: when it fails, the old table must not be dropped.
    bool copiesRows;
};

// Results kept by version; curves and details gain the version of their result.
const Step version3Steps[] = {
    {"-- 原始检验结果\n"
     "create table results(\n"
     "\tid integer primary key,\n"
     "\tpatientId integer references patient,\n"
     "\titem text,\t\t\t\t\t\t\t\t\t\t-- 测量项目, 如PT\n"
     "\tsubitem text,\t\t\t\t\t\t\t\t\t-- 测量子项目, 如PT.T\n"
     "\tversion integer,\t\t\t\t\t\t\t\t-- 结果版本, 每保存一次版本增加1\n"
     "\tabbr text,\t\t\t\t\t\t\t\t\t\t-- 代码缩写\n"
     "\tcode text,\t\t\t\t\t\t\t\t\t\t-- 代码全称\n"
     "\tdate date,\t\t\t\t\t\t\t\t\t\t-- 保存日期\n"
     "\ttime time,\t\t\t\t\t\t\t\t\t\t-- 保存时间\n"
     "\tresult real,\t\t\t\t\t\t\t\t\t-- 结果\n"
     "\tunit text,\t\t\t\t\t\t\t\t\t\t-- 单位\n"
     "\tflag integer,\t\t\t\t\t\t\t\t\t-- 状态标志\n"
     "\tdisplayOrder integer,\t\t\t\t\t\t\t-- 显示顺序\n"
     "\tlowerMarkLimit real,\t\t\t\t\t\t\t-- 正常值下限, 出现在报告单\n"
     "\tupperMarkLimit real\t\t\t\t\t\t\t\t-- 正常值上限, 出现在报告单\n"
     ")",
     false},
    {"create index results_index on results(patientId, item, subitem)", false},
    {"insert into results (\tid, patientId, item, subitem, version, \tabbr, code, result, unit, "
     "flag, displayOrder, \tlowerMarkLimit, upperMarkLimit) select \tid, patientId, item, "
     "subitem, 1, \tabbr, code, result, unit, flag, displayOrder, \tlowerMarkLimit, "
     "upperMarkLimit from result",
     true},
    {"-- 选中的结果\n"
     "create table checkedResult(\n"
     "\tid integer primary key,\n"
     "\tpatientId integer references patient,\n"
     "\titem text,\t\t\t\t\t\t\t\t\t\t-- 测量项目, 如PT\n"
     "\tsubitem text,\t\t\t\t\t\t\t\t\t-- 测量子项目, 如PT.T\n"
     "\tresultsId integer references results,\n"
     "\tunique(patientId, item, subitem) on conflict replace)",
     false},
    {"create index checkedResult_index on checkedResult(patientId, item, subitem)", false},
    {"insert into checkedResult(\tpatientId, item, subitem, resultsId) select\tpatientId, item, "
     "subitem, id from result",
     true},
    {"drop index result_index", false},
    {"drop table result", false},
    {"alter table curve rename to old_curve", false},
    {"-- 测量曲线\n"
     "create table curve(\n"
     "\tid integer primary key,\n"
     "\tpatientId integer references patient,\n"
     "\titem text,\t\t\t\t\t\t\t\t\t\t-- 测量项目, 如PT\n"
     "\tversion integer,\t\t\t\t\t\t\t\t-- 结果版本\n"
     "\tcurve blob\t\t\t\t\t\t\t\t\t\t-- 测量曲线\n"
     ")",
     false},
    {"insert into curve (\tid, patientId, item, version, curve) select \tid, patientId, item, 1, "
     "curve from old_curve",
     true},
    {"drop table old_curve", false},
    {"alter table detail rename to old_detail", false},
    {"-- 测试详情\n"
     "create table detail(\n"
     "\tid integer primary key,\n"
     "\tpatientId integer references patient,\n"
     "\titem text,\t\t\t\t\t\t\t\t\t\t-- 测量项目, 如PT\n"
     "\tversion integer,\t\t\t\t\t\t\t\t-- 结果版本\n"
     "\tinfo text\t\t\t\t\t\t\t\t\t\t-- 测试详细信息, 如测试通道等\n"
     ")",
     false},
    {"insert into detail (\tid, patientId, item, version, info) select \tid, patientId, item, 1, "
     "info from old_detail",
     true},
    {"drop table old_detail", false},
    {"drop trigger on_delete_patient", false},
    {"create trigger on_delete_patient after delete on patient\n"
     "begin\n"
     "\tdelete from patientExtra where old.id = patientExtra.patientId;\n"
     "\tdelete from exam where old.sampleNo = exam.sampleNo and old.date = exam.date;\n"
     "\tdelete from results where old.id = results.patientId;\n"
     "\tdelete from checkedResult where old.id = checkedResult.patientId;\n"
     "\tdelete from curve where old.id = curve.patientId;\n"
     "\tdelete from detail where old.id = detail.patientId;\n"
     "end",
     false},
};

const char createResultView[] = "-- 检验结果视图\n"
                                "create view result as \n"
                                "\tselect results.* \n"
                                "\tfrom results, checkedResult \n"
                                "\twhere results.id = checkedResult.resultsId \n"
                                "\tand results.patientId = checkedResult.patientId";

QString sql(const char *text)
{
    return QString::fromUtf8(text);
}

} // namespace

UpdateData::UpdateData(QObject *parent)
    : UpdateBase(QStringLiteral("data.db"), parent)
{
}

bool UpdateData::update()
{
    if (version() < 1 && !updateToVersion1())
        return false;
    if (version() < 2 && !updateToVersion2())
        return false;
    if (version() < 3 && !updateToVersion3())
        return false;
    if (version() < 4)
        updateToVersion4();

    EXEC_SQL(QStringLiteral("delete from version"));
    EXEC_SQL(QStringLiteral("insert into version values(4)"));
    return true;
}

bool UpdateData::updateToVersion1()
{
    if (!EXEC_SQL(QStringLiteral("alter table patient add sampleType text")))
        return false;
    if (!EXEC_SQL(QStringLiteral("alter table patient add hospitalNo text")))
        return false;

    // Rebuilt so that abbreviations compare without case; a failed copy leaves the old rows in
    // the backup table.
    for (const char *name : lookupTables) {
        const QString table = QLatin1String(name);
        const QString backup = table + QLatin1String("_bak");
        if (!renameTable(table, backup))
            return false;
        if (!EXEC_SQL(sql(createLookupTable).arg(table)))
            return false;
        if (!EXEC_SQL(sql(createLookupIndex).arg(table)))
            return false;
        if (!copyTable(table, backup))
            return false;
        EXEC_SQL(QLatin1String("drop table ") + backup);
    }

    if (!EXEC_SQL(sql(createDetailVersion1)))
        return false;
    return EXEC_SQL(QStringLiteral("create table version(version integer)"));
}

bool UpdateData::updateToVersion2()
{
    // The delete trigger of patient also clears the details.
    if (!EXEC_SQL(QStringLiteral("drop trigger on_delete_patient")))
        return false;
    return EXEC_SQL(sql(createTriggerVersion1));
}

bool UpdateData::updateToVersion3()
{
    // The copies below name their columns; a column added to an old table in the field would be
    // left behind without a word.
    struct Copied
    {
        const char *table;
        QStringList columns;
    };
    const Copied copies[] = {
        {"result",
         {"id", "patientId", "item", "subitem", "abbr", "code", "result", "unit", "flag",
          "displayOrder", "lowerMarkLimit", "upperMarkLimit"}},
        {"curve", {"id", "patientId", "item", "curve"}},
        {"detail", {"id", "patientId", "item", "info"}},
    };
    const QSqlDatabase db = QSqlDatabase::database();
    for (const Copied &copy : copies) {
        const QSqlRecord record = db.record(QLatin1String(copy.table));
        QStringList dropped;
        for (int i = 0; i < record.count(); ++i) {
            if (!copy.columns.contains(record.fieldName(i), Qt::CaseInsensitive))
                dropped.append(record.fieldName(i));
        }
        reportDroppedColumns(QLatin1String(copy.table), dropped);
    }

    // The other statements of this group may fail and be passed over (an index or trigger
    // already gone, say), but a failed copy must not be followed by the drop of the table it
    // copies from: the whole group is rolled back and the database keeps its version-2 form.
    const bool inTransaction = EXEC_SQL(QStringLiteral("begin transaction"));
    for (const Step &step : version3Steps) {
        if (!EXEC_SQL(sql(step.sql)) && step.copiesRows) {
            if (inTransaction)
                EXEC_SQL(QStringLiteral("rollback"));
            return false;
        }
    }
    // An uncommitted group would be rolled back when the connection closes, together with the
    // version rewritten after it: report the failure rather than a success that did not happen.
    if (!EXEC_SQL(QStringLiteral("end transaction")) && inTransaction) {
        EXEC_SQL(QStringLiteral("rollback"));
        return false;
    }
    return true;
}

void UpdateData::updateToVersion4()
{
    EXEC_SQL(QStringLiteral("drop view if exists result"));
    EXEC_SQL(sql(createResultView));
}
