// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArrayList>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace tovrin3 {

class Form1;

// What the window program was asked to do by its command line.
struct StartOptions
{
    enum class Action
    {
        Run,
        ShowHelp,
        ShowVersion,
        RejectUsage
    };
    Action action = Action::Run;
    // Open the Listen window and start on the default audio input.
    bool listen = false;
    // Beacon texts and recordings to open at start, in order, their names as bytes.
    QByteArrayList files;
    // Whether Qt's own -platform option chose where the window goes.
    bool platformGiven = false;
    QString usageError;
};

// Reads the arguments (the program name first). Qt's own options (-platform, -style...) are let
// through for the application object; anything else that starts with a dash is a usage error.
// Given argv, the same arguments as the program received them, the files keep the bytes of their
// names, which need not be text. Needs no application object.
StartOptions parseStartOptions(const QStringList &arguments, int argc = 0, char **argv = nullptr);

// Usage and options, as --help prints them. Needs an application object.
QString startHelpText();
// The program, its version and its licence, as --version prints them.
QString startVersionText();

// Why no window can open, in one line; empty when the environment names a display or lets Qt
// choose its platform. A display that is named but cannot be reached is caught when the
// application connects to it.
QString missingDisplay(const StartOptions &options, const QProcessEnvironment &environment);

// Opens the files and the Listen window that the command line asks for, in a shown window.
void applyStartOptions(Form1 &window, const StartOptions &options);

} // namespace tovrin3
