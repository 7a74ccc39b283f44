// SPDX-License-Identifier: GPL-3.0-or-later
#include "converteroptions.h"
#include "licence.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

#include <cstdio>

namespace {

enum ExitStatus : int
{
    AllConverted = 0,
    SomeInputFailed = 1,
    BadCommandLine = 2
};

} // namespace

// Stands in for the third-party converter the screenshot export starts: each input image
// becomes a PNG beside it.
int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QTextStream out(stdout);
    QTextStream errors(stderr);

    const QStringList arguments = QCoreApplication::arguments().mid(1);
    if (arguments == QStringList{QStringLiteral("--version")}) {
        out << "nconvert (tovrin3) " TOVRIN3_VERSION "\n" << tovrin3::LicenceNotice;
        return AllConverted;
    }
    const tovrin3::ConverterCommandLine commandLine = tovrin3::parseConverterArguments(arguments);
    if (!commandLine.isValid()) {
        errors << "nconvert: " << commandLine.error << "\n" << tovrin3::converterUsage();
        return BadCommandLine;
    }

    const tovrin3::ConverterOptions &options = commandLine.options;
    int status = AllConverted;
    for (const QString &inputPath : options.inputFiles) {
        const tovrin3::FileConversionResult result =
            tovrin3::convertImageFile(inputPath, options.settings);
        if (!result.succeeded()) {
            errors << "nconvert: " << inputPath << ": " << result.error << Qt::endl;
            status = SomeInputFailed;
        } else if (!options.quiet) {
            out << inputPath << " -> " << result.outputPath << Qt::endl;
        }
    }
    return status;
}
