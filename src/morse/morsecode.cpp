// SPDX-License-Identifier: GPL-3.0-or-later
#include "morsecode.h"

#include <array>

namespace tovrin3::morse {

namespace {

constexpr std::array<MorseSymbol, 54> Alphabet{{
    {'A', ".-"},     {'B', "-..."},   {'C', "-.-."},    {'D', "-.."},    {'E', "."},
    {'F', "..-."},   {'G', "--."},    {'H', "...."},    {'I', ".."},     {'J', ".---"},
    {'K', "-.-"},    {'L', ".-.."},   {'M', "--"},      {'N', "-."},     {'O', "---"},
    {'P', ".--."},   {'Q', "--.-"},   {'R', ".-."},     {'S', "..."},    {'T', "-"},
    {'U', "..-"},    {'V', "...-"},   {'W', ".--"},     {'X', "-..-"},   {'Y', "-.--"},
    {'Z', "--.."},   {'0', "-----"},  {'1', ".----"},   {'2', "..---"},  {'3', "...--"},
    {'4', "....-"},  {'5', "....."},  {'6', "-...."},   {'7', "--..."},  {'8', "---.."},
    {'9', "----."},  {'.', ".-.-.-"}, {',', "--..--"},  {'?', "..--.."}, {'\'', ".----."},
    {'!', "-.-.--"}, {'/', "-..-."},  {'(', "-.--."},   {')', "-.--.-"}, {'&', ".-..."},
    {':', "---..."}, {';', "-.-.-."}, {'=', "-...-"},   {'+', ".-.-."},  {'-', "-....-"},
    {'_', "..--.-"}, {'"', ".-..-."}, {'$', "...-..-"}, {'@', ".--.-."},
}};

} // namespace

std::span<const MorseSymbol> morseAlphabet()
{
    return Alphabet;
}

std::string_view morseElements(QChar character)
{
    const char wanted = character.toUpper().toLatin1();
    for (const MorseSymbol &symbol : Alphabet) {
        if (symbol.character == wanted)
            return symbol.elements;
    }
    return {};
}

bool isFrameShaped(const QString &line)
{
    QString compact = line;
    compact.remove(QLatin1Char(' '));
    const QLatin1String header(BeaconHeader.data(), qsizetype(BeaconHeader.size()));
    if (compact.startsWith(header))
        compact.remove(0, header.size());
    return compact.size() == BeaconDigits;
}

} // namespace tovrin3::morse
