#include "logqueueledger.h"

bool CLogQueueLedger::Admit(size_t nCost)
{
    if (m_losses.nDropped > 0 || nCost > kMaxChars - m_nChars) {
        ++m_losses.nDropped;
        return false;
    }
    m_nChars += nCost;
    return true;
}

void CLogQueueLedger::Lost(size_t nCost)
{
    m_nChars -= nCost;
    ++m_losses.nLost;
}

bool CLogQueueLedger::AskForDrain()
{
    const bool bAsk = !m_bDrainAsked;
    m_bDrainAsked = true;
    return bAsk;
}

CLogQueueLedger::Losses CLogQueueLedger::Take()
{
    Losses losses = m_losses;
    m_losses = Losses();
    m_bDrainAsked = false;
    return losses;
}

void CLogQueueLedger::GiveBack(const Losses& losses)
{
    m_losses.nDropped += losses.nDropped;
    m_losses.nLost += losses.nLost;
}
