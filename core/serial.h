// The serial-port device: a QIODevice over one serial port that is also a recursive mutex.
// SPDX-License-Identifier: LicenseRef-Proprietary
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
class CORE_EXPORT Serial : public QIODevice, public QMutex
{
    Q_OBJECT
public:
    enum Parity { NoParity = 0, OddParity = 1, EvenParity = 2, MarkParity = 3, SpaceParity = 4 };
    enum StopBits { OneStop = 0, OneAndHalfStop = 1, TwoStop = 2 };

    explicit Serial(QObject *parent = nullptr);
    ~Serial() override;

    /*! \brief Names of the serial ports present, such as COM3 or ttyS0. */
    static QStringList EnumDevices();

    void setFileName(const QString &name);
    QString fileName() const;

    /*! \brief Opens for reading and writing, unbuffered. */
    bool open();
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
    void clearInputBuffer();

    qint64 bytesAvailable() const override;
    bool isSequential() const override;
    /*! \brief The system's handle of the port (a file descriptor on POSIX), -1 while closed. */
    void *handle() const;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 maxSize) override;

private:
    Q_DISABLE_COPY(Serial)
    void setSystemError();
    QScopedPointer<SerialPrivate> d;
};

#endif // SERIAL_H
