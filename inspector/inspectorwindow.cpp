// Main window of the site inspector: the databases, settings and results of one folder.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "inspectorwindow.h"

#include "databasespage.h"
#include "profile.h"
#include "resultspage.h"
#include "settingspage.h"

#include <QDir>
#include <QTabWidget>

InspectorWindow::InspectorWindow(const QString &toolPath, QWidget *parent)
    : QMainWindow(parent)
    , m_tabs(new QTabWidget(this))
    , m_databases(new DatabasesPage(toolPath, this))
    , m_settings(new SettingsPage(this))
    , m_results(new ResultsPage(this))
{
    setWindowTitle(tr("Site inspector - %1").arg(QDir::toNativeSeparators(QDir::currentPath())));
    m_tabs->addTab(m_databases, tr("Databases"));
    m_tabs->addTab(m_settings, tr("Settings"));
    m_tabs->addTab(m_results, tr("Results and curves"));
    setCentralWidget(m_tabs);

    // Also after a failed run: part of the folder may have been upgraded. The page reads its
    // own status again.
    connect(m_databases, &DatabasesPage::upgradeFinished, this,
            &InspectorWindow::rereadSettingsAndResults);

    m_databases->refresh();
    m_settings->setStore(&Profile::instance());
    m_results->reload();
}

void InspectorWindow::reload()
{
    m_databases->refresh();
    rereadSettingsAndResults();
}

void InspectorWindow::rereadSettingsAndResults()
{
    m_settings->setStore(nullptr);
    delete m_freshStore;
    m_freshStore = new Profile(this);
    m_settings->setStore(m_freshStore);
    m_results->reload();
}
