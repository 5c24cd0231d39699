// The built inspector in a real window (xcb under Xvfb), driven with real input by xdotool: pages
// switched by keyboard, a result selected with the mouse, Upgrade by keyboard on a copy of the
// example site, then a screenshot of the Changes page compared with its golden.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "inspectortestsite.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

class tst_InspectorWindow : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void upgradeInARealWindow();

private:
    bool run(const QString &program, const QStringList &arguments, QByteArray *output = nullptr);
    bool input(const QStringList &arguments);
    QProcessEnvironment display() const;

    QString m_display;
    QProcess m_server;
    QProcess m_inspector;
    QString m_window;
};

QProcessEnvironment tst_InspectorWindow::display() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_display);
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // libxkbcommon-x11 copies names out of X replies with strndup, which reads past the reply
    // under ASan's strict string checks; that is Debian's library, not ours.
    QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
    if (!sanitizer.isEmpty())
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           sanitizer.replace(QStringLiteral("strict_string_checks=1"),
                                             QStringLiteral("strict_string_checks=0")));
    return environment;
}

bool tst_InspectorWindow::run(const QString &program, const QStringList &arguments,
                              QByteArray *output)
{
    QProcess process;
    process.setProcessEnvironment(display());
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        return false;
    if (output)
        *output = process.readAllStandardOutput().trimmed();
    return true;
}

// Real key and mouse events, sent to the inspector's window through the X server.
bool tst_InspectorWindow::input(const QStringList &arguments)
{
    const bool sent = run(QStringLiteral("xdotool"), arguments);
    QTest::qWait(300);
    return sent;
}

void tst_InspectorWindow::initTestCase()
{
    for (const char *tool : {"Xvfb", "xdotool", "import"}) {
        if (QStandardPaths::findExecutable(QLatin1String(tool)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed (scripts/deps installs xvfb, "
                                            "xdotool and imagemagick)")
                                 .arg(QLatin1String(tool))));
    }
    QVERIFY(InspectorTestSite::enter());
    // A display number no other server uses.
    for (int n = 90 + QCoreApplication::applicationPid() % 400;; ++n) {
        if (!QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n))) {
            m_display = QStringLiteral(":%1").arg(n);
            break;
        }
    }
    m_server.start(QStringLiteral("Xvfb"), {m_display, QStringLiteral("-screen"), QStringLiteral("0"),
                                            QStringLiteral("1280x800x24"),
                                            QStringLiteral("-nolisten"), QStringLiteral("tcp")});
    QVERIFY(m_server.waitForStarted());
    const QString socket = QStringLiteral("/tmp/.X11-unix/X") + m_display.mid(1);
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(socket), 10000);
}

void tst_InspectorWindow::cleanupTestCase()
{
    for (QProcess *process : {&m_inspector, &m_server}) {
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            if (!process->waitForFinished(5000))
                process->kill();
            process->waitForFinished(5000);
        }
    }
}

void tst_InspectorWindow::upgradeInARealWindow()
{
    m_inspector.setProcessEnvironment(display());
    m_inspector.setStandardErrorFile(QStringLiteral(ACTUAL_DIR "/siteinspector.log"));
    m_inspector.start(QStringLiteral(SITEINSPECTOR_PATH),
                      {QStringLiteral("--dbupgrade"), QStringLiteral(DBUPGRADE_PATH),
                       QDir::currentPath()});
    QVERIFY(m_inspector.waitForStarted());
    // A sanitizer build on a busy machine takes a while to show its window.
    QByteArray window;
    const auto shown = [&] {
        return run(QStringLiteral("xdotool"),
                   {QStringLiteral("search"), QStringLiteral("--name"),
                    QStringLiteral("Site inspector")},
                   &window)
            && !window.isEmpty();
    };
    QTRY_VERIFY2_WITH_TIMEOUT(shown() || m_inspector.state() == QProcess::NotRunning,
                              "no window within two minutes", 120000);
    QVERIFY2(m_inspector.state() == QProcess::Running,
             "the inspector ended; its messages are in " ACTUAL_DIR "/siteinspector.log");
    m_window = QString::fromLatin1(window.split('\n').first());
    QVERIFY(input({QStringLiteral("windowfocus"), QStringLiteral("--sync"), m_window}));

    // Results by keyboard, its third row with the mouse; Databases and Upgrade by keyboard.
    QVERIFY(input({QStringLiteral("key"), QStringLiteral("alt+r")}));
    QVERIFY(input({QStringLiteral("mousemove"), QStringLiteral("--window"), m_window,
                   QStringLiteral("50"), QStringLiteral("139"), QStringLiteral("click"),
                   QStringLiteral("1")}));
    QVERIFY(input({QStringLiteral("key"), QStringLiteral("alt+d")}));
    QVERIFY(input({QStringLiteral("key"), QStringLiteral("alt+u")}));
    const auto finished = [] {
        QFile log(QStringLiteral("upgrade.log"));
        return log.open(QIODevice::ReadOnly) && log.readAll().contains("every database ok");
    };
    QTRY_VERIFY_WITH_TIMEOUT(finished(), 60000);
    // Then the inspector reads the folder again through dbupgrade; done when it runs no more.
    const QString pid = QString::number(m_inspector.processId());
    const auto idle = [&] { return !run(QStringLiteral("pgrep"), {QStringLiteral("-P"), pid}); };
    QTRY_VERIFY_WITH_TIMEOUT(idle() && (QTest::qWait(500), idle()), 60000);
    QVERIFY(input({QStringLiteral("key"), QStringLiteral("alt+c")}));

    // The page is read again after the run; it is in its finished state once it matches.
    const QString name = QStringLiteral("window-changes-after.png");
    const QString goldenFile = QStringLiteral(GOLDEN_DIR "/") + name;
    const QString shotFile = QStringLiteral(ACTUAL_DIR "/") + name;
    const QImage golden(goldenFile);
    const bool update = qEnvironmentVariableIsSet("INSPECTOR_UPDATE_GOLDENS");
    QVERIFY2(update || !golden.isNull(), qPrintable(goldenFile + QStringLiteral(" is missing")));
    int different = -1;
    for (int attempt = 0; attempt < 40 && different != 0; ++attempt) {
        QTest::qWait(500);
        QVERIFY(run(QStringLiteral("import"),
                    {QStringLiteral("-window"), m_window, shotFile}));
        if (update && attempt == 10)
            break; // settled long enough to be the golden
        different = InspectorTestSite::differingPixels(QImage(shotFile), golden);
    }
    if (update) {
        QVERIFY(QFile::remove(goldenFile) || !QFile::exists(goldenFile));
        QVERIFY(QFile::copy(shotFile, goldenFile));
        return;
    }
    QVERIFY2(different == 0, qPrintable(QStringLiteral("%1 pixels differ from %2; picture in %3")
                                            .arg(different)
                                            .arg(goldenFile, shotFile)));
}

// No window of its own: the program under test is another process.
QTEST_GUILESS_MAIN(tst_InspectorWindow)
#include "tst_inspectorwindow.moc"
