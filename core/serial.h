// The serial-port device: a QIODevice over one serial port that is also a recursive mutex.
// SPDX-License-Identifier: LicenseRef-Proprietary
/*! \file serial.h
    \brief Serial, a serial port as a QIODevice. */
#ifndef SERIAL_H
#define SERIAL_H

#include "core_global.h"

#include <QIODevice>
#include <QMutex>
#include <QScopedPointer>
#include <QStringList>

class SerialPrivate;

/*!
    \brief A serial port opened for blocking reads and writes bounded by time-outs.

    Users lock the object (it is a recursive mutex) around a request and its answer; none of its
    own operations lock it.
*/
// Qt 6 keeps recursion out of QMutex; QRecursiveMutex locks the same way.
#if QT_VERSION >= QT_VERSION_CHECK(6, 0, 0)
class CORE_EXPORT Serial : public QIODevice, public QRecursiveMutex
#else
class CORE_EXPORT Serial : public QIODevice, public QMutex
#endif
{
    Q_OBJECT
public:
    /*! \brief Parity bit of a character. */
    enum Parity { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
    /*! \brief Stop bits after a character. */
    enum StopBits { OneStop = 0, OneAndHalfStop = 1, TwoStop = 2 };

    /*! \brief A closed port with no name. */
    explicit Serial(QObject *parent = nullptr);
    ~Serial() override;

    /*! \brief Names of the serial ports present, such as COM3 or ttyS0. */
    static QStringList EnumDevices();

    //!@{
    /*! \brief The port to open, such as COM3 or ttyS0, or a device path. */
    void setFileName(const QString &name);
    QString fileName() const;
    //!@}

    /*! \brief Opens for reading and writing, unbuffered. */
    bool open();
    /*! \brief Opens the port exclusively; false, with errorString(), when it cannot. */
    bool open(OpenMode mode) override;
    /*! \brief Closes the port; a read or write blocked on another thread returns with what it
        had transferred. */
    void close() override;

    /*! \brief Sets the line; values the line cannot take fail with "Invalid argument" and
        change nothing. */
    bool setSettings(int baudRate, int dataBits, Parity parity, StopBits stopBits);
    /*! \brief A read of n bytes waits at most n + \a readTotal ms and ends when no byte follows
        for \a readInterval ms; a write of n bytes takes at most n + \a writeTotal ms. A negative
        time-out counts as 0 (none). */
    bool setTimeouts(int readInterval, int readTotal, int writeTotal);
    /*! \brief Drops the bytes received and not yet read. */
    void clearInputBuffer();

    /*! \brief Bytes received and not yet read. */
    qint64 bytesAvailable() const override;
    /*! \brief True: a port is a stream. */
    bool isSequential() const override;
    /*! \brief The system's handle of the port (a file descriptor on POSIX), -1 while closed. */
    void *handle() const;

protected:
    //!@{
    /*! \brief Blocking transfers bounded by the time-outs; the count done, even on failure. */
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;
    //!@}

private:
    Q_DISABLE_COPY(Serial)
    void setSystemError();
    QScopedPointer<SerialPrivate> d;
};

#endif // SERIAL_H
