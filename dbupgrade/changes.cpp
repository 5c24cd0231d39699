// What an upgrade changed in a database: its backup and the database compared, read-only.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "changes.h"

#include "backup.h"
#include "databases.h"
#include "restore.h"
#include "servicelog.h"
#include "snapshot.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace {

// The names found on either side, sorted, each once.
template<typename Map>
QStringList namesOfEither(const Map &old, const Map &now)
{
    QStringList names = old.keys() + now.keys();
    names.removeDuplicates();
    names.sort();
    return names;
}

bool same(const QVariant &a, const QVariant &b)
{
    return a.isNull() == b.isNull() && (a.isNull() || (a.userType() == b.userType() && a == b));
}

bool sameMap(const QVariantMap &a, const QVariantMap &b)
{
    for (auto it = a.cbegin(); it != a.cend(); ++it) {
        if (!same(it.value(), b.value(it.key())))
            return false;
    }
    return a.size() == b.size();
}

// A value as SQL writes it: 'text', 12, 0.6, X'00FF', NULL.
QString literal(const QVariant &value)
{
    if (value.isNull())
        return QStringLiteral("NULL");
    switch (value.userType()) {
    case QMetaType::QString:
        return QLatin1Char('\'') + value.toString().replace(QLatin1Char('\''), QLatin1String("''"))
            + QLatin1Char('\'');
    case QMetaType::QByteArray:
        return QStringLiteral("X'%1'").arg(
            QString::fromLatin1(value.toByteArray().toHex().toUpper()));
    case QMetaType::Double: {
        QString text = QString::number(value.toDouble(), 'g', 15);
        if (!text.contains(QLatin1Char('.')) && !text.contains(QLatin1Char('e')))
            text += QLatin1String(".0");
        return text;
    }
    }
    return value.toString();
}

QJsonValue jsonValue(const QVariant &value)
{
    if (value.isNull())
        return QJsonValue(QJsonValue::Null);
    switch (value.userType()) {
    case QMetaType::LongLong:
        return QJsonValue(value.toLongLong());
    case QMetaType::Double:
        return value.toDouble();
    case QMetaType::QByteArray:
        return literal(value);
    }
    return value.toString();
}

QJsonValue jsonCurve(const QVariantMap &curve)
{
    if (curve.isEmpty())
        return QJsonValue(QJsonValue::Null);
    QJsonObject object;
    for (auto it = curve.cbegin(); it != curve.cend(); ++it)
        object.insert(it.key(), jsonValue(it.value()));
    return object;
}

QString validity(const QVariant &valid)
{
    return valid.isNull()    ? QStringLiteral("validity not marked")
        : valid.toInt() == 1 ? QStringLiteral("valid")
                             : QStringLiteral("invalid");
}

QString shortNumber(const QVariant &value)
{
    return value.isNull() ? QStringLiteral("none") : QString::number(value.toDouble(), 'g', 6);
}

QString curveLine(qint64 id, const QString &change, const QVariantMap &before,
                  const QVariantMap &after)
{
    const QVariantMap &now = after.isEmpty() ? before : after;
    QString line = QStringLiteral("    %1 %2: %3")
                       .arg(id)
                       .arg(now.value(QStringLiteral("name")).toString(), change);
    if (after.isEmpty())
        return line;
    const QVariant r = after.value(QStringLiteral("correlation"));
    line += QStringLiteral(", %1, r %2")
                .arg(validity(after.value(QStringLiteral("valid"))),
                     r.isNull() ? QStringLiteral("none") : QString::number(r.toDouble(), 'f', 5));
    const bool changed = change == QLatin1String("refitted");
    if (changed) {
        const QVariant was = before.value(QStringLiteral("correlation"));
        line += QStringLiteral(" (was %1)")
                    .arg(was.isNull() ? QStringLiteral("none")
                                      : QString::number(was.toDouble(), 'f', 5));
    }
    line += QStringLiteral(", fitted ") + after.value(QStringLiteral("date")).toString();
    if (!changed)
        return line;
    line += QStringLiteral(" (was %1)").arg(before.value(QStringLiteral("date")).toString());
    for (const char *coefficient : {"a", "b", "c", "d", "e"}) {
        const QVariant old = before.value(QLatin1String(coefficient));
        const QVariant now = after.value(QLatin1String(coefficient));
        if (!same(old, now))
            line += QStringLiteral(", %1 %2 -> %3")
                        .arg(QLatin1String(coefficient), shortNumber(old), shortNumber(now));
    }
    return line;
}

// The comparison, as console lines and as the JSON object, built side by side.
void compare(const QString &fileName, const QString &backup, const Snapshot &old,
             const Snapshot &now, QStringList *lines, QJsonObject *object)
{
    object->insert(QStringLiteral("database"), fileName);
    object->insert(QStringLiteral("backup"), backup);
    object->insert(QStringLiteral("version"),
                   QJsonObject {{QStringLiteral("before"), old.version},
                                {QStringLiteral("after"), now.version}});
    lines->append(QStringLiteral("%1: version %2 -> %3 (compared with %4)")
                      .arg(fileName)
                      .arg(old.version)
                      .arg(now.version)
                      .arg(backup));
    bool changed = old.version != now.version;

    QJsonArray schema;
    const QStringList objects = namesOfEither(old.schema, now.schema);
    for (const QString &name : qAsConst(objects)) {
        const bool added = !old.schema.contains(name);
        const bool removed = !now.schema.contains(name);
        if (!added && !removed && old.schema.value(name) == now.schema.value(name))
            continue;
        if (schema.isEmpty())
            lines->append(QStringLiteral("  schema:"));
        const QString change = added ? QStringLiteral("added")
            : removed                ? QStringLiteral("removed")
                                     : QStringLiteral("redefined");
        lines->append(
            QStringLiteral("    %1 %2%3")
                .arg(added         ? QLatin1Char('+')
                         : removed ? QLatin1Char('-')
                                   : QLatin1Char('~'))
                .arg(name, added || removed ? QString() : QStringLiteral(" (definition changed)")));
        schema.append(QJsonObject {{QStringLiteral("type"), name.section(QLatin1Char(' '), 0, 0)},
                                   {QStringLiteral("name"), name.section(QLatin1Char(' '), 1)},
                                   {QStringLiteral("change"), change}});
    }
    object->insert(QStringLiteral("schema"), schema);

    QJsonArray rows;
    const QStringList tables = namesOfEither(old.rowCounts, now.rowCounts);
    for (const QString &table : qAsConst(tables)) {
        const bool before = old.rowCounts.contains(table);
        const bool after = now.rowCounts.contains(table);
        const qint64 was = old.rowCounts.value(table);
        const qint64 is = now.rowCounts.value(table);
        const bool contents = old.contents.value(table) != now.contents.value(table);
        if (before && after && !contents)
            continue;
        if (rows.isEmpty())
            lines->append(QStringLiteral("  rows:"));
        lines->append(!before      ? QStringLiteral("    %1: %2 (new table)").arg(table).arg(is)
                          : !after ? QStringLiteral("    %1: %2 (table gone)").arg(table).arg(was)
                          : was != is
                          ? QStringLiteral("    %1: %2 -> %3").arg(table).arg(was).arg(is)
                          : QStringLiteral("    %1: %2, contents changed").arg(table).arg(is));
        rows.append(QJsonObject {
            {QStringLiteral("table"), table},
            {QStringLiteral("before"), before ? QJsonValue(was) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("after"), after ? QJsonValue(is) : QJsonValue(QJsonValue::Null)},
            {QStringLiteral("contentsChanged"), contents}});
    }
    object->insert(QStringLiteral("rows"), rows);
    changed = changed || !schema.isEmpty() || !rows.isEmpty();
    if (fileName != QLatin1String("profile.db")) {
        if (!changed)
            lines->append(QStringLiteral("  no changes"));
        object->insert(QStringLiteral("changed"), changed);
        return;
    }

    QJsonArray settings;
    const QStringList names = namesOfEither(old.settings, now.settings);
    for (const QString &name : qAsConst(names)) {
        const bool gained = !old.settings.contains(name);
        const bool lost = !now.settings.contains(name);
        const QVariant was = old.settings.value(name);
        const QVariant is = now.settings.value(name);
        if (!gained && !lost && same(was, is))
            continue;
        if (settings.isEmpty())
            lines->append(QStringLiteral("  settings:"));
        lines->append(
            gained ? QStringLiteral("    + %1 = %2").arg(name, literal(is))
                : lost
                ? QStringLiteral("    - %1 (was %2)").arg(name, literal(was))
                : QStringLiteral("    ~ %1 = %2 (was %3)").arg(name, literal(is), literal(was)));
        QJsonObject item {{QStringLiteral("name"), name},
                          {QStringLiteral("change"),
                           gained     ? QStringLiteral("gained")
                               : lost ? QStringLiteral("lost")
                                      : QStringLiteral("changed")}};
        if (!gained)
            item.insert(QStringLiteral("before"), jsonValue(was));
        if (!lost)
            item.insert(QStringLiteral("after"), jsonValue(is));
        settings.append(item);
    }
    object->insert(QStringLiteral("settings"), settings);

    // Every curve is listed, refitted or not: the laboratory wants to see all of them.
    QJsonArray curves;
    QList<qint64> ids = old.curves.keys() + now.curves.keys();
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    bool curvesChanged = false;
    for (const qint64 id : qAsConst(ids)) {
        const QVariantMap before = old.curves.value(id);
        const QVariantMap after = now.curves.value(id);
        const QString change = before.isEmpty() ? QStringLiteral("added")
            : after.isEmpty()                   ? QStringLiteral("removed")
            : sameMap(before, after)            ? QStringLiteral("unchanged")
                                                : QStringLiteral("refitted");
        curvesChanged = curvesChanged || change != QLatin1String("unchanged");
        if (curves.isEmpty())
            lines->append(QStringLiteral("  calibration curves:"));
        lines->append(curveLine(id, change, before, after));
        curves.append(QJsonObject {{QStringLiteral("id"), id},
                                   {QStringLiteral("change"), change},
                                   {QStringLiteral("before"), jsonCurve(before)},
                                   {QStringLiteral("after"), jsonCurve(after)}});
    }
    object->insert(QStringLiteral("curves"), curves);
    changed = changed || !settings.isEmpty() || curvesChanged;
    if (!changed)
        lines->append(QStringLiteral("  no changes"));
    object->insert(QStringLiteral("changed"), changed);
}

} // namespace

int printChanges(const QString &backupPath, bool json, FILE *console)
{
    int version = 0;
    const QString fileName = backupOwner(backupPath, &version);
    if (fileName.isEmpty()) {
        printLine(stderr, notBackupText(backupPath));
        return 2;
    }
    const QString backup = QFileInfo(backupPath).fileName();
    const auto fail = [&fileName](const QString &why) {
        printLine(stderr, QStringLiteral("dbupgrade: %1: no changes shown: %2").arg(fileName, why));
        return 1;
    };
    if (const QString reason = unfitBackupReason(backup, fileName); !reason.isEmpty())
        return fail(QStringLiteral("%1 cannot serve as a backup: %2").arg(backup, reason));

    Reader old;
    Reader now;
    Snapshot before;
    Snapshot after;
    if (QString error = openReader(backup, &old); !error.isEmpty())
        return fail(error);
    if (const QString reason = unfitBackupContent(old.db, backup, fileName, version);
        !reason.isEmpty())
        return fail(reason);
    if (QString error = openReader(fileName, &now); !error.isEmpty())
        return fail(error);
    if (databaseKind(tableNames(now.db)) != fileName)
        return fail(fileName + QStringLiteral(" does not hold the tables of ") + fileName);
    if (const QString error = readSnapshot(old.db, fileName, &before); !error.isEmpty())
        return fail(backup + QStringLiteral(" cannot be read: ") + error);
    if (const QString error = readSnapshot(now.db, fileName, &after); !error.isEmpty())
        return fail(fileName + QStringLiteral(" cannot be read: ") + error);

    QStringList lines;
    QJsonObject object;
    compare(fileName, backup, before, after, &lines, &object);
    if (json)
        printLine(console, QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)));
    else
        printLine(console, lines.join(QLatin1Char('\n')));
    return 0;
}
