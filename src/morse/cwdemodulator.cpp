// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwdemodulator.h"

#include "bandanalysis.h"
#include "carriercanceller.h"
#include "frameconfidence.h"
#include "impulseblanker.h"
#include "resampler.h"
#include "transmissiondecoder.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace tovrin3::morse {

namespace {

// The transmission break: a pause in the keying this long or longer ends a line. Longer than a
// word gap at the slowest speed (1.05 s at 8 words per minute). The segmenter's own view of the
// keying lags, so it ends a transmission a little after the break and the decoder cuts the lines
// at the break itself.
constexpr double BreakSeconds = 1.5;
// How far before the moment a transmission is noticed its first element may lie: the smoothed
// power needs about a second of keying to pass the start level at the weakest signals.
constexpr double LookBackSeconds = 2.5;
// Audio kept after the last frame the segmenter saw keyed: the last elements of a weak or
// fading signal (the final dots of a 5 last for half a second at 20 words per minute) fall
// under its keying level, and a transmission cut before them ends in a wrong digit. Shorter
// than the break, so it never reaches keying the segmenter would start a new transmission on.
constexpr double TailSeconds = 1.0;
// A fade can hold a frame's keying under the segmenter's keying level for longer than the break:
// the transmission would end in the middle of the frame, and neither piece would hold a frame.
// So where the keying stops inside a frame (its header copied, its body not yet whole), the
// transmission is held open for up to this long after its last element, and keying that comes
// back within it goes on the same transmission. Sine fading of 5 s, or Rayleigh fading of
// 0.2 Hz spread, hide the keying for 2 to 4 s.
constexpr double FrameFadeSeconds = 5.0;
// A transmission this long is cut into lines, so memory and decoding time stay bounded: keying
// that never pauses (another station beside the beacon) holds one open for ever. The lines that
// start in the last CutOverlapSeconds are decoded again with what follows, so a frame under way
// at the cut (under 35 s even at 8 words per minute) is copied whole.
constexpr double LongestTransmissionSeconds = 150.0;
constexpr double CutOverlapSeconds = 40.0;
// Smoothed power over the noise floor that starts a transmission (4 dB: keying at -10 dB in
// 3 kHz, on half the time, lifts its bin's average that far), and the mean power over six
// frames (about 0.2 s, two elements at the slowest speed) that counts as keying heard.
constexpr float StartLevel = 2.5f;
constexpr float KeyingLevel = 4.0f;
constexpr int KeyingFrames = 6;
// The start level's smoothing per frame: about half a second. Each ratio counts up to 20 dB, so
// that a carrier seen for the fraction of a second its floor needs does not linger in the mean.
constexpr float Smoothing = 1.0f / 16;
constexpr float LoudestCounted = 100.0f;
// Presence is keying, never power alone: a bin starts or takes over a transmission only while
// it is keyed (KeyingPresence), and holds one only while it falls back to its floor in this share
// of the frames of the last second or so. Keying does between elements; a carrier its floor has
// not yet followed does not, and one it has followed no longer stands above it. The flank of a
// strong carrier, its leakage over the noise, may read a little over its floor, but not loud.
constexpr float KeyingQuietShare = 0.1f;

constexpr qint64 seconds(double value)
{
    return qint64(value * InternalRate);
}

} // namespace

struct CwDemodulator::State
{
    explicit State(double rate) : blanker(rate), resampler(rate), smoothed(SearchBins, 0.0f) {}

    ImpulseBlanker blanker;
    Resampler resampler;
    CarrierCanceller canceller;
    FrameSpectrum analyser;
    KeyingPresence presence;
    std::vector<float> converted;
    std::vector<float> cleaned;

    // Samples at the internal rate from historyStart on, and the spectra of frames from
    // firstFrame on (frame j starts at sample j * FrameHop).
    std::vector<float> history;
    qint64 historyStart = 0;
    std::vector<float> spectra;
    std::vector<float> floors; // the spectra's floors, frame for frame
    qint64 firstFrame = 0;
    qint64 nextFrame = 0;
    std::vector<float> smoothed;

    bool active = false;
    qint64 blockStart = 0;
    qint64 consumedUntil = 0;
    qint64 lastKeyFrame = 0;
    int trackedBin = 0;
    // Held open after the break because the keying stopped inside a frame: the keying's end then
    // and the decoding up to it.
    std::optional<qint64> heldKeyEnd;
    DecodedTransmission held;

    double lockedPitch = 0.0;
    // Of the last keying decoded: the transmission under way once its text was asked for.
    mutable double pitch = 0.0;
    mutable double wordsPerMinute = 0.0;
    std::vector<CopiedLine> lines;

    mutable qint64 pendingFrames = -1;
    mutable QString pendingText;

    qint64 historyEnd() const { return historyStart + qint64(history.size()); }
    std::span<const float> frameSpectrum(qint64 frame) const
    {
        return std::span(spectra).subspan(std::size_t(frame - firstFrame) * SearchBins, SearchBins);
    }
    int lockedBin() const { return int(std::lround(lockedPitch / BinHz)) - LowestBin; }

    void analyseFrames();
    void analyseFrame(qint64 frame);
    void startOrTrack(qint64 frame);
    DecodedTransmission decode(qint64 end) const;
    // Adds the decoded lines whose first element lies before startingBefore [sample].
    void addLines(const DecodedTransmission &decoded, qint64 startingBefore);
    void endTransmission(qint64 end);
    void endTransmission(qint64 end, const DecodedTransmission &decoded);
    // Ends the lines of an overlong transmission and goes on with the rest of it.
    void cutTransmission(qint64 now);
    void trim();
};

void CwDemodulator::State::analyseFrames()
{
    while (nextFrame * FrameHop + FftSize <= historyEnd()) {
        analyseFrame(nextFrame);
        ++nextFrame;
    }
    trim();
}

void CwDemodulator::State::analyseFrame(qint64 frame)
{
    if (spectra.empty())
        firstFrame = frame;
    spectra.resize(spectra.size() + SearchBins);
    const std::span<float> powers = std::span(spectra).last(SearchBins);
    analyser.process(
        std::span(history).subspan(std::size_t(frame * FrameHop - historyStart), FftSize), powers);
    floors.insert(floors.end(), analyser.floors().begin(), analyser.floors().end());
    presence.update(powers);
    for (int b = 0; b < SearchBins; ++b)
        smoothed[std::size_t(b)] +=
            (std::min(powers[std::size_t(b)], LoudestCounted) - smoothed[std::size_t(b)]) *
            Smoothing;
    startOrTrack(frame);
}

void CwDemodulator::State::startOrTrack(qint64 frame)
{
    int low = 0;
    int high = SearchBins - 1;
    if (lockedPitch > 0) {
        low = std::clamp(lockedBin() - 2, 0, SearchBins - 1);
        high = std::clamp(lockedBin() + 2, 0, SearchBins - 1);
    }
    const auto keyed = [&](int b) { return presence.quietShare(b) >= KeyingQuietShare; };
    int strongest = -1;
    for (int b = low; b <= high; ++b) {
        if (presence.isKeyed(b) &&
            (strongest < 0 || smoothed[std::size_t(b)] > smoothed[std::size_t(strongest)]))
            strongest = b;
    }
    if (!active && strongest < 0)
        return;
    if (!active) {
        if (smoothed[std::size_t(strongest)] < StartLevel)
            return;
        active = true;
        trackedBin = strongest;
        lastKeyFrame = frame;
        blockStart =
            std::max({historyStart, consumedUntil, frame * FrameHop - seconds(LookBackSeconds)});
        return;
    }
    // Follow a drift bin by bin; take a much stronger carrier elsewhere as a retune.
    int best = trackedBin;
    for (const int b : {trackedBin - 1, trackedBin + 1}) {
        if (b >= 0 && b < SearchBins && smoothed[std::size_t(b)] > smoothed[std::size_t(best)])
            best = b;
    }
    if (lockedPitch <= 0 || std::abs(best - lockedBin()) <= 2)
        trackedBin = best;
    if (lockedPitch <= 0 && strongest >= 0 && smoothed[std::size_t(strongest)] > StartLevel &&
        smoothed[std::size_t(strongest)] > 2 * smoothed[std::size_t(trackedBin)])
        trackedBin = strongest;

    float heard = 0.0f;
    const qint64 from = std::max(firstFrame, frame - (KeyingFrames - 1));
    for (qint64 f = from; f <= frame; ++f)
        heard += frameSpectrum(f)[std::size_t(trackedBin)];
    if (heard / float(frame - from + 1) > KeyingLevel && keyed(trackedBin)) {
        lastKeyFrame = frame;
    }

    const qint64 now = frame * FrameHop + FftSize;
    const qint64 keyEnd = lastKeyFrame * FrameHop + FftSize;
    if (heldKeyEnd && *heldKeyEnd != keyEnd)
        heldKeyEnd.reset();
    if (now - keyEnd >= seconds(BreakSeconds)) {
        if (!heldKeyEnd) {
            held = decode(keyEnd + seconds(TailSeconds));
            heldKeyEnd = keyEnd;
        }
        if (!held.endsInsideFrame || now - keyEnd >= seconds(FrameFadeSeconds))
            endTransmission(keyEnd + seconds(TailSeconds), held);
    } else if (now - blockStart >= seconds(LongestTransmissionSeconds)) {
        cutTransmission(now);
    }
}

DecodedTransmission CwDemodulator::State::decode(qint64 end) const
{
    end = std::min(end, historyEnd());
    qint64 first = (blockStart + FrameHop - 1) / FrameHop;
    first = std::max(first, firstFrame);
    const qint64 last = std::min(nextFrame, (end - FftSize) / FrameHop + 1);
    TransmissionBlock block;
    block.samples = std::span(history).subspan(std::size_t(blockStart - historyStart),
                                               std::size_t(end - blockStart));
    if (last > first) {
        block.spectra = std::span(spectra).subspan(std::size_t(first - firstFrame) * SearchBins,
                                                   std::size_t(last - first) * SearchBins);
        block.floors = std::span(floors).subspan(std::size_t(first - firstFrame) * SearchBins,
                                                 std::size_t(last - first) * SearchBins);
    }
    block.firstFrameOffset = int(first * FrameHop - blockStart);
    block.lockedPitchHz = lockedPitch;
    return decodeTransmission(block, BreakSeconds);
}

void CwDemodulator::State::addLines(const DecodedTransmission &decoded, qint64 startingBefore)
{
    if (!decoded.heard)
        return;
    for (const DecodedLine &line : decoded.lines) {
        if (blockStart + qint64(line.firstElementSample) >= startingBefore)
            continue;
        CopiedLine copied{line.text, (double(blockStart) + line.firstElementSample) / InternalRate,
                          line.frameConfidence, false};
        copied.doubtful = line.frameConfidence && *line.frameConfidence < SureConfidence;
        lines.push_back(std::move(copied));
    }
    if (!decoded.lines.empty()) {
        pitch = decoded.pitchHz;
        wordsPerMinute = decoded.wordsPerMinute;
    }
}

void CwDemodulator::State::endTransmission(qint64 end)
{
    endTransmission(end, decode(end));
}

void CwDemodulator::State::endTransmission(qint64 end, const DecodedTransmission &decoded)
{
    addLines(decoded, std::numeric_limits<qint64>::max());
    active = false;
    heldKeyEnd.reset();
    consumedUntil = std::min(end, historyEnd());
    pendingFrames = -1;
}

void CwDemodulator::State::cutTransmission(qint64 now)
{
    const DecodedTransmission decoded = decode(now);
    const qint64 cut = now - seconds(CutOverlapSeconds);
    addLines(decoded, cut);
    // The rest starts a little before the first line left for it, or where this piece ends.
    qint64 firstLeft = now;
    for (const DecodedLine &line : decoded.lines) {
        const qint64 start = blockStart + qint64(line.firstElementSample);
        if (start >= cut)
            firstLeft = std::min(firstLeft, start - seconds(LookBackSeconds));
    }
    blockStart = std::clamp(firstLeft, blockStart, historyEnd());
    pendingFrames = -1;
}

void CwDemodulator::State::trim()
{
    constexpr qint64 Slack = qint64(InternalRate);
    const qint64 keepFrom = active ? blockStart : historyEnd() - seconds(LookBackSeconds) - FftSize;
    if (keepFrom - historyStart < Slack)
        return;
    history.erase(history.begin(), history.begin() + std::ptrdiff_t(keepFrom - historyStart));
    historyStart = keepFrom;
    const qint64 frame = std::min((keepFrom + FrameHop - 1) / FrameHop, nextFrame);
    if (frame > firstFrame) {
        spectra.erase(spectra.begin(),
                      spectra.begin() + std::ptrdiff_t((frame - firstFrame) * SearchBins));
        floors.erase(floors.begin(),
                     floors.begin() + std::ptrdiff_t((frame - firstFrame) * SearchBins));
        firstFrame = frame;
    }
}

CwDemodulator::CwDemodulator(double sampleRate) : m_state(std::make_unique<State>(sampleRate)) {}

CwDemodulator::~CwDemodulator() = default;

void CwDemodulator::process(std::span<const float> samples)
{
    State &state = *m_state;
    samples = state.blanker.process(samples);
    state.converted.clear();
    state.resampler.process(samples, state.converted);
    state.cleaned.clear();
    state.canceller.process(state.converted, state.cleaned);
    state.history.insert(state.history.end(), state.cleaned.begin(), state.cleaned.end());
    state.analyseFrames();
}

void CwDemodulator::finish()
{
    State &state = *m_state;
    state.converted.clear();
    state.resampler.finish(state.converted);
    state.cleaned.clear();
    state.canceller.process(state.converted, state.cleaned);
    state.canceller.finish(state.cleaned);
    state.history.insert(state.history.end(), state.cleaned.begin(), state.cleaned.end());
    state.analyseFrames();
    if (state.active)
        state.endTransmission(state.lastKeyFrame * FrameHop + FftSize + seconds(TailSeconds));
}

std::vector<CopiedLine> CwDemodulator::takeLines()
{
    return std::exchange(m_state->lines, {});
}

QString CwDemodulator::pendingText() const
{
    const State &state = *m_state;
    if (!state.active)
        return {};
    // Decoding the transmission so far costs about as much as decoding it at its end: at most
    // once a second of audio.
    constexpr qint64 FramesPerSecond = qint64(InternalRate) / FrameHop;
    if (state.pendingFrames < 0 || state.nextFrame - state.pendingFrames >= FramesPerSecond) {
        const DecodedTransmission decoded = state.decode(state.historyEnd());
        QStringList texts;
        if (decoded.heard) {
            for (const DecodedLine &line : decoded.lines)
                texts << line.text;
        }
        state.pendingText = texts.join(QLatin1Char(' '));
        if (decoded.heard && !decoded.lines.empty()) {
            state.pitch = decoded.pitchHz;
            state.wordsPerMinute = decoded.wordsPerMinute;
        }
        state.pendingFrames = state.nextFrame;
    }
    return state.pendingText;
}

double CwDemodulator::pitchHz() const
{
    return m_state->lockedPitch > 0 ? m_state->lockedPitch : m_state->pitch;
}

double CwDemodulator::wordsPerMinute() const
{
    return m_state->wordsPerMinute;
}

void CwDemodulator::lockPitch(double hz)
{
    m_state->lockedPitch = std::clamp(hz, 200.0, 2000.0);
}

void CwDemodulator::releasePitch()
{
    m_state->lockedPitch = 0.0;
}

bool CwDemodulator::isPitchLocked() const
{
    return m_state->lockedPitch > 0;
}

} // namespace tovrin3::morse
