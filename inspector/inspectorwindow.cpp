// Main window of the site inspector: the databases, settings, results, changes and calibration
// curves of one folder.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "inspectorwindow.h"

#include "calibrationpage.h"
#include "changespage.h"
#include "databasespage.h"
#include "profile.h"
#include "resultspage.h"
#include "settingspage.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QMenuBar>
#include <QProcess>
#include <QTabWidget>

InspectorWindow::InspectorWindow(const QString &toolPath, QWidget *parent)
    : QMainWindow(parent)
    , m_toolPath(toolPath)
    , m_tabs(new QTabWidget(this))
    , m_databases(new DatabasesPage(toolPath, this))
    , m_settings(new SettingsPage(this))
    , m_results(new ResultsPage(this))
    , m_changes(new ChangesPage(toolPath, this))
    , m_calibration(new CalibrationPage(this))
{
    setWindowTitle(tr("Site inspector - %1").arg(QDir::toNativeSeparators(QDir::currentPath())));
    // Alt and the underlined letter switches to a page.
    m_tabs->addTab(m_databases, tr("&Databases"));
    m_tabs->addTab(m_settings, tr("&Settings"));
    m_tabs->addTab(m_results, tr("&Results and curves"));
    m_tabs->addTab(m_changes, tr("&Changes"));
    m_tabs->addTab(m_calibration, tr("Ca&libration"));
    setCentralWidget(m_tabs);

    QMenu *file = menuBar()->addMenu(tr("&File"));
    file->addAction(tr("&Open another folder..."), this, &InspectorWindow::openAnotherFolder,
                    QKeySequence::Open);
    file->addAction(tr("&Read again"), this, &InspectorWindow::reload, QKeySequence::Refresh);
    file->addSeparator();
    file->addAction(tr("&Quit"), this, &QWidget::close, QKeySequence::Quit);

    // Also after a failed run: part of the folder may have been upgraded. The page reads its
    // own status again.
    connect(m_databases, &DatabasesPage::upgradeFinished, this,
            &InspectorWindow::rereadSettingsAndResults);
    connect(m_settings, &SettingsPage::editingChanged, this, &InspectorWindow::openSettings);

    m_databases->refresh();
    m_settings->setStore(&Profile::instance());
    m_results->reload();
    m_changes->reload();
    m_calibration->reload();
}

void InspectorWindow::openAnotherFolder()
{
    // The store belongs to this folder for the life of the process: another folder gets a
    // process of its own.
    const QString folder
        = QFileDialog::getExistingDirectory(this, tr("Choose an instrument folder"));
    if (!folder.isEmpty())
        QProcess::startDetached(QApplication::applicationFilePath(),
                                {QStringLiteral("--dbupgrade"), m_toolPath, folder});
}

void InspectorWindow::reload()
{
    m_databases->refresh();
    rereadSettingsAndResults();
}

void InspectorWindow::openSettings()
{
    m_settings->setStore(nullptr);
    delete m_freshStore; // writes what an edit left staged
    m_freshStore = new Profile(QStringLiteral("profile.db"),
                               m_settings->isEditing() ? Profile::ReadWrite
                                                       : Profile::defaultOpenMode(),
                               this);
    m_settings->setStore(m_freshStore);
}

void InspectorWindow::rereadSettingsAndResults()
{
    openSettings();
    m_results->reload();
    m_changes->reload();
    m_calibration->reload();
}
