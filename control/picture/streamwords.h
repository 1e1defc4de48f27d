// CStreamWords: what a camera's picture says in place of its stream, in
// plain words. Every text names the camera by host and port only, never the
// rest of its address nor any credentials.
#pragma once

#include <windows.h>

#include <string>

class CStreamWords
{
public:
    explicit CStreamWords(const std::wstring& strCamera) : m_strCamera(strCamera) {}

    const std::wstring& Camera() const { return m_strCamera; }

    std::wstring Connecting() const;
    // A failure and the seconds left before the next try.
    static std::wstring TryingAgain(const std::wstring& strFailure, DWORD nSeconds);

    // The stand-in's side.
    std::wstring NoThread() const;
    std::wstring NoHttpClient() const;
    // The session ran out of memory and ended.
    std::wstring OutOfMemory() const;
    // The plug-in's url is not an address of the scheme ("http://").
    std::wstring NotAnAddress(const wchar_t* pszScheme) const;

    // The connection.
    std::wstring CantBeReached() const;
    std::wstring NameNotFound() const;
    std::wstring DoesNotAnswer() const;
    std::wstring NotHttp() const;
    std::wstring ClosedTheConnection(DWORD dwError) const;
    // dwError 0: the reason is not known.
    std::wstring UntrustedCertificate(DWORD dwError) const;
    std::wstring SendsNothing() const;
    std::wstring CutOff() const;

    // The answer.
    std::wstring NoCredentials() const;
    std::wstring CantSignIn() const;
    std::wstring Refused() const;
    std::wstring NoSuchStream() const;
    std::wstring HttpStatus(DWORD dwStatus) const;
    std::wstring SendsElsewhere(DWORD dwStatus, const std::wstring& strElsewhere) const;
    std::wstring RedirectsOnAndOn(DWORD dwStatus) const;
    std::wstring NotMotionJpeg(const std::wstring& strType) const;
    // RTSP: the camera takes none of the transports the plug-in allows (461).
    std::wstring TransportRefused() const;
    std::wstring NoVideo() const;
    // Video of a codec the stand-in does not play, named.
    std::wstring NotPlayed(const std::wstring& strCodec) const;
    // What the library said when strDoing failed.
    std::wstring LibraryError(const std::wstring& strDoing, const std::wstring& strError) const;

    // The pictures: parts that don't decode (bLookLikeJpeg: they start as a
    // JPEG does), or that the stream's reader had to skip.
    std::wstring Undecodable(bool bLookLikeJpeg) const;
    std::wstring PartsSkipped() const;

private:
    const std::wstring m_strCamera;
};
