// A minimal table-driven check harness for the Qt-free platform tests.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef CHECK_H
#define CHECK_H

#include <cstdio>
#include <string>

// One row of a table: prints PASS or FAIL with its name when it ends.
class Row
{
public:
    Row(const char *group, const std::string &name)
        : m_name(std::string(group) + ": " + name)
    {
    }
    ~Row()
    {
        ++(m_failed ? failed : passed);
        std::printf("%s %s\n", m_failed ? "FAIL" : "PASS", m_name.c_str());
        std::fflush(stdout);
    }
    bool check(bool ok, const char *what, int line)
    {
        if (!ok) {
            m_failed = true;
            std::printf("  failed at line %d: %s\n", line, what);
        }
        return ok;
    }
    // What this system cannot show: the check that would run on Windows is not counted.
    void differs(const char *what)
    {
        ++differences;
        std::printf("  NOT SHOWN (%s)\n", what);
    }
    void note(const std::string &text) { std::printf("  %s\n", text.c_str()); }

    static inline int passed = 0;
    static inline int failed = 0;
    static inline int differences = 0;

private:
    std::string m_name;
    bool m_failed = false;
};

#define CHECK(row, condition) (row).check(bool(condition), #condition, __LINE__)

inline int summary()
{
    std::printf("%d passed, %d failed, %d checks not shown here\n", Row::passed, Row::failed,
                Row::differences);
    return Row::failed == 0 ? 0 : 1;
}

// The cases of the sleep and the file publication, run natively and under Wine.
void runPlatformCases(const std::string &folder);

#endif // CHECK_H
