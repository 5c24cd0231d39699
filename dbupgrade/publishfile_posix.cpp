// Publication of a finished file on POSIX systems: a second link, then the first one removed.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "publishfile.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

Publication publishFile(const char *from, const char *to, std::string *error)
{
    // link() fails with EEXIST on any entry of that name, a dangling symbolic link included.
    if (::link(from, to) != 0) {
        if (errno == EEXIST)
            return Publication::NameTaken;
        *error = std::strerror(errno);
        return Publication::Failed;
    }
    // The file is complete under both names; a failure here only leaves the old name behind.
    ::unlink(from);
    return Publication::Published;
}
