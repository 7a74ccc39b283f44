// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Whole-file reading and writing for tests that prepare or inspect files on disk.
#include <QByteArray>
#include <QFile>
#include <QString>

namespace tovrin3::testing {

inline bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

inline QByteArray fileContent(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace tovrin3::testing
