// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Slot log-likelihood ratios of a text as a perfect unit grid would see it, for the tests of the
// stages after the slot likelihoods.
#include "framesearch.h"
#include "morsecode.h"

#include <QString>

#include <vector>

namespace tovrin3::testing {

// `level` for every keyed slot and -level for every gap, PARIS timing, `margin` unkeyed ratios
// before and after.
inline std::vector<float> slotsOf(const QString &text, float level, int margin = 10)
{
    std::vector<float> ratios(std::size_t(margin), -level);
    bool first = true;
    bool wordGap = false;
    for (const QChar character : text) {
        const std::string_view elements = morse::morseElements(character);
        if (elements.empty()) {
            wordGap = !first;
            continue;
        }
        if (!first)
            ratios.insert(ratios.end(), std::size_t(wordGap ? morse::WordGap : morse::LetterGap),
                          -level);
        const morse::KeyingTemplate keying = morse::keyingOf(elements, {});
        std::vector<float> characterSlots(std::size_t(keying.length), -level);
        for (const auto &[start, run] : keying.runs)
            std::fill_n(characterSlots.begin() + start, run, level);
        ratios.insert(ratios.end(), characterSlots.begin(), characterSlots.end());
        first = false;
        wordGap = false;
    }
    ratios.insert(ratios.end(), std::size_t(margin), -level);
    return ratios;
}

} // namespace tovrin3::testing
