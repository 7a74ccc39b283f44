// SPDX-License-Identifier: GPL-3.0-or-later
#include "transmissiondecoder.h"

#include "baseband.h"
#include "frameconfidence.h"
#include "framesearch.h"
#include "morsecode.h"
#include "pitchtrack.h"
#include "slotlikelihoods.h"

#include <algorithm>

namespace tovrin3::morse {

namespace {

// Spectrum frames a transmission needs before it is worth decoding: about a tenth of a second.
constexpr int FewestFrames = 4;
// Keyed slot energy over noise that counts as keying heard without a frame's header: 9 dB, which
// a transmission of noise alone does not reach.
constexpr double HeardSignalToNoise = 8.0;
// Pauses this long or longer (a word gap at 8 WPM is 1.05 s) part stretches of keying that get a
// timing phase each: the keyer's pauses between lines are no whole number of units.
constexpr double PhaseSplitSeconds = 1.2;
// PARIS, the standard word, lasts 50 units: at W words per minute a unit lasts 1.2 s / W.
constexpr double ParisUnitSeconds = 1.2;

// The digits of a frame's text: the header, then nine groups of two.
std::optional<FrameDigits> digitsOf(const QString &frameText)
{
    FrameDigits digits{};
    std::size_t count = 0;
    for (const QChar character : QStringView(frameText).mid(qsizetype(BeaconHeader.size()))) {
        if (character == QLatin1Char(' '))
            continue;
        bool ok = false;
        const int value = QString(character).toInt(&ok, 16);
        if (!ok || count == digits.size())
            return std::nullopt;
        digits[count++] = value;
    }
    if (count != digits.size())
        return std::nullopt;
    return digits;
}

struct Stretch
{
    int from = 0; // baseband samples
    int to = 0;
};

// The transmission cut in the middle of every pause of PhaseSplitSeconds or more, so each
// stretch of keying gets slots on its own timing phase: a pause need not last whole units.
std::vector<Stretch> stretchesOf(const std::vector<float> &keyed, const UnitGrid &grid,
                                 std::size_t basebandLength)
{
    const int length = int(basebandLength);
    const auto pauseSlots = std::size_t(std::ceil(PhaseSplitSeconds * BasebandRate / grid.unit));
    std::vector<Stretch> stretches{{0, length}};
    std::size_t quiet = 0;
    for (std::size_t i = 0; i <= keyed.size(); ++i) {
        if (i < keyed.size() && keyed[i] <= 0) {
            ++quiet;
            continue;
        }
        if (quiet >= pauseSlots && i < keyed.size() && i > quiet) {
            const double middle = grid.phase + (double(i) - double(quiet) / 2) * grid.unit;
            stretches.back().to = int(middle);
            stretches.push_back({int(middle), length});
        }
        quiet = 0;
    }
    return stretches;
}

} // namespace

DecodedTransmission decodeTransmission(const TransmissionBlock &block, double breakSeconds)
{
    DecodedTransmission result;
    const int frames = int(block.spectra.size() / SearchBins);
    if (frames < FewestFrames)
        return result;
    const std::vector<int> path = pitchPath(block.spectra, frames, block.lockedPitchHz);
    const std::vector<double> track = pitchTrack(block.spectra, path);
    std::vector<Complex> baseband = mixDown(block.samples, track, block.firstFrameOffset);
    const double offset = refineFrequency(baseband);

    const UnitGrid grid = findUnitGrid(baseband);
    if (grid.unit == 0.0)
        return result;
    result.wordsPerMinute = ParisUnitSeconds / (grid.unit / BasebandRate);

    const CumulativeSum sums(baseband);
    const SlotLikelihoods likelihoods = slotLikelihoods(sums, grid);
    // Slot starts in baseband samples, and their ratios, stretch after stretch.
    std::vector<double> slotStart;
    std::vector<float> ratios;
    for (const Stretch &stretch : stretchesOf(likelihoods.keyed, grid, baseband.size())) {
        const auto from = std::size_t(stretch.from);
        const std::span<const Complex> part =
            std::span(baseband).subspan(from, std::size_t(stretch.to) - from);
        const CumulativeSum partSums(part);
        const UnitGrid partGrid{grid.unit, bestPhase(partSums, grid.unit)};
        const SlotLikelihoods partLikelihoods = slotLikelihoods(partSums, partGrid);
        for (std::size_t i = 0; i < partLikelihoods.keyed.size(); ++i) {
            slotStart.push_back(stretch.from + partGrid.phase + double(i) * grid.unit);
            ratios.push_back(partLikelihoods.keyed[i]);
        }
    }
    const SlotScores scores(ratios);
    const std::vector<FrameCandidate> frameList =
        frameCandidates(scores, likelihoods.signalToNoise);
    const std::vector<Token> tokens = bestTokens(scores, frameList);
    if (tokens.empty())
        return result;
    // Slot boundaries fall between baseband samples, half a sample before a sample's centre.
    const auto sampleOfSlot = [&](int slot) {
        const double start =
            slot < int(slotStart.size())
                ? slotStart[std::size_t(slot)]
                : slotStart.back() + (slot - int(slotStart.size()) + 1) * grid.unit;
        return start * Decimation + Decimation / 2.0;
    };
    result.lastElementSample = sampleOfSlot(tokens.back().end);
    const double lastFrame =
        (result.lastElementSample - block.firstFrameOffset - FftSize) / FrameHop;
    const auto pitchFrame = std::size_t(std::clamp(lastFrame, 0.0, double(frames - 1)));
    result.pitchHz = track[pitchFrame] + offset;
    const bool framed = std::any_of(tokens.begin(), tokens.end(),
                                    [](const Token &token) { return token.frame >= 0; });
    result.heard = framed || likelihoods.signalToNoise >= HeardSignalToNoise;

    std::vector<Token> line;
    const auto finishLine = [&] {
        if (line.empty())
            return;
        DecodedLine decoded{joinTokens(line), sampleOfSlot(line.front().start), std::nullopt};
        if (isFrameShaped(decoded.text)) {
            decoded.frameConfidence = 0.0;
            if (line.size() == 1 && line.front().frame >= 0) {
                const FrameCandidate &frame = frameList[std::size_t(line.front().frame)];
                if (const auto digits = digitsOf(frame.token.text))
                    decoded.frameConfidence = frameConfidence(scores, frame.bodyStart, *digits);
            }
        }
        result.lines.push_back(std::move(decoded));
        line.clear();
    };
    for (const Token &token : tokens) {
        const bool pause =
            !line.empty() && sampleOfSlot(token.start) - sampleOfSlot(line.back().end) >=
                                 breakSeconds * InternalRate;
        if (pause || token.frame >= 0 || (!line.empty() && line.back().frame >= 0))
            finishLine();
        line.push_back(token);
    }
    finishLine();
    return result;
}

} // namespace tovrin3::morse
