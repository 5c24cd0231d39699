// Test helper: the example site built into a temporary folder that becomes the current one.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef INSPECTORTESTSITE_H
#define INSPECTORTESTSITE_H

#include <QString>

class InspectorWindow;
class QImage;

namespace InspectorTestSite {

/*! Builds the four databases of the example site, as an old installation left them, into a
    fresh temporary folder and makes it the current directory; false on any failure. The
    folder lives until the process ends. */
bool enter();

/*! Fixed style, font and palette, so a screenshot does not depend on the desktop it runs on. */
void useFixedLook();

/*! A window over the current folder with every page read, at a fixed size. */
InspectorWindow *openWindow();

/*! Waits until every page of \a window has read the folder. */
bool waitUntilRead(InspectorWindow *window);

/*! The pixels of \a actual that differ from \a golden by more than anti-aliasing moves a
    channel; -1 when the sizes differ. */
int differingPixels(const QImage &actual, const QImage &golden);

} // namespace InspectorTestSite

#endif // INSPECTORTESTSITE_H
