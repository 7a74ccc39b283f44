// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QChar>
#include <QString>

#include <span>
#include <string_view>

namespace tovrin3::morse {

// One character of the Morse alphabet: its elements as dots and dashes (".-" for A).
struct MorseSymbol
{
    char character;
    std::string_view elements;
};

// The letters, digits and usual punctuation of International Morse code.
std::span<const MorseSymbol> morseAlphabet();

// The elements of a character (either case), or an empty view when Morse code has none.
std::string_view morseElements(QChar character);

// The beacon's header and the layout of one frame: header, then nine groups (bytes) of two
// hexadecimal digits, keyed as groups or as one word (BodyLayout).
inline constexpr std::string_view BeaconHeader = "QT7XMRKT3HKD";
inline constexpr int BeaconGroups = 9;
inline constexpr int BeaconDigits = 2 * BeaconGroups;

// True for a line that, without its spaces and a leading header, holds exactly the frame's
// number of characters: what a copied frame looks like.
bool isFrameShaped(const QString &line);

} // namespace tovrin3::morse
