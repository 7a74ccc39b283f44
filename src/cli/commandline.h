// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace tovrin3 {

// What a program tells about itself on its command line.
struct ProgramDescription
{
    QString name;        // as the user types it, "tovrin3-decode"
    QString synopsis;    // what follows the name in the usage line, "[OPTION...] [FILE...]"
    QString description; // paragraphs between the usage line and the options
    QString epilogue;    // paragraphs after the options
    QString version;     // "0.3"
};

// Exit statuses every program shares.
enum ExitStatus : int
{
    Success = 0,
    Failure = 1,
    UsageError = 2
};

// Writes the help or version text of a program to standard output as every program of this
// package does: Success, or UsageError with a line on standard error naming the program when the
// text cannot be written (a full disk), and without one when the reader closed the pipe.
int printProgramText(const QString &program, const QString &text);

// The bytes of the positional arguments `positional` (decoded from argv, in order) as the program
// received them. A file name need not be text in the locale's encoding, and its decoded form could
// name no file; the bytes always name the file. Without argv, the decoded arguments are encoded.
std::vector<QByteArray> positionalArgumentBytes(const QStringList &positional, int argc,
                                                char **argv);

// The command line of one of our programs on QCommandLineParser, with the conventions all of
// them follow: -h/--help and -V/--version, "--" ends the options, the help fits in 80 columns
// and points to the manual page, usage errors are one line on standard error followed by a
// pointer to --help, with status 2, and --help and --version also end with status 2 when they
// cannot write their text.
class CommandLine
{
public:
    explicit CommandLine(ProgramDescription program);

    // Options show in the help in the order they are added, before --help and --version.
    // `acceptedValues`, for an option that takes a value, completes the message when the value
    // is missing ("report, csv or json").
    void addOption(const QCommandLineOption &option, const QString &acceptedValues = {});

    // Parses the arguments, the program's own name first. Returns the exit status when the
    // program is to end now: after the help or the version, or after a usage error (reported).
    std::optional<int> parse(const QStringList &arguments);

    const QCommandLineParser &parser() const { return m_parser; }

    // Reports a usage error the program found itself, as the parser reports its own; returns
    // UsageError.
    int rejectUsage(const QString &message) const;

    // argv as QStringList, decoded as Qt's own applications decode it.
    static QStringList arguments(int argc, char **argv);

    // The positional arguments as the program received them, in order. A file name need not be
    // text in the locale's encoding, and its decoded form could name no file; the bytes always
    // name the file.
    std::vector<QByteArray> positionalBytes(int argc, char **argv) const;

private:
    QString helpText() const;
    QString versionText() const;
    QString parseErrorMessage(const QStringList &arguments) const;
    int printText(const QString &text) const;

    ProgramDescription m_program;
    QCommandLineParser m_parser;
    QCommandLineOption m_helpOption;
    QCommandLineOption m_versionOption;
    QList<QCommandLineOption> m_options;
    QHash<QString, QString> m_acceptedValues;
};

} // namespace tovrin3
