// Gives a finished file its final name without ever replacing a file of that name.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef PUBLISHFILE_H
#define PUBLISHFILE_H

// Free of Qt on purpose: the Windows implementation is compiled stand-alone by a cross compiler.
#include <string>

enum class Publication { Published, NameTaken, Failed };

/*! Moves the file \a from to the name \a to, in one step, when no directory entry \a to exists;
    \a from is gone afterwards. Paths are in the encoding the system's file calls take (UTF-8 on
    Windows). NameTaken and Failed leave both names as they were; Failed sets \a error, in the
    system's 8-bit encoding. */
Publication publishFile(const char *from, const char *to, std::string *error);

#endif // PUBLISHFILE_H
