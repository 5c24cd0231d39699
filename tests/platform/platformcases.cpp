// Cases of the sleep and of the publication of a finished file, the same on every platform.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "check.h"
#include "publishfile.h"
#include "sleep_p.h"

#include <chrono>
#include <climits>
#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#ifdef _WIN32
std::wstring wide(const std::string &path)
{
    std::wstring text(path.size(), L'\0');
    text.resize(std::size_t(::MultiByteToWideChar(CP_UTF8, 0, path.data(), int(path.size()),
                                                  &text[0], int(text.size()))));
    return text;
}
FILE *openFile(const std::string &path, const wchar_t *mode)
{
    return ::_wfopen(wide(path).c_str(), mode);
}
void removeFile(const std::string &path)
{
    ::DeleteFileW(wide(path).c_str());
}
void makeFolder(const std::string &path)
{
    ::CreateDirectoryW(wide(path).c_str(), nullptr);
}
void removeFolder(const std::string &path)
{
    ::RemoveDirectoryW(wide(path).c_str());
}
#define MODE(m) L##m
#else
FILE *openFile(const std::string &path, const char *mode)
{
    return std::fopen(path.c_str(), mode);
}
void removeFile(const std::string &path)
{
    ::unlink(path.c_str());
}
void makeFolder(const std::string &path)
{
    ::mkdir(path.c_str(), 0700);
}
void removeFolder(const std::string &path)
{
    ::rmdir(path.c_str());
}
#define MODE(m) m
#endif

void writeFile(const std::string &path, const std::string &content)
{
    if (FILE *file = openFile(path, MODE("wb"))) {
        std::fwrite(content.data(), 1, content.size(), file);
        std::fclose(file);
    }
}

// The content, or "(missing)".
std::string readFile(const std::string &path)
{
    FILE *file = openFile(path, MODE("rb"));
    if (!file)
        return "(missing)";
    std::string content;
    char buffer[4096];
    for (std::size_t count; (count = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        content.append(buffer, count);
    std::fclose(file);
    return content;
}

void sleepCases()
{
    using Clock = std::chrono::steady_clock;
    const auto elapsedMs = [](Clock::time_point start) {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    };
    {
        Row row("sleep", "50 ms is at least 50 ms");
        const auto start = Clock::now();
        platform::sleepMilliseconds(50);
        CHECK(row, elapsedMs(start) >= 50);
    }
    // A count that is not positive returns at once; as a DWORD, -1 would mean "forever".
    for (const int ms : {0, -1, INT_MIN}) {
        Row row("sleep", std::to_string(ms) + " ms returns at once");
        const auto start = Clock::now();
        platform::sleepMilliseconds(ms);
        CHECK(row, elapsedMs(start) < 1000);
    }
}

struct PublishCase
{
    const char *name;
    const char *target; // under the folder
    bool sourceExists;
    const char *existing; // content already under the target, or nullptr
    Publication expected;
};

const PublishCase publishCases[] = {
    {"free name", "data.db.v0.bak", true, nullptr, Publication::Published},
    {"free name, not ASCII",
     "donn\xC3\xA9"
     "es \xE6\x95\xB0\xE6\x8D\xAE.v1.bak",
     true, nullptr, Publication::Published},
    {"name taken by a file", "data.db.v2.bak", true, "older backup", Publication::NameTaken},
    {"name taken by an empty file", "data.db.v3.bak", true, "", Publication::NameTaken},
    {"name taken by a folder", "data.db.v4.bak", true, nullptr, Publication::NameTaken},
    {"source missing", "data.db.v5.bak", false, nullptr, Publication::Failed},
    {"target folder missing", "no such folder/data.db.v6.bak", true, nullptr, Publication::Failed},
};

void publishCasesIn(const std::string &folder)
{
    const std::string content("SQLite format 3\0\x01\xFF\r\n\x1A end", 24);
    for (const PublishCase &test : publishCases) {
        Row row("publish", test.name);
        const std::string source = folder + "/data.db.backup-in-progress";
        const std::string target = folder + "/" + test.target;
        const bool folderTarget = std::string(test.name).find("folder") != std::string::npos
            && test.expected == Publication::NameTaken;
        if (test.sourceExists)
            writeFile(source, content);
        if (test.existing)
            writeFile(target, test.existing);
        if (folderTarget)
            makeFolder(target);

        std::string error;
        const Publication result = publishFile(source.c_str(), target.c_str(), &error);
        CHECK(row, result == test.expected);
        CHECK(row, error.empty() == (test.expected != Publication::Failed));
        if (test.expected == Publication::Published) {
            CHECK(row, readFile(target) == content);
            CHECK(row, readFile(source) == "(missing)");
        } else {
            // Both names as they were.
            CHECK(row, readFile(source) == (test.sourceExists ? content : "(missing)"));
            if (test.existing)
                CHECK(row, readFile(target) == test.existing);
            else if (!folderTarget)
                CHECK(row, readFile(target) == "(missing)");
        }
        if (!error.empty())
            row.note("error text: " + error);
        removeFile(source);
        removeFile(target);
        if (folderTarget)
            removeFolder(target);
    }
}

} // namespace

void runPlatformCases(const std::string &folder)
{
    sleepCases();
    publishCasesIn(folder);
}
