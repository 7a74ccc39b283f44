// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whole-file reading and writing for tests that prepare or inspect files on disk.
#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>

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

} // namespace tovrin3::testing
