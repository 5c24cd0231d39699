// Logging categories of the core library, one per area.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "logging_p.h"

Q_LOGGING_CATEGORY(lcProfile, "core.profile")
Q_LOGGING_CATEGORY(lcResult, "core.result")
Q_LOGGING_CATEGORY(lcMessageBox, "core.messagebox")
Q_LOGGING_CATEGORY(lcScript, "core.script")
Q_LOGGING_CATEGORY(lcSampleNumber, "core.samplenumber")
Q_LOGGING_CATEGORY(lcPropertyModel, "core.propertymodel")
Q_LOGGING_CATEGORY(lcSerial, "core.serial")
