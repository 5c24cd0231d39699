// The serial-port device: a QIODevice over one serial port that is also a recursive mutex.
// SPDX-License-Identifier: LicenseRef-Proprietary
#include "serial.h"

#include "logging_p.h"
#include "serialport.h"

#include <limits>

class SerialPrivate
{
public:
    QString fileName;
    serialport::Port port;
};

Serial::Serial(QObject *parent)
    : QIODevice(parent)
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    , QMutex(QMutex::Recursive)
#endif
    , d(new SerialPrivate)
{
}

Serial::~Serial()
{
    if (isOpen())
        close();
}

QStringList Serial::EnumDevices()
{
    QStringList names;
    for (const std::string &name : serialport::listPorts())
        names.append(QString::fromStdString(name));
    return names;
}

void Serial::setFileName(const QString &name)
{
    d->fileName = name;
}

QString Serial::fileName() const
{
    return d->fileName;
}

bool Serial::open()
{
    return open(QIODevice::ReadWrite | QIODevice::Unbuffered);
}

bool Serial::open(OpenMode mode)
{
    if (isOpen()) {
        qCWarning(lcSerial, "Serial::open: Serial (%s) is already open",
                  d->fileName.toUtf8().constData());
        return false;
    }
    unsigned access = 0;
    if (mode & QIODevice::ReadOnly)
        access |= serialport::Read;
    if (mode & QIODevice::WriteOnly)
        access |= serialport::Write;
    if (!serialport::open(d->port, d->fileName.toStdString(), access)) {
        setSystemError();
        return false;
    }
    return QIODevice::open(mode);
}

void Serial::close()
{
    QIODevice::close();
    serialport::close(d->port);
}

bool Serial::setSettings(int baudRate, int dataBits, Parity parity, StopBits stopBits)
{
    if (!isOpen()) {
        qCWarning(lcSerial, "Serial::setSettings: File is not open");
        return false;
    }
    // The line record holds a byte for each; a wider value would be cut to another setting.
    const auto fitsByte = [](int value) { return value >= 0 && value <= 0xFF; };
    if (baudRate <= 0 || !fitsByte(dataBits) || !fitsByte(parity) || !fitsByte(stopBits)) {
        setErrorString(
            QString::fromStdString(serialport::errorText(serialport::invalidArgumentError())));
        return false;
    }
    serialport::LineState state;
    if (!serialport::getLineState(d->port, &state)) {
        setSystemError();
        return false;
    }
    state.baudRate = quint32(baudRate);
    state.byteSize = quint8(dataBits);
    state.parity = quint8(parity);
    state.stopBits = quint8(stopBits);
    state.binary = true;
    state.ctsOutputFlow = false;
    state.dsrOutputFlow = false;
    state.dsrSensitivity = false;
    state.xonXoffOutput = false;
    if (!serialport::setLineState(d->port, state)) {
        setSystemError();
        return false;
    }
    return true;
}

bool Serial::setTimeouts(int readInterval, int readTotal, int writeTotal)
{
    // A negative time-out means none; as unsigned it would read as about 49 days, or as the
    // "return at once" marker.
    serialport::Timeouts timeouts;
    timeouts.readInterval = quint32(qMax(0, readInterval));
    timeouts.readTotalMultiplier = 1;
    timeouts.readTotalConstant = quint32(qMax(0, readTotal));
    timeouts.writeTotalMultiplier = 1;
    timeouts.writeTotalConstant = quint32(qMax(0, writeTotal));
    if (!serialport::setTimeouts(d->port, timeouts)) {
        setSystemError();
        return false;
    }
    return true;
}

void Serial::clearInputBuffer()
{
    serialport::purgeReceive(d->port);
}

qint64 Serial::readData(char *data, qint64 maxSize)
{
    // The system counts in 32 bits; a larger request is served in part, never wrapped to 0.
    const auto size = quint32(qMin<qint64>(maxSize, std::numeric_limits<quint32>::max()));
    quint32 done = 0;
    if (!serialport::read(d->port, data, size, &done))
        setSystemError();
    return done;
}

qint64 Serial::writeData(const char *data, qint64 maxSize)
{
    const auto size = quint32(qMin<qint64>(maxSize, std::numeric_limits<quint32>::max()));
    quint32 done = 0;
    if (!serialport::write(d->port, data, size, &done))
        setSystemError();
    return done;
}

qint64 Serial::bytesAvailable() const
{
    quint32 queued = 0;
    if (!serialport::queuedBytes(d->port, &queued))
        queued = 0;
    return qint64(queued) + QIODevice::bytesAvailable();
}

bool Serial::isSequential() const
{
    return true;
}

void *Serial::handle() const
{
    return d->port.handle;
}

void Serial::setSystemError()
{
    setErrorString(QString::fromStdString(serialport::errorText(serialport::lastError())));
}
