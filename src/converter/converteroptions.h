// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "fileconversion.h"

#include <QString>
#include <QStringList>

namespace tovrin3 {

struct ConverterOptions
{
    ConversionSettings settings;
    bool quiet = false;
    QStringList inputFiles;
};

// The parsed command line, or why it was refused.
struct ConverterCommandLine
{
    ConverterOptions options;
    QString error;

    bool isValid() const { return error.isEmpty(); }
};

// Reads "-out png", "-transpcolor R G B", "-colors N", "-quiet" and "-D" in any order, and
// every other argument as an input file; "-out png" and one input file at least are required.
// The arguments exclude the program name.
ConverterCommandLine parseConverterArguments(const QStringList &arguments);

QString converterUsage();

} // namespace tovrin3
