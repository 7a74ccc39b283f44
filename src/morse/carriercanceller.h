// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// Before stage 1, steady carriers. In: samples at the internal rate, in pieces of any size. Out:
// the same samples with every steady carrier of the pitch range subtracted, held back only over
// the first 4 s.
// A birdie or another satellite's carrier is background for presence and for the trace once its
// bin's floor has followed it; but the baseband's low-pass keeps only a carrier 75 Hz or more
// from the pitch under the keying, and one 50 to 75 Hz away and 10 to 30 dB stronger would pass
// it, lift the bins between it and the keying, and bury the keying. Taken out here, no later stage
// sees it.
#include "fftwplanning.h"

#include <complex>
#include <span>
#include <vector>

namespace tovrin3::morse {

// The steady carriers among the bins of the pitch range [Hz], each to a fraction of a bin, from
// each bin's quietest and loudest power over a few seconds (SearchBins values each, bin LowestBin
// first): a carrier's bin stays loud, within a few dB, and stands well over the bins around it.
// Keying falls back to the noise between its elements, so its quietest power lies at the noise.
std::vector<double> steadyCarriers(std::span<const double> quietest,
                                   std::span<const double> loudest);

class CarrierCanceller
{
public:
    CarrierCanceller();

    // Appends the samples to `cleaned` with the carriers found so far subtracted, and looks for
    // carriers in them. The first 4 s are held back and cleaned at once when they are
    // complete, with the carriers found in them, so a carrier there from the start never reaches
    // the later stages; after that a carrier is cancelled from about 4 s after it appears.
    void process(std::span<const float> samples, std::vector<float> &cleaned);
    // Ends the stream: appends what is still held back.
    void finish(std::vector<float> &cleaned);

private:
    // One carrier: the samples mixed down by its frequency give its complex envelope, the mean of
    // the last EnvelopeSamples twice over; the envelope's turn from one block to the next
    // corrects the frequency.
    struct Carrier
    {
        double hz = 0.0;
        double foundHz = 0.0; // where the spectra last showed it
        // The mixing oscillator at the next sample, and its turn per sample at hz (a rotor is
        // renormalised every block, so it never drifts off the unit circle).
        std::complex<double> oscillator = 1.0;
        std::complex<double> turn = 1.0;
        std::vector<std::complex<double>> mixed;    // the last EnvelopeSamples, a ring
        std::vector<std::complex<double>> averaged; // their running means, a ring
        std::complex<double> mixedSum;
        std::complex<double> averagedSum;
        std::size_t filled = 0;
        std::size_t ring = 0;
        std::complex<double> blockSum;
        std::complex<double> lastBlockSum;
        std::size_t blockFilled = 0;
        int missedLooks = 0;
        double power = 0.0;   // the envelope's power at the last look
        double loudest = 0.0; // and at its loudest
    };

    static Carrier newCarrier(double hz);
    float cancel(Carrier &carrier, float sample);
    void analyse(float sample);
    void look();
    // Cleans the samples held back at the start, with the carriers found in them.
    void release(std::vector<float> &cleaned);

    RealFft m_fft;
    std::vector<float> m_window;
    std::vector<float> m_frame;  // the raw samples of the frame being filled
    std::vector<float> m_powers; // SearchBins per frame, the last LookFrames frames, a ring
    std::size_t m_frames = 0;
    std::vector<Carrier> m_carriers;
    std::vector<float> m_start; // the samples held back at the start
    bool m_started = false;
};

} // namespace tovrin3::morse
