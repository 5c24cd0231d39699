// Exported helpers of the core library; the header the application includes for all of them.
// SPDX-License-Identifier: LicenseRef-Proprietary
/*! \file ryglobal.h
    \brief Every helper of the core library in one include: message boxes and guards, numbers
    and texts, scripts, sample numbers, the checksum, sleep and the ry enumerations. */
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
    //!@{
    /*! \brief Copying copies nothing. */
    Core(const Core &other);
    Core &operator=(const Core &other);
    //!@}
    ~Core();
};

#endif // RYGLOBAL_H
