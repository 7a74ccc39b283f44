// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QIODevice>

namespace tovrin3 {

// A sequential device over an open POSIX file descriptor. A read returns what the descriptor has
// now, so the report keeps up with a live pipe line by line; a write goes on until every byte is
// out. Errors carry the system's own text and number.
class DescriptorDevice : public QIODevice
{
public:
    enum class Ownership
    {
        Borrowed,
        Owned
    };

    // Opens the device at once, unbuffered, in the given mode.
    DescriptorDevice(int descriptor, OpenMode mode, Ownership ownership);
    ~DescriptorDevice() override;

    bool isSequential() const override { return true; }

    // errno of the last failed read or write, 0 when none failed.
    int systemError() const { return m_systemError; }

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *data, qint64 size) override;

private:
    qint64 failWithSystemError();

    int m_descriptor;
    Ownership m_ownership;
    int m_systemError = 0;
};

} // namespace tovrin3
