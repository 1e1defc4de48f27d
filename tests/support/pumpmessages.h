// Serves the calling thread's pending messages the way a framework message
// loop would (dialog keys first), then returns.
#pragma once

#include <afxwin.h>

inline void PumpPending()
{
    MSG msg;
    while (::PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
        if (!AfxPreTranslateMessage(&msg)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageW(&msg);
        }
    }
}
