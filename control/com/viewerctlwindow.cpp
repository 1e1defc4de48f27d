// The stand-in viewer control's windows: the control window it draws in and
// the hidden clock window whose timers raise events and move the picture.
#include "viewerctl.h"

#include "standinswitches.h"
#include "viewerctlcommon.h"

#include <algorithm>
#include <cstdio>
#include <cwchar>

namespace {

INIT_ONCE s_initWndClass = INIT_ONCE_STATIC_INIT;
ATOM s_atomWndClass = 0;

// Timers of the hidden clock window.
const UINT_PTR TIMER_EVENT = 1;
const UINT_PTR TIMER_FRAME = 2;
const UINT FRAME_PERIOD_MS = 200;

BOOL CALLBACK RegisterWndClassOnce(PINIT_ONCE, PVOID, PVOID*)
{
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = CViewerCtl::WindowProc;
    wc.hInstance = g_hCtlModule;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.lpszClassName = CTL_WND_CLASS;
    s_atomWndClass = RegisterClassExW(&wc);
    return TRUE;
}

} // namespace

void CtlUnregisterWindowClass()
{
    if (s_atomWndClass != 0) {
        UnregisterClassW(CTL_WND_CLASS, g_hCtlModule);
        s_atomWndClass = 0;
    }
}


void CViewerCtl::EnsureClockWindow()
{
    InitOnceExecuteOnce(&s_initWndClass, RegisterWndClassOnce, nullptr, nullptr);
    if (m_hWndClock == nullptr)
        m_hWndClock = CreateWindowExW(0, CTL_WND_CLASS, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                      g_hCtlModule, this);
}

// Runs the event and frame timers while any session plays, and only then.
void CViewerCtl::UpdateClock()
{
    // Only simulated sessions need the clock; a camera's frames set the pace.
    bool bAnyPlaying = false;
    for (const auto& entry : m_sessions)
        bAnyPlaying = bAnyPlaying || (entry.second.m_bPlaying && !entry.second.m_pStream);
    if (bAnyPlaying && !m_bClockRunning) {
        EnsureClockWindow();
        if (m_hWndClock) {
            SetTimer(m_hWndClock, TIMER_EVENT, m_nEventPeriod, nullptr);
            SetTimer(m_hWndClock, TIMER_FRAME, FRAME_PERIOD_MS, nullptr);
            m_bClockRunning = true;
        }
    } else if (!bAnyPlaying && m_hWndClock) {
        KillTimer(m_hWndClock, TIMER_EVENT);
        KillTimer(m_hWndClock, TIMER_FRAME);
        m_bClockRunning = false;
    }
}

std::wstring CViewerCtl::StreamTimeText(const CSession& session) const
{
    ULONGLONG nTime = session.m_nStreamStartTime;
    if (session.m_bPlaying)
        nTime += static_cast<ULONGLONG>(static_cast<double>(GetTickCount64() - session.m_nPlayStartTick) *
                                        session.m_fSpeed * 10000.0);
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(nTime);
    ft.dwHighDateTime = static_cast<DWORD>(nTime >> 32);
    SYSTEMTIME st = {};
    FileTimeToSystemTime(&ft, &st);
    return TimeText(st);
}

// Called on each event tick: m_nEventsPerTick TimeStamps per playing session.
void CViewerCtl::OnEventTimer()
{
    std::vector<std::wstring> playing;
    for (const auto& entry : m_sessions)
        if (entry.second.m_bPlaying && !entry.second.m_pStream)
            playing.push_back(entry.first);
    AddRef(); // a sink may release the control while it handles the event
    for (const std::wstring& strId : playing) {
        for (UINT n = 0; n < m_nEventsPerTick; ++n) {
            // An earlier sink call may have stopped this session.
            auto it = m_sessions.find(strId);
            if (it == m_sessions.end() || !it->second.m_bPlaying)
                break;
            ++it->second.m_nEventsRaised;
            FireTimeStamp(strId, StreamTimeText(it->second));
        }
    }
    Release();
}

// The session the picture shows: the one played last, if it still plays.
const CViewerCtl::CSession* CViewerCtl::ShownSession(std::wstring* pstrId) const
{
    auto it = m_sessions.find(m_strLastPlayed);
    if (it == m_sessions.end() || !it->second.m_bPlaying)
        return nullptr;
    *pstrId = it->first;
    return &it->second;
}

void CViewerCtl::OnPaint(HWND hWnd)
{
    PAINTSTRUCT ps;
    HDC hdc = BeginPaint(hWnd, &ps);
    RECT rc;
    GetClientRect(hWnd, &rc);
    // Drawn off screen first so the moving picture does not flicker.
    HDC hdcMem = CreateCompatibleDC(hdc);
    HBITMAP hbm = hdcMem ? CreateCompatibleBitmap(hdc, rc.right > 0 ? rc.right : 1,
                                                  rc.bottom > 0 ? rc.bottom : 1)
                         : nullptr;
    if (hbm) {
        HGDIOBJ hbmOld = SelectObject(hdcMem, hbm);
        DrawPicture(hdcMem, rc);
        BitBlt(hdc, 0, 0, rc.right, rc.bottom, hdcMem, 0, 0, SRCCOPY);
        SelectObject(hdcMem, hbmOld);
        DeleteObject(hbm);
    } else {
        DrawPicture(hdc, rc);
    }
    if (hdcMem)
        DeleteDC(hdcMem);
    EndPaint(hWnd, &ps);
}

void CViewerCtl::DrawPicture(HDC hdc, const RECT& rc)
{
    HGDIOBJ hFontOld = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(hdc, TRANSPARENT);
    std::wstring strId;
    const CSession* pSession = ShownSession(&strId);
    if (pSession && (pSession->m_pStream || !pSession->m_strProblem.empty())) {
        SelectObject(hdc, hFontOld);
        DrawStreamPicture(hdc, rc, *pSession);
        return;
    }
    if (pSession == nullptr) {
        HBRUSH hbr = CreateSolidBrush(RGB(20, 20, 28));
        FillRect(hdc, &rc, hbr);
        DeleteObject(hbr);
        SetTextColor(hdc, RGB(170, 170, 170));
        RECT rcText = rc;
        DrawTextW(hdc, L"No stream", -1, &rcText, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
        SelectObject(hdc, hFontOld);
        return;
    }

    static const COLORREF s_bars[] = { RGB(192, 192, 192), RGB(192, 192, 0), RGB(0, 192, 192),
                                       RGB(0, 192, 0),     RGB(192, 0, 192), RGB(192, 0, 0),
                                       RGB(0, 0, 192),     RGB(16, 16, 16) };
    const int nBars = 8;
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    const int cxBar = cx / nBars > 0 ? cx / nBars : 1;
    const int cyBars = cy * 2 / 3;
    // Colour bars scrolling to the right, a few pixels per frame.
    const int nShift = static_cast<int>(m_nFrame * 6);
    for (int n = -1; n <= nBars; ++n) {
        RECT rcBar = { rc.left + n * cxBar + nShift % cxBar, rc.top, 0, rc.top + cyBars };
        rcBar.right = rcBar.left + cxBar;
        int nColour = ((n - nShift / cxBar) % nBars + nBars) % nBars;
        HBRUSH hbr = CreateSolidBrush(s_bars[nColour]);
        FillRect(hdc, &rcBar, hbr);
        DeleteObject(hbr);
    }
    RECT rcLower = { rc.left, rc.top + cyBars, rc.right, rc.bottom };
    HBRUSH hbrLower = CreateSolidBrush(RGB(32, 32, 40));
    FillRect(hdc, &rcLower, hbrLower);
    DeleteObject(hbrLower);

    // A box bouncing along the bottom edge of the bars.
    const int cBox = cy / 10 > 4 ? cy / 10 : 4;
    const int nTravel = cx - cBox > 1 ? cx - cBox : 1;
    int nPos = static_cast<int>((m_nFrame * 10) % (2 * nTravel));
    if (nPos > nTravel)
        nPos = 2 * nTravel - nPos;
    RECT rcBox = { rc.left + nPos, rc.top + cyBars - cBox, rc.left + nPos + cBox, rc.top + cyBars };
    FillRect(hdc, &rcBox, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));

    SYSTEMTIME st;
    GetLocalTime(&st);
    wchar_t szNow[32];
    swprintf(szNow, 32, L"%02u:%02u:%02u", st.wHour, st.wMinute, st.wSecond);
    // It must not read like a camera's: it says why there is no camera.
    const std::wstring strText = L"Simulated picture: " + pSession->m_strSimulated + L"\nAsked for " +
                                 pSession->m_strCameraIP + L":" + pSession->m_strPort + L" channel " +
                                 pSession->m_strChannel + L", session " + strId + L"\nStream " +
                                 StreamTimeText(*pSession) + L"   now " + szNow;
    RECT rcText = rcLower;
    InflateRect(&rcText, -6, -4);
    SetTextColor(hdc, RGB(240, 240, 240));
    DrawTextW(hdc, strText.c_str(), -1, &rcText, DT_LEFT | DT_TOP | DT_NOPREFIX);
    SelectObject(hdc, hFontOld);
}

LRESULT CALLBACK CViewerCtl::WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam)
{
    if (uMsg == WM_NCCREATE) {
        auto pCreate = reinterpret_cast<CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(pCreate->lpCreateParams));
    }
    auto pCtl = reinterpret_cast<CViewerCtl*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (pCtl == nullptr)
        return DefWindowProcW(hWnd, uMsg, wParam, lParam);
    try {
        switch (uMsg) {
        case WM_TIMER:
            if (wParam == TIMER_EVENT) {
                pCtl->OnEventTimer();
            } else if (wParam == TIMER_FRAME) {
                ++pCtl->m_nFrame;
                if (pCtl->m_hWnd)
                    InvalidateRect(pCtl->m_hWnd, nullptr, FALSE);
            }
            return 0;
        case WM_STREAM_NOTIFY:
            pCtl->OnStreamNotify();
            return 0;
        case WM_SIZE:
            if (hWnd == pCtl->m_hWnd)
                pCtl->ShowStreams();
            break;
        case WM_ERASEBKGND:
            return 1; // WM_PAINT covers every pixel
        case WM_PAINT:
            pCtl->OnPaint(hWnd);
            return 0;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
            if (pCtl->m_hWndClock == hWnd)
                pCtl->m_hWndClock = nullptr;
            // Destroyed from outside too: a dead handle is no window to report.
            if (pCtl->m_hWnd == hWnd)
                pCtl->m_hWnd = nullptr;
            break;
        }
    } catch (...) {
        // Nothing may escape into the container's message loop.
        return 0;
    }
    return DefWindowProcW(hWnd, uMsg, wParam, lParam);
}
