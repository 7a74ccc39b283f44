// SPDX-License-Identifier: GPL-3.0-or-later
#include "startoptions.h"

#include "commandline.h"
#include "fileopening.h"
#include "licence.h"
#include "listenwindow.h"
#include "mainwindow.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <array>
#include <memory>
#include <utility>

namespace tovrin3 {

namespace {

const QString ListenOption = QStringLiteral("listen");
const QString PlatformOption = QStringLiteral("platform");

// Options that QGuiApplication and QApplication take themselves; they stay out of --help.
constexpr std::array QtValueOptions{
    u"platform",        u"platformpluginpath", u"platformtheme", u"plugin",
    u"qwindowgeometry", u"qwindowicon",        u"qwindowtitle",  u"display",
    u"style",           u"stylesheet",         u"session",       u"qmljsdebugger"};
constexpr std::array QtFlagOptions{u"reverse", u"widgetcount", u"nograb", u"dograb", u"sync"};

void addQtOptions(QCommandLineParser &parser)
{
    for (const char16_t *name : QtValueOptions) {
        QCommandLineOption option(QString::fromUtf16(name), QString(), QStringLiteral("value"));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
    for (const char16_t *name : QtFlagOptions) {
        QCommandLineOption option(QString::fromUtf16(name));
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }
}

std::unique_ptr<QCommandLineParser> createParser()
{
    auto parser = std::make_unique<QCommandLineParser>();
    // Qt's options are single-dash words ("-platform offscreen").
    parser->setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser->setApplicationDescription(
        QStringLiteral("Decodes the CW telemetry beacon of KAMO TOVRIN-III: paste or type the "
                       "beacon text, open beacon texts and recordings, or listen to the "
                       "receiver's audio."));
    parser->addHelpOption();
    // -V as every program of this package spells it.
    parser->addOption(QCommandLineOption({QStringLiteral("V"), QStringLiteral("version")},
                                         QStringLiteral("Displays version information.")));
    parser->addOption(QCommandLineOption(
        ListenOption,
        QStringLiteral("Open the Listen window and start copying from the default audio input.")));
    parser->addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("Beacon texts and recordings (WAV, FLAC, Ogg) to open at start."),
        QStringLiteral("[FILE...]"));
    addQtOptions(*parser);
    return parser;
}

// An unknown option is named as the user typed it, as the command-line programs name it.
QString usageError(const QCommandLineParser &parser)
{
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.isEmpty())
        return parser.errorText();
    const QString &name = unknown.first();
    return QStringLiteral("unknown option '%1%2'")
        .arg(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"), name);
}

} // namespace

StartOptions parseStartOptions(const QStringList &arguments, int argc, char **argv)
{
    const auto parser = createParser();
    StartOptions options;
    if (!parser->parse(arguments)) {
        options.action = StartOptions::Action::RejectUsage;
        options.usageError = usageError(*parser);
        return options;
    }
    if (parser->isSet(QStringLiteral("help")) || parser->isSet(QStringLiteral("help-all"))) {
        options.action = StartOptions::Action::ShowHelp;
        return options;
    }
    if (parser->isSet(QStringLiteral("version"))) {
        options.action = StartOptions::Action::ShowVersion;
        return options;
    }
    options.listen = parser->isSet(ListenOption);
    for (QByteArray &name : positionalArgumentBytes(parser->positionalArguments(), argc, argv))
        options.files.append(std::move(name));
    options.platformGiven = parser->isSet(PlatformOption);
    return options;
}

QString startHelpText()
{
    return createParser()->helpText();
}

QString startVersionText()
{
    return QCoreApplication::applicationName() + QLatin1Char(' ') +
           QCoreApplication::applicationVersion() + QLatin1Char('\n') + LicenceNotice.toString();
}

QString missingDisplay(const StartOptions &options, const QProcessEnvironment &environment)
{
    if (options.platformGiven || !environment.value(QStringLiteral("QT_QPA_PLATFORM")).isEmpty())
        return {};
    if (!environment.value(QStringLiteral("DISPLAY")).isEmpty() ||
        !environment.value(QStringLiteral("WAYLAND_DISPLAY")).isEmpty())
        return {};
    return QStringLiteral("no display to open the window on (neither DISPLAY nor "
                          "WAYLAND_DISPLAY is set); tovrin3-decode decodes beacon texts without "
                          "one");
}

void applyStartOptions(Form1 &window, const StartOptions &options)
{
    if (!options.files.isEmpty())
        window.fileOpener()->openLocalFiles(options.files);
    if (options.listen)
        window.showListenWindow()->startDefaultInput();
}

} // namespace tovrin3
