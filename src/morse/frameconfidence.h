// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stage 6, confidence. In: the slot scores of a transmission (stage 4) and a frame's body as
// chosen by stage 5: the slot of its first digit and its 18 digit values. Out: the probability
// (0 to 1) that all 18 digits are right, and whether that is too low to pass the frame as sure.
#include "framesearch.h"

#include <array>

namespace tovrin3::morse {

using FrameDigits = std::array<int, 18>; // digit values 0 to 15, first sent first

// Below this confidence a frame is doubtful: it is shown, marked, and kept out of the telemetry.
// Chosen on our own signals, apart from the benchmark's. White noise at -9 to -12 dB (seeds from
// 31,000,000; 1,190 frames found): the frames stated 0.95 to 0.99 were exact 181 times in 186
// (97 %), 0.99 to 0.999 212 in 212, 0.999 and above 430 in 430; 642 passed as sure and none was
// wrong, where a dash's run scored alone had passed 651 with 2 wrong. The trust bands (seeds
// from 23,000,000: white noise -9 to -12 dB, other stations, fading; 2,400 frames): 0.95 to 0.99
// exact 201 in 206 (97.6 %), 0.99 to 0.999 247 in 250 (98.8 %), 0.999 and above 1,492 in 1,493;
// 1,743 passed as sure, 4 wrong (upper 95 % bound 0.52 %). Two were white noise, both at 0.991:
// a last digit whose elements the pitch track lost as it slid off at the end of the
// transmission, and a 6 read as C on one slot. 0.995 would have held them back, but it loses 56
// of the 642 sure white-noise frames above (9 %) with no wrong one among them, so 0.99 stays. The
// other two were fading, at 0.995 and 0.9993 (a digit in a trough whose level the slots around
// it overstate), which no threshold removes.
inline constexpr double SureConfidence = 0.99;

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
// cut off, not with nothing.
double frameConfidence(const SlotScores &scores, int bodyStart, const FrameDigits &digits);

// The frame's fields as the beacon sends them: sign bits that agree and a kill-switch byte of
// 0 to 3.
bool frameFieldsPlausible(const FrameDigits &digits);

} // namespace tovrin3::morse
