// Logging categories of the core library, one per area (private).
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef LOGGING_P_H
#define LOGGING_P_H

#include <QLoggingCategory>

// An application switches an area's output with rules such as "core.serial.warning=false".
Q_DECLARE_LOGGING_CATEGORY(lcProfile)       // core.profile: the settings store
Q_DECLARE_LOGGING_CATEGORY(lcResult)        // core.result: clot curves and analysis results
Q_DECLARE_LOGGING_CATEGORY(lcMessageBox)    // core.messagebox: boxes shown without a GUI
Q_DECLARE_LOGGING_CATEGORY(lcScript)        // core.script: eval and load_script
Q_DECLARE_LOGGING_CATEGORY(lcSampleNumber)  // core.samplenumber: sample-number queries
Q_DECLARE_LOGGING_CATEGORY(lcPropertyModel) // core.propertymodel: the property tree
Q_DECLARE_LOGGING_CATEGORY(lcSerial)        // core.serial: the serial port

#endif // LOGGING_P_H
