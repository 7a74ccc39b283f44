// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace tovrin3::morse {

// One transmission as copied: the characters as heard (a word gap is one space) and the time of
// its first element, in seconds from the first sample the demodulator was given.
struct CopiedLine
{
    QString text;
    double startSeconds = 0.0;
    // For a beacon frame (a frame-shaped text): how likely it is that all 18 digits were copied
    // right, 0 to 1; empty for any other text. A frame below the sure confidence is doubtful and
    // must never reach the telemetry as if it were sure.
    std::optional<double> frameConfidence;
    bool doubtful = false;
};

// Turns CW audio into text lines. Samples arrive in pieces of any size at the rate given at
// construction; the lines are the same wherever the stream is cut.
//
// The transmission break: a pause of 1.5 s or more in the keying (longer than a word gap at 8
// words per minute) ends a line. A transmission is decoded as a whole about 1.5 to 2 s after
// its last element; a beacon frame is always a line of its own. Pitch (200 to 2000 Hz, drifting or
// jumping) and speed (8 to 40 words per minute) are found anew for every transmission. A beacon
// frame (the header and 18 hexadecimal digits, in groups of two or as one word) is copied over the
// hexadecimal digits once its header fits; everything else over the full alphabet. Keying too weak
// to tell from noise gives no line. Presence is keying, never power alone: a steady unkeyed carrier
// anywhere in the pitch range becomes background within a quarter second (at once when it is there
// from the start) and neither starts nor holds a line nor draws the pitch; once it has stood for
// 4 s (from the start, when it is there from the start) it is cancelled from the samples, so one
// 50 Hz from the beacon and 30 dB stronger does not bury the keying. Where another station
// keys close by (from about 95 Hz away), the frames of both traces are read, each on its own pitch;
// a frame whose trace strays to the other keying inside it is read again on its own, or else
// doubtful. Fading: the keyed level is followed within a fraction of a second, so slots in a fade's
// trough count as missing evidence, not as gaps; a frame across a deep fade (16 dB under its median
// level) passes as sure only from a confidence of 0.999. A fade that hides the keying for longer
// than the break inside a frame (its header copied, its body not whole) does not end the line:
// keying that comes back within 5 s of the last element goes on the same transmission.
class CwDemodulator
{
public:
    // sampleRate: 4 kHz to 192 kHz, mono. Throws std::runtime_error when the resampler or an FFT
    // plan cannot be made (out of memory), and process() when the resampler fails.
    explicit CwDemodulator(double sampleRate);
    ~CwDemodulator();
    CwDemodulator(const CwDemodulator &) = delete;
    CwDemodulator &operator=(const CwDemodulator &) = delete;

    void process(std::span<const float> samples);
    // Ends the stream: the transmission under way, if any, becomes a line.
    void finish();
    // The lines finished since the last call, oldest first.
    std::vector<CopiedLine> takeLines();

    // For a live display: the text of the transmission under way, as copied so far.
    QString pendingText() const;
    // What the demodulator follows: the pitch the user holds, else the pitch of the keying last
    // decoded (the transmission under way once pendingText() has copied it); 0 while it has
    // found nothing.
    double pitchHz() const;
    double wordsPerMinute() const;

    // Holds the demodulator on a pitch the user chose (200 to 2000 Hz) until released; the held
    // pitch stays where the user put it.
    void lockPitch(double hz);
    void releasePitch();
    bool isPitchLocked() const;

private:
    struct State;
    std::unique_ptr<State> m_state;
};

} // namespace tovrin3::morse
