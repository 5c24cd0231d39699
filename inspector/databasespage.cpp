// Databases page of the site inspector: the versions of the four databases and the upgrade run.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "databasespage.h"

#include "ryglobal.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

// A run's console line per database: "<file>: ...".
const QRegularExpression &consoleLine()
{
    static const QRegularExpression pattern(QStringLiteral("^\\S+\\.db: "));
    return pattern;
}

// The state without the versions that lead the tool's status text ("0 -> 4, would upgrade").
QString stateOf(const QString &status)
{
    static const QRegularExpression versions(QStringLiteral("^\\d+ -> \\d+, "));
    return QString(status).remove(versions);
}

QString sizeText(const QJsonObject &plan)
{
    if (!plan.value(QLatin1String("exists")).toBool())
        return QStringLiteral("-");
    return QLocale::c().formattedDataSize(qint64(plan.value(QLatin1String("size")).toDouble()), 1,
                                          QLocale::DataSizeTraditionalFormat);
}

QString versionText(const QJsonValue &version)
{
    return version.isDouble() ? QString::number(version.toInt()) : QString();
}

} // namespace

DatabasesPage::DatabasesPage(const QString &toolPath, QWidget *parent)
    : QWidget(parent)
    , m_toolPath(toolPath)
    , m_table(new QTreeWidget(this))
    , m_summary(new QLabel(this))
    , m_upgradeButton(new QPushButton(tr("&Upgrade"), this))
    , m_progress(new QProgressBar(this))
    , m_runResult(new QLabel(this))
    , m_output(new QPlainTextEdit(this))
{
    m_table->setObjectName(QStringLiteral("databaseTable"));
    m_table->setAccessibleName(tr("Databases of the folder"));
    m_table->setRootIsDecorated(false);
    m_table->setHeaderLabels(
        {tr("Database"), tr("Size"), tr("Version found"), tr("Current version"), tr("State")});
    m_table->header()->setStretchLastSection(true);
    m_table->setColumnWidth(FileColumn, 110);
    m_table->setColumnWidth(SizeColumn, 80);
    m_table->setColumnWidth(FoundColumn, 110);
    m_table->setColumnWidth(CurrentColumn, 120);
    m_upgradeButton->setObjectName(QStringLiteral("upgradeButton"));
    m_upgradeButton->setAccessibleName(tr("Upgrade the folder"));
    m_upgradeButton->setEnabled(false);
    m_progress->setAccessibleName(tr("Upgrade progress"));
    m_progress->setRange(0, 1);
    m_progress->setValue(0);
    m_output->setObjectName(QStringLiteral("upgradeOutput"));
    m_output->setAccessibleName(tr("Upgrade output"));
    m_output->setReadOnly(true);
    m_output->setPlaceholderText(tr("The upgrade's lines and its log appear here."));

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_upgradeButton);
    buttons->addWidget(m_progress, 1);
    buttons->addWidget(m_runResult);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table, 2);
    layout->addWidget(m_summary);
    layout->addLayout(buttons);
    layout->addWidget(m_output, 3);

    connect(m_upgradeButton, &QPushButton::clicked, this, &DatabasesPage::startUpgrade);
}

DatabasesPage::~DatabasesPage()
{
    // A running upgrade is left to finish on its own: killing it mid-step is what its
    // transactions guard against, but there is no reason to provoke that.
    for (QProcess *process : {m_status, m_upgrade}) {
        if (process && process->state() != QProcess::NotRunning) {
            process->disconnect(this);
            process->waitForFinished(-1);
        }
    }
}

bool DatabasesPage::isUpgrading() const
{
    return m_upgrade && m_upgrade->state() != QProcess::NotRunning;
}

bool DatabasesPage::isReadingStatus() const
{
    return m_status && m_status->state() != QProcess::NotRunning;
}

void DatabasesPage::refresh()
{
    if (isReadingStatus())
        return;
    delete m_status;
    m_status = new QProcess(this);
    m_status->setWorkingDirectory(QDir::currentPath());
    m_status->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_status, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            &DatabasesPage::statusFinished);
    connect(m_status, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        m_summary->setText(tr("dbupgrade could not be run."));
        critical(tr("Cannot run %1 --status:\n%2").arg(m_toolPath, m_status->errorString()));
        m_lastStatus = -1;
        updateButton();
        emit statusRead(-1);
    });
    m_summary->setText(tr("Reading the folder..."));
    m_status->start(m_toolPath, {QStringLiteral("--status"), QStringLiteral("--json")});
}

void DatabasesPage::statusFinished(int exitCode, QProcess::ExitStatus status)
{
    const QByteArray output = m_status->readAll();
    m_table->clear();
    QStringList problems;
    // One JSON object per line and database; anything else is the tool saying what is wrong.
    for (const QByteArray &line : output.split('\n')) {
        if (line.trimmed().isEmpty())
            continue;
        const QJsonObject plan = QJsonDocument::fromJson(line).object();
        const QString file = plan.value(QLatin1String("file")).toString();
        if (file.isEmpty()) {
            problems << QString::fromLocal8Bit(line);
            continue;
        }
        const QString status = plan.value(QLatin1String("status")).toString();
        QString found = versionText(plan.value(QLatin1String("found")));
        QString current = versionText(plan.value(QLatin1String("target")));
        QString state = stateOf(status);
        // qc.db carries no version: "not versioned, current".
        if (found.isEmpty() && state.startsWith(QLatin1String("not versioned, "))) {
            found = tr("not versioned");
            current = QStringLiteral("-");
            state = state.mid(int(qstrlen("not versioned, ")));
        }
        auto *item = new QTreeWidgetItem(m_table, {file, sizeText(plan), found, current, state});
        item->setToolTip(StateColumn, file + QLatin1String(": ") + status);
    }

    if (status != QProcess::NormalExit)
        exitCode = 1;
    m_lastStatus = exitCode;
    switch (exitCode) {
    case 0:
        m_summary->setText(tr("Every database is current."));
        break;
    case 3:
        m_summary->setText(tr("An upgrade is pending."));
        break;
    default:
        m_summary->setText(tr("dbupgrade reports a problem with this folder."));
        // The tool's own lines say what is wrong (not an instrument folder, a database held
        // by the analyser, a version newer than the tool).
        for (int i = 0; i < m_table->topLevelItemCount(); ++i) {
            const QTreeWidgetItem *item = m_table->topLevelItem(i);
            const QString state = item->text(StateColumn);
            if (state != QLatin1String("current")
                && !state.startsWith(QLatin1String("would upgrade")))
                problems << item->toolTip(StateColumn);
        }
        warning(tr("dbupgrade --status found a problem (exit status %1):\n%2")
                    .arg(exitCode)
                    .arg(problems.join(QLatin1Char('\n'))));
        break;
    }
    updateButton();
    emit statusRead(exitCode);
}

void DatabasesPage::startUpgrade()
{
    if (isUpgrading())
        return;
    delete m_upgrade;
    m_upgrade = new QProcess(this);
    m_upgrade->setWorkingDirectory(QDir::currentPath());
    m_upgrade->setProcessChannelMode(QProcess::MergedChannels);
    connect(m_upgrade, &QProcess::readyRead, this, &DatabasesPage::readUpgradeOutput);
    connect(m_upgrade, qOverload<int, QProcess::ExitStatus>(&QProcess::finished), this,
            &DatabasesPage::upgradeDone);
    connect(m_upgrade, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        appendOutput(tr("Cannot run %1: %2").arg(m_toolPath, m_upgrade->errorString()));
        upgradeDone(-1, QProcess::CrashExit);
    });

    // Only what this run appends to the log is shown afterwards.
    m_logOffset = QFileInfo(logFileName()).size();
    m_output->clear();
    m_lastToolLine.clear();
    m_runResult->clear();
    m_progress->setRange(0, qMax(1, m_table->topLevelItemCount()));
    m_progress->setValue(0);
    m_summary->setText(tr("Upgrading..."));
    m_upgrade->start(m_toolPath, {logFileName()});
    updateButton();
}

void DatabasesPage::readUpgradeOutput()
{
    while (m_upgrade->canReadLine()) {
        const QString line = QString::fromLocal8Bit(m_upgrade->readLine()).trimmed();
        appendOutput(line);
        if (!line.isEmpty())
            m_lastToolLine = line;
        if (consoleLine().match(line).hasMatch())
            m_progress->setValue(qMin(m_progress->value() + 1, m_progress->maximum()));
    }
}

void DatabasesPage::upgradeDone(int exitCode, QProcess::ExitStatus status)
{
    if (m_upgrade->bytesAvailable() > 0) {
        readUpgradeOutput();
        const QString rest = QString::fromLocal8Bit(m_upgrade->readAll()).trimmed();
        if (!rest.isEmpty()) {
            appendOutput(rest);
            m_lastToolLine = rest;
        }
    }
    const bool ok = status == QProcess::NormalExit && exitCode == 0;

    QFile log(logFileName());
    if (log.open(QIODevice::ReadOnly) && log.seek(qMin(m_logOffset, log.size()))) {
        appendOutput(QString());
        appendOutput(tr("--- %1 ---").arg(logFileName()));
        appendOutput(QString::fromUtf8(log.readAll()).trimmed());
    }
    if (ok) {
        m_progress->setValue(m_progress->maximum());
        m_runResult->setText(tr("Upgrade finished"));
    } else {
        m_runResult->setText(tr("Upgrade FAILED"));
    }
    updateButton();
    if (!ok)
        critical(tr("The upgrade failed (exit status %1):\n%2\n\nThe tool's lines and the log are "
                    "on the Databases page.")
                     .arg(exitCode)
                     .arg(m_lastToolLine));
    emit upgradeFinished(ok);
    refresh();
}

void DatabasesPage::appendOutput(const QString &line)
{
    m_output->appendPlainText(line);
}

void DatabasesPage::updateButton()
{
    // Nothing to do on a current folder, and never two runs at once.
    m_upgradeButton->setEnabled(!isUpgrading() && m_lastStatus == 3);
}
