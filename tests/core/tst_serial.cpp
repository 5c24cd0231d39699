// Tests of the serial-port device, with pseudo-terminal pairs standing in for the cable.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "serial.h"
#include "serialport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <QTemporaryDir>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <limits>
#include <thread>

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// The test's end of the cable. Termios requests on the master act on the slave, the port.
class Pty
{
public:
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        char name[128] = {};
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0
            || ::ptsname_r(master, name, sizeof name) != 0)
            return;
        slavePath = QString::fromLocal8Bit(name);
        // Raw at once: a cooked line would echo and hold input back until a newline.
        termios t;
        ::tcgetattr(master, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(master, TCSANOW, &t);
    }
    ~Pty() { closeMaster(); }

    bool isValid() const { return master >= 0 && !slavePath.isEmpty(); }

    void setCooked()
    {
        termios t;
        ::tcgetattr(master, &t);
        t.c_iflag |= ICRNL | IXON;
        t.c_oflag |= OPOST | ONLCR;
        t.c_lflag |= ICANON | ECHO | ECHOE | ISIG | IEXTEN;
        ::tcsetattr(master, TCSANOW, &t);
    }

    termios attributes() const
    {
        termios t = {};
        ::tcgetattr(master, &t);
        return t;
    }

    bool write(const QByteArray &data) const
    {
        return ::write(master, data.constData(), size_t(data.size())) == data.size();
    }

    // Reads up to \a size bytes, waiting at most \a timeoutMs for them.
    QByteArray read(int size, int timeoutMs) const
    {
        QByteArray data;
        QElapsedTimer timer;
        timer.start();
        while (data.size() < size) {
            const int left = int(timeoutMs - timer.elapsed());
            pollfd p = {master, POLLIN, 0};
            if (left <= 0 || ::poll(&p, 1, left) <= 0 || !(p.revents & POLLIN))
                break;
            char buffer[4096];
            const ssize_t count = ::read(master, buffer, size_t(qMin(size - data.size(), 4096)));
            if (count <= 0)
                break;
            data.append(buffer, int(count));
        }
        return data;
    }

    void closeMaster()
    {
        if (master >= 0)
            ::close(master);
        master = -1;
    }

    int master = -1;
    QString slavePath;
};

int descriptor(const Serial &serial)
{
    return int(reinterpret_cast<intptr_t>(serial.handle()));
}

bool isOpenDescriptor(int fd)
{
    return ::fcntl(fd, F_GETFD) != -1;
}

QString systemText(int error)
{
    return QString::fromLocal8Bit(::strerror(error));
}

QByteArray allByteValues()
{
    QByteArray bytes(256, '\0');
    for (int i = 0; i < 256; ++i)
        bytes[i] = char(i);
    return bytes;
}

} // namespace

class tst_Serial : public QObject
{
    Q_OBJECT
private slots:
    void openAndClose_data();
    void openAndClose();
    void openFailures_data();
    void openFailures();
    void secondOpenWarns();
    void portHeldByAnother();
    void destructorCloses();
    void setSettingsBeforeOpen();
    void setSettings_data();
    void setSettings();
    void setSettingsRejects_data();
    void setSettingsRejects();
    void termiosMapping_data();
    void termiosMapping();
    void binaryTransfer();
    void readStopsAtTotalTimeout_data();
    void readStopsAtTotalTimeout();
    void readEndsAtIntervalGap();
    void negativeTimeoutMeansNone_data();
    void negativeTimeoutMeansNone();
    void closeWakesBlockedReader();
    void writeWithinBound();
    void writeToFullLineTimesOut();
    void bytesAvailableAndClear();
    void farEndClosing();
    void enumDevicesOnThisMachine();
    void listPortsFromFolder();
    void threadsExchangeFrames();
};

void tst_Serial::openAndClose_data()
{
    QTest::addColumn<bool>("fullPath");
    QTest::newRow("full path") << true;
    QTest::newRow("name under /dev") << false;
}

void tst_Serial::openAndClose()
{
    QFETCH(bool, fullPath);
    Pty pty;
    QVERIFY(pty.isValid());
    Serial serial;
    QCOMPARE(serial.handle(), serialport::invalidHandle());
    QVERIFY(serial.isSequential());
    serial.setFileName(fullPath ? pty.slavePath : pty.slavePath.mid(5));
    QVERIFY2(serial.open(), qPrintable(serial.errorString()));
    QCOMPARE(serial.openMode(), QIODevice::ReadWrite | QIODevice::Unbuffered);

    const int fd = descriptor(serial);
    QVERIFY(fd >= 0);
    QVERIFY(::fcntl(fd, F_GETFD) & FD_CLOEXEC);
    struct stat opened, device;
    QCOMPARE(::fstat(fd, &opened), 0);
    QCOMPARE(::stat(QFile::encodeName(pty.slavePath).constData(), &device), 0);
    QCOMPARE(opened.st_rdev, device.st_rdev);

    serial.close();
    QVERIFY(!serial.isOpen());
    QCOMPARE(serial.handle(), serialport::invalidHandle());
    QVERIFY(!isOpenDescriptor(fd));
    serial.close();
    QCOMPARE(serial.handle(), serialport::invalidHandle());

    // Closing gives the port up for the next opener.
    QVERIFY2(serial.open(), qPrintable(serial.errorString()));
}

void tst_Serial::openFailures_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("mode");
    QTest::addColumn<int>("error");
    QTest::newRow("missing device") << "ttyNoSuchPort" << int(QIODevice::ReadWrite) << ENOENT;
    QTest::newRow("neither read nor write") << QString() << int(QIODevice::Text) << EINVAL;
}

void tst_Serial::openFailures()
{
    QFETCH(QString, name);
    QFETCH(int, mode);
    QFETCH(int, error);
    Pty pty;
    Serial serial;
    serial.setFileName(name.isEmpty() ? pty.slavePath : name);
    QVERIFY(!serial.open(QIODevice::OpenMode(mode)));
    QVERIFY(!serial.isOpen());
    QCOMPARE(serial.handle(), serialport::invalidHandle());
    QCOMPARE(serial.errorString(), systemText(error));
}

void tst_Serial::secondOpenWarns()
{
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open(QIODevice::ReadOnly));
    void *const handle = serial.handle();
    const QString warning
        = QStringLiteral("Serial::open: Serial (%1) is already open").arg(pty.slavePath);
    QTest::ignoreMessage(QtWarningMsg, qPrintable(warning));
    QVERIFY(!serial.open());
    QCOMPARE(serial.handle(), handle);
    QCOMPARE(serial.openMode(), QIODevice::ReadOnly);
    QVERIFY(isOpenDescriptor(descriptor(serial)));
}

void tst_Serial::portHeldByAnother()
{
    Pty pty;
    Serial first;
    first.setFileName(pty.slavePath);
    QVERIFY(first.open());
    Serial second;
    second.setFileName(pty.slavePath);
    QVERIFY(!second.open());
    QCOMPARE(second.errorString(), systemText(EBUSY));
    QCOMPARE(second.handle(), serialport::invalidHandle());

    // The holder is undisturbed.
    QVERIFY(first.setTimeouts(0, 500, 500));
    QCOMPARE(first.write("ping"), qint64(4));
    QCOMPARE(pty.read(4, 2000), QByteArray("ping"));

    first.close();
    QVERIFY2(second.open(), qPrintable(second.errorString()));
}

void tst_Serial::destructorCloses()
{
    Pty pty;
    auto *serial = new Serial;
    serial->setFileName(pty.slavePath);
    QVERIFY(serial->open());
    const int fd = descriptor(*serial);
    delete serial;
    QVERIFY(!isOpenDescriptor(fd));
    Serial next;
    next.setFileName(pty.slavePath);
    QVERIFY2(next.open(), qPrintable(next.errorString()));
}

void tst_Serial::setSettingsBeforeOpen()
{
    Serial serial;
    const QString before = serial.errorString();
    QTest::ignoreMessage(QtWarningMsg, "Serial::setSettings: File is not open");
    QVERIFY(!serial.setSettings(9600, 8, Serial::NoParity, Serial::OneStop));
    QCOMPARE(serial.errorString(), before);
}

void tst_Serial::setSettings_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<speed_t>("speed");
    QTest::newRow("9600 8N1") << 9600 << 8 << int(Serial::NoParity) << int(Serial::OneStop)
                              << speed_t(B9600);
    QTest::newRow("115200 7E2") << 115200 << 7 << int(Serial::EvenParity) << int(Serial::TwoStop)
                                << speed_t(B115200);
    QTest::newRow("1200 5O1.5") << 1200 << 5 << int(Serial::OddParity)
                                << int(Serial::OneAndHalfStop) << speed_t(B1200);
}

void tst_Serial::setSettings()
{
    QFETCH(int, baudRate);
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(speed_t, speed);
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    pty.setCooked();
    QVERIFY(pty.attributes().c_lflag & ICANON);

    QVERIFY2(
        serial.setSettings(baudRate, dataBits, Serial::Parity(parity), Serial::StopBits(stopBits)),
        qPrintable(serial.errorString()));
    const termios t = pty.attributes();
    QCOMPARE(::cfgetospeed(&t), speed);
    QCOMPARE(::cfgetispeed(&t), speed);
    QCOMPARE(bool(t.c_cflag & CSTOPB), stopBits != Serial::OneStop);
    QCOMPARE(t.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    QCOMPARE(t.c_cflag & CRTSCTS, tcflag_t(0));
    QCOMPARE(t.c_iflag & (IXON | IXOFF | IXANY | ICRNL), tcflag_t(0));
    QCOMPARE(t.c_oflag & OPOST, tcflag_t(0));
    QCOMPARE(t.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), tcflag_t(0));
    QCOMPARE(int(t.c_cc[VMIN]), 0);
    QCOMPARE(int(t.c_cc[VTIME]), 0);
}

void tst_Serial::setSettingsRejects_data()
{
    QTest::addColumn<int>("baudRate");
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<int>("parity");
    QTest::newRow("unknown baud rate") << 12345 << 8 << int(Serial::OneStop) << 0;
    QTest::newRow("nine data bits") << 9600 << 9 << int(Serial::OneStop) << 0;
    QTest::newRow("1.5 stop bits with 8 data bits")
        << 9600 << 8 << int(Serial::OneAndHalfStop) << 0;
    QTest::newRow("2 stop bits with 5 data bits") << 9600 << 5 << int(Serial::TwoStop) << 0;
    // Values that one byte of the line record would turn into valid ones.
    QTest::newRow("264 data bits") << 9600 << 264 << int(Serial::OneStop) << 0;
    QTest::newRow("parity 256") << 9600 << 8 << int(Serial::OneStop) << 256;
    QTest::newRow("stop bits 256") << 9600 << 8 << 256 << 0;
    QTest::newRow("negative data bits") << 9600 << -248 << int(Serial::OneStop) << 0;
    QTest::newRow("negative baud rate") << -9600 << 8 << int(Serial::OneStop) << 0;
}

void tst_Serial::setSettingsRejects()
{
    QFETCH(int, baudRate);
    QFETCH(int, dataBits);
    QFETCH(int, stopBits);
    QFETCH(int, parity);
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    pty.setCooked();
    QVERIFY(!serial.setSettings(baudRate, dataBits, Serial::Parity(parity),
                                Serial::StopBits(stopBits)));
    QCOMPARE(serial.errorString(), systemText(EINVAL));
    // Nothing half-applied.
    QVERIFY(pty.attributes().c_lflag & ICANON);
}

// A pty forces eight data bits and no parity, so the mapping is checked on the termios record.
void tst_Serial::termiosMapping_data()
{
    QTest::addColumn<int>("dataBits");
    QTest::addColumn<int>("parity");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<uint>("flags");
    QTest::newRow("8N1") << 8 << 0 << 0 << uint(CS8);
    QTest::newRow("7O1") << 7 << 1 << 0 << uint(CS7 | PARENB | PARODD);
    QTest::newRow("7E2") << 7 << 2 << 2 << uint(CS7 | PARENB | CSTOPB);
    QTest::newRow("6M1") << 6 << 3 << 0 << uint(CS6 | PARENB | PARODD | CMSPAR);
    QTest::newRow("8S2") << 8 << 4 << 2 << uint(CS8 | PARENB | CMSPAR | CSTOPB);
    QTest::newRow("5N1.5") << 5 << 0 << 1 << uint(CS5 | CSTOPB);
}

void tst_Serial::termiosMapping()
{
    QFETCH(int, dataBits);
    QFETCH(int, parity);
    QFETCH(int, stopBits);
    QFETCH(uint, flags);
    serialport::LineState state;
    state.baudRate = 19200;
    state.byteSize = quint8(dataBits);
    state.parity = quint8(parity);
    state.stopBits = quint8(stopBits);

    termios t;
    std::memset(&t, 0xff, sizeof t); // whatever the port held before
    QVERIFY(serialport::toTermios(state, &t));
    const tcflag_t mask = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;
    QCOMPARE(uint(t.c_cflag & mask), flags);

    const serialport::LineState back = serialport::fromTermios(t);
    QCOMPARE(back.baudRate, state.baudRate);
    QCOMPARE(int(back.byteSize), dataBits);
    QCOMPARE(int(back.parity), parity);
    QCOMPARE(int(back.stopBits), stopBits);
    QVERIFY(!back.ctsOutputFlow);
    QVERIFY(!back.xonXoffOutput);
}

void tst_Serial::binaryTransfer()
{
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    pty.setCooked();
    QVERIFY(serial.setSettings(115200, 8, Serial::NoParity, Serial::OneStop));
    QVERIFY(serial.setTimeouts(0, 2000, 2000));
    const QByteArray bytes = allByteValues();

    QVERIFY(pty.write(bytes));
    QCOMPARE(serial.read(bytes.size()), bytes);
    QCOMPARE(serial.write(bytes), qint64(bytes.size()));
    QCOMPARE(pty.read(bytes.size(), 2000), bytes);
    // No echo of what the peer sent, no translated line ends.
    QCOMPARE(pty.read(1, 100), QByteArray());
}

void tst_Serial::readStopsAtTotalTimeout_data()
{
    QTest::addColumn<QByteArray>("sent");
    QTest::addColumn<int>("readInterval");
    QTest::newRow("3 of 10 sent") << QByteArray("abc") << 0;
    // The interval counts only once a byte has arrived.
    QTest::newRow("nothing sent") << QByteArray() << 20;
}

void tst_Serial::readStopsAtTotalTimeout()
{
    QFETCH(QByteArray, sent);
    QFETCH(int, readInterval);
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(readInterval, 150, 100));
    const QString before = serial.errorString();
    QVERIFY(pty.write(sent));
    QTRY_COMPARE(serial.bytesAvailable(), qint64(sent.size()));

    QElapsedTimer timer;
    timer.start();
    char buffer[10];
    const qint64 count = serial.read(buffer, sizeof buffer);
    const qint64 elapsed = timer.elapsed();
    QCOMPARE(QByteArray(buffer, int(qMax<qint64>(count, 0))), sent); // 0 when nothing came, not -1
    QVERIFY2(elapsed >= 10 + 150, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 10 + 150 + 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(serial.errorString(), before);
}

void tst_Serial::readEndsAtIntervalGap()
{
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(50, 5000, 100));

    QElapsedTimer timer;
    timer.start();
    std::thread peer([&pty] {
        std::this_thread::sleep_for(100ms);
        pty.write("abc");
        std::this_thread::sleep_for(700ms);
        pty.write("def");
    });
    const QByteArray first = serial.read(10);
    const qint64 elapsed = timer.elapsed();
    const QByteArray second = serial.read(10);
    peer.join();

    QCOMPARE(first, QByteArray("abc"));
    QVERIFY2(elapsed >= 100 + 50, qPrintable(QString::number(elapsed)));
    QCOMPARE(second, QByteArray("def"));
}

namespace {

// Reads up to \a size bytes on a thread of its own. A reader still blocked after 10 s is
// released by \a release so that a failing test ends.
QByteArray readOnThread(Serial &serial, int size, const std::function<void()> &action,
                        const std::function<void()> &release, bool *returned)
{
    QByteArray data(size, '\0');
    std::atomic<qint64> count {-2};
    std::thread reader([&] { count = serial.read(data.data(), size); });
    action();
    QElapsedTimer timer;
    timer.start();
    while (count == -2 && timer.elapsed() < 10000)
        std::this_thread::sleep_for(5ms);
    *returned = count != -2;
    if (!*returned)
        release();
    reader.join();
    data.resize(int(qMax<qint64>(count, 0)));
    return data;
}

} // namespace

void tst_Serial::negativeTimeoutMeansNone_data()
{
    QTest::addColumn<int>("readInterval");
    QTest::addColumn<int>("readTotal");
    QTest::newRow("negative total") << 0 << -1;
    QTest::newRow("negative interval and total") << -1 << -100;
}

void tst_Serial::negativeTimeoutMeansNone()
{
    QFETCH(int, readInterval);
    QFETCH(int, readTotal);
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(readInterval, readTotal, -1));
    // Without a constant, a read of 4 bytes waits 4 ms.
    bool returned = false;
    const QByteArray data = readOnThread(
        serial, 4, [] {}, [&pty] { pty.write("free"); }, &returned);
    QVERIFY(returned);
    QCOMPARE(data, QByteArray());
}

void tst_Serial::closeWakesBlockedReader()
{
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    // About 25 days: only close() can end the read.
    QVERIFY(serial.setTimeouts(0, std::numeric_limits<int>::max(), 0));
    int reused = -1;
    bool returned = false;
    const QByteArray data = readOnThread(
        serial, 100,
        [&] {
            QVERIFY(pty.write("abc"));
            QTRY_COMPARE(serial.bytesAvailable(), qint64(0));
            std::this_thread::sleep_for(50ms);
            const int old = descriptor(serial);
            serial.close();
            // The next file takes the port's descriptor number and offers foreign bytes.
            int ends[2];
            QCOMPARE(::pipe(ends), 0);
            reused = ends[0] == old ? ends[0] : ::dup2(ends[0], old);
            QCOMPARE(::write(ends[1], "foreign", 7), ssize_t(7));
            ::close(ends[1]);
            if (ends[0] != old)
                ::close(ends[0]);
        },
        [&pty] { pty.write(QByteArray(97, 'x')); }, &returned);
    ::close(reused);
    QVERIFY(returned);
    QCOMPARE(data, QByteArray("abc"));
    QVERIFY(!serial.isOpen());
    QCOMPARE(serial.handle(), serialport::invalidHandle());
}

void tst_Serial::writeWithinBound()
{
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(0, 100, 100));
    const QByteArray data(1000, 'w');
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(serial.write(data), qint64(data.size()));
    QVERIFY(timer.elapsed() < 1000 + 100);
    QCOMPARE(pty.read(data.size(), 2000), data);
}

void tst_Serial::writeToFullLineTimesOut()
{
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(0, 100, 150));
    const QString before = serial.errorString();

    // Fill the line until the peer's side takes nothing more, even after a pause.
    const int fd = descriptor(serial);
    const QByteArray chunk(4096, 'f');
    qint64 filled = 0;
    for (int round = 0; round < 2; ++round) {
        for (;;) {
            const ssize_t count = ::write(fd, chunk.constData(), size_t(chunk.size()));
            if (count <= 0)
                break;
            filled += count;
        }
        QCOMPARE(errno, EAGAIN);
        std::this_thread::sleep_for(50ms);
    }
    QVERIFY(filled > 0);

    QElapsedTimer timer;
    timer.start();
    const qint64 written = serial.write(QByteArray(64, 'x'));
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(written >= 0 && written < 64, qPrintable(QString::number(written)));
    QVERIFY2(elapsed >= 64 + 150, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 64 + 150 + 3000, qPrintable(QString::number(elapsed)));
    QCOMPARE(serial.errorString(), before);

    // Once the peer drains the line, writing goes on.
    QCOMPARE(pty.read(int(filled + written), 5000).size(), int(filled + written));
    QCOMPARE(serial.write("more"), qint64(4));
}

void tst_Serial::bytesAvailableAndClear()
{
    Pty pty;
    Serial serial;
    QCOMPARE(serial.bytesAvailable(), qint64(0));
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(0, 50, 50));
    QVERIFY(pty.write("12345"));
    QTRY_COMPARE(serial.bytesAvailable(), qint64(5));
    serial.clearInputBuffer();
    QCOMPARE(serial.bytesAvailable(), qint64(0));
    QCOMPARE(serial.read(5), QByteArray());

    // Opening drops what arrived while nobody held the port.
    serial.close();
    QVERIFY(pty.write("stale"));
    QTest::qWait(50);
    QVERIFY(serial.open());
    QCOMPARE(serial.bytesAvailable(), qint64(0));
}

void tst_Serial::farEndClosing()
{
    Pty pty;
    Serial serial;
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(0, 5000, 5000));

    QElapsedTimer timer;
    timer.start();
    std::thread peer([&pty] {
        std::this_thread::sleep_for(100ms);
        pty.closeMaster();
    });
    char buffer[10];
    const qint64 count = serial.read(buffer, sizeof buffer);
    const qint64 elapsed = timer.elapsed();
    peer.join();

    QCOMPARE(count, qint64(0));
    QCOMPARE(serial.errorString(), systemText(EIO));
    QVERIFY2(elapsed >= 100, qPrintable(QString::number(elapsed)));
    QVERIFY2(elapsed < 2500, qPrintable(QString::number(elapsed)));

    // Later calls fail at once as well.
    timer.restart();
    QCOMPARE(serial.read(buffer, sizeof buffer), qint64(0));
    QCOMPARE(serial.write("x"), qint64(0));
    QVERIFY(timer.elapsed() < 2500);
    QCOMPARE(serial.errorString(), systemText(EIO));
}

void tst_Serial::enumDevicesOnThisMachine()
{
    const QStringList ports = Serial::EnumDevices();
    QCOMPARE(QSet<QString>(ports.begin(), ports.end()).size(), ports.size());
    for (const QString &port : ports)
        QVERIFY2(QFile::exists(QStringLiteral("/sys/class/tty/%1/device/driver").arg(port)),
                 qPrintable(port));
}

void tst_Serial::listPortsFromFolder()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString root = dir.path() + QStringLiteral("/tty");
    QDir top(dir.path());
    QVERIFY(top.mkpath(QStringLiteral("drivers/port")));
    QVERIFY(top.mkpath(QStringLiteral("devices/usb/ttyUSB0/device")));
    QVERIFY(QFile::link(dir.path() + QStringLiteral("/drivers/port"),
                        dir.path() + QStringLiteral("/devices/usb/ttyUSB0/device/driver")));

    QVERIFY(serialport::listPorts(root.toStdString()).empty());

    QVERIFY(top.mkpath(QStringLiteral("tty")));
    // As sysfs has them: an entry may be a link to the device's folder.
    QVERIFY(QFile::link(dir.path() + QStringLiteral("/devices/usb/ttyUSB0"),
                        root + QStringLiteral("/ttyUSB0")));
    const struct
    {
        const char *name;
        bool driver;
        const char *type;
    } entries[] = {
        {"ttyS0", true, "4"}, // a UART
        {"ttyS1", true, "0"}, // a legacy slot without a UART
        {"ttyS2", true, "4"},        {"ttyS10", true, "4"},
        {"tty1", false, nullptr},    // a virtual terminal
        {"ttyACM0", false, nullptr}, // a device whose driver is not bound
    };
    for (const auto &entry : entries) {
        const QString path = root + QLatin1Char('/') + QLatin1String(entry.name);
        QVERIFY(top.mkpath(path + QStringLiteral("/device")));
        if (entry.driver)
            QVERIFY(QFile::link(dir.path() + QStringLiteral("/drivers/port"),
                                path + QStringLiteral("/device/driver")));
        if (entry.type) {
            QFile type(path + QStringLiteral("/type"));
            QVERIFY(type.open(QIODevice::WriteOnly));
            type.write(QByteArray(entry.type) + '\n');
        }
    }
    const std::vector<std::string> expected = {"ttyS0", "ttyS2", "ttyS10", "ttyUSB0"};
    QCOMPARE(serialport::listPorts(root.toStdString()), expected);
}

void tst_Serial::threadsExchangeFrames()
{
    Pty pty;
    Serial serial;
    // Qt 6's recursive mutex is a class of its own.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
    using Mutex = QRecursiveMutex;
    const char *const mutexName = "QRecursiveMutex";
#else
    using Mutex = QMutex;
    const char *const mutexName = "QMutex";
#endif
    QCOMPARE(serial.qt_metacast(mutexName), static_cast<void *>(static_cast<Mutex *>(&serial)));
    QCOMPARE(serial.metaObject()->className(), "Serial");
    QVERIFY(serial.tryLock());
    QVERIFY(serial.tryLock()); // recursive
    serial.unlock();
    serial.unlock();
    serial.setFileName(pty.slavePath);
    QVERIFY(serial.open());
    QVERIFY(serial.setTimeouts(0, 3000, 1000));

    constexpr int Exchanges = 40;
    constexpr int FrameSize = 6; // kind, thread, three digits, newline
    std::atomic<int> malformedRequests {0};
    std::atomic<bool> stop {false};
    std::thread peer([&] {
        QByteArray pending;
        while (!stop) {
            pending += pty.read(FrameSize - pending.size(), 50);
            if (pending.size() < FrameSize)
                continue;
            if (pending[0] != 'Q' || pending[5] != '\n')
                ++malformedRequests;
            pending[0] = 'A';
            pty.write(pending);
            pending.clear();
        }
    });

    std::atomic<int> wrongAnswers {0};
    auto worker = [&](char id) {
        for (int i = 0; i < Exchanges; ++i) {
            QMutexLocker exchange(&serial);
            const QByteArray number = QByteArray::number(i).rightJustified(3, '0');
            // The nested lock is what a helper called inside an exchange would take.
            QMutexLocker send(&serial);
            const QByteArray request = 'Q' + QByteArray(1, id) + number + '\n';
            // Two writes, so that an unlocked exchange would interleave.
            serial.write(request.left(3));
            std::this_thread::yield();
            serial.write(request.mid(3));
            send.unlock();
            if (serial.read(FrameSize) != 'A' + QByteArray(1, id) + number + '\n')
                ++wrongAnswers;
        }
    };
    std::thread one(worker, '1');
    std::thread two(worker, '2');
    one.join();
    two.join();
    stop = true;
    peer.join();

    QCOMPARE(malformedRequests.load(), 0);
    QCOMPARE(wrongAnswers.load(), 0);
}

QTEST_GUILESS_MAIN(tst_Serial)
#include "tst_serial.moc"
