// What a failed start of the logging thread leaves: the owner is told at
// once (before the thread's error box), and the object is deleted by
// whichever of the thread and its owner lets go of it last.
#pragma once

#include <afxmt.h>

#include <atomic>

class CLogFailedStart
{
public:
    CLogFailedStart() : m_evFailed(FALSE, TRUE, NULL, NULL) {}

    // On the logging thread: the start failed; the owner's wait ends.
    void Failed()
    {
        m_bFailed = true;
        m_evFailed.SetEvent();
    }
    bool HasFailed() const { return m_bFailed; }
    // Signalled once the start has failed.
    HANDLE Event() const { return m_evFailed.m_hObject; }

    // The thread lets go (or a thread that never started); true when the
    // caller must delete the object.
    bool ThreadLetsGo() { return m_nLetGo.fetch_add(1) == 1; }
    // The owner lets go, once however often it says so; true when the
    // caller must delete the object.
    bool OwnerLetsGo() { return !m_bOwnerLetGo.exchange(true) && m_nLetGo.fetch_add(1) == 1; }

private:
    CEvent m_evFailed;
    bool m_bFailed = false;   // the logging thread's own record
    std::atomic<bool> m_bOwnerLetGo{ false };
    std::atomic<int> m_nLetGo{ 0 };
};
