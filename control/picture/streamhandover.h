// CStreamHandOver: what passes between a camera stream's three threads. The
// reading thread offers each JPEG part and sets what the picture says; the
// decoding thread takes the newest part and offers its picture; the
// control's thread takes the newest picture and reads the words and counts.
// At each hand-over only the newest is kept: a part not yet decoded, or a
// picture not yet taken, is dropped for a newer one, never queued, so the
// network is read as fast as the camera sends.
#pragma once

#include "jpegdecoder.h"

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

// What a source hands its decoding thread: a part's bytes, or a picture its
// library decoded, to be converted.
struct CPartBody
{
    virtual ~CPartBody() = default;
};

struct CJpegPart : CPartBody
{
    std::vector<unsigned char> m_bytes;
};

class CStreamHandOver
{
public:
    // A picture ready to show, with the local time its part arrived.
    struct CFrame : CDecodedFrame
    {
        SYSTEMTIME m_stReceived = {};
    };

    // What the stream has counted so far.
    struct CCounts
    {
        ULONGLONG m_nReceived = 0;    // JPEG parts that arrived
        ULONGLONG m_nUndecodable = 0; // parts that were no picture
        ULONGLONG m_nDropped = 0;     // pictures replaced by a newer one, or never taken
        ULONGLONG m_nConnections = 0;
        std::vector<double> m_decodeMs; // the latest decode times
    };

    // A part for the decoder, with what it needs to hand the picture back.
    struct CPart
    {
        std::unique_ptr<CPartBody> m_pBody;
        SYSTEMTIME m_stReceived = {};
        ULONG m_nStatusSerial = 0;
    };

    // Announces each new picture or status by posting uMsg to hWndNotify
    // (once until TakeFrame is called).
    CStreamHandOver(HWND hWndNotify, UINT uMsg, const std::wstring& strStatus);
    ~CStreamHandOver();
    CStreamHandOver(const CStreamHandOver&) = delete;
    CStreamHandOver& operator=(const CStreamHandOver&) = delete;

    // The control's thread.
    // Announces nothing more, and what is on its way counts as dropped.
    void Detach();
    // The newest picture not yet taken, or null; re-arms the announcement.
    std::unique_ptr<CFrame> TakeFrame();
    // What the picture says instead of showing pictures; empty while they come.
    std::wstring Status() const;
    CCounts Counts() const;

    // The reading thread.
    // A new status; pictures from before it must not cover what it says.
    void SetStatus(const std::wstring& strStatus);
    // A part arrived; it replaces one still waiting for the decoder.
    void OfferPart(std::vector<unsigned char>& body);
    // A part that arrived at stReceived, likewise.
    void OfferPart(std::unique_ptr<CPartBody> pBody, const SYSTEMTIME& stReceived);
    void CountConnection();
    ULONGLONG PartsReceived() const;

    // The decoding thread.
    // Signalled when a part waits.
    HANDLE PartEvent() const { return m_evPart; }
    // The waiting part, if any; it is being decoded until Decoded.
    bool TakePart(CPart* pPart);
    // The part's picture (null: it did not decode; no pixels: it was not to
    // be decoded, there being nowhere to draw it) and the time it took.
    void Decoded(std::unique_ptr<CFrame> pFrame, ULONG nStatusSerial, double dDecodeMs);
    // The part was not decoded, no one seeing its stream: it counts as dropped.
    void NotDecoded();

private:
    void NotifyLocked();

    HANDLE m_evPart; // auto-reset

    mutable CRITICAL_SECTION m_cs; // guards everything below
    HWND m_hWndNotify;             // null once detached
    UINT m_uMsg;
    bool m_bNotifyPending;
    std::unique_ptr<CPartBody> m_pPart;                  // newest part not yet decoded
    SYSTEMTIME m_stPart = {};                            // when it arrived
    bool m_bDecoding;                                    // a part is being decoded
    ULONG m_nStatusSerial;                               // changes with each status
    std::unique_ptr<CFrame> m_pPending;                  // newest picture not yet taken
    std::wstring m_strStatus;
    CCounts m_counts;
};
