// Platform layer of the serial port: one function per operation the port device needs.
// SPDX-License-Identifier: LicenseRef-Proprietary
#ifndef SERIALPORT_H
#define SERIALPORT_H

// Free of Qt on purpose: the Windows implementation is compiled stand-alone by a cross compiler.
// Internal: not exported from the shared library; tests link the library's objects.
#include <cstdint>
#include <string>
#include <vector>

#include <condition_variable>
#include <mutex>

#if !defined(_WIN32)
struct termios;
#endif

namespace serialport {

//! A Windows HANDLE, or a file descriptor stored in a pointer on POSIX systems.
using Handle = void *;

inline Handle invalidHandle()
{
    return reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));
}

enum Access : unsigned { Read = 1, Write = 2 };

//! The line parameters; parity and stop bits use the values of the Windows DCB fields.
struct LineState
{
    std::uint32_t baudRate = 0;
    std::uint8_t byteSize = 8;
    std::uint8_t parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    std::uint8_t stopBits = 0; // 0 one, 1 one and a half, 2 two
    bool binary = true;
    bool ctsOutputFlow = false;
    bool dsrOutputFlow = false;
    bool dsrSensitivity = false;
    bool xonXoffOutput = false;
};

//! Time-outs in milliseconds with the meaning of the Windows COMMTIMEOUTS fields.
struct Timeouts
{
    std::uint32_t readInterval = 0;
    std::uint32_t readTotalMultiplier = 0;
    std::uint32_t readTotalConstant = 0;
    std::uint32_t writeTotalMultiplier = 0;
    std::uint32_t writeTotalConstant = 0;
};

struct Port
{
    Handle handle = invalidHandle();
    // Windows keeps the time-outs in the driver; POSIX applies them in software from here.
    Timeouts timeouts;
    // A transfer may block on one thread while another closes the port. close() wakes it (through
    // wakeFd on POSIX, by cancelling its I/O on Windows) and waits until no call holds the handle
    // before closing it, so no call ever reaches a closed handle, or one that the system has
    // handed out again.
#if !defined(_WIN32)
    int wakeFd = -1;
#endif
    mutable int users = 0;
    bool closing = false;
    mutable std::mutex lock;
    mutable std::condition_variable idle;
};

// Every function that returns bool leaves the system's error code for lastError() on failure.

//! The device path for a port name: "COM1" becomes "\\.\COM1" on Windows, "ttyS0" "/dev/ttyS0"
//! on POSIX; a name that is already a device path is kept.
std::string devicePath(const std::string &name);

//! Opens the port named \a name (UTF-8) exclusively with the Access bits in \a access.
bool open(Port &port, const std::string &name, unsigned access);
//! Closes the port; a transfer blocked on another thread returns with what it had.
void close(Port &port);

bool getLineState(const Port &port, LineState *state);
//! Writes the fields of \a state; every other setting of the port keeps its current value.
bool setLineState(Port &port, const LineState &state);
bool setTimeouts(Port &port, const Timeouts &timeouts);

//! Blocking transfers bounded by the time-outs; \a done holds the count even on failure.
bool read(Port &port, char *data, std::uint32_t size, std::uint32_t *done);
bool write(Port &port, const char *data, std::uint32_t size, std::uint32_t *done);

//! Bytes waiting in the receive queue (on Windows this also clears a pending line error).
bool queuedBytes(const Port &port, std::uint32_t *count);
bool purgeReceive(const Port &port);

int lastError();
//! The system's error code for an invalid argument (EINVAL, ERROR_INVALID_PARAMETER).
int invalidArgumentError();
//! The system's text for \a error, in UTF-8.
std::string errorText(int error);

//! Names of the serial ports present, each once.
std::vector<std::string> listPorts();

#if !defined(_WIN32)
//! The ports listed under a sysfs tty class folder, in natural order of their names.
std::vector<std::string> listPorts(const std::string &ttyClassFolder);
//! Fills \a t, already read from the port, for a raw line with \a state; false on values the
//! line cannot take (errno EINVAL).
bool toTermios(const LineState &state, termios *t);
LineState fromTermios(const termios &t);
#endif

} // namespace serialport

#endif // SERIALPORT_H
