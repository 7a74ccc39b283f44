#include "cwdemodulator.h"

namespace tovrin3::morse {

struct CwDemodulator::State
{
    double sampleRate = 8000.0;
    double lockedPitch = 0.0;
    std::vector<CopiedLine> lines;
};

CwDemodulator::CwDemodulator(double sampleRate) : m_state(std::make_unique<State>())
{
    m_state->sampleRate = sampleRate;
}

CwDemodulator::~CwDemodulator() = default;

void CwDemodulator::process(std::span<const float>) {}

void CwDemodulator::finish() {}

std::vector<CopiedLine> CwDemodulator::takeLines()
{
    return std::exchange(m_state->lines, {});
}

QString CwDemodulator::pendingText() const
{
    return {};
}

double CwDemodulator::pitchHz() const
{
    return m_state->lockedPitch;
}

double CwDemodulator::wordsPerMinute() const
{
    return 0.0;
}

void CwDemodulator::lockPitch(double hz)
{
    m_state->lockedPitch = hz;
}

void CwDemodulator::releasePitch()
{
    m_state->lockedPitch = 0.0;
}

bool CwDemodulator::isPitchLocked() const
{
    return m_state->lockedPitch > 0.0;
}

} // namespace tovrin3::morse
