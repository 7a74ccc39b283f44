// SPDX-License-Identifier: GPL-3.0-or-later
#include "transmissiondecoder.h"

#include "baseband.h"
#include "frameconfidence.h"
#include "framesearch.h"
#include "morsecode.h"
#include "pitchtrack.h"
#include "slotlikelihoods.h"

#include <algorithm>
#include <cmath>
#include <optional>

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

// One reading of a transmission: its trace, timing, slot scores and tokens.
struct Reading
{
    std::vector<int> path;
    std::vector<double> track;
    double offset = 0.0;
    UnitGrid grid;
    SlotLikelihoods likelihoods;
    std::vector<double> slotStart; // baseband samples, stretch after stretch
    std::vector<float> levels;     // keyed level over noise per slot, stretch after stretch
    std::vector<float> ratios;     // the slots' and dash runs' scores, stretch after stretch
    std::vector<float> dashes;
    SlotScores scores{std::span<const float>()};
    std::vector<FrameCandidate> frameList;
    std::vector<Token> tokens;

    // Slot boundaries fall between baseband samples, half a sample before a sample's centre.
    double sampleOfSlot(int slot) const
    {
        const double start =
            slot < int(slotStart.size())
                ? slotStart[std::size_t(slot)]
                : slotStart.back() + (slot - int(slotStart.size()) + 1) * grid.unit;
        return start * Decimation + Decimation / 2.0;
    }
    // The spectrum frame whose centre lies nearest a sample of the block.
    int frameAt(const TransmissionBlock &block, double sample) const
    {
        const double frame = (sample - block.firstFrameOffset - FftSize / 2.0) / FrameHop;
        return int(std::clamp(std::lround(frame), 0L, long(path.size()) - 1));
    }
};

// A following track is taken over the steady one only where it holds the carrier's phase clearly
// better: by this share of the coherent energy (a Doppler pass bends the pitch tens of hertz off
// any line, and costs the steady track far more). In white noise the two differ by less than
// this where the pitch is steady, and the steady one is surer.
constexpr double FollowingGain = 0.02;

// Mixes the block down along the steady track of the reading's path, or along the following one
// where that holds the carrier clearly better, and keeps the track used.
std::vector<Complex> basebandOnTrack(const TransmissionBlock &block, Reading &reading)
{
    PitchTracks tracks = pitchTracks(block.spectra, reading.path, block.floors);
    std::vector<Complex> baseband = mixDown(block.samples, tracks.steady, block.firstFrameOffset);
    std::vector<Complex> bent = mixDown(block.samples, tracks.following, block.firstFrameOffset);
    if (coherentEnergy(bent) > (1 + FollowingGain) * coherentEnergy(baseband)) {
        reading.track = std::move(tracks.following);
        return bent;
    }
    reading.track = std::move(tracks.steady);
    return baseband;
}

// Reads the block along its strongest trace, or within a few bins of lockedHz when above 0.
// Empty when there is no keying to read.
std::optional<Reading> readBlock(const TransmissionBlock &block, int frames, double lockedHz)
{
    Reading reading;
    reading.path = pitchPath(block.spectra, frames, lockedHz);
    std::vector<Complex> baseband = basebandOnTrack(block, reading);
    reading.offset = refineFrequency(baseband);

    reading.grid = findUnitGrid(baseband);
    if (reading.grid.unit == 0.0)
        return std::nullopt;
    const UnitGrid &grid = reading.grid;

    const CumulativeSum sums(baseband);
    reading.likelihoods = slotLikelihoods(sums, grid);
    std::vector<float> ratios;
    std::vector<float> dashes;
    std::vector<std::complex<float>> matched;
    for (const Stretch &stretch : stretchesOf(reading.likelihoods.keyed, grid, baseband.size())) {
        const auto from = std::size_t(stretch.from);
        const std::span<const Complex> part =
            std::span(baseband).subspan(from, std::size_t(stretch.to) - from);
        const CumulativeSum partSums(part);
        const UnitGrid partGrid{grid.unit, bestPhase(partSums, grid.unit)};
        const SlotLikelihoods partLikelihoods =
            slotLikelihoods(partSums, partGrid, reading.likelihoods.noise);
        for (std::size_t i = 0; i < partLikelihoods.keyed.size(); ++i) {
            reading.slotStart.push_back(stretch.from + partGrid.phase + double(i) * grid.unit);
            ratios.push_back(partLikelihoods.keyed[i]);
            reading.levels.push_back(partLikelihoods.level[i]);
            dashes.push_back(partLikelihoods.dashes[i]);
            matched.push_back(partLikelihoods.matched[i]);
        }
    }
    reading.scores = SlotScores(ratios, dashes, matched, reading.levels);
    reading.ratios = std::move(ratios);
    reading.dashes = std::move(dashes);
    reading.frameList =
        frameCandidates(reading.scores, reading.likelihoods.signalToNoise, reading.levels);
    reading.tokens = bestTokens(reading.scores, reading.frameList);
    if (reading.tokens.empty())
        return std::nullopt;
    return reading;
}

// Whether the reading's keying ends inside a beacon frame: continued by a frame's length of unknown
// slots (ratio 0, what a fade leaves), its slots give a frame after the last one copied whose
// header was heard whole and whose body runs past the last slot.
bool endsInsideFrame(const Reading &reading)
{
    int copiedUntil = 0;
    for (const Token &token : reading.tokens) {
        if (token.frame >= 0)
            copiedUntil = token.end;
    }
    const int groups = BeaconDigits / 2;
    const auto longestFrame = std::size_t(headerKeying().length + groups * WordGap +
                                          groups * LetterGap + BeaconDigits * longestDigitSlots());
    const auto after = [&](const std::vector<float> &values, float unknown) {
        std::vector<float> continued(values.begin() + copiedUntil, values.end());
        continued.resize(continued.size() + longestFrame, unknown);
        return continued;
    };
    const std::vector<float> levels = after(reading.levels, 1.0f);
    const SlotScores continued(after(reading.ratios, 0.0f), after(reading.dashes, 0.0f));
    const int heard = reading.scores.count() - copiedUntil;
    const std::vector<FrameCandidate> frames =
        frameCandidates(continued, reading.likelihoods.signalToNoise, levels);
    return std::any_of(frames.begin(), frames.end(), [&](const FrameCandidate &frame) {
        return frame.start + headerKeying().length <= heard && frame.token.end > heard;
    });
}

// Whether the path jumps from frame f - 1 to frame f: by more than the one bin a drift moves.
bool pathJumpsAt(const std::vector<int> &path, std::size_t f)
{
    return std::abs(path[f] - path[f - 1]) > 1;
}

// Whether the trace jumps anywhere from a frame's first element to a word gap after its last:
// then some of its slots were read on another station's keying, whatever their likelihoods say.
bool traceJumpsWithin(const Reading &reading, const TransmissionBlock &block, const Token &frame)
{
    const int first = reading.frameAt(block, reading.sampleOfSlot(frame.start));
    const int last = reading.frameAt(block, reading.sampleOfSlot(frame.end + WordGap));
    for (int f = first + 1; f <= last; ++f) {
        if (pathJumpsAt(reading.path, std::size_t(f)))
            return true;
    }
    return false;
}

struct FrameReading
{
    QString text;
    double firstElementSample = 0.0;
    double confidence = 0.0;
};

FrameReading readFrame(const Reading &reading, const TransmissionBlock &block, const Token &frame)
{
    FrameReading result{frame.text, reading.sampleOfSlot(frame.start), 0.0};
    if (traceJumpsWithin(reading, block, frame))
        return result;
    const FrameCandidate &candidate = reading.frameList[std::size_t(frame.frame)];
    if (const auto digits = frameDigitValues(candidate.token.text))
        result.confidence = frameConfidence(reading.scores, candidate.bodyStart, *digits);
    result.confidence =
        confidenceAcrossFades(result.confidence, reading.levels, frame.start, frame.end);
    return result;
}

// A frame read again along its own trace: the reading held within a few bins of the pitch at its
// header, the frame the one found there that starts within this many units of the first
// reading's.
constexpr double SameFrameUnits = 3.0;

std::optional<FrameReading> rereadOnOwnTrace(const Reading &reading, const TransmissionBlock &block,
                                             int frames, const Token &frame)
{
    const double start = reading.sampleOfSlot(frame.start);
    const double headerMiddle =
        start + headerKeying().length / 2.0 * reading.grid.unit * Decimation;
    const double pitch =
        reading.track[std::size_t(reading.frameAt(block, headerMiddle))] + reading.offset;
    const std::optional<Reading> own = readBlock(block, frames, pitch);
    if (!own)
        return std::nullopt;
    for (const Token &token : own->tokens) {
        if (token.frame >= 0 && std::abs(own->sampleOfSlot(token.start) - start) <
                                    SameFrameUnits * reading.grid.unit * Decimation)
            return readFrame(*own, block, token);
    }
    return std::nullopt;
}

// A second keyed trace: bins this far (about 95 Hz) or more from the trace read, where the
// power stands KeyedPower over the floor in this share of the block's frames and in this share
// of as many frames as the trace read does (in its own bin: the path strays to the other trace
// and would count that one's keying as well). Noise alone passes KeyedPower in about 2 % of the
// frames; a steady carrier, at its floor, in none; keying, in a third or more.
constexpr int OtherTraceSeparationBins = 6;
constexpr float OtherTraceKeyedPower = 4.0f;
constexpr double OtherTraceLeastShare = 0.15;
constexpr double OtherTraceShareOfRead = 0.3;

// Whether each frame's bin of the path lies on the stretch of the path that reaches the bin
// `read`: stretches part where the path jumps.
std::vector<char> onReadStretch(const std::vector<int> &path, int read)
{
    std::vector<char> onRead(path.size(), 0);
    std::size_t first = 0;
    for (std::size_t f = 1; f <= path.size(); ++f) {
        if (f < path.size() && !pathJumpsAt(path, f))
            continue;
        const bool reaches =
            std::any_of(path.begin() + std::ptrdiff_t(first), path.begin() + std::ptrdiff_t(f),
                        [&](int bin) { return std::abs(bin - read) <= 1; });
        std::fill(onRead.begin() + std::ptrdiff_t(first), onRead.begin() + std::ptrdiff_t(f),
                  char(reaches));
        first = f;
    }
    return onRead;
}

// The path's frames on another trace it jumped to that make its text a mix of the two: a
// second.
constexpr int MixedTextFrames = int(InternalRate / FrameHop);

struct OtherTrace
{
    // The trace the path keeps to most and the strongest keyed trace away from it [Hz]; empty
    // when there is no other trace.
    std::vector<double> pitches;
    // The path jumped to the other trace for MixedTextFrames or more.
    bool pathStrays = false;
};

OtherTrace otherTrace(const TransmissionBlock &block, const std::vector<int> &path)
{
    const int frames = int(path.size());
    // The bin the path spends most keyed frames on: the trace read, however often the path
    // strays to the other trace.
    std::vector<int> onPath(SearchBins, 0);
    for (int f = 0; f < frames; ++f) {
        const int on = path[std::size_t(f)];
        onPath[std::size_t(on)] +=
            block.spectra[std::size_t(f) * SearchBins + std::size_t(on)] > OtherTraceKeyedPower;
    }
    const int read = int(std::max_element(onPath.begin(), onPath.end()) - onPath.begin());
    // Where the path follows the trace read away from its bin (a Doppler pass), the keying there
    // is that trace's, not another's; where it has jumped to the other trace, the keying there is
    // the other trace's and counts for it, or a path that spends half its frames on each trace
    // would hide the other from itself.
    const std::vector<char> followsRead = onReadStretch(path, read);
    std::vector<int> keyed(SearchBins, 0);
    int readKeyed = 0;
    for (int f = 0; f < frames; ++f) {
        const std::span<const float> row =
            block.spectra.subspan(std::size_t(f) * SearchBins, SearchBins);
        const int on = path[std::size_t(f)];
        readKeyed += row[std::size_t(read)] > OtherTraceKeyedPower ? 1 : 0;
        for (int b = 0; b < SearchBins; ++b) {
            if ((!followsRead[std::size_t(f)] || std::abs(b - on) >= OtherTraceSeparationBins) &&
                std::abs(b - read) >= OtherTraceSeparationBins &&
                row[std::size_t(b)] > OtherTraceKeyedPower)
                ++keyed[std::size_t(b)];
        }
    }
    const auto best = std::max_element(keyed.begin(), keyed.end());
    if (*best < OtherTraceLeastShare * frames || *best < OtherTraceShareOfRead * readKeyed)
        return {};
    const int other = int(best - keyed.begin());
    int strayed = 0;
    for (int f = 0; f < frames; ++f) {
        strayed += !followsRead[std::size_t(f)] &&
                   std::abs(path[std::size_t(f)] - other) < OtherTraceSeparationBins;
    }
    return {{(LowestBin + read) * BinHz, (LowestBin + other) * BinHz}, strayed >= MixedTextFrames};
}

enum class LinesOf
{
    All,
    FramesOnly,
};

// The lines of one reading, or its frames only: its tokens cut where the keying pauses for
// breakSeconds or more, and before and after every frame. A frame whose trace jumped inside it is
// read again on its own trace alone where mayReread; what cannot be is doubtful.
std::vector<DecodedLine> linesOf(const Reading &reading, const TransmissionBlock &block, int frames,
                                 double breakSeconds, LinesOf which, bool mayReread)
{
    std::vector<DecodedLine> lines;
    std::vector<Token> line;
    const auto finishLine = [&] {
        if (line.empty())
            return;
        if (which == LinesOf::FramesOnly && !(line.size() == 1 && line.front().frame >= 0)) {
            line.clear();
            return;
        }
        DecodedLine decoded{joinTokens(line), reading.sampleOfSlot(line.front().start),
                            std::nullopt};
        if (line.size() == 1 && line.front().frame >= 0) {
            std::optional<FrameReading> frame = readFrame(reading, block, line.front());
            if (mayReread && traceJumpsWithin(reading, block, line.front()))
                frame = rereadOnOwnTrace(reading, block, frames, line.front());
            if (frame) {
                decoded.text = frame->text;
                decoded.firstElementSample = frame->firstElementSample;
            }
            decoded.frameConfidence = frame ? frame->confidence : 0.0;
        }
        if (isFrameShaped(decoded.text) && !decoded.frameConfidence)
            decoded.frameConfidence = 0.0;
        lines.push_back(std::move(decoded));
        line.clear();
    };
    for (const Token &token : reading.tokens) {
        const bool pause = !line.empty() && reading.sampleOfSlot(token.start) -
                                                    reading.sampleOfSlot(line.back().end) >=
                                                breakSeconds * InternalRate;
        if (pause || token.frame >= 0 || (!line.empty() && line.back().frame >= 0))
            finishLine();
        line.push_back(token);
    }
    finishLine();
    return lines;
}

} // namespace

DecodedTransmission decodeTransmission(const TransmissionBlock &block, double breakSeconds)
{
    DecodedTransmission result;
    const int frames = int(block.spectra.size() / SearchBins);
    if (frames < FewestFrames)
        return result;
    const std::optional<Reading> found = readBlock(block, frames, block.lockedPitchHz);
    if (!found)
        return result;
    const Reading &reading = *found;
    result.wordsPerMinute = ParisUnitSeconds / (reading.grid.unit / BasebandRate);
    const std::vector<Token> &tokens = reading.tokens;

    result.lastElementSample = reading.sampleOfSlot(tokens.back().end);
    const double lastFrame =
        (result.lastElementSample - block.firstFrameOffset - FftSize) / FrameHop;
    const auto pitchFrame = std::size_t(std::clamp(lastFrame, 0.0, double(frames - 1)));
    result.pitchHz = reading.track[pitchFrame] + reading.offset;
    const bool framed = std::any_of(tokens.begin(), tokens.end(),
                                    [](const Token &token) { return token.frame >= 0; });
    result.endsInsideFrame = endsInsideFrame(reading);
    result.heard = framed || reading.likelihoods.signalToNoise >= HeardSignalToNoise;

    const OtherTrace other =
        block.lockedPitchHz > 0 ? OtherTrace{} : otherTrace(block, reading.path);
    // Another station keys close by: it holds the transmission open and draws the path to and
    // fro. Both traces are read again, each held to its own pitch, and their frames count beside
    // the path's (a held reading loses a frame whose pitch moves far, as in a Doppler pass); a
    // frame several readings give is kept once, as read with the most confidence. Where the path
    // strayed to the other trace, its text mixes the two: the text is then the held readings'.
    const LinesOf ownLines = other.pathStrays ? LinesOf::FramesOnly : LinesOf::All;
    const LinesOf heldLines = other.pathStrays ? LinesOf::All : LinesOf::FramesOnly;
    const double sameFrame = SameFrameUnits * reading.grid.unit * Decimation;
    const auto keep = [&](DecodedLine &line) {
        if (!line.frameConfidence) {
            result.lines.push_back(std::move(line));
            return;
        }
        const auto same =
            std::find_if(result.lines.begin(), result.lines.end(), [&](const auto &l) {
                return l.frameConfidence &&
                       std::abs(l.firstElementSample - line.firstElementSample) < sameFrame;
            });
        if (same == result.lines.end())
            result.lines.push_back(std::move(line));
        else if (*line.frameConfidence > *same->frameConfidence)
            *same = std::move(line);
    };
    for (DecodedLine &line :
         linesOf(reading, block, frames, breakSeconds, ownLines, block.lockedPitchHz <= 0))
        keep(line);
    for (const double pitch : other.pitches) {
        const std::optional<Reading> held = readBlock(block, frames, pitch);
        if (!held)
            continue;
        for (DecodedLine &line : linesOf(*held, block, frames, breakSeconds, heldLines, false))
            keep(line);
    }
    std::stable_sort(result.lines.begin(), result.lines.end(), [](const auto &a, const auto &b) {
        return a.firstElementSample < b.firstElementSample;
    });
    return result;
}

} // namespace tovrin3::morse
