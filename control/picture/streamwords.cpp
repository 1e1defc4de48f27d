// The texts a camera's picture says.
#include "streamwords.h"

#include <cwchar>

namespace {

// A camera's own text is cut to this many characters.
const size_t MAX_QUOTED = 60;

} // namespace

std::wstring CStreamWords::Connecting() const
{
    return L"Connecting to camera " + m_strCamera + L"...";
}

std::wstring CStreamWords::TryingAgain(const std::wstring& strFailure, DWORD nSeconds)
{
    return strFailure + L"\nTrying again in " + std::to_wstring(nSeconds) + L" s.";
}

std::wstring CStreamWords::NoThread() const
{
    return L"The stand-in could not start a thread for camera " + m_strCamera + L".";
}

std::wstring CStreamWords::NoHttpClient() const
{
    return L"The stand-in has no HTTP client for camera " + m_strCamera + L".";
}

std::wstring CStreamWords::OutOfMemory() const
{
    return L"The stand-in ran out of memory for camera " + m_strCamera + L" and stopped its stream.";
}

std::wstring CStreamWords::NotAnAddress(const wchar_t* pszScheme) const
{
    return std::wstring(L"The plug-in's url is not an ") + pszScheme + L" address for camera " + m_strCamera + L".";
}

std::wstring CStreamWords::CantBeReached() const
{
    return L"Camera " + m_strCamera + L" can't be reached or refuses the connection.";
}

std::wstring CStreamWords::NameNotFound() const
{
    return L"The camera's address " + m_strCamera + L" can't be found.";
}

std::wstring CStreamWords::DoesNotAnswer() const
{
    return L"Camera " + m_strCamera + L" does not answer.";
}

std::wstring CStreamWords::NotHttp() const
{
    return L"Camera " + m_strCamera + L" does not answer in HTTP.";
}

std::wstring CStreamWords::ClosedTheConnection(DWORD dwError) const
{
    return L"Camera " + m_strCamera + L" closed the connection (error " + std::to_wstring(dwError) + L").";
}

std::wstring CStreamWords::UntrustedCertificate(DWORD dwError) const
{
    wchar_t szError[32] = L"";
    if (dwError != 0)
        swprintf(szError, 32, L" (error 0x%08lX)", static_cast<unsigned long>(dwError));
    return L"Camera " + m_strCamera + L" shows a certificate the stand-in does not trust" + szError + L".";
}

std::wstring CStreamWords::SendsNothing() const
{
    return L"Camera " + m_strCamera + L" sends nothing.";
}

std::wstring CStreamWords::CutOff() const
{
    return L"The stream from camera " + m_strCamera + L" was cut off.";
}

std::wstring CStreamWords::NoCredentials() const
{
    return L"Camera " + m_strCamera + L" asks for a user name and password; the plug-in has none.";
}

std::wstring CStreamWords::CantSignIn() const
{
    return L"Camera " + m_strCamera + L" asks for a kind of sign-in the stand-in can't give.";
}

std::wstring CStreamWords::Refused() const
{
    return L"Camera " + m_strCamera + L" refused the user name or password (401).";
}

std::wstring CStreamWords::NoSuchStream() const
{
    return L"Camera " + m_strCamera + L" has no such stream (404 Not Found).";
}

std::wstring CStreamWords::HttpStatus(DWORD dwStatus) const
{
    return L"Camera " + m_strCamera + L" answered with HTTP status " + std::to_wstring(dwStatus) + L".";
}

std::wstring CStreamWords::SendsElsewhere(DWORD dwStatus, const std::wstring& strElsewhere) const
{
    return L"Camera " + m_strCamera + L" sends the stream elsewhere (" + std::to_wstring(dwStatus) + L"): " +
           strElsewhere + L".";
}

std::wstring CStreamWords::RedirectsOnAndOn(DWORD dwStatus) const
{
    return L"Camera " + m_strCamera + L" sends the stream on and on to other places (" + std::to_wstring(dwStatus) +
           L").";
}

std::wstring CStreamWords::NotMotionJpeg(const std::wstring& strType) const
{
    return L"Camera " + m_strCamera + L" does not send Motion JPEG (it sends \"" +
           (strType.empty() ? L"no type" : strType.substr(0, MAX_QUOTED)) + L"\").";
}

std::wstring CStreamWords::TransportRefused() const
{
    return L"Camera " + m_strCamera + L" takes none of the transports the plug-in allows (461).";
}

std::wstring CStreamWords::NoVideo() const
{
    return L"Camera " + m_strCamera + L" sends no video.";
}

std::wstring CStreamWords::NotPlayed(const std::wstring& strCodec) const
{
    return L"Camera " + m_strCamera + L" sends " + strCodec.substr(0, MAX_QUOTED) +
           L" video, which the stand-in does not play.";
}

std::wstring CStreamWords::LibraryError(const std::wstring& strDoing, const std::wstring& strError) const
{
    return L"Camera " + m_strCamera + L": " + strDoing + L" failed (" + strError.substr(0, MAX_QUOTED) + L").";
}

std::wstring CStreamWords::Undecodable(bool bLookLikeJpeg) const
{
    return L"Camera " + m_strCamera +
           (bLookLikeJpeg ? L" sends pictures that can't be decoded." : L" sends parts that are not JPEG pictures.");
}

std::wstring CStreamWords::PartsSkipped() const
{
    return L"Camera " + m_strCamera + L" sends parts that can't be shown (over 16 MB, or with broken header lines).";
}
