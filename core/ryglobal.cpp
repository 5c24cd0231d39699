// Exported helpers of the core library; the header the application includes for all of them.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "ryglobal.h"

Core::Core() = default;
Core::Core(const Core &) = default;
Core::~Core() = default;
Core &Core::operator=(const Core &) = default;
