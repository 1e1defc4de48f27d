// The stand-in viewer control's camera presentation: starting and ending a
// camera's stream for a session, taking its pictures and statuses on the
// control's thread, drawing the picture or what it says instead.
#include "viewerctl.h"

#include "mjpegstream.h"
#include "rtspstream.h"
#include "standinswitches.h"
#include "viewerctlcommon.h"

#include <algorithm>
#include <cstdio>

namespace {

const size_t MAX_DRAW_SAMPLES = 10000;

// "median <ms> p99 <ms>" of the samples.
std::string MedianAndP99(std::vector<double> samples)
{
    if (samples.empty())
        return "median - p99 -";
    std::sort(samples.begin(), samples.end());
    char szText[64];
    snprintf(szText, sizeof szText, "median %.2f p99 %.2f", samples[samples.size() / 2],
             samples[std::min(samples.size() - 1, samples.size() * 99 / 100)]);
    return szText;
}

void JournalEventsRaised(const std::wstring& strId, ULONGLONG nEvents)
{
    standin::Journal("Events raised: " + std::to_string(nEvents) + " for session " + standin::ToUtf8(strId.c_str()));
}

} // namespace

// ---- Camera streams through the plug-in

// Called by StartStream when the plug-in directory holds a plug-in.
void CViewerCtl::StartCameraStream(CSession& session)
{
    if (!m_plugin.Problem().empty()) {
        session.m_strProblem = m_plugin.Problem();
        return;
    }
    EnsureClockWindow(); // the stream's announcements arrive there
    if (m_hWndClock == nullptr) {
        session.m_strProblem = L"The stand-in has no window to receive pictures in.";
        return;
    }
    CCameraStream::CTarget target;
    target.m_strUrl = m_plugin.UrlFor(session.m_strCameraIP, session.m_strPort, session.m_strChannel);
    target.m_strUser = m_plugin.User();
    target.m_strPassword = m_plugin.Password();
    target.m_nSilenceMs = m_plugin.SilenceMs();
    target.m_transport = m_plugin.GetTransport();
    if (m_plugin.GetKind() == CPluginFile::RTSP)
        session.m_pStream = CRtspStream::Start(target, m_hWndClock, WM_STREAM_NOTIFY);
    else
        session.m_pStream = CMjpegStream::Start(target, m_hWndClock, WM_STREAM_NOTIFY);
    ShowStreams();
}

// Called when a session is stopped or the control closes: journals what it
// did and lets go of its camera.
void CViewerCtl::EndSession(const std::wstring& strId, CSession& session)
{
    JournalEventsRaised(strId, session.m_nEventsRaised);
    if (!session.m_pStream)
        return;
    session.m_pStream->Stop();
    const CCameraStream::CCounts counts = session.m_pStream->Counts();
    const std::string strSession = " for session " + standin::ToUtf8(strId.c_str());
    standin::Journal("Frames: received " + std::to_string(counts.m_nReceived) + ", shown " +
                     std::to_string(session.m_nFramesShown) + ", dropped " +
                     std::to_string(counts.m_nDropped + session.m_nFramesDropped) + ", undecodable " +
                     std::to_string(counts.m_nUndecodable) + strSession);
    standin::Journal("Frame times: decode " + MedianAndP99(counts.m_decodeMs) + ", draw " +
                     MedianAndP99(session.m_drawMs) + strSession);
}

// Called on the control's thread when a camera stream has a new picture or
// a new status: draws the picture and raises its TimeStamp.
void CViewerCtl::OnStreamNotify()
{
    std::vector<std::wstring> streamed;
    for (const auto& entry : m_sessions)
        if (entry.second.m_pStream)
            streamed.push_back(entry.first);
    AddRef(); // a sink may release the control while it handles the event
    for (const std::wstring& strId : streamed) {
        // An earlier sink call may have stopped this session.
        auto it = m_sessions.find(strId);
        if (it == m_sessions.end() || !it->second.m_pStream)
            continue;
        CSession& session = it->second;
        std::unique_ptr<CCameraStream::CFrame> pFrame = session.m_pStream->TakeFrame();
        const bool bShown = IsShown(strId, session);
        if (!pFrame) {
            JournalStatus(strId, session);
            if (bShown)
                InvalidateRect(m_hWnd, nullptr, FALSE); // the status changed
            continue;
        }
        if (!session.m_bPlaying) {
            ++session.m_nFramesDropped;
            continue;
        }
        if (pFrame->m_bits.empty()) {
            // Not decoded, the window having no area: it came, so it is announced.
            if (bShown) {
                ++session.m_nFramesShown;
                ++session.m_nEventsRaised;
                FireTimeStamp(strId, TimeText(pFrame->m_stReceived));
            } else {
                ++session.m_nFramesDropped;
            }
            continue;
        }
        session.m_pFrame = std::move(pFrame);
        // A picture counts as shown, and is announced, only once it was drawn.
        LARGE_INTEGER nFreq, nStart, nEnd;
        QueryPerformanceFrequency(&nFreq);
        QueryPerformanceCounter(&nStart);
        HDC hdc = bShown ? GetDC(m_hWnd) : nullptr;
        if (hdc == nullptr) {
            ++session.m_nFramesDropped;
            continue;
        }
        RECT rc;
        GetClientRect(m_hWnd, &rc);
        DrawStreamPicture(hdc, rc, session);
        ReleaseDC(m_hWnd, hdc);
        QueryPerformanceCounter(&nEnd);
        if (session.m_drawMs.size() < MAX_DRAW_SAMPLES)
            session.m_drawMs.push_back(1000.0 * static_cast<double>(nEnd.QuadPart - nStart.QuadPart) /
                                       static_cast<double>(nFreq.QuadPart));
        ++session.m_nFramesShown;
        ++session.m_nEventsRaised;
        FireTimeStamp(strId, TimeText(session.m_pFrame->m_stReceived));
    }
    ShowStreams(); // the host's window may have been minimised or restored meanwhile
    Release();
}

// Journals what the picture of a streamed session says, when that changed.
void CViewerCtl::JournalStatus(const std::wstring& strId, CSession& session)
{
    std::wstring strStatus = session.m_pStream->Status();
    if (strStatus.empty() || strStatus == session.m_strStatusSeen)
        return;
    session.m_strStatusSeen = strStatus;
    JournalPictureSays(strStatus, strId);
}

// One journal line for what a session's picture says, on one line.
void CViewerCtl::JournalPictureSays(std::wstring strText, const std::wstring& strId)
{
    std::replace(strText.begin(), strText.end(), L'\n', L' ');
    standin::Journal("Picture says: " + standin::ToUtf8(strText.c_str()) + " for session " +
                     standin::ToUtf8(strId.c_str()));
}

bool CViewerCtl::IsShown(const std::wstring& strId, const CSession& session) const
{
    return strId == m_strLastPlayed && session.m_bPlaying && m_hWnd;
}

// Called when what the window shows, or its size, may have changed: each
// stream learns whether it is seen and at what size, so that no picture is
// decoded that no one sees, nor for a window with no area (a minimised host).
void CViewerCtl::ShowStreams()
{
    RECT rc = {};
    if (m_hWnd && !IsIconic(GetAncestor(m_hWnd, GA_ROOT)))
        GetClientRect(m_hWnd, &rc);
    for (const auto& entry : m_sessions)
        if (entry.second.m_pStream)
            entry.second.m_pStream->SetView(IsShown(entry.first, entry.second), rc.right, rc.bottom);
}

// The picture scaled to fit rc with its aspect kept, black bars beside it.
void CViewerCtl::ShowFrame(HDC hdc, const RECT& rc, const CSession& session)
{
    const CCameraStream::CFrame& frame = *session.m_pFrame;
    const int cx = rc.right - rc.left;
    const int cy = rc.bottom - rc.top;
    const SIZE fit = FitSize(frame.m_cx, frame.m_cy, cx > 0 ? cx : 1, cy > 0 ? cy : 1);
    const int x = rc.left + (cx - fit.cx) / 2;
    const int y = rc.top + (cy - fit.cy) / 2;
    BITMAPINFO bmi = {};
    bmi.bmiHeader.biSize = sizeof bmi.bmiHeader;
    bmi.bmiHeader.biWidth = static_cast<LONG>(frame.m_cx);
    bmi.bmiHeader.biHeight = -static_cast<LONG>(frame.m_cy); // top-down rows
    bmi.bmiHeader.biPlanes = 1;
    bmi.bmiHeader.biBitCount = 32;
    bmi.bmiHeader.biCompression = BI_RGB;
    if (static_cast<UINT>(fit.cx) == frame.m_cx && static_cast<UINT>(fit.cy) == frame.m_cy) {
        SetDIBitsToDevice(hdc, x, y, frame.m_cx, frame.m_cy, 0, 0, 0, frame.m_cy, frame.m_bits.data(), &bmi,
                          DIB_RGB_COLORS);
    } else {
        // Decoded for another size (the window changed since): stretch this one.
        SetStretchBltMode(hdc, COLORONCOLOR);
        StretchDIBits(hdc, x, y, fit.cx, fit.cy, 0, 0, frame.m_cx, frame.m_cy, frame.m_bits.data(), &bmi,
                      DIB_RGB_COLORS, SRCCOPY);
    }
    HBRUSH hbrBlack = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    const RECT bars[4] = { { rc.left, rc.top, rc.right, y },
                           { rc.left, y + fit.cy, rc.right, rc.bottom },
                           { rc.left, y, x, y + fit.cy },
                           { x + fit.cx, y, rc.right, y + fit.cy } };
    for (const RECT& rcBar : bars)
        if (rcBar.right > rcBar.left && rcBar.bottom > rcBar.top)
            FillRect(hdc, &rcBar, hbrBlack);
}

// A streamed session: its newest picture, or in plain words why there is none.
void CViewerCtl::DrawStreamPicture(HDC hdc, const RECT& rc, const CSession& session)
{
    const std::wstring strStatus = session.m_pStream ? session.m_pStream->Status() : session.m_strProblem;
    if (strStatus.empty() && session.m_pFrame) {
        ShowFrame(hdc, rc, session);
        return;
    }
    HBRUSH hbr = CreateSolidBrush(RGB(20, 20, 28));
    FillRect(hdc, &rc, hbr);
    DeleteObject(hbr);
    HGDIOBJ hFontOld = SelectObject(hdc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(hdc, TRANSPARENT);
    SetTextColor(hdc, RGB(230, 200, 120));
    const std::wstring strText = strStatus.empty() ? L"Waiting for the first picture..." : strStatus;
    RECT rcText = rc;
    InflateRect(&rcText, -10, -10);
    RECT rcMeasure = rcText;
    DrawTextW(hdc, strText.c_str(), -1, &rcMeasure, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX | DT_CALCRECT);
    const int cyText = rcMeasure.bottom - rcMeasure.top;
    if (cyText < rcText.bottom - rcText.top)
        rcText.top += (rcText.bottom - rcText.top - cyText) / 2;
    DrawTextW(hdc, strText.c_str(), -1, &rcText, DT_CENTER | DT_WORDBREAK | DT_NOPREFIX);
    SelectObject(hdc, hFontOld);
}
