// SPDX-License-Identifier: GPL-3.0-or-later
#include "framesearch.h"

#include "morsecode.h"
#include "slotlikelihoods.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace tovrin3::morse {

namespace {

constexpr float MinusInfinity = -std::numeric_limits<float>::infinity();
// A dash's units: the one run SlotScores may score as a whole.
constexpr int DashUnits = 3;
// The prior odds that a character's key-downs share one phase: even, so a carrier that keeps
// its phase gains the coherent score for ln 2, and one that does not loses only ln 2.
constexpr double InPhaseShare = 0.5;
// Log-likelihood ratio a generic character must beat: about what two keyed slots at 0 dB give,
// so noise slots that happen to look keyed do not become letters.
constexpr float CharacterPenalty = 4.0f;
// What a frame whose header fits is worth over the same keying read character by character:
// more than the 30 character penalties its characters pay, less than a clearly keyed element.
constexpr float FrameBonus = 20.0f;
// A header must fit with at least this log-likelihood ratio, and with this share of what its
// keyed slots give at the transmission's signal-to-noise ratio.
constexpr double LeastHeaderFit = 30.0;
constexpr double HeaderFitShare = 0.3;
// What a body keyed as one word must fit better than grouped to be taken. With letter gaps
// only, 18 digits of few elements (E, A, D) tile almost any text after a header, where the
// word gaps of groups do not fit; the frame's bonus and its characters' penalties would then
// turn such text into a frame. 30 keeps "HELLO WORLD" after a header text at clearly keyed
// slots (20 would not) and still finds a frame keyed as one word at a ratio of 1.5 a slot
// (50 would not).
constexpr float PackedBodyCost = 30.0f;

KeyingTemplate headerTemplate()
{
    KeyingTemplate result{
        QString::fromLatin1(BeaconHeader.data(), qsizetype(BeaconHeader.size())), {}, 0};
    for (const char character : BeaconHeader) {
        if (result.length > 0)
            result.length += LetterGap;
        const KeyingTemplate letter = keyingOf(morseElements(QLatin1Char(character)), {});
        for (const auto &[start, run] : letter.runs)
            result.runs.emplace_back(result.length + start, run);
        result.length += letter.length;
    }
    return result;
}

struct Templates
{
    std::vector<KeyingTemplate> alphabet;
    std::vector<KeyingTemplate> hexadecimal;
    KeyingTemplate header;
    int headerKeyedUnits = 0;
};

const Templates &templates()
{
    static const Templates all = [] {
        Templates result;
        for (const MorseSymbol &symbol : morseAlphabet()) {
            result.alphabet.push_back(
                keyingOf(symbol.elements, QString(QLatin1Char(symbol.character))));
        }
        for (const char digit : std::string_view("0123456789ABCDEF"))
            result.hexadecimal.push_back(
                keyingOf(morseElements(QLatin1Char(digit)), QString(QLatin1Char(digit))));
        result.header = headerTemplate();
        for (const auto &run : result.header.runs)
            result.headerKeyedUnits += run.second;
        return result;
    }();
    return all;
}

// The most likely 18 hexadecimal digits from slot `start` on, keyed in the layout (Viterbi over
// digit and slot). The digits are chosen by whole characters, their key-downs in one phase or each
// in its own (SlotScores::characterScoreWithin), as the frame's confidence weighs them, so the
// digits chosen are the ones the confidence finds likeliest: a dash's run scored alone would take
// a 6 for a C, or a 5 for a B, on one slot. The body's score is its digits' as text is scored,
// dash runs included, so a frame competes with the same keying read character by character on
// equal terms, whether or not the carrier keeps its phase from element to element.
bool bestFrameBody(const SlotScores &scores, int start, BodyLayout layout, float &score,
                   Token &token)
{
    const auto &digits = templates().hexadecimal;
    const int limit = scores.count();
    if (start >= limit)
        return false;
    struct Cell
    {
        float score = MinusInfinity;
        int previous = -1;
        int digit = -1;
    };
    const int span = std::min(limit - start, longestBodySlots()) + 1;
    std::vector<std::vector<Cell>> cells(BeaconDigits + 1, std::vector<Cell>(std::size_t(span)));
    cells[0][0].score = 0.0f;
    // Position k holds where digit k may start.
    for (int k = 0; k < BeaconDigits; ++k) {
        const int gap = k == BeaconDigits - 1 ? 0 : gapAfterDigit(layout, k);
        for (int x = 0; x < span; ++x) {
            const Cell &cell = cells[std::size_t(k)][std::size_t(x)];
            if (cell.score == MinusInfinity)
                continue;
            for (std::size_t d = 0; d < digits.size(); ++d) {
                const float s = scores.characterScoreWithin(digits[d], start + x);
                if (s == MinusInfinity)
                    continue;
                const int y = x + digits[d].length + gap;
                if (y >= span)
                    continue;
                Cell &target = cells[std::size_t(k + 1)][std::size_t(y)];
                if (cell.score + s > target.score)
                    target = {cell.score + s, x, int(d)};
            }
        }
    }
    const auto &last = cells[BeaconDigits];
    const auto end = std::max_element(
        last.begin(), last.end(), [](const Cell &a, const Cell &b) { return a.score < b.score; });
    if (end->score == MinusInfinity)
        return false;
    score = 0.0f;
    QString text;
    int x = int(end - last.begin());
    token.end = start + x;
    for (int k = BeaconDigits; k > 0; --k) {
        const Cell &cell = cells[std::size_t(k)][std::size_t(x)];
        score += scores.score(digits[std::size_t(cell.digit)], start + cell.previous);
        text.prepend(digits[std::size_t(cell.digit)].text);
        if (k > 1 && gapAfterDigit(layout, k - 2) == WordGap)
            text.prepend(QLatin1Char(' '));
        x = cell.previous;
    }
    token.text = text;
    return true;
}

} // namespace

KeyingTemplate keyingOf(std::string_view elements, QString text)
{
    KeyingTemplate result{std::move(text), {}, 0};
    for (const char element : elements) {
        if (result.length > 0)
            result.length += 1;
        const int run = element == '-' ? 3 : 1;
        result.runs.emplace_back(result.length, run);
        result.length += run;
    }
    return result;
}

std::span<const KeyingTemplate> hexDigitKeyings()
{
    return templates().hexadecimal;
}

int longestDigitSlots()
{
    int longest = 0;
    for (const KeyingTemplate &digit : hexDigitKeyings())
        longest = std::max(longest, digit.length);
    return longest;
}

int longestBodySlots()
{
    return BeaconDigits * (longestDigitSlots() + WordGap);
}

const KeyingTemplate &headerKeying()
{
    return templates().header;
}

SlotScores::SlotScores(std::span<const float> keyed, std::span<const float> dashes,
                       std::span<const std::complex<float>> matched, std::span<const float> levels)
    : m_prefix(keyed.size() + 1, 0.0)
{
    for (std::size_t i = 0; i < keyed.size(); ++i)
        m_prefix[i + 1] = m_prefix[i] + keyed[i];
    if (dashes.size() == keyed.size())
        m_dashes.assign(dashes.begin(), dashes.end());
    if (matched.size() == keyed.size() && levels.size() == keyed.size()) {
        m_matchedPrefix.assign(keyed.size() + 1, {});
        m_levelPrefix.assign(keyed.size() + 1, 0.0);
        for (std::size_t i = 0; i < keyed.size(); ++i) {
            m_matchedPrefix[i + 1] = m_matchedPrefix[i] + std::complex<double>(matched[i]);
            m_levelPrefix[i + 1] = m_levelPrefix[i] + levels[i];
        }
    }
}

double SlotScores::runScore(int from, int units) const
{
    if (units == DashUnits && !m_dashes.empty())
        return m_dashes[std::size_t(from)];
    return m_prefix[std::size_t(from + units)] - m_prefix[std::size_t(from)];
}

float SlotScores::score(const KeyingTemplate &keying, int start) const
{
    if (start < 0 || start + keying.length > count())
        return MinusInfinity;
    double sum = 0.0;
    for (const auto &[offset, run] : keying.runs)
        sum += runScore(start + offset, run);
    return float(sum);
}

float SlotScores::scoreWithin(const KeyingTemplate &keying, int start) const
{
    if (start < 0 || start > count())
        return MinusInfinity;
    double sum = 0.0;
    for (const auto &[offset, run] : keying.runs) {
        const int from = std::min(start + offset, count());
        const int to = std::min(start + offset + run, count());
        sum += to - from == run ? runScore(from, run)
                                : m_prefix[std::size_t(to)] - m_prefix[std::size_t(from)];
    }
    return float(sum);
}

float SlotScores::characterScoreWithin(const KeyingTemplate &keying, int start) const
{
    if (start < 0)
        return MinusInfinity;
    double apart = 0.0;
    std::complex<double> matched;
    double level = 0.0;
    for (const auto &[offset, run] : keying.runs) {
        const auto from = std::size_t(std::min(start + offset, count()));
        const auto to = std::size_t(std::min(start + offset + run, count()));
        apart += m_prefix[to] - m_prefix[from];
        if (!m_matchedPrefix.empty()) {
            matched += m_matchedPrefix[to] - m_matchedPrefix[from];
            level += m_levelPrefix[to] - m_levelPrefix[from];
        }
    }
    if (m_matchedPrefix.empty())
        return float(apart);
    const double inPhase = logBesselI0(std::abs(matched)) - level;
    const double high = std::max(inPhase, apart);
    return float(high + std::log1p(std::exp(std::min(inPhase, apart) - high)) +
                 std::log(InPhaseShare));
}

std::vector<FrameCandidate> frameCandidates(const SlotScores &scores, double signalToNoise,
                                            std::span<const float> levels)
{
    const KeyingTemplate &header = templates().header;
    const int last = scores.count() - header.length;
    const bool local = levels.size() == std::size_t(scores.count());
    // Each place's fit as a share of what its keyed slots give: a header in a fade's trough
    // competes for the best place on what the trough can give, not against a misplaced fit where
    // the signal is loud.
    std::vector<double> levelSums(local ? levels.size() + 1 : 0, 0.0);
    for (std::size_t i = 0; local && i < levels.size(); ++i)
        levelSums[i + 1] = levelSums[i] + std::max(double(levels[i]), 1.0);
    std::vector<float> fit(std::size_t(std::max(last + 1, 0)));
    std::vector<float> share(fit.size());
    for (int p = 0; p <= last; ++p) {
        double expected = templates().headerKeyedUnits * std::max(signalToNoise, 1.0);
        if (local) {
            expected = 0.0;
            for (const auto &[offset, run] : header.runs)
                expected +=
                    levelSums[std::size_t(p + offset + run)] - levelSums[std::size_t(p + offset)];
        }
        fit[std::size_t(p)] = scores.score(header, p);
        share[std::size_t(p)] =
            fit[std::size_t(p)] < LeastHeaderFit ? 0.0f : float(fit[std::size_t(p)] / expected);
    }
    std::vector<FrameCandidate> candidates;
    for (int p = 0; p <= last; ++p) {
        const float value = share[std::size_t(p)];
        if (value < HeaderFitShare)
            continue;
        const int from = std::max(0, p - header.length / 2);
        const int to = std::min(last, p + header.length / 2);
        if (*std::max_element(share.begin() + from, share.begin() + to + 1) > value)
            continue;
        float body = MinusInfinity;
        Token token;
        for (const BodyLayout layout : BodyLayouts) {
            float score = 0.0f;
            Token read;
            if (!bestFrameBody(scores, p + header.length + WordGap, layout, score, read))
                continue;
            if (layout == BodyLayout::Packed)
                score -= PackedBodyCost;
            if (score > body) {
                body = score;
                token = read;
            }
        }
        if (body == MinusInfinity)
            continue;
        token.start = p;
        token.text = header.text + QLatin1Char(' ') + token.text;
        token.frame = int(candidates.size());
        candidates.push_back({p, fit[std::size_t(p)] + body, token, p + header.length + WordGap});
    }
    return candidates;
}

std::vector<Token> bestTokens(const SlotScores &scores, const std::vector<FrameCandidate> &frames)
{
    const int count = scores.count();
    const int end = count + WordGap + 1;
    struct Cell
    {
        float score = MinusInfinity;
        int previous = -1;
        int choice = -1; // -1: an unkeyed slot; below the alphabet's size: a character
    };
    std::vector<Cell> cells(std::size_t(end + 1));
    cells[0].score = 0.0f;
    const auto &alphabet = templates().alphabet;
    const int alphabetSize = int(alphabet.size());
    std::vector<int> frameAt(std::size_t(count + 1), -1);
    for (std::size_t f = 0; f < frames.size(); ++f)
        frameAt[std::size_t(frames[f].start)] = int(f);
    for (int p = 0; p < end; ++p) {
        const Cell cell = cells[std::size_t(p)];
        if (cell.score == MinusInfinity)
            continue;
        if (cell.score > cells[std::size_t(p + 1)].score)
            cells[std::size_t(p + 1)] = {cell.score, p, -1};
        if (p >= count)
            continue;
        for (int c = 0; c < alphabetSize; ++c) {
            const float s = scores.score(alphabet[std::size_t(c)], p);
            if (s == MinusInfinity)
                continue;
            const int next = std::min(end, p + alphabet[std::size_t(c)].length + LetterGap);
            const float total = cell.score + s - CharacterPenalty;
            if (total > cells[std::size_t(next)].score)
                cells[std::size_t(next)] = {total, p, c};
        }
        if (const int f = frameAt[std::size_t(p)]; f >= 0) {
            const FrameCandidate &frame = frames[std::size_t(f)];
            const int next = std::min(end, frame.token.end + LetterGap);
            const float total = cell.score + frame.score + FrameBonus;
            if (total > cells[std::size_t(next)].score)
                cells[std::size_t(next)] = {total, p, alphabetSize + f};
        }
    }
    std::vector<Token> tokens;
    for (int p = end; p > 0;) {
        const Cell &cell = cells[std::size_t(p)];
        if (cell.choice >= alphabetSize) {
            tokens.push_back(frames[std::size_t(cell.choice - alphabetSize)].token);
        } else if (cell.choice >= 0) {
            const KeyingTemplate &keying = alphabet[std::size_t(cell.choice)];
            tokens.push_back({cell.previous, cell.previous + keying.length, keying.text});
        }
        p = cell.previous;
    }
    std::reverse(tokens.begin(), tokens.end());
    return tokens;
}

QString joinTokens(const std::vector<Token> &tokens)
{
    QString text;
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        if (i > 0 && tokens[i].start - tokens[i - 1].end >= WordGapThreshold)
            text += QLatin1Char(' ');
        text += tokens[i].text;
    }
    return text;
}

} // namespace tovrin3::morse
