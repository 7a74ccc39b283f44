// SPDX-License-Identifier: GPL-3.0-or-later
#include "converteroptions.h"

#include "paletteconversion.h"

#include <array>
#include <optional>

namespace tovrin3 {

namespace {

// Plain decimal digits only: a sign, spaces or hexadecimal are refused as mistakes.
std::optional<int> parseNumber(const QString &text, int lowest, int highest)
{
    if (text.isEmpty() || text.size() > 3)
        return std::nullopt;
    for (const QChar character : text) {
        if (character < QLatin1Char('0') || character > QLatin1Char('9'))
            return std::nullopt;
    }
    const int value = text.toInt();
    if (value < lowest || value > highest)
        return std::nullopt;
    return value;
}

class ArgumentReader
{
public:
    explicit ArgumentReader(const QStringList &arguments) : m_arguments(arguments) {}

    ConverterCommandLine read()
    {
        bool outputFormatGiven = false;
        while (m_next < m_arguments.size() && m_result.isValid()) {
            const QString argument = m_arguments[m_next++];
            if (argument == QLatin1String("-out"))
                outputFormatGiven = readOutputFormat();
            else if (argument == QLatin1String("-transpcolor"))
                readTransparentColour();
            else if (argument == QLatin1String("-colors"))
                readColourLimit();
            else if (argument == QLatin1String("-quiet"))
                m_result.options.quiet = true;
            else if (argument == QLatin1String("-D"))
                m_result.options.settings.deleteInput = true;
            else if (argument.startsWith(QLatin1Char('-')))
                fail(QStringLiteral("unknown option %1").arg(argument));
            else
                m_result.options.inputFiles.append(argument);
        }
        if (m_result.isValid() && !outputFormatGiven)
            fail(QStringLiteral("-out png is required"));
        if (m_result.isValid() && m_result.options.inputFiles.isEmpty())
            fail(QStringLiteral("no input file"));
        return m_result;
    }

private:
    std::optional<QString> takeValue(const QString &option)
    {
        if (m_next >= m_arguments.size()) {
            fail(QStringLiteral("%1 needs a value").arg(option));
            return std::nullopt;
        }
        return m_arguments[m_next++];
    }

    bool readOutputFormat()
    {
        const std::optional<QString> format = takeValue(QStringLiteral("-out"));
        if (format && *format != QLatin1String("png"))
            fail(QStringLiteral("only -out png is supported, not %1").arg(*format));
        return m_result.isValid();
    }

    void readTransparentColour()
    {
        std::array<int, 3> channels{};
        for (int &channel : channels) {
            const std::optional<QString> text = takeValue(QStringLiteral("-transpcolor"));
            if (!text)
                return;
            const std::optional<int> value = parseNumber(*text, 0, 255);
            if (!value) {
                fail(
                    QStringLiteral("-transpcolor takes three numbers 0 to 255, not %1").arg(*text));
                return;
            }
            channel = *value;
        }
        m_result.options.settings.transparentColour = qRgb(channels[0], channels[1], channels[2]);
    }

    void readColourLimit()
    {
        const std::optional<QString> text = takeValue(QStringLiteral("-colors"));
        if (!text)
            return;
        const std::optional<int> value = parseNumber(*text, 1, MaxPaletteColours);
        if (!value) {
            fail(QStringLiteral("-colors takes a number 1 to 256, not %1").arg(*text));
            return;
        }
        m_result.options.settings.maxColours = *value;
    }

    void fail(const QString &error) { m_result.error = error; }

    const QStringList &m_arguments;
    qsizetype m_next = 0;
    ConverterCommandLine m_result;
};

} // namespace

ConverterCommandLine parseConverterArguments(const QStringList &arguments)
{
    return ArgumentReader(arguments).read();
}

QString converterUsage()
{
    return QStringLiteral(
        "Usage: nconvert -out png [-transpcolor R G B] [-colors N] [-quiet] [-D] FILE...\n"
        "Converts each image FILE (any format Qt reads, recognised by its content) to a PNG\n"
        "beside it, named with the extension replaced by .png.\n"
        "  -out png              write PNG (the only format)\n"
        "  -transpcolor R G B    make pixels of this colour (0 to 255 each) transparent\n"
        "  -colors N             write a palette PNG of at most N (1 to 256) colours\n"
        "  -quiet                do not list the converted files\n"
        "  -D                    delete each input once its PNG is written\n");
}

} // namespace tovrin3
