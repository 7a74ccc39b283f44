// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stage 6, confidence. In: the slot scores of a transmission (stage 4) and a frame's body as
// chosen by stage 5: the slot of its first digit and its 18 digit values. Out: the probability
// (0 to 1) that all 18 digits are right, as it counts across a deep fade (from the slots' keyed
// levels), and whether that is too low to pass the frame as sure.
#include "framesearch.h"

#include <array>
#include <optional>
#include <span>

namespace tovrin3::morse {

using FrameDigits = std::array<int, 18>; // digit values 0 to 15, first sent first

// The digits of a frame's text: the header, then 18 hexadecimal digits, grouped or not; nothing
// where the text holds other characters or another count of digits.
std::optional<FrameDigits> frameDigitValues(const QString &frameText);

// Below this confidence a frame is doubtful: it is shown, marked, and kept out of the telemetry.
// Chosen on our own signals, apart from the benchmark's (seeds from 23,000,000 and 29,000,000): the
// whole table, and the trust bands (white noise -9 to -12 dB, other stations, sine and Rayleigh
// fading). Frames stated 0.97 to 0.99 were exact 187 times in 188, and passing them kept the wrong
// frames passed as sure at 5 in 4,552 and 2 in 2,066 (upper 95 % bounds 0.23 and 0.30 %), where
// 0.95 let 10 and 4 through (0.37 and 0.44 %). From 0.97 on, a frame is wrong about once in 30 at
// worst, and the telemetry as a whole far less often than once in 200.
inline constexpr double SureConfidence = 0.97;

// The posterior probability of the chosen digits among every body of 18 hexadecimal digits after
// the header, in either layout (BodyLayout; forward algorithm over digits and slots). Each digit is
// scored as a whole character (SlotScores::characterScoreWithin): its key-downs in one phase or
// each in a phase of its own, never a dash's run alone. Two dots and the gap between them hold
// their phase as well as a dash does, so a run's coherent gain would speak for the dash only, and
// pass a 6 sent as C, or 5 as B or F, on one weakly keyed slot. The frame's own fields weigh only
// against it: the beacon keeps the five sign bits of each temperature word (digits 1-4 and 5-8, low
// byte first) equal and sends a kill-switch byte (digits 17-18) of 0 to 3, so a body that keeps
// these rules where the chosen one breaks them makes the chosen less likely; but no body is surer
// for keeping them, since frames that break them are sent too (the decoding reports them), and a
// wrong digit that happens to make a byte keep its rule would otherwise pass as sure. Slots past
// the end of the scores are unknown: a body whose last digits run past them competes with what was
// cut off, not with nothing. Keying that stops after any digit, the slots after it unkeyed,
// competes too, at a small prior.
double frameConfidence(const SlotScores &scores, int bodyStart, const FrameDigits &digits);

// The frame's fields as the beacon sends them: sign bits that agree and a kill-switch byte of
// 0 to 3.
bool frameFieldsPlausible(const FrameDigits &digits);

// How deep a fade the slots [from, to) of a frame lie across, from the keyed level each slot was
// judged at (SlotLikelihoods::level): the lowest level as a share of the frame's median, of any
// one slot and of any run of TroughRunSlots (the run's median, so one slot whose level a chance
// fall of weak keying took to the noise does not count). Runs reach past the frame's ends into
// the levels around it, so a fade closing over its first or last digits counts in full.
inline constexpr int TroughRunSlots = 5;
struct FadeDepth
{
    double slot = 1.0;
    double run = 1.0;
};
FadeDepth fadeDepth(std::span<const float> levels, int from, int to);

// A frame's confidence as it must count across the fade its slots [from, to) lie in (fadeDepth of
// the levels): raised to a power where the trough is deep, so the frame must state more to pass
// as sure.
double confidenceAcrossFades(double confidence, std::span<const float> levels, int from, int to);

} // namespace tovrin3::morse
