// SPDX-License-Identifier: GPL-3.0-or-later
#include "cwdemodulator.h"

#include "impulseblanker.h"
#include "transmissiondecoder.h"

#include <fftw3.h>
#include <samplerate.h>

#include <algorithm>
#include <cmath>
#include <iterator>
#include <numbers>

namespace tovrin3::morse {

namespace {

// The transmission break: a transmission ends once its pitch has carried no keying for this
// long. Longer than a word gap at the slowest speed (1.05 s at 8 words per minute).
constexpr double BreakSeconds = 1.5;
// How far before the moment a transmission is noticed its first element may lie.
constexpr double LookBackSeconds = 2.5;
constexpr double TailSeconds = 0.3;
// A transmission this long is cut into lines.
constexpr double LongestTransmissionSeconds = 150.0;
// Smoothed power over the noise floor that starts a transmission, and the power over six
// frames that counts as keying heard.
constexpr float StartLevel = 2.5f;
constexpr float KeyingLevel = 4.0f;
constexpr int KeyingFrames = 6;
constexpr float Smoothing = 1.0f / 16;

constexpr qint64 seconds(double value)
{
    return qint64(value * InternalRate);
}

// Converts the input rate (held to 4 to 192 kHz) to the internal rate. Input goes through in
// blocks of a fixed size, so the output does not depend on how the stream was cut.
class Resampler
{
public:
    explicit Resampler(double rate)
        : m_ratio(std::isfinite(rate) ? InternalRate / std::clamp(rate, 4000.0, 192000.0) : 1.0)
    {
        if (m_ratio != 1.0) {
            int error = 0;
            m_state = src_new(SRC_SINC_FASTEST, 1, &error);
        }
    }
    ~Resampler()
    {
        if (m_state)
            src_delete(m_state);
    }
    Resampler(const Resampler &) = delete;
    Resampler &operator=(const Resampler &) = delete;

    // Appends what the input converts to; input short of a whole block waits for more.
    // Samples that are no number are taken as silence before the filter, which would otherwise
    // spread them over its whole length.
    void process(std::span<const float> input, std::vector<float> &output)
    {
        std::vector<float> &target = m_state ? m_pending : output;
        std::transform(input.begin(), input.end(), std::back_inserter(target),
                       [](float value) { return std::isfinite(value) ? value : 0.0f; });
        if (!m_state)
            return;
        std::size_t used = 0;
        while (m_pending.size() - used >= BlockSize) {
            convert(std::span(m_pending).subspan(used, BlockSize), false, output);
            used += BlockSize;
        }
        m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(used));
    }

    void finish(std::vector<float> &output)
    {
        if (!m_state)
            return;
        convert(m_pending, true, output);
        m_pending.clear();
    }

private:
    static constexpr std::size_t BlockSize = 4096;

    void convert(std::span<const float> input, bool last, std::vector<float> &output)
    {
        std::vector<float> converted(std::size_t(double(input.size()) * m_ratio) + 64);
        SRC_DATA data{};
        data.src_ratio = m_ratio;
        data.end_of_input = last ? 1 : 0;
        data.data_in = input.data();
        data.input_frames = long(input.size());
        for (;;) {
            data.data_out = converted.data();
            data.output_frames = long(converted.size());
            if (src_process(m_state, &data) != 0)
                return;
            output.insert(output.end(), converted.begin(),
                          converted.begin() + data.output_frames_gen);
            data.data_in += data.input_frames_used;
            data.input_frames -= data.input_frames_used;
            if (data.input_frames == 0 && (!last || data.output_frames_gen == 0))
                return;
        }
    }

    double m_ratio;
    SRC_STATE *m_state = nullptr;
    std::vector<float> m_pending;
};

// Hann-windowed power spectra of the pitch range, each over the median noise of its frame.
class SpectrumAnalyser
{
public:
    SpectrumAnalyser() : m_input(FftSize), m_output(FftSize / 2 + 1), m_window(FftSize)
    {
        for (int n = 0; n < FftSize; ++n)
            m_window[std::size_t(n)] =
                float(0.5 - 0.5 * std::cos(2 * std::numbers::pi * (n + 0.5) / FftSize));
        const std::lock_guard lock(fftwPlanning());
        m_plan = fftwf_plan_dft_r2c_1d(FftSize, m_input.data(), m_output.data(), FFTW_ESTIMATE);
    }
    ~SpectrumAnalyser()
    {
        const std::lock_guard lock(fftwPlanning());
        fftwf_destroy_plan(m_plan);
    }
    SpectrumAnalyser(const SpectrumAnalyser &) = delete;
    SpectrumAnalyser &operator=(const SpectrumAnalyser &) = delete;

    void process(std::span<const float> frame, std::span<float> powers)
    {
        for (int n = 0; n < FftSize; ++n)
            m_input[std::size_t(n)] = frame[std::size_t(n)] * m_window[std::size_t(n)];
        fftwf_execute(m_plan);
        for (int b = 0; b < SearchBins; ++b) {
            const fftwf_complex &value = m_output[std::size_t(LowestBin + b)];
            powers[std::size_t(b)] = value[0] * value[0] + value[1] * value[1];
        }
        m_sorted.assign(powers.begin(), powers.end());
        const auto middle = m_sorted.begin() + SearchBins / 2;
        std::nth_element(m_sorted.begin(), middle, m_sorted.end());
        const float noise = std::max(*middle / float(std::numbers::ln2), 1e-20f);
        for (float &power : powers)
            power /= noise;
    }

private:
    std::vector<float> m_input;
    std::vector<fftwf_complex> m_output;
    std::vector<float> m_window;
    std::vector<float> m_sorted;
    fftwf_plan m_plan;
};

} // namespace

struct CwDemodulator::State
{
    explicit State(double rate) : blanker(rate), resampler(rate), smoothed(SearchBins, 0.0f) {}

    ImpulseBlanker blanker;
    Resampler resampler;
    SpectrumAnalyser analyser;
    std::vector<float> converted;

    // Samples at the internal rate from historyStart on, and the spectra of frames from
    // firstFrame on (frame j starts at sample j * FrameHop).
    std::vector<float> history;
    qint64 historyStart = 0;
    std::vector<float> spectra;
    qint64 firstFrame = 0;
    qint64 nextFrame = 0;
    std::vector<float> smoothed;

    bool active = false;
    qint64 blockStart = 0;
    qint64 consumedUntil = 0;
    qint64 lastKeyFrame = 0;
    int trackedBin = 0;

    double lockedPitch = 0.0;
    double pitch = 0.0;
    double wordsPerMinute = 0.0;
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
    void endTransmission(qint64 end);
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
    for (int b = 0; b < SearchBins; ++b)
        smoothed[std::size_t(b)] += (powers[std::size_t(b)] - smoothed[std::size_t(b)]) * Smoothing;
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
    const auto strongest = int(
        std::max_element(smoothed.begin() + low, smoothed.begin() + high + 1) - smoothed.begin());
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
    if (lockedPitch <= 0 && smoothed[std::size_t(strongest)] > StartLevel &&
        smoothed[std::size_t(strongest)] > 2 * smoothed[std::size_t(trackedBin)])
        trackedBin = strongest;

    float heard = 0.0f;
    const qint64 from = std::max(firstFrame, frame - (KeyingFrames - 1));
    for (qint64 f = from; f <= frame; ++f)
        heard += frameSpectrum(f)[std::size_t(trackedBin)];
    if (heard / float(frame - from + 1) > KeyingLevel) {
        lastKeyFrame = frame;
    }

    const qint64 now = frame * FrameHop + FftSize;
    const qint64 keyEnd = lastKeyFrame * FrameHop + FftSize;
    if (now - keyEnd >= seconds(BreakSeconds))
        endTransmission(keyEnd + seconds(TailSeconds));
    else if (now - blockStart >= seconds(LongestTransmissionSeconds))
        endTransmission(now);
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
    if (last > first)
        block.spectra = std::span(spectra).subspan(std::size_t(first - firstFrame) * SearchBins,
                                                   std::size_t(last - first) * SearchBins);
    block.firstFrameOffset = int(first * FrameHop - blockStart);
    block.lockedPitchHz = lockedPitch;
    return decodeTransmission(block);
}

void CwDemodulator::State::endTransmission(qint64 end)
{
    const DecodedTransmission decoded = decode(end);
    if (decoded.heard && !decoded.text.isEmpty()) {
        lines.push_back({decoded.text,
                         (double(blockStart) + decoded.firstElementSample) / InternalRate,
                         {},
                         false});
        pitch = decoded.pitchHz;
        wordsPerMinute = decoded.wordsPerMinute;
        if (lockedPitch > 0)
            lockedPitch = std::clamp(pitch, 200.0, 2000.0);
    }
    active = false;
    consumedUntil = std::min(end, historyEnd());
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
    state.history.insert(state.history.end(), state.converted.begin(), state.converted.end());
    state.analyseFrames();
}

void CwDemodulator::finish()
{
    State &state = *m_state;
    state.converted.clear();
    state.resampler.finish(state.converted);
    state.history.insert(state.history.end(), state.converted.begin(), state.converted.end());
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
        state.pendingText = decoded.heard ? decoded.text : QString();
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
