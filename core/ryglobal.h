// Exported helpers of the core library; the header the application includes for all of them.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef RYGLOBAL_H
#define RYGLOBAL_H

#include "core_global.h"

// One header per topic; this one gathers them so that callers include one name.
#include "checksum.h"
#include "messagebox.h"
#include "numbers.h"
#include "ryenums.h"
#include "samplenumber.h"
#include "scripting.h"
#include "sleep.h"

/*! \brief Empty exported class; the application derives from it. */
class CORE_EXPORT Core
{
public:
    Core();
    Core(const Core &other);
    ~Core();
    Core &operator=(const Core &other);
};

#endif // RYGLOBAL_H
