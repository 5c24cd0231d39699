// Serial port platform layer for Linux: termios line settings, time-outs kept in software.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "serialport.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstring>
#include <fstream>

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace serialport {

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::uint32_t Infinite = 0xFFFFFFFFu; // MAXDWORD

int fileDescriptor(const Port &port)
{
    return static_cast<int>(reinterpret_cast<std::intptr_t>(port.handle));
}

bool failWith(int error)
{
    errno = error;
    return false;
}

// Holds the port's descriptor for one call, so that close() waits for the call to leave it.
// fd is -1 when the port is closed or being closed.
class Use
{
public:
    explicit Use(const Port &port)
        : m_port(port)
    {
        std::lock_guard<std::mutex> guard(port.lock);
        if (port.closing || port.handle == invalidHandle())
            return;
        fd = fileDescriptor(port);
        wakeFd = port.wakeFd;
        timeouts = port.timeouts;
        ++port.users;
    }
    ~Use()
    {
        if (fd < 0)
            return;
        std::lock_guard<std::mutex> guard(m_port.lock);
        if (--m_port.users == 0)
            m_port.idle.notify_all();
    }
    Use(const Use &) = delete;
    Use &operator=(const Use &) = delete;

    int fd = -1;
    int wakeFd = -1;
    Timeouts timeouts;

private:
    const Port &m_port;
};

// Whether close() has begun: its wake-up stays readable until the descriptor is closed.
bool woken(const pollfd &wake)
{
    return wake.revents != 0;
}

struct Speed
{
    std::uint32_t baudRate;
    speed_t code;
};

constexpr Speed speeds[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

// Milliseconds until \a deadline, rounded up so that poll() never wakes before it.
int millisecondsUntil(Clock::time_point deadline)
{
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero())
        return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

int earliest(int a, int b)
{
    if (a < 0)
        return b;
    if (b < 0)
        return a;
    return std::min(a, b);
}

// Compares names so that ttyS2 sorts before ttyS10.
bool naturalLess(const std::string &a, const std::string &b)
{
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool digitA = a[i] >= '0' && a[i] <= '9';
        const bool digitB = b[j] >= '0' && b[j] <= '9';
        if (digitA && digitB) {
            std::size_t endA = i, endB = j;
            while (endA < a.size() && a[endA] >= '0' && a[endA] <= '9')
                ++endA;
            while (endB < b.size() && b[endB] >= '0' && b[endB] <= '9')
                ++endB;
            std::size_t startA = i, startB = j;
            while (startA + 1 < endA && a[startA] == '0')
                ++startA;
            while (startB + 1 < endB && b[startB] == '0')
                ++startB;
            const std::string numberA = a.substr(startA, endA - startA);
            const std::string numberB = b.substr(startB, endB - startB);
            if (numberA.size() != numberB.size())
                return numberA.size() < numberB.size();
            if (numberA != numberB)
                return numberA < numberB;
            i = endA;
            j = endB;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j || (a.size() - i == b.size() - j && a < b);
}

bool exists(const std::string &path)
{
    struct stat info;
    return ::stat(path.c_str(), &info) == 0;
}

// A serial core port with no UART behind it (a legacy 8250 slot) reports type 0.
bool reportsNoUart(const std::string &entry)
{
    std::ifstream type(entry + "/type");
    int value = -1;
    return type >> value && value == 0;
}

[[maybe_unused]] const char *pickErrorText(int result, const char *buffer)
{
    return result == 0 ? buffer : "Unknown error";
}

[[maybe_unused]] const char *pickErrorText(const char *result, const char *)
{
    return result;
}

} // namespace

std::string devicePath(const std::string &name)
{
    if (!name.empty() && name[0] == '/')
        return name;
    return "/dev/" + name;
}

bool open(Port &port, const std::string &name, unsigned access)
{
    if (port.handle != invalidHandle())
        return failWith(EBUSY);
    int flags = O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
    switch (access & (Read | Write)) {
    case Read:
        flags |= O_RDONLY;
        break;
    case Write:
        flags |= O_WRONLY;
        break;
    case Read | Write:
        flags |= O_RDWR;
        break;
    default:
        return failWith(EINVAL);
    }
    const std::string path = devicePath(name);
    int fd;
    do {
        fd = ::open(path.c_str(), flags);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return false;

    // The lock keeps out every other opener, root included (root passes TIOCEXCL).
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(fd);
        return failWith(error);
    }
    if (::ioctl(fd, TIOCEXCL) != 0 && errno != EINVAL && errno != ENOTTY) {
        const int error = errno;
        ::close(fd);
        return failWith(error);
    }
    const int wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) {
        const int error = errno;
        ::close(fd);
        return failWith(error);
    }
    // Whatever arrived before we owned the port belongs to nobody.
    ::tcflush(fd, TCIFLUSH);
    std::lock_guard<std::mutex> guard(port.lock);
    port.handle = reinterpret_cast<Handle>(static_cast<std::intptr_t>(fd));
    port.wakeFd = wakeFd;
    port.timeouts = Timeouts();
    return true;
}

void close(Port &port)
{
    std::unique_lock<std::mutex> guard(port.lock);
    if (port.handle == invalidHandle() || port.closing)
        return;
    port.closing = true;
    const std::uint64_t one = 1;
    while (::write(port.wakeFd, &one, sizeof one) < 0 && errno == EINTR) { }
    port.idle.wait(guard, [&port] { return port.users == 0; });

    const int fd = fileDescriptor(port);
    // The exclusive flag outlives our descriptor while the tty stays in use (a pty whose master
    // is open), which would lock out the next opener.
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    ::close(port.wakeFd);
    port.handle = invalidHandle();
    port.wakeFd = -1;
    port.closing = false;
}

bool toTermios(const LineState &state, termios *t)
{
    const auto speed = std::find_if(std::begin(speeds), std::end(speeds),
                                    [&](const Speed &s) { return s.baudRate == state.baudRate; });
    if (speed == std::end(speeds) || state.byteSize < 5 || state.byteSize > 8 || state.parity > 4
        || state.stopBits > 2)
        return failWith(EINVAL);
    // As on the Windows driver: one and a half stop bits only with 5 data bits, two only with more.
    if (state.stopBits != 0 && (state.stopBits == 1) != (state.byteSize == 5))
        return failWith(EINVAL);

    ::cfmakeraw(t);
    t->c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t->c_cflag |= CLOCAL | CREAD;
    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    t->c_cflag |= sizes[state.byteSize - 5];
    static const tcflag_t parities[]
        = {0, PARENB | PARODD, PARENB, PARENB | CMSPAR | PARODD, PARENB | CMSPAR};
    t->c_cflag |= parities[state.parity];
    if (state.stopBits != 0)
        t->c_cflag |= CSTOPB; // 1.5 stop bits with CS5
    if (state.ctsOutputFlow)
        t->c_cflag |= CRTSCTS;
    t->c_iflag &= ~(IXON | IXOFF | IXANY);
    if (state.xonXoffOutput)
        t->c_iflag |= IXON;
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
    ::cfsetispeed(t, speed->code);
    ::cfsetospeed(t, speed->code);
    return true;
}

LineState fromTermios(const termios &t)
{
    LineState state;
    const speed_t code = ::cfgetospeed(&t);
    const auto speed = std::find_if(std::begin(speeds), std::end(speeds),
                                    [&](const Speed &s) { return s.code == code; });
    state.baudRate = speed == std::end(speeds) ? 0 : speed->baudRate;
    switch (t.c_cflag & CSIZE) {
    case CS5:
        state.byteSize = 5;
        break;
    case CS6:
        state.byteSize = 6;
        break;
    case CS7:
        state.byteSize = 7;
        break;
    default:
        state.byteSize = 8;
        break;
    }
    if (t.c_cflag & PARENB) {
        const bool odd = t.c_cflag & PARODD;
        if (t.c_cflag & CMSPAR)
            state.parity = odd ? 3 : 4;
        else
            state.parity = odd ? 1 : 2;
    } else {
        state.parity = 0;
    }
    if (t.c_cflag & CSTOPB)
        state.stopBits = state.byteSize == 5 ? 1 : 2;
    else
        state.stopBits = 0;
    state.binary = true;
    state.ctsOutputFlow = t.c_cflag & CRTSCTS;
    state.xonXoffOutput = t.c_iflag & IXON;
    return state;
}

bool getLineState(const Port &port, LineState *state)
{
    const Use use(port);
    termios t;
    if (::tcgetattr(use.fd, &t) != 0)
        return false;
    *state = fromTermios(t);
    return true;
}

bool setLineState(Port &port, const LineState &state)
{
    const Use use(port);
    const int fd = use.fd;
    termios t;
    if (::tcgetattr(fd, &t) != 0 || !toTermios(state, &t) || ::tcsetattr(fd, TCSANOW, &t) != 0)
        return false;
    // tcsetattr() succeeds when any part was taken; a speed the driver refused shows on reading.
    termios applied;
    if (::tcgetattr(fd, &applied) != 0)
        return false;
    if (::cfgetospeed(&applied) != ::cfgetospeed(&t))
        return failWith(EINVAL);
    return true;
}

bool setTimeouts(Port &port, const Timeouts &timeouts)
{
    std::lock_guard<std::mutex> guard(port.lock);
    if (port.handle == invalidHandle() || port.closing)
        return failWith(EBADF);
    port.timeouts = timeouts;
    return true;
}

bool read(Port &port, char *data, std::uint32_t size, std::uint32_t *done)
{
    *done = 0;
    const Use use(port);
    const int fd = use.fd;
    if (fd < 0)
        return failWith(EBADF);
    if (size == 0)
        return true;

    const Timeouts &t = use.timeouts;
    const Clock::time_point start = Clock::now();
    bool hasDeadline = false;
    bool endAtFirstData = false;
    Clock::time_point deadline;
    std::uint32_t interval = t.readInterval;
    if (t.readInterval == Infinite && t.readTotalMultiplier == 0 && t.readTotalConstant == 0) {
        // Return at once with what is there.
        hasDeadline = true;
        deadline = start;
    } else if (t.readInterval == Infinite && t.readTotalMultiplier == Infinite
               && t.readTotalConstant != 0 && t.readTotalConstant != Infinite) {
        // Wait for the first data up to the constant, then return with it.
        hasDeadline = true;
        deadline = start + std::chrono::milliseconds(t.readTotalConstant);
        endAtFirstData = true;
        interval = 0;
    } else {
        const std::uint64_t total
            = std::uint64_t(t.readTotalMultiplier) * size + t.readTotalConstant;
        hasDeadline = total != 0;
        deadline = start + std::chrono::milliseconds(total);
    }

    Clock::time_point lastData;
    for (;;) {
        int wait = hasDeadline ? millisecondsUntil(deadline) : -1;
        if (interval != 0 && *done > 0)
            wait
                = earliest(wait, millisecondsUntil(lastData + std::chrono::milliseconds(interval)));
        const bool lastChance = wait == 0;

        pollfd fds[2] = {{fd, POLLIN, 0}, {use.wakeFd, POLLIN, 0}};
        pollfd &p = fds[0];
        const int ready = ::poll(fds, 2, wait);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (woken(fds[1]))
            return true; // closed meanwhile: what arrived is the result
        if (ready == 0) {
            if (lastChance)
                return true;
            continue;
        }
        if (p.revents & POLLNVAL)
            return failWith(EBADF);
        // A hung-up line reports POLLHUP or POLLERR for good; reading on would spin.
        if (p.revents & (POLLHUP | POLLERR) && !(p.revents & POLLIN))
            return failWith(EIO);
        const ssize_t count = ::read(fd, data + *done, size - *done);
        if (count > 0) {
            *done += static_cast<std::uint32_t>(count);
            lastData = Clock::now();
            if (*done == size || endAtFirstData || lastChance)
                return true;
            continue;
        }
        if (count < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (count < 0)
            return false;
        // Readable but no data: the far end is gone.
        return failWith(EIO);
    }
}

bool write(Port &port, const char *data, std::uint32_t size, std::uint32_t *done)
{
    *done = 0;
    const Use use(port);
    const int fd = use.fd;
    if (fd < 0)
        return failWith(EBADF);
    const Timeouts &t = use.timeouts;
    const std::uint64_t total = std::uint64_t(t.writeTotalMultiplier) * size + t.writeTotalConstant;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(total);

    while (*done < size) {
        const ssize_t count = ::write(fd, data + *done, size - *done);
        if (count > 0) {
            *done += static_cast<std::uint32_t>(count);
            continue;
        }
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0 && errno != EAGAIN)
            return false;

        const int wait = total != 0 ? millisecondsUntil(deadline) : -1;
        if (wait == 0)
            return true; // timed out: the count tells how far it got
        pollfd fds[2] = {{fd, POLLOUT, 0}, {use.wakeFd, POLLIN, 0}};
        const pollfd &p = fds[0];
        const int ready = ::poll(fds, 2, wait);
        if (ready < 0 && errno != EINTR)
            return false;
        if (ready > 0 && woken(fds[1]))
            return true; // closed meanwhile: the count tells how far it got
        if (ready > 0 && (p.revents & POLLNVAL))
            return failWith(EBADF);
        if (ready > 0 && (p.revents & (POLLHUP | POLLERR)) && !(p.revents & POLLOUT))
            return failWith(EIO);
    }
    return true;
}

bool queuedBytes(const Port &port, std::uint32_t *count)
{
    const Use use(port);
    int queued = 0;
    if (::ioctl(use.fd, TIOCINQ, &queued) != 0)
        return false;
    *count = queued < 0 ? 0 : static_cast<std::uint32_t>(queued);
    return true;
}

bool purgeReceive(const Port &port)
{
    const Use use(port);
    return ::tcflush(use.fd, TCIFLUSH) == 0;
}

int lastError()
{
    return errno;
}

int invalidArgumentError()
{
    return EINVAL;
}

std::string errorText(int error)
{
    char buffer[256] = {};
    return pickErrorText(::strerror_r(error, buffer, sizeof buffer), buffer);
}

std::vector<std::string> listPorts(const std::string &ttyClassFolder)
{
    std::vector<std::string> names;
    DIR *folder = ::opendir(ttyClassFolder.c_str());
    if (!folder)
        return names;
    while (const dirent *entry = ::readdir(folder)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..")
            continue;
        const std::string path = ttyClassFolder + '/' + name;
        // Virtual terminals and ptys have no device driver behind them.
        if (!exists(path + "/device/driver") || reportsNoUart(path))
            continue;
        names.push_back(name);
    }
    ::closedir(folder);
    std::sort(names.begin(), names.end(), naturalLess);
    names.erase(std::unique(names.begin(), names.end()), names.end());
    return names;
}

std::vector<std::string> listPorts()
{
    return listPorts("/sys/class/tty");
}

} // namespace serialport
