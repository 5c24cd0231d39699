// Test helper: the example site built into a temporary folder that becomes the current one.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "inspectortestsite.h"

#include "changespage.h"
#include "databasespage.h"
#include "inspectorwindow.h"
#include "profile.h"
#include "resultspage.h"
#include "testdatabase.h"

#include <QApplication>
#include <QDir>
#include <QFont>
#include <QImage>
#include <QStyle>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTest>

namespace InspectorTestSite {

bool enter()
{
    static QTemporaryDir folder;
    if (!folder.isValid())
        return false;
    for (const char *name : {"profile", "data", "qc", "syslog"}) {
        const QString base = QLatin1String(name);
        if (!TestDatabase::build(folder.filePath(base + QStringLiteral(".db")),
                                 QStringLiteral(EXAMPLE_SITE_DIR "/") + base
                                     + QStringLiteral(".sql")))
            return false;
    }
    return QDir::setCurrent(folder.path());
}

void useFixedLook()
{
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setPalette(QApplication::style()->standardPalette());
    // DejaVu Sans and WenQuanYi Micro Hei (the stored Chinese texts) come from Debian
    // packages that scripts/deps installs.
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(12);
    font.setHintingPreference(QFont::PreferFullHinting);
    QApplication::setFont(font);
    QApplication::setCursorFlashTime(0);
}

InspectorWindow *openWindow()
{
    // As the program opens it: looking changes nothing.
    Profile::setDefaultOpenMode(Profile::ReadOnly);
    Profile::instance();
    auto *window = new InspectorWindow(QStringLiteral(DBUPGRADE_PATH));
    window->resize(900, 560);
    window->show();
    if (!QTest::qWaitForWindowExposed(window) || !waitUntilRead(window)) {
        delete window;
        return nullptr;
    }
    return window;
}

bool waitUntilRead(InspectorWindow *window)
{
    return QTest::qWaitFor(
        [window] {
            return !window->databasesPage()->isReadingStatus()
                && !window->databasesPage()->isUpgrading() && !window->resultsPage()->isLoading()
                && !window->changesPage()->isReading();
        },
        30000);
}

int differingPixels(const QImage &actualImage, const QImage &goldenImage)
{
    const QImage actual = actualImage.convertToFormat(QImage::Format_RGB32);
    const QImage golden = goldenImage.convertToFormat(QImage::Format_RGB32);
    if (actual.size() != golden.size())
        return -1;
    // Anti-aliasing may move a channel a little; a changed text or line moves it a lot.
    const int tolerance = 48;
    int different = 0;
    for (int y = 0; y < actual.height(); ++y) {
        const auto *a = reinterpret_cast<const QRgb *>(actual.constScanLine(y));
        const auto *g = reinterpret_cast<const QRgb *>(golden.constScanLine(y));
        for (int x = 0; x < actual.width(); ++x) {
            if (qAbs(qRed(a[x]) - qRed(g[x])) > tolerance
                || qAbs(qGreen(a[x]) - qGreen(g[x])) > tolerance
                || qAbs(qBlue(a[x]) - qBlue(g[x])) > tolerance)
                ++different;
        }
    }
    return different;
}

} // namespace InspectorTestSite
