// The platform cases natively: the sleep and the file publication. Usage: tst_platform FOLDER
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "check.h"

#include <sys/stat.h>

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2;
    ::mkdir(argv[1], 0700);
    runPlatformCases(argv[1]);
    return summary();
}
