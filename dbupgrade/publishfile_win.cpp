// Publication of a finished file on Windows: a rename that never replaces its target.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "publishfile.h"

#include <windows.h>

namespace {

std::wstring toWide(const char *text)
{
    const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
    if (length <= 0)
        return std::wstring();
    std::wstring wide(std::size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, &wide[0], length);
    wide.resize(std::size_t(length - 1));
    return wide;
}

std::string systemText(DWORD code)
{
    char *buffer = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), reinterpret_cast<LPSTR>(&buffer),
        0, nullptr);
    std::string text(buffer ? buffer : "", length);
    if (buffer)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text.empty() ? "error " + std::to_string(code) : text;
}

} // namespace

Publication publishFile(const char *from, const char *to, std::string *error)
{
    const std::wstring source = toWide(from);
    const std::wstring target = toWide(to);
    if (source.empty() || target.empty()) {
        *error = systemText(ERROR_INVALID_NAME);
        return Publication::Failed;
    }
    // Without MOVEFILE_REPLACE_EXISTING the rename fails on a taken name, and without
    // MOVEFILE_COPY_ALLOWED it is one step: a copy stopped half-way would leave an incomplete
    // file under the final name.
    if (::MoveFileExW(source.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH))
        return Publication::Published;
    const DWORD code = ::GetLastError();
    // A folder of that name refuses the rename with another code; it takes the name all the same.
    if (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS
        || ::GetFileAttributesW(target.c_str()) != INVALID_FILE_ATTRIBUTES)
        return Publication::NameTaken;
    *error = systemText(code);
    return Publication::Failed;
}
