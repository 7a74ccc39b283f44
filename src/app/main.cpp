// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"
#include "mainwindow.h"
#include "startoptions.h"

#include <QApplication>
#include <QByteArrayView>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

namespace {

using tovrin3::Failure;
using tovrin3::UsageError;

QtMessageHandler defaultMessageHandler = nullptr;

// While the application connects to the display: the platform plugin's complaints about a display
// it cannot reach end in one line and status 1 instead of Qt's abort.
void connectionMessageHandler(QtMsgType type, const QMessageLogContext &context,
                              const QString &message)
{
    if (type == QtFatalMsg) {
        std::fprintf(stderr, "tovrin3: no display could be opened (DISPLAY=%s)\n",
                     qgetenv("DISPLAY").constData());
        std::_Exit(Failure);
    }
    if (context.category && QByteArrayView(context.category).startsWith("qt.qpa"))
        return;
    defaultMessageHandler(type, context, message);
}

// Help, version and usage errors are answered without a window, as every program of this package
// answers them.
int answerWithoutWindow(const tovrin3::StartOptions &options, int argc, char **argv)
{
    const QCoreApplication core(argc, argv);
    switch (options.action) {
    case tovrin3::StartOptions::Action::ShowHelp:
        return tovrin3::printProgramText(QCoreApplication::applicationName(),
                                         tovrin3::startHelpText());
    case tovrin3::StartOptions::Action::ShowVersion:
        return tovrin3::printProgramText(QCoreApplication::applicationName(),
                                         tovrin3::startVersionText());
    default:
        std::fprintf(stderr, "tovrin3: %s\nTry 'tovrin3 --help' for more information.\n",
                     qPrintable(options.usageError));
        return UsageError;
    }
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("tovrin3"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TOVRIN3_VERSION));
    const tovrin3::StartOptions options =
        tovrin3::parseStartOptions(tovrin3::CommandLine::arguments(argc, argv), argc, argv);
    if (options.action != tovrin3::StartOptions::Action::Run)
        return answerWithoutWindow(options, argc, argv);
    if (const QString problem =
            tovrin3::missingDisplay(options, QProcessEnvironment::systemEnvironment());
        !problem.isEmpty()) {
        std::fprintf(stderr, "tovrin3: %s\n", qPrintable(problem));
        return Failure;
    }

    defaultMessageHandler = qInstallMessageHandler(connectionMessageHandler);
    QApplication application(argc, argv);
    qInstallMessageHandler(defaultMessageHandler);

    tovrin3::Form1 window(QCoreApplication::applicationDirPath());
    window.show();
    QTimer::singleShot(0, &window, [&window, &options] { applyStartOptions(window, options); });
    return QApplication::exec();
}
