// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stage 5, frame and Morse search. In: the slot log-likelihood ratios of a transmission
// (stage 4). Out: the most likely text as tokens (characters, or whole beacon frames where the
// header fits), each with its first and past-the-last keyed slot.
#include <QString>

#include <complex>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

namespace tovrin3::morse {

// Gaps in units, PARIS timing: one unit between elements, three between letters, seven between
// words. A gap from WordGapThreshold units on, halfway between, separates words.
inline constexpr int LetterGap = 3;
inline constexpr int WordGap = 7;
inline constexpr int WordGapThreshold = 5;

// How a beacon frame's body is keyed: nine groups of two digits, a word gap before each group and
// a letter gap inside, or its 18 digits as one word, letter gaps only (a frame written without
// spaces, as the decoded text shows it, keys so). The header is a word of its own either way.
enum class BodyLayout
{
    Grouped,
    Packed
};
inline constexpr BodyLayout BodyLayouts[] = {BodyLayout::Grouped, BodyLayout::Packed};

// The gap after digit k of a body (0 first) [units].
constexpr int gapAfterDigit(BodyLayout layout, int k)
{
    return layout == BodyLayout::Grouped && k % 2 == 1 ? WordGap : LetterGap;
}

// The keying of a text in unit slots: where each key-down starts and how many units it lasts.
struct KeyingTemplate
{
    QString text;
    std::vector<std::pair<int, int>> runs;
    int length = 0; // units from the first key-down to the end of the last
};

// A character's keying from its elements (".-" for A): a dot one unit, a dash three.
KeyingTemplate keyingOf(std::string_view elements, QString text);
// The hexadecimal digits 0-9, A-F, in that order.
std::span<const KeyingTemplate> hexDigitKeyings();
// The slots of the longest hexadecimal digit (0, five dashes).
int longestDigitSlots();
// Slots from a body's first digit that every body ends within: 18 of the longest digit, each with
// a word gap after it.
int longestBodySlots();
// The beacon header as keyed, letter gaps between its characters.
const KeyingTemplate &headerKeying();

// Sums of log-likelihood ratios over a template's key-downs: the log-likelihood of the template
// at a place over that of silence there. A dash takes its run's own ratio where one is given
// (SlotLikelihoods::dashes), else the sum of its three slots'.
class SlotScores
{
public:
    // matched and levels (SlotLikelihoods::matched and ::level), where given, let a character be
    // scored as keyed in one phase (characterScoreWithin).
    explicit SlotScores(std::span<const float> keyed, std::span<const float> dashes = {},
                        std::span<const std::complex<float>> matched = {},
                        std::span<const float> levels = {});
    int count() const { return int(m_prefix.size()) - 1; }
    // Score of a template placed at slot `start`; minus infinity where it runs off the end.
    float score(const KeyingTemplate &keying, int start) const;
    // The same, but slots past the last count as unknown (ratio 0) instead of ruling the
    // template out: a transmission cut off after a dot may have gone on with more elements.
    float scoreWithin(const KeyingTemplate &keying, int start) const;
    // A character's score as scoreWithin gives it, but with nothing gained from a dash's run
    // alone: its key-downs either all in one phase (the carrier held through the character, as
    // a keyed oscillator holds it) or each in a phase of its own, at even odds. Two dots and the
    // gap between them then share their phase as a dash does, so no digit gains over another
    // for holding a run. Without matched sums, the slots apart. A character that starts past the
    // last slot is wholly unknown (0), as a reading cut inside a frame leaves its later digits.
    float characterScoreWithin(const KeyingTemplate &keying, int start) const;

private:
    double runScore(int from, int units) const;

    std::vector<double> m_prefix;
    std::vector<float> m_dashes;
    std::vector<std::complex<double>> m_matchedPrefix; // empty without matched sums
    std::vector<double> m_levelPrefix;
};

struct Token
{
    int start = 0; // first slot
    int end = 0;   // slot after the last key-down
    QString text;
    int frame = -1; // for a beacon frame, its index among the frame candidates
};

// A place where the header fits strongly enough, with the best body after it in either layout.
// score: the header's and the body's log-likelihood ratio.
struct FrameCandidate
{
    int start = 0;
    float score = 0.0f;
    Token token;
    int bodyStart = 0; // slot where the body's first digit may start
};

// The headers that fit at least a share of their keyed slots' expected score (so noise alone
// rarely passes), each the best within half a header's length, with their best bodies.
// signalToNoise: the transmission's keyed slot energy over noise. levels, where given (one per
// slot): the keyed level each slot was judged at, energy over noise; a header's keyed slots then
// expect their own levels, so a header in a fade's trough is held to what the trough can give.
std::vector<FrameCandidate> frameCandidates(const SlotScores &scores, double signalToNoise,
                                            std::span<const float> levels = {});

// The most likely text: characters of the full alphabet or whole frames, at least a letter gap
// after each, any number of unkeyed slots between. A character must beat a penalty, so noise
// does not turn into letters; a frame whose header fits is worth more than the same keying read
// character by character.
std::vector<Token> bestTokens(const SlotScores &scores, const std::vector<FrameCandidate> &frames);

// The tokens as one line: a space where the gap between two tokens is a word gap.
QString joinTokens(const std::vector<Token> &tokens);

} // namespace tovrin3::morse
