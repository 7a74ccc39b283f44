// SPDX-License-Identifier: GPL-3.0-or-later
#include "benchapplication.h"

#include <QApplication>

#include <cstdio>

namespace {

// The offscreen platform says on every fixed-size window that it cannot pass size hints on; the
// benchmark's own output is easier to read without it.
QtMessageHandler previousMessageHandler = nullptr;

void dropSizeHintNotices(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message.contains(QLatin1StringView("propagateSizeHints")))
        return;
    if (previousMessageHandler)
        previousMessageHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
}

} // namespace

void ensureApplication()
{
    if (QApplication::instance())
        return;
    previousMessageHandler = qInstallMessageHandler(dropSizeHintNotices);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char programName[] = "tovrin3-bench";
    static char *argv[] = {programName, nullptr};
    // Lives until the process ends, like the benchmark registry itself.
    new QApplication(argc, argv);
}
