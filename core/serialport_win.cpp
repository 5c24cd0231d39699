// Serial port platform layer for Windows: the communications API and the registry's port list.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "serialport.h"

#include <algorithm>
#include <chrono>

#include <windows.h>

namespace serialport {

namespace {

std::wstring toWide(const std::string &text)
{
    if (text.empty())
        return std::wstring();
    const int length = ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    std::wstring wide(std::size_t(length), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), &wide[0], length);
    return wide;
}

std::string toUtf8(const wchar_t *text, int length)
{
    if (length <= 0)
        return std::string();
    const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string utf8(std::size_t(size), '\0');
    ::WideCharToMultiByte(CP_UTF8, 0, text, length, &utf8[0], size, nullptr, nullptr);
    return utf8;
}

bool failWith(DWORD error)
{
    ::SetLastError(error);
    return false;
}

// Holds the port's handle for one call, so that close() waits for the call to leave it. handle
// is INVALID_HANDLE_VALUE, and the system's code ERROR_INVALID_HANDLE, while the port is closed
// or being closed.
class Use
{
public:
    explicit Use(const Port &port)
        : m_port(port)
    {
        std::lock_guard<std::mutex> guard(port.lock);
        if (port.closing || port.handle == invalidHandle()) {
            ::SetLastError(ERROR_INVALID_HANDLE);
            return;
        }
        handle = port.handle;
        ++port.users;
    }
    ~Use()
    {
        if (handle == INVALID_HANDLE_VALUE)
            return;
        // The call's error code outlives the lock, which the thread library may use it for.
        const DWORD error = ::GetLastError();
        {
            std::lock_guard<std::mutex> guard(m_port.lock);
            if (--m_port.users == 0)
                m_port.idle.notify_all();
        }
        ::SetLastError(error);
    }
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;

    HANDLE handle = INVALID_HANDLE_VALUE;

private:
    const Port &m_port;
};

} // namespace

std::string devicePath(const std::string &name)
{
    if (name.compare(0, 4, "\\\\.\\") == 0 || name.compare(0, 2, "//") == 0)
        return name;
    return "\\\\.\\" + name;
}

bool open(Port &port, const std::string &name, unsigned access)
{
    if (port.handle != invalidHandle())
        return failWith(ERROR_BUSY);
    DWORD rights = 0;
    if (access & Read)
        rights |= GENERIC_READ;
    if (access & Write)
        rights |= GENERIC_WRITE;
    // A handle without read or write access would be open yet useless.
    if (rights == 0)
        return failWith(ERROR_INVALID_PARAMETER);

    SECURITY_ATTRIBUTES security;
    security.nLength = sizeof(security);
    security.lpSecurityDescriptor = nullptr;
    security.bInheritHandle = FALSE;
    // Share mode 0: the port is ours alone. No FILE_FLAG_OVERLAPPED: all I/O is synchronous.
    const HANDLE handle = ::CreateFileW(toWide(devicePath(name)).c_str(), rights, 0, &security,
                                        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    std::lock_guard<std::mutex> guard(port.lock);
    port.handle = handle;
    port.timeouts = Timeouts();
    return true;
}

void close(Port &port)
{
    std::unique_lock<std::mutex> guard(port.lock);
    if (port.handle == invalidHandle() || port.closing)
        return;
    port.closing = true;
    // Closing the handle alone does not end a synchronous transfer on another thread. The cancel
    // is repeated: a call may have taken the handle but not yet entered the system.
    while (port.users > 0) {
        ::CancelIoEx(port.handle, nullptr);
        port.idle.wait_for(guard, std::chrono::milliseconds(10));
    }
    ::CloseHandle(port.handle);
    port.handle = invalidHandle();
    port.closing = false;
}

bool getLineState(const Port &port, LineState *state)
{
    const Use use(port);
    if (use.handle == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb;
    ZeroMemory(&dcb, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    if (!::GetCommState(use.handle, &dcb))
        return false;
    state->baudRate = dcb.BaudRate;
    state->byteSize = dcb.ByteSize;
    state->parity = dcb.Parity;
    state->stopBits = dcb.StopBits;
    state->binary = dcb.fBinary;
    state->ctsOutputFlow = dcb.fOutxCtsFlow;
    state->dsrOutputFlow = dcb.fOutxDsrFlow;
    state->dsrSensitivity = dcb.fDsrSensitivity;
    state->xonXoffOutput = dcb.fOutX;
    return true;
}

bool setLineState(Port &port, const LineState &state)
{
    // Start from what the port reports so that every field we do not name stays as it is.
    const Use use(port);
    if (use.handle == INVALID_HANDLE_VALUE)
        return false;
    DCB dcb;
    ZeroMemory(&dcb, sizeof(dcb));
    dcb.DCBlength = sizeof(dcb);
    if (!::GetCommState(use.handle, &dcb))
        return false;
    dcb.BaudRate = state.baudRate;
    dcb.ByteSize = state.byteSize;
    dcb.Parity = state.parity;
    dcb.StopBits = state.stopBits;
    dcb.fBinary = state.binary;
    dcb.fOutxCtsFlow = state.ctsOutputFlow;
    dcb.fOutxDsrFlow = state.dsrOutputFlow;
    dcb.fDsrSensitivity = state.dsrSensitivity;
    dcb.fOutX = state.xonXoffOutput;
    return ::SetCommState(use.handle, &dcb) != FALSE;
}

bool setTimeouts(Port &port, const Timeouts &timeouts)
{
    COMMTIMEOUTS values;
    values.ReadIntervalTimeout = timeouts.readInterval;
    values.ReadTotalTimeoutMultiplier = timeouts.readTotalMultiplier;
    values.ReadTotalTimeoutConstant = timeouts.readTotalConstant;
    values.WriteTotalTimeoutMultiplier = timeouts.writeTotalMultiplier;
    values.WriteTotalTimeoutConstant = timeouts.writeTotalConstant;
    const Use use(port);
    if (use.handle == INVALID_HANDLE_VALUE)
        return false;
    if (!::SetCommTimeouts(use.handle, &values))
        return false;
    port.timeouts = timeouts;
    return true;
}

bool read(Port &port, char *data, std::uint32_t size, std::uint32_t *done)
{
    const Use use(port);
    *done = 0;
    if (use.handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD count = 0;
    const BOOL ok = ::ReadFile(use.handle, data, size, &count, nullptr);
    *done = count;
    return ok != FALSE;
}

bool write(Port &port, const char *data, std::uint32_t size, std::uint32_t *done)
{
    const Use use(port);
    *done = 0;
    if (use.handle == INVALID_HANDLE_VALUE)
        return false;
    DWORD count = 0;
    const BOOL ok = ::WriteFile(use.handle, data, size, &count, nullptr);
    *done = count;
    return ok != FALSE;
}

bool queuedBytes(const Port &port, std::uint32_t *count)
{
    DWORD errors = 0;
    COMSTAT status;
    ZeroMemory(&status, sizeof(status));
    const Use use(port);
    if (use.handle == INVALID_HANDLE_VALUE)
        return false;
    if (!::ClearCommError(use.handle, &errors, &status))
        return false;
    *count = status.cbInQue;
    return true;
}

bool purgeReceive(const Port &port)
{
    const Use use(port);
    if (use.handle == INVALID_HANDLE_VALUE)
        return false;
    return ::PurgeComm(use.handle, PURGE_RXCLEAR) != FALSE;
}

int lastError()
{
    return int(::GetLastError());
}

int invalidArgumentError()
{
    return ERROR_INVALID_PARAMETER;
}

std::string errorText(int error)
{
    wchar_t *buffer = nullptr;
    const DWORD length = ::FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, DWORD(error), MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
        reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    std::string text = toUtf8(buffer, int(length));
    if (buffer)
        ::LocalFree(buffer);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::vector<std::string> listPorts()
{
    std::vector<std::string> names;
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_READ, &key)
        != ERROR_SUCCESS)
        return names;
    DWORD count = 0;
    DWORD longestName = 0;
    DWORD longestData = 0;
    if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &count,
                           &longestName, &longestData, nullptr, nullptr)
        != ERROR_SUCCESS) {
        ::RegCloseKey(key);
        return names;
    }
    // Lengths: the name in characters, the data in bytes; one more character for the terminator.
    std::vector<wchar_t> name(longestName + 1);
    std::vector<wchar_t> data(longestData / sizeof(wchar_t) + 1);
    for (DWORD index = 0; index < count; ++index) {
        DWORD nameLength = DWORD(name.size());
        DWORD dataSize = DWORD(data.size() * sizeof(wchar_t));
        DWORD type = 0;
        if (::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                            reinterpret_cast<LPBYTE>(data.data()), &dataSize)
                != ERROR_SUCCESS
            || type != REG_SZ)
            continue;
        // Registry strings need not be terminated; stop at the data's end in any case.
        const std::size_t characters = dataSize / sizeof(wchar_t);
        std::size_t length = 0;
        while (length < characters && data[length] != L'\0')
            ++length;
        const std::string port = toUtf8(data.data(), int(length));
        if (std::find(names.begin(), names.end(), port) == names.end())
            names.push_back(port);
    }
    ::RegCloseKey(key);
    return names;
}

} // namespace serialport
