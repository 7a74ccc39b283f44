// SPDX-License-Identifier: GPL-3.0-or-later
#include "commandline.h"

#include "descriptordevice.h"
#include "licence.h"

#include <QFile>
#include <QStringView>

#include <algorithm>
#include <cerrno>
#include <cstdio>

#include <unistd.h>

namespace tovrin3 {

using namespace Qt::StringLiterals;

namespace {

// The help fits an 80-column terminal without a line touching its last column.
constexpr qsizetype HelpWidth = 79;
// Where option descriptions start at the latest; longer option names get a line of their own.
constexpr qsizetype MaxDescriptionColumn = 24;

QString optionNames(const QCommandLineOption &option)
{
    QString shortNames;
    QString longNames;
    for (const QString &name : option.names()) {
        QString &names = name.size() == 1 ? shortNames : longNames;
        if (!names.isEmpty())
            names += u", ";
        names += (name.size() == 1 ? u"-"_s : u"--"_s) + name;
    }
    if (!option.valueName().isEmpty() && !longNames.isEmpty())
        longNames += u'=' + option.valueName();
    if (shortNames.isEmpty())
        return u"    "_s + longNames;
    return longNames.isEmpty() ? shortNames : shortNames + u", "_s + longNames;
}

// Appends `text` after `start`, broken between words so that no line grows beyond HelpWidth
// (a single longer word aside); continuation lines begin with `indent` spaces.
void appendWrapped(QString &help, const QString &start, QStringView text, qsizetype indent)
{
    QString line = start;
    bool lineHasWord = false;
    // Empty parts keep the text's runs of spaces, which align a list of values.
    for (const QStringView word : text.split(u' ')) {
        if (word.isEmpty() && !lineHasWord)
            continue;
        if (lineHasWord && line.size() + 1 + word.size() > HelpWidth) {
            help += line + u'\n';
            line = QString(indent, u' ');
            lineHasWord = false;
        }
        if (lineHasWord)
            line += u' ';
        line += word;
        lineHasWord = true;
    }
    help += line + u'\n';
}

// Paragraphs are separated by empty lines; the line breaks inside a paragraph are the wrapping's
// to choose.
void appendParagraphs(QString &help, const QString &text)
{
    const QStringList paragraphs = text.split(u"\n\n"_s);
    for (qsizetype index = 0; index < paragraphs.size(); ++index) {
        if (index > 0)
            help += u'\n';
        appendWrapped(help, {}, QString(paragraphs[index]).replace(u'\n', u' '), 0);
    }
}

// Each line of the description keeps its own leading spaces, so that a list of values inside
// it stays indented.
void appendOption(QString &help, const QString &names, const QString &description, qsizetype column)
{
    QString start = u"  "_s + names;
    if (start.size() + 2 > column) {
        help += start + u'\n';
        start.clear();
    }
    for (const QString &line : description.split(u'\n')) {
        const qsizetype extraIndent =
            std::distance(line.cbegin(), std::find_if(line.cbegin(), line.cend(),
                                                      [](QChar c) { return c != u' '; }));
        start = start.leftJustified(column + extraIndent, u' ');
        appendWrapped(help, start, QStringView(line).sliced(extraIndent), column + extraIndent);
        start.clear();
    }
}

} // namespace

CommandLine::CommandLine(ProgramDescription program)
    : m_program(std::move(program)),
      m_helpOption({u"h"_s, u"help"_s}, u"show this help and exit"_s),
      m_versionOption({u"V"_s, u"version"_s}, u"show the version and exit"_s)
{
    m_parser.addOption(m_helpOption);
    m_parser.addOption(m_versionOption);
}

void CommandLine::addOption(const QCommandLineOption &option, const QString &acceptedValues)
{
    m_parser.addOption(option);
    m_options.append(option);
    if (acceptedValues.isEmpty())
        return;
    for (const QString &name : option.names())
        m_acceptedValues.insert(name, acceptedValues);
}

std::optional<int> CommandLine::parse(const QStringList &arguments)
{
    if (!m_parser.parse(arguments))
        return rejectUsage(parseErrorMessage(arguments));
    if (m_parser.isSet(m_helpOption))
        return printText(helpText());
    if (m_parser.isSet(m_versionOption))
        return printText(versionText());
    return std::nullopt;
}

int CommandLine::rejectUsage(const QString &message) const
{
    std::fprintf(stderr, "%s: %s\nTry '%s --help' for more information.\n",
                 qPrintable(m_program.name), qPrintable(message), qPrintable(m_program.name));
    return UsageError;
}

QString CommandLine::helpText() const
{
    QString help = u"Usage: "_s + m_program.name + u' ' + m_program.synopsis + u'\n';
    appendParagraphs(help, m_program.description);
    help += u'\n';

    QList<QCommandLineOption> options = m_options;
    options << m_helpOption << m_versionOption;
    QStringList names;
    qsizetype column = 0;
    for (const QCommandLineOption &option : options) {
        names << optionNames(option);
        column = std::max(column, 2 + names.last().size() + 2);
    }
    column = std::min(column, MaxDescriptionColumn);
    for (qsizetype index = 0; index < options.size(); ++index)
        appendOption(help, names[index], options[index].description(), column);

    if (!m_program.epilogue.isEmpty()) {
        help += u'\n';
        appendParagraphs(help, m_program.epilogue);
    }
    help += u'\n';
    appendParagraphs(help, u"Full documentation: man "_s + m_program.name);
    return help;
}

QString CommandLine::versionText() const
{
    return m_program.name + u' ' + m_program.version + u'\n' + LicenceNotice.toString();
}

QStringList CommandLine::arguments(int argc, char **argv)
{
    QStringList list;
    list.reserve(argc);
    for (int index = 0; index < argc; ++index)
        list << QString::fromLocal8Bit(argv[index]);
    return list;
}

std::vector<QByteArray> CommandLine::positionalBytes(int argc, char **argv) const
{
    return positionalArgumentBytes(m_parser.positionalArguments(), argc, argv);
}

std::vector<QByteArray> positionalArgumentBytes(const QStringList &positional, int argc,
                                                char **argv)
{
    std::vector<QByteArray> bytes;
    int index = 1;
    for (const QString &argument : positional) {
        while (index < argc && QString::fromLocal8Bit(argv[index]) != argument)
            ++index;
        bytes.emplace_back(index < argc ? QByteArray(argv[index++]) : QFile::encodeName(argument));
    }
    return bytes;
}

// The parser's own texts name an unknown option without its dashes and a missing value without
// the values that would do; ours name both as the user would type them.
QString CommandLine::parseErrorMessage(const QStringList &arguments) const
{
    const QStringList unknown = m_parser.unknownOptionNames();
    if (!unknown.isEmpty()) {
        const QString &name = unknown.first();
        return u"unknown option '"_s + (name.size() == 1 ? u"-"_s : u"--"_s) + name + u'\'';
    }
    // A value is only ever missing after the last argument: the parser takes the next argument
    // as the value, whatever it looks like.
    const QString last = arguments.size() > 1 ? arguments.last() : QString();
    const QString name = QString(last).remove(0, last.startsWith(u"--") ? 2 : 1);
    if (last.startsWith(u'-')) {
        for (const QCommandLineOption &option : m_options) {
            if (!option.names().contains(name) || option.valueName().isEmpty())
                continue;
            const QString accepted = m_acceptedValues.value(name);
            return u"option '"_s + last + u"' needs a value"_s +
                   (accepted.isEmpty() ? QString() : u": "_s + accepted);
        }
    }
    QString message = m_parser.errorText();
    if (message.endsWith(u'.'))
        message.chop(1);
    if (!message.isEmpty())
        message[0] = message[0].toLower();
    return message;
}

// Like GNU programs, --help and --version fail when their text cannot be written, e.g. to a
// full disk; a reader that closed the pipe needs no message about it.
int printProgramText(const QString &program, const QString &text)
{
    DescriptorDevice output(STDOUT_FILENO, QIODevice::WriteOnly,
                            DescriptorDevice::Ownership::Borrowed);
    const QByteArray bytes = text.toLocal8Bit();
    if (output.write(bytes) == bytes.size())
        return Success;
    if (output.systemError() != EPIPE)
        std::fprintf(stderr, "%s: standard output: %s\n", qPrintable(program),
                     qPrintable(output.errorString()));
    return UsageError;
}

int CommandLine::printText(const QString &text) const
{
    return printProgramText(m_program.name, text);
}

} // namespace tovrin3
