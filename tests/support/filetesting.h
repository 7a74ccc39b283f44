// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whole-file reading and writing for tests that prepare or inspect files on disk.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <utility>

namespace tovrin3::testing {

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// The same for a file named by bytes, which need not be text.
inline bool writeFile(const QByteArray &localPath, const QByteArray &content)
{
    std::FILE *file = std::fopen(localPath.constData(), "wb");
    if (!file)
        return false;
    const bool written = std::fwrite(content.constData(), 1, static_cast<size_t>(content.size()),
                                     file) == static_cast<size_t>(content.size());
    return std::fclose(file) == 0 && written;
}

inline QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A file named by bytes, removed again when the test is done: a QTemporaryDir goes by names as
// text and cannot remove one that is not.
class ByteNamedFile
{
public:
    ByteNamedFile(QByteArray localPath, const QByteArray &content)
        : m_path(std::move(localPath)), m_written(writeFile(m_path, content))
    {
    }
    ~ByteNamedFile() { std::remove(m_path.constData()); }
    ByteNamedFile(const ByteNamedFile &) = delete;
    ByteNamedFile &operator=(const ByteNamedFile &) = delete;

    bool isWritten() const { return m_written; }
    const QByteArray &path() const { return m_path; }

private:
    QByteArray m_path;
    bool m_written;
};

} // namespace tovrin3::testing
