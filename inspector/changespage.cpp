// Changes page of the site inspector: what the upgrade changed, read from dbupgrade --changes.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "changespage.h"

#include <QDate>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

const char *const Databases[] = {"profile.db", "data.db", "qc.db", "syslog.db"};

QString text(const QJsonValue &value)
{
    if (value.isNull() || value.isUndefined())
        return QStringLiteral("-");
    if (value.isString())
        return value.toString();
    if (value.isDouble())
        return QString::number(value.toDouble(), 'g', 10);
    if (value.isBool())
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
}

QTreeWidgetItem *kind(QTreeWidgetItem *database, const QString &name, const QJsonArray &items)
{
    if (items.isEmpty())
        return nullptr;
    auto *node
        = new QTreeWidgetItem(database, {QStringLiteral("%1 (%2)").arg(name).arg(items.size())});
    return node;
}

// What changed in one calibration curve: each field whose value differs, with the one before.
QString curveChange(const QJsonObject &curve)
{
    const QJsonObject before = curve.value(QLatin1String("before")).toObject();
    const QJsonObject after = curve.value(QLatin1String("after")).toObject();
    const QString name = text(after.isEmpty() ? before.value(QLatin1String("name"))
                                              : after.value(QLatin1String("name")));
    QStringList fields;
    for (const char *field : {"valid", "correlation", "date", "a", "b", "c", "d", "e"}) {
        const QJsonValue was = before.value(QLatin1String(field));
        const QJsonValue now = after.value(QLatin1String(field));
        if (was == now)
            continue;
        // A refit dates its curve the day it runs; said so, the line reads the same any day.
        if (qstrcmp(field, "date") == 0 && text(now) == QDate::currentDate().toString(Qt::ISODate))
            fields << QStringLiteral("fitted today (was %1)").arg(text(was));
        else
            fields
                << QStringLiteral("%1 %2 (was %3)").arg(QLatin1String(field), text(now), text(was));
    }
    QString line = QStringLiteral("%1 %2: %3")
                       .arg(text(curve.value(QLatin1String("id"))), name,
                            curve.value(QLatin1String("change")).toString());
    if (!fields.isEmpty())
        line += QStringLiteral(", ") + fields.join(QStringLiteral(", "));
    return line;
}

void addChanges(QTreeWidget *tree, const QString &database, const QJsonObject &changes)
{
    const QJsonObject version = changes.value(QLatin1String("version")).toObject();
    auto *top
        = new QTreeWidgetItem(tree,
                              {QObject::tr("%1: version %2 -> %3, compared with %4")
                                   .arg(database, text(version.value(QLatin1String("before"))),
                                        text(version.value(QLatin1String("after"))),
                                        changes.value(QLatin1String("backup")).toString())});
    if (!changes.value(QLatin1String("changed")).toBool()) {
        new QTreeWidgetItem(top, {QObject::tr("no changes")});
        top->setExpanded(true);
        return;
    }
    top->setExpanded(true);
    // The refitted curves first: what the laboratory's results hang on. The other kinds stay
    // folded until asked for.
    const QJsonArray curves = changes.value(QLatin1String("curves")).toArray();
    if (QTreeWidgetItem *node = kind(top, QObject::tr("Calibration curves"), curves)) {
        for (const QJsonValue &value : curves) {
            auto *item = new QTreeWidgetItem(node, {curveChange(value.toObject())});
            item->setToolTip(0, item->text(0)); // the whole line, which the page may cut
        }
        node->setExpanded(true);
    }
    const QJsonArray schema = changes.value(QLatin1String("schema")).toArray();
    if (QTreeWidgetItem *node = kind(top, QObject::tr("Schema objects"), schema)) {
        for (const QJsonValue &value : schema) {
            const QJsonObject object = value.toObject();
            new QTreeWidgetItem(node,
                                {QStringLiteral("%1 %2 %3")
                                     .arg(object.value(QLatin1String("change")).toString(),
                                          object.value(QLatin1String("type")).toString(),
                                          object.value(QLatin1String("name")).toString())});
        }
    }
    const QJsonArray rows = changes.value(QLatin1String("rows")).toArray();
    if (QTreeWidgetItem *node = kind(top, QObject::tr("Rows"), rows)) {
        for (const QJsonValue &value : rows) {
            const QJsonObject table = value.toObject();
            QString line = QStringLiteral("%1: %2 -> %3")
                               .arg(table.value(QLatin1String("table")).toString(),
                                    text(table.value(QLatin1String("before"))),
                                    text(table.value(QLatin1String("after"))));
            if (table.value(QLatin1String("contentsChanged")).toBool())
                line += QObject::tr(", contents changed");
            new QTreeWidgetItem(node, {line});
        }
    }
    const QJsonArray settings = changes.value(QLatin1String("settings")).toArray();
    if (QTreeWidgetItem *node = kind(top, QObject::tr("Settings"), settings)) {
        for (const QJsonValue &value : settings) {
            const QJsonObject setting = value.toObject();
            const QString change = setting.value(QLatin1String("change")).toString();
            QString line = QStringLiteral("%1 %2").arg(
                change, setting.value(QLatin1String("name")).toString());
            if (change == QLatin1String("changed"))
                line += QStringLiteral(" = %1 (was %2)")
                            .arg(text(setting.value(QLatin1String("after"))),
                                 text(setting.value(QLatin1String("before"))));
            else if (change == QLatin1String("gained"))
                line += QStringLiteral(" = ") + text(setting.value(QLatin1String("after")));
            new QTreeWidgetItem(node, {line});
        }
    }
}

} // namespace

ChangesPage::ChangesPage(const QString &toolPath, QWidget *parent)
    : QWidget(parent)
    , m_toolPath(toolPath)
    , m_tree(new QTreeWidget(this))
{
    m_tree->setObjectName(QStringLiteral("changesTree"));
    m_tree->setAccessibleName(tr("What the upgrade changed"));
    m_tree->setHeaderLabels({tr("What the upgrade changed, against the newest backup")});
    m_tree->header()->setStretchLastSection(true);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_tree);
}

ChangesPage::~ChangesPage()
{
    if (m_tool) {
        m_tool->disconnect(this);
        m_tool->waitForFinished(10000);
    }
}

QString ChangesPage::newestBackup(const QString &database)
{
    const QFileInfoList backups
        = QDir().entryInfoList({database + QStringLiteral(".v*.bak")}, QDir::Files, QDir::Time);
    return backups.isEmpty() ? QString() : backups.first().fileName();
}

bool ChangesPage::isReading() const
{
    return m_tool != nullptr;
}

void ChangesPage::reload()
{
    if (isReading())
        return;
    m_tree->clear();
    m_waiting.clear();
    for (const char *database : Databases)
        m_waiting << QLatin1String(database);
    compareNext();
}

void ChangesPage::compareNext()
{
    while (!m_waiting.isEmpty()) {
        m_current = m_waiting.takeFirst();
        const QString backup = newestBackup(m_current);
        if (backup.isEmpty())
            continue;
        m_tool = new QProcess(this);
        m_tool->setWorkingDirectory(QDir::currentPath());
        connect(m_tool, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
                &ChangesPage::compared);
        connect(m_tool, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
            if (error == QProcess::FailedToStart)
                compared(-1, QProcess::CrashExit);
        });
        m_tool->start(m_toolPath, {QStringLiteral("--changes"), backup, QStringLiteral("--json")});
        return;
    }
    if (m_tree->topLevelItemCount() == 0)
        new QTreeWidgetItem(m_tree,
                            {tr("No backup in this folder: nothing has been upgraded "
                                "here yet.")});
    // Keyboard navigation starts at the top, however the reading and the focus met.
    m_tree->setCurrentItem(m_tree->topLevelItem(0));
}

void ChangesPage::compared(int exitCode, QProcess::ExitStatus status)
{
    const QByteArray output = m_tool->readAllStandardOutput();
    const QString errors = QString::fromLocal8Bit(m_tool->readAllStandardError()).trimmed();
    m_tool->deleteLater();
    m_tool = nullptr;
    const QJsonObject changes = QJsonDocument::fromJson(output).object();
    if (status == QProcess::NormalExit && exitCode == 0 && !changes.isEmpty())
        addChanges(m_tree, m_current, changes);
    else
        new QTreeWidgetItem(
            m_tree,
            {tr("%1: not compared: %2")
                 .arg(m_current,
                      errors.isEmpty() ? QString::fromLocal8Bit(output).trimmed() : errors)});
    compareNext();
}
