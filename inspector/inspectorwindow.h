// Main window of the site inspector: the databases, settings, results, changes and calibration
// curves of one folder.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef INSPECTORWINDOW_H
#define INSPECTORWINDOW_H

#include <QMainWindow>

class CalibrationPage;
class ChangesPage;
class DatabasesPage;
class Profile;
class QTabWidget;
class ResultsPage;
class SettingsPage;

/*!
    \brief Shows the instrument folder that is the current directory. The settings store must
    have been created there (Profile::instance()) before the window is, read-only
    (Profile::setDefaultOpenMode()) so that looking changes nothing: the settings are opened for
    writing only while Edit is on.
*/
class InspectorWindow : public QMainWindow
{
    Q_OBJECT
public:
    enum Page { DatabasesTab, SettingsTab, ResultsTab, ChangesTab, CalibrationTab };

    explicit InspectorWindow(const QString &toolPath, QWidget *parent = nullptr);

    QTabWidget *tabs() const { return m_tabs; }
    DatabasesPage *databasesPage() const { return m_databases; }
    SettingsPage *settingsPage() const { return m_settings; }
    ResultsPage *resultsPage() const { return m_results; }
    ChangesPage *changesPage() const { return m_changes; }
    CalibrationPage *calibrationPage() const { return m_calibration; }

    /*! \brief Reads every page again, the settings through a fresh store: an upgrade
        rewrites table profile behind the store's copy in memory. */
    void reload();
    /*! \brief Asks for a folder and starts another inspector on it. */
    void openAnotherFolder();

private:
    void rereadSettingsAndResults();
    // The settings through a fresh store: read-only, or for writing while Edit is on.
    void openSettings();

    QString m_toolPath;
    QTabWidget *m_tabs;
    DatabasesPage *m_databases;
    SettingsPage *m_settings;
    ResultsPage *m_results;
    ChangesPage *m_changes;
    CalibrationPage *m_calibration;
    Profile *m_freshStore = nullptr;
};

#endif // INSPECTORWINDOW_H
