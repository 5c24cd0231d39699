// The Windows platform layers run under Wine: the serial port against a peer on the other end of
// a pseudo-terminal, the sleep and the file publication. Usage: tst_windows.exe PORT FOLDER
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "check.h"
#include "serialport.h"
#include "sleep_p.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <iostream>
#include <thread>

using namespace serialport;

namespace {

std::string portName;
// Wine implements parts of the communications API differently; those checks are reported, not
// counted, when it runs us.
const bool underWine = ::GetProcAddress(::GetModuleHandleW(L"ntdll.dll"), "wine_get_version");

// A request to the peer on the line's far end; returns its answer.
std::string ask(const std::string &request)
{
    std::cout << '@' << request << std::endl;
    std::string answer;
    std::getline(std::cin, answer);
    return answer;
}

std::string hex(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char c : bytes)
        text += {digits[c >> 4], digits[c & 15]};
    return text.empty() ? "-" : text;
}

std::string allByteValues()
{
    std::string bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[std::size_t(i)] = char(i);
    return bytes;
}

std::string readBytes(Port &port, std::uint32_t size)
{
    std::string data(size, '\0');
    std::uint32_t done = 0;
    if (!serialport::read(port, &data[0], size, &done))
        return "(read failed)";
    data.resize(done);
    return data;
}

// The time-outs that Serial::setTimeouts sets: n + total ms for n bytes, ending at a gap.
bool setSerialTimeouts(Port &port, std::uint32_t interval, std::uint32_t readTotal,
                       std::uint32_t writeTotal)
{
    return setTimeouts(port, {interval, 1, readTotal, 1, writeTotal});
}

bool openPort(Port &port)
{
    return serialport::open(port, portName, Read | Write);
}

void devicePaths()
{
    const struct
    {
        const char *name, *path;
    } cases[]
        = {{"COM10", "\\\\.\\COM10"}, {"\\\\.\\COM3", "\\\\.\\COM3"}, {"//./COM3", "//./COM3"}};
    for (const auto &test : cases) {
        Row row("device path", test.name);
        CHECK(row, devicePath(test.name) == test.path);
    }
}

void openAndClose()
{
    for (const std::string &name : {portName, "\\\\.\\" + portName, "//./" + portName}) {
        Row row("open and close", name);
        Port port;
        if (!CHECK(row, serialport::open(port, name, Read | Write)))
            continue;
        CHECK(row, port.handle != invalidHandle());
        close(port);
        CHECK(row, port.handle == invalidHandle());
        close(port);
        CHECK(row, port.handle == invalidHandle());
        // Closing gives the port up for the next opener.
        CHECK(row, openPort(port));
        close(port);
    }
    {
        Row row("open and close", "a Port already open");
        Port port;
        CHECK(row, openPort(port));
        const Handle held = port.handle;
        CHECK(row, !openPort(port) && lastError() == ERROR_BUSY);
        CHECK(row, port.handle == held);
        std::uint32_t written = 0;
        CHECK(row, serialport::write(port, "ping", 4, &written) && written == 4);
        CHECK(row, ask("recv 4 2000") == hex("ping"));
        close(port);
    }
    {
        Row row("open and close", "a port held by another");
        Port first, second;
        CHECK(row, openPort(first));
        const bool opened = openPort(second);
        if (underWine && opened)
            row.differs("Wine lets a second CreateFileW with share mode 0 open the port");
        else
            CHECK(row, !opened && lastError() == ERROR_ACCESS_DENIED);
        close(second);
        close(first);
    }
}

void failures()
{
    const struct
    {
        const char *name;
        std::string port;
        unsigned access;
        DWORD error;
    } cases[] = {
        {"missing port", "COM199", Read | Write, ERROR_FILE_NOT_FOUND},
        {"neither read nor write", portName, 0, ERROR_INVALID_PARAMETER},
    };
    for (const auto &test : cases) {
        Row row("open fails", test.name);
        Port port;
        CHECK(row, !serialport::open(port, test.port, test.access));
        CHECK(row, DWORD(lastError()) == test.error);
        CHECK(row, port.handle == invalidHandle());
    }
    // Every call on a closed port fails with the system's code, and a transfer counts nothing.
    Port closed;
    LineState state;
    std::uint32_t count = 7;
    char buffer[4];
    const struct
    {
        const char *name;
        bool ok;
    } calls[] = {
        {"getLineState", getLineState(closed, &state)},
        {"setLineState", setLineState(closed, state)},
        {"setTimeouts", setTimeouts(closed, Timeouts())},
        {"queuedBytes", queuedBytes(closed, &count)},
        {"purgeReceive", purgeReceive(closed)},
        {"read", serialport::read(closed, buffer, 4, &count) || count != 0},
        {"write", serialport::write(closed, "abcd", 4, &count) || count != 0},
    };
    for (const auto &call : calls) {
        Row row("closed port", call.name);
        CHECK(row, !call.ok);
    }
    {
        Row row("closed port", "error code");
        serialport::write(closed, "x", 1, &count);
        CHECK(row, lastError() == ERROR_INVALID_HANDLE);
    }
    const struct
    {
        const char *name;
        int code;
        bool known;
    } texts[] = {
        {"file not found", ERROR_FILE_NOT_FOUND, true},
        {"access denied", ERROR_ACCESS_DENIED, true},
        {"invalid parameter", invalidArgumentError(), true},
        {"no such code", 0x2000FFFF, false},
    };
    for (const auto &test : texts) {
        Row row("error text", test.name);
        const std::string text = errorText(test.code);
        row.note("\"" + text + "\"");
        CHECK(row, text.empty() != test.known);
        CHECK(row, text.find_first_of("\r\n") == std::string::npos);
        if (test.code != ERROR_FILE_NOT_FOUND)
            CHECK(row, text != errorText(ERROR_FILE_NOT_FOUND));
    }
}

void lineSettings()
{
    const struct
    {
        const char *name;
        std::uint32_t baud;
        std::uint8_t bits, parity, stopBits;
        bool cooked, inputFlow; // how the peer leaves the line first
    } cases[] = {
        {"9600 8N1 from a cooked line", 9600, 8, 0, 0, true, false},
        {"115200 7E2, input flow control kept", 115200, 7, 2, 2, false, true},
        {"1200 5O1.5", 1200, 5, 1, 1, false, false},
        {"19200 6M1", 19200, 6, 3, 0, false, false},
        {"4800 8S2", 4800, 8, 4, 2, false, false},
    };
    for (const auto &test : cases) {
        Row row("line settings", test.name);
        CHECK(row,
              ask(std::string("line ") + (test.cooked ? "cooked " : "raw ")
                  + (test.inputFlow ? "ixoff" : "noixoff"))
                  == "ok");
        Port port;
        if (!CHECK(row, openPort(port)))
            continue;
        // What Serial::setSettings does: the named fields on top of what the port reports.
        LineState state;
        CHECK(row, getLineState(port, &state));
        state.baudRate = test.baud;
        state.byteSize = test.bits;
        state.parity = test.parity;
        state.stopBits = test.stopBits;
        state.binary = true;
        state.ctsOutputFlow = state.dsrOutputFlow = state.dsrSensitivity = false;
        state.xonXoffOutput = false;
        CHECK(row, setLineState(port, state));
        // The kernel keeps a pseudo-terminal at 8 data bits without parity, and termios has one
        // flag for "more than one stop bit"; speed, stop bits and flow control show.
        const bool eightNone = test.bits == 8 && test.parity == 0;
        if (!eightNone)
            row.differs("data bits and parity: a pseudo-terminal stays 8 bits, no parity");
        const std::string speed = std::to_string(test.baud);
        const std::string expected = speed + "/" + speed + " 8 none "
            + (test.stopBits == 0 ? "1" : "2")
            + " crtscts=0 ixon=0 ixoff=" + (test.inputFlow ? "1" : "0") + " raw=1";
        const std::string seen = ask("attrs");
        if (!CHECK(row, seen == expected))
            row.note("peer sees " + seen);
        LineState back;
        CHECK(row, getLineState(port, &back));
        CHECK(row, back.baudRate == test.baud);
        CHECK(row, !eightNone || (back.byteSize == 8 && back.parity == 0));
        CHECK(row, back.stopBits == test.stopBits || test.stopBits == 1);
        CHECK(row, !back.ctsOutputFlow && !back.dsrOutputFlow && !back.xonXoffOutput);
        close(port);
    }
    {
        Row row("line settings", "9 data bits refused, line unchanged");
        Port port;
        CHECK(row, openPort(port));
        LineState state;
        CHECK(row, getLineState(port, &state));
        const std::string before = ask("attrs");
        state.byteSize = 9;
        CHECK(row, !setLineState(port, state));
        // Windows' driver answers ERROR_INVALID_PARAMETER, Wine ERROR_NOT_SUPPORTED.
        const DWORD error = DWORD(lastError());
        CHECK(row, error == ERROR_INVALID_PARAMETER || (underWine && error == ERROR_NOT_SUPPORTED));
        CHECK(row, ask("attrs") == before);
        close(port);
    }
}

// An open 115200 8N1 port with the given time-outs, on a line the peer left cooked: echo, line
// editing and XON/XOFF would each spoil a transfer unless the settings make the line raw.
bool openLine(Row &row, Port &port, std::uint32_t interval, std::uint32_t total)
{
    if (!CHECK(row, ask("line cooked noixoff") == "ok") || !CHECK(row, openPort(port)))
        return false;
    LineState state;
    CHECK(row, getLineState(port, &state));
    state.baudRate = 115200;
    state.byteSize = 8;
    state.parity = state.stopBits = 0;
    state.xonXoffOutput = false;
    return CHECK(row, setLineState(port, state))
        && CHECK(row, setSerialTimeouts(port, interval, total, 2000));
}

void transfers()
{
    const std::string bytes = allByteValues();
    {
        Row row("transfer", "256 byte values, port to peer");
        Port port;
        if (openLine(row, port, 0, 2000)) {
            std::uint32_t written = 0;
            CHECK(row, serialport::write(port, bytes.data(), 256, &written) && written == 256);
            CHECK(row, ask("recv 256 2000") == hex(bytes));
            CHECK(row, ask("recv 1 100") == "-");
        }
        close(port);
    }
    {
        Row row("transfer", "256 byte values, peer to port");
        Port port;
        if (openLine(row, port, 0, 2000)) {
            CHECK(row, ask("send " + hex(bytes)) == "ok");
            CHECK(row, readBytes(port, 256) == bytes);
        }
        close(port);
    }
    // Total time-out: a read of 10 ends after 10 + 20 ms with what came, nothing included.
    for (const std::string sent : {"abc", ""}) {
        Row row("read time-out", sent.empty() ? "nothing sent" : "3 of 10 sent");
        Port port;
        if (openLine(row, port, 0, 20)) {
            if (!sent.empty())
                CHECK(row, ask("send " + hex(sent)) == "ok");
            ::Sleep(100);
            std::string data(10, '\0');
            std::uint32_t done = 99;
            CHECK(row, serialport::read(port, &data[0], 10, &done));
            CHECK(row, done == sent.size() && data.substr(0, done) == sent);
        }
        close(port);
    }
    {
        // A gap of 300 ms after "abc" ends the read at the 100 ms interval time-out.
        Row row("read time-out", "interval gap ends a read");
        Port port;
        if (openLine(row, port, 100, 3000)) {
            std::cout << "@send " << hex("abc") << " 300 " << hex("def") << std::endl;
            CHECK(row, readBytes(port, 10) == "abc");
            CHECK(row, readBytes(port, 10) == "def");
            std::string answer;
            std::getline(std::cin, answer);
            CHECK(row, answer == "ok");
        }
        close(port);
    }
    {
        // The peer reads nothing: a write of 1 MiB must end within its time-out with part done.
        Row row("write time-out", "full line");
        Port port;
        if (openLine(row, port, 0, 20)) {
            // No time per byte: the write must end 200 ms after it started.
            CHECK(row, setTimeouts(port, {0, 1, 20, 0, 200}));
            const std::string data(1 << 20, 'w');
            std::uint32_t written = 0;
            std::atomic<bool> ended {false};
            std::thread writer([&] {
                serialport::write(port, data.data(), std::uint32_t(data.size()), &written);
                ended = true;
            });
            for (int i = 0; i < 50 && !ended; ++i)
                ::Sleep(100);
            // Reading on is the only way to end a write that ignores its time-out.
            CHECK(row, ended);
            while (!ended)
                ask("drain");
            writer.join();
            CHECK(row, written < data.size());
            const std::string drained = ask("drain");
            row.note(std::to_string(written) + " bytes written, peer drained " + drained);
        }
        close(port);
    }
}

void closeWakesReader()
{
    // A read that would wait 5 s returns with what it had once another thread closes the port.
    Row row("close", "waits for a blocked reader, wakes it");
    Port port;
    if (!openLine(row, port, 0, 5000))
        return;
    char data[10] = {};
    std::uint32_t done = 0;
    std::atomic<bool> ended {false};
    CHECK(row, ask("send " + hex("abc")) == "ok");
    std::thread reader([&] {
        serialport::read(port, data, 10, &done);
        ended = true;
    });
    ::Sleep(300);
    CHECK(row, !ended);
    // close() waits for the reader to leave the port: unless it wakes the reader, that takes the
    // rest of the read's 5 s.
    const ULONGLONG start = ::GetTickCount64();
    close(port);
    const ULONGLONG closing = ::GetTickCount64() - start;
    if (underWine && closing >= 2000)
        row.differs("the wake-up: Wine's CancelIoEx does not end a synchronous ReadFile");
    else
        CHECK(row, closing < 2000);
    CHECK(row, port.handle == invalidHandle());
    reader.join();
    CHECK(row, std::string(data, done) == "abc");
}

void queueAndPurge()
{
    Row row("receive queue", "queuedBytes and purgeReceive");
    Port port;
    if (openLine(row, port, 0, 20)) {
        std::uint32_t count = 99;
        CHECK(row, queuedBytes(port, &count) && count == 0);
        CHECK(row, ask("send " + hex("12345")) == "ok");
        platform::sleepMilliseconds(200);
        CHECK(row, queuedBytes(port, &count) && count == 5);
        CHECK(row, readBytes(port, 2) == "12");
        CHECK(row, queuedBytes(port, &count) && count == 3);
        CHECK(row, purgeReceive(port));
        CHECK(row, queuedBytes(port, &count) && count == 0);
        CHECK(row, readBytes(port, 5).empty());
        // The line still works after the purge.
        CHECK(row, ask("send " + hex("z")) == "ok");
        CHECK(row, readBytes(port, 1) == "z");
    }
    close(port);
}

// Values the test adds under SERIALCOMM: a second entry for our port, binary data that leaves
// letters in the buffer, and a string stored without its terminator, read after them.
struct RegistryValue
{
    const wchar_t *name;
    DWORD type;
    std::wstring data;
};

void listedPorts()
{
    const std::vector<std::string> before = listPorts();
    std::vector<std::string> ports = before;
    {
        Row row("list ports", "the mapped port, each name once");
        CHECK(row, std::count(ports.begin(), ports.end(), portName) == 1);
        std::string names;
        for (const std::string &name : ports)
            names += name + " ";
        row.note("listed: " + names);
    }
    Row row("list ports", "duplicates, binary data and unterminated strings");
    HKEY key;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0,
                        KEY_SET_VALUE | KEY_QUERY_VALUE, &key)
        != ERROR_SUCCESS) {
        row.differs("SERIALCOMM cannot be written here (Windows needs an administrator)");
        return;
    }
    const std::wstring wideName(portName.begin(), portName.end());
    const RegistryValue values[] = {{L"TestSecond", REG_SZ, wideName + L'\0'},
                                    {L"TestBinary", REG_BINARY, std::wstring(16, L'X')},
                                    {L"TestUnterminated", REG_SZ, L"COM42"}};
    for (const RegistryValue &value : values)
        ::RegSetValueExW(key, value.name, 0, value.type,
                         reinterpret_cast<const BYTE *>(value.data.data()),
                         DWORD(value.data.size() * sizeof(wchar_t)));
    DWORD stored = 0;
    ::RegQueryValueExW(key, L"TestUnterminated", nullptr, nullptr, nullptr, &stored);
    if (stored != 5 * sizeof(wchar_t))
        row.differs("a string without terminator: Wine's RegSetValueExW stores one");
    ports = listPorts();
    for (const RegistryValue &value : values)
        ::RegDeleteValueW(key, value.name);
    ::RegCloseKey(key);
    CHECK(row, std::count(ports.begin(), ports.end(), portName) == 1);
    CHECK(row, std::count(ports.begin(), ports.end(), "COM42") == 1);
    // The binary value is not listed: only COM42 was added.
    CHECK(row, ports.size() == before.size() + 1);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::cerr << "usage: tst_windows PORT FOLDER\n";
        return 2;
    }
    portName = argv[1];
    devicePaths();
    openAndClose();
    failures();
    lineSettings();
    transfers();
    queueAndPurge();
    closeWakesReader();
    listedPorts();
    runPlatformCases(argv[2]);
    return summary();
}
