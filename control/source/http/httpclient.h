// CHttpClient: the platform's HTTP client (WinHTTP) in its asynchronous
// mode, for one camera. One thread owns it and all its handles: it starts
// each call and takes the call's completion from a mailbox, into which the
// client's own threads only put a notice (through the status callback) and
// wake the owner. Nothing here ever waits.
//
// A handle lives until the client reports it closing; what a request reads
// into stays allocated until then. Handle values are used again at once, so
// the client's notices name a handle by its record, not by its value.
//
// Closing a handle ends a call pending on it at once on Windows; under Wine 8
// the call goes on until its own time-out or, against a camera that
// trickles, for good. So a request whose closing notice has not come
// CLOSE_GRACE_MS after it was closed has its connection broken
// (connectionbreaker.h), found by the two ends the client reported when it
// connected. For that, a request still connecting is closed only once it has
// connected, or failed to (at the latest after the connect limit).
#pragma once

#include "connectionbreaker.h"

#include <windows.h>
#include <winhttp.h>

#include <deque>
#include <memory>
#include <string>
#include <vector>

class CCameraUrl;

class CHttpClient
{
public:
    // A completion of a call on an open request: WINHTTP_CALLBACK_STATUS_*
    // SENDREQUEST_COMPLETE, HEADERS_AVAILABLE, DATA_AVAILABLE (m_dwValue: the
    // bytes available), READ_COMPLETE (m_dwValue: the bytes read) or
    // REQUEST_ERROR (m_dwValue: the error).
    struct CNotice
    {
        HINTERNET m_hRequest = nullptr;
        DWORD m_dwStatus = 0;
        DWORD m_dwValue = 0;
    };

    // The limits every connection keeps.
    struct CLimits
    {
        DWORD m_nConnectMs = 0;
        DWORD m_nAnswerMs = 0;  // for the answer's header lines
        DWORD m_nSilenceMs = 0; // for any one read
        DWORD m_nMaxHeaderBytes = 0;
    };

    static const DWORD CLOSE_GRACE_MS = 500;

    CHttpClient();
    // Only once AllClosed(): the client's threads may still call in before.
    ~CHttpClient();
    CHttpClient(const CHttpClient&) = delete;
    CHttpClient& operator=(const CHttpClient&) = delete;

    bool Open(const CLimits& limits);

    // Signalled when a notice waits.
    HANDLE NoticeEvent() const { return m_evNotice; }

    // Handles; null on failure (GetLastError() tells why).
    HINTERNET Connect(const CCameraUrl& url);
    HINTERNET OpenRequest(HINTERNET hConnect, const CCameraUrl& url);

    // Calls on a request, each completing with a notice; false when it could
    // not be started (GetLastError() tells why).
    bool Send(HINTERNET hRequest, const std::string& strAuthorization);
    bool ReceiveResponse(HINTERNET hRequest);
    bool QueryDataAvailable(HINTERNET hRequest);
    bool Read(HINTERNET hRequest, DWORD cbAvailable);
    // What the last Read brought.
    const BYTE* ReadBuffer(HINTERNET hRequest) const;

    // The answer, once its headers are there.
    static DWORD StatusCode(HINTERNET hRequest);
    // The nIndex'th header of a kind, bounded in length.
    static bool Header(HINTERNET hRequest, DWORD dwInfoLevel, DWORD nIndex, std::wstring* pstrValue);

    // Closes a handle: the owner is done with it, and hears nothing more of it.
    void Close(HINTERNET h);
    // Closes every handle still open, the session last.
    void CloseAll();
    bool AllClosed() const { return m_records.empty(); }

    // The next notice of a handle still open, if any; closings and
    // connections are dealt with on the way.
    bool TakeNotice(CNotice* pNotice);

    // When the next step for a closed handle is due (0: none), and taking
    // the steps due by nNow.
    ULONGLONG NextStepDue() const;
    void TakeSteps(ULONGLONG nNow);

private:
    // A handle of the owner's, from its creation to its closing notice; the
    // client's notices come with it (the handle's context value).
    struct CHandle
    {
        CHttpClient* m_pClient = nullptr;
        HINTERNET m_h = nullptr;
        bool m_bRequest = false;
        bool m_bConnecting = false; // sent, and neither connected nor failed yet
        bool m_bClosed = false;     // by the owner
        ULONGLONG m_nClosedTick = 0;
        bool m_bHandleClosed = false; // the client's handle too
        ULONGLONG m_nHandleClosedTick = 0;
        bool m_bBreakTried = false;
        bool m_bConnected = false; // m_ends is known
        CConnectionEnds m_ends = {};
        std::vector<BYTE> m_buffer; // what reads go into
    };

    // What the mailbox holds: a notice, or a handle's ends or closing.
    struct CMail
    {
        CHandle* m_pHandle = nullptr;
        DWORD m_dwStatus = 0;
        DWORD m_dwValue = 0;
        bool m_bEnds = false; // on connecting: m_ends is known
        CConnectionEnds m_ends = {};
    };

    static void CALLBACK Callback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwStatus, LPVOID pvInfo,
                                  DWORD cbInfo);
    void Post(const CMail& mail);
    HINTERNET Keep(HINTERNET h, bool bRequest);
    CHandle* Find(HINTERNET h) const; // an open handle's record, or null
    void CloseHandleOf(CHandle& handle);
    ULONGLONG StepDue(const CHandle& handle) const;

    HINTERNET m_hSession;
    CLimits m_limits;
    std::vector<std::unique_ptr<CHandle>> m_records; // the owner's: every handle until its closing notice

    HANDLE m_evNotice;
    CRITICAL_SECTION m_cs;     // guards m_mail: the client's threads add, the owner takes
    std::deque<CMail> m_mail;
};
