// SPDX-License-Identifier: GPL-3.0-or-later
#include "descriptordevice.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

namespace tovrin3 {

DescriptorDevice::DescriptorDevice(int descriptor, OpenMode mode, Ownership ownership)
    : m_descriptor(descriptor), m_ownership(ownership)
{
    open(mode | Unbuffered);
}

DescriptorDevice::~DescriptorDevice()
{
    if (m_ownership == Ownership::Owned)
        ::close(m_descriptor);
}

qint64 DescriptorDevice::readData(char *data, qint64 maxSize)
{
    for (;;) {
        const ssize_t count = ::read(m_descriptor, data, static_cast<size_t>(maxSize));
        if (count >= 0)
            return count;
        if (errno != EINTR)
            return failWithSystemError();
    }
}

qint64 DescriptorDevice::writeData(const char *data, qint64 size)
{
    qint64 written = 0;
    while (written < size) {
        const ssize_t count =
            ::write(m_descriptor, data + written, static_cast<size_t>(size - written));
        if (count >= 0)
            written += count;
        else if (errno != EINTR)
            return failWithSystemError();
    }
    return written;
}

qint64 DescriptorDevice::failWithSystemError()
{
    m_systemError = errno;
    setErrorString(QString::fromLocal8Bit(std::strerror(m_systemError)));
    return -1;
}

} // namespace tovrin3
