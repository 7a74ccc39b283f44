// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Stage 4, slot likelihoods. In: the baseband's running sums and the unit grid (stage 3). Out:
// for every whole unit slot of the grid, the log-likelihood ratio [nats] of "keyed" over
// "unkeyed", the same for a dash (three slots keyed as one element) starting there, the slot's
// sum weighted for scoring any run of slots in one phase, and the keyed slots' energy over the
// noise's for the whole transmission.
#include "baseband.h"

#include <complex>
#include <vector>

namespace tovrin3::morse {

struct SlotLikelihoods
{
    // Per slot from the grid's phase on: log p(slot | keyed) - log p(slot | unkeyed). A keyed slot
    // of a strong signal scores far above 0, a gap far below.
    std::vector<float> keyed;
    // Per slot: log p(three slots | one dash) - log p(three slots | unkeyed). The carrier's phase
    // holds within an element, so a dash is scored as one run of unknown phase, which weighs its
    // three slots together; where the phase turns inside the run (a pitch error, a satellite
    // that does not keep it) the three slots scored apart take over. The last two slots hold
    // what they hold of a dash, scored apart.
    std::vector<float> dashes;
    double signalToNoise = 0.0; // mean keyed slot energy over the noise energy of a slot
    double noise = 0.0;         // the noise energy of a slot the ratios were judged at
    // Per slot: the keyed level the ratio was judged at, its energy over the noise energy of a
    // slot (at least 1); where fading dips, so does this.
    std::vector<float> level;
    // Per slot: its sum weighted by the keyed amplitude, 2 a s / N (a: the level's amplitude, s:
    // the slot's sum, N: the noise energy of a slot). Over slots keyed in one phase the magnitude
    // of their total is the argument of the Bessel function in the ratio of the whole run, so any
    // set of slots, a character's, can be scored as keyed in one phase.
    std::vector<std::complex<float>> matched;
};

// Each slot's sum is a carrier of unknown phase in complex Gaussian noise: the keyed hypothesis
// is Rician with the local keyed level, the unkeyed one Rayleigh. The noise comes from the
// slots as likely unkeyed as their ratios say (first from the quieter slots); the keyed level is
// followed along the transmission (about a second either side), so slow fading moves the decision
// threshold with it. Where a fade drops the level faster (within 0.3 s, or down toward a null
// between keyed slots), the lower level holds: a slot whose level has fallen near the noise scores
// near 0, missing evidence rather than a confident gap. Where the keying on both sides leads down
// into a null no slot shows, or on one side with no keying on the other (a fade closing over the
// end of a transmission), a slot there is keyed at any level from 0 up to the one judged, so a
// dash lost in the null does not read as dots, nor a frame's last digit lose its trailing
// elements. Fewer than ten slots give all ratios 0.
// knownNoise, where above 0, is the noise energy of a slot as a longer view of the same keying
// found it (a transmission's, for a stretch of it on a phase of its own): a short stretch holds too
// few quiet slots to judge the noise by, and a fade or the filters' edges there would make its
// noise far too low and every slot of noise a confident gap.
SlotLikelihoods slotLikelihoods(const CumulativeSum &sums, const UnitGrid &grid,
                                double knownNoise = 0.0);

// log I0(x), the modified Bessel function of order 0: the log-likelihood of a carrier of unknown
// phase, with the asymptotic form where the function overflows a double.
double logBesselI0(double x);

} // namespace tovrin3::morse
