#include "rtspcameraprocess.h"

#include <cstdio>
#include <fstream>
#include <sstream>

namespace {

const char* const kPython = "/usr/bin/python3";
// GStreamer's RTSP server as Python sees it, in either multiarch folder.
const char* const kRtspServerTypelibs[] = {
    "/usr/lib/x86_64-linux-gnu/girepository-1.0/GstRtspServer-1.0.typelib",
    "/usr/lib/i386-linux-gnu/girepository-1.0/GstRtspServer-1.0.typelib",
};
// Generous: on a busy machine GStreamer's first start builds its plug-in cache.
const DWORD kStartMs = 120000;
const DWORD kStopMs = 60000;
// A camera whose test died ends by itself after this long.
const int kLifetimeSeconds = 1800;

bool Exists(const std::string& strUnix)
{
    return GetFileAttributesW(WindowsPathOf(strUnix).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string ReadText(const std::wstring& strPath)
{
    std::ifstream in(strPath.c_str(), std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The word after strKey in strLine ("" when it is not there).
std::string WordAfter(const std::string& strLine, const std::string& strKey)
{
    const size_t nAt = strLine.find(strKey);
    if (nAt == std::string::npos)
        return std::string();
    const size_t nStart = nAt + strKey.size();
    const size_t nEnd = strLine.find_first_of(" \r\n", nStart);
    return strLine.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
}

std::string Quoted(const std::string& str)
{
    std::string strQuoted = "'";
    for (char ch : str)
        strQuoted += ch == '\'' ? std::string("'\\''") : std::string(1, ch);
    return strQuoted + "'";
}

} // namespace

std::wstring WindowsPathOf(const std::string& strUnix)
{
    std::wstring str = L"Z:";
    for (char ch : strUnix)
        str += ch == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(ch));
    return str;
}

bool RunUnixCommand(const std::string& strCommandLine)
{
    // Wine runs a Linux program named by its path on drive Z: as it is.
    std::wstring strLine = L"Z:\\bin\\sh -c \"";
    for (char ch : strCommandLine) {
        if (ch == '"' || ch == '\\')
            strLine += L'\\';
        strLine += static_cast<wchar_t>(static_cast<unsigned char>(ch));
    }
    strLine += L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessW(L"Z:\\bin\\sh", &strLine[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return false;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    return true;
}

CRtspCameraProcess::CRtspCameraProcess() : CRtspCameraProcess(DVV_RTSPCAMERA_SCRIPT) {}

CRtspCameraProcess::CRtspCameraProcess(const char* pszScript) : m_strScript(pszScript), m_nPort(0), m_bRunning(false)
{
    static LONG s_nRuns;
    m_strBase = std::string(DVV_RTSPCAMERA_DIR) + "/camera-" + std::to_string(GetCurrentProcessId()) + "-" +
                std::to_string(InterlockedIncrement(&s_nRuns));
}

CRtspCameraProcess::~CRtspCameraProcess()
{
    Stop();
    DeleteFileW(RecordFile().c_str());
    DeleteFileW((RecordFile() + L".cer").c_str());
}

bool CRtspCameraProcess::Available()
{
    if (!Exists(kPython) || !Exists(DVV_RTSPCAMERA_SCRIPT))
        return false;
    for (const char* pszTypelib : kRtspServerTypelibs)
        if (Exists(pszTypelib))
            return true;
    return false;
}

std::string CRtspCameraProcess::UnixFile(const char* pszEnding) const
{
    return m_strBase + pszEnding;
}

std::wstring CRtspCameraProcess::WindowsFile(const char* pszEnding) const
{
    return WindowsPathOf(UnixFile(pszEnding));
}

std::wstring CRtspCameraProcess::RecordFile() const
{
    return WindowsFile(".record");
}

void CRtspCameraProcess::RemoveFiles() const
{
    for (const char* pszEnding : { ".ready", ".pid", ".ended", ".log" })
        DeleteFileW(WindowsFile(pszEnding).c_str());
}

void CRtspCameraProcess::ShowLog() const
{
    fprintf(stderr, "The test camera printed:\n%s\n", ReadText(WindowsFile(".log")).c_str());
}

bool CRtspCameraProcess::Start(const std::string& strOptions)
{
    if (m_bRunning && !Stop())
        return false;
    RemoveFiles();
    DeleteFileW(RecordFile().c_str());
    CreateDirectoryW(WindowsPathOf(DVV_RTSPCAMERA_DIR).c_str(), nullptr);
    // The shell keeps the camera's process ID and, once it has ended, says so.
    const std::string strCommand = std::string(kPython) + " " + Quoted(m_strScript) + " --port-file " +
                                   Quoted(UnixFile(".ready")) + " --record " + Quoted(UnixFile(".record")) +
                                   " --seconds " + std::to_string(kLifetimeSeconds) + " " + strOptions + " >" +
                                   Quoted(UnixFile(".log")) + " 2>&1 & echo $! >" + Quoted(UnixFile(".pid")) +
                                   "; wait $!; echo $? >" + Quoted(UnixFile(".ended"));
    if (!RunUnixCommand(strCommand)) {
        fprintf(stderr, "The test camera could not be started (error %lu)\n", GetLastError());
        return false;
    }
    const DWORD dwStart = GetTickCount();
    std::string strReady;
    while (GetTickCount() - dwStart < kStartMs) {
        strReady = ReadText(WindowsFile(".ready"));
        if (!strReady.empty() || Exists(UnixFile(".ended")))
            break;
        Sleep(50);
    }
    // The process ID is written as soon as the camera starts, well before it serves.
    m_strPid = ReadText(WindowsFile(".pid"));
    m_strPid = m_strPid.substr(0, m_strPid.find_first_not_of("0123456789"));
    m_bRunning = !m_strPid.empty();
    m_strUrl = WordAfter(strReady, "ready ");
    m_strRedirectUrl = WordAfter(strReady, "redirect ");
    m_nPort = static_cast<USHORT>(atoi(WordAfter(m_strUrl, "://127.0.0.1:").c_str()));
    if (m_strUrl.empty() || m_nPort == 0) {
        ShowLog();
        Stop();
        return false;
    }
    return true;
}

bool CRtspCameraProcess::Stop()
{
    if (!m_bRunning)
        return true;
    bool bEnded = false;
    for (const char* pszSignal : { "TERM", "KILL" }) {
        RunUnixCommand(std::string("kill -") + pszSignal + " " + m_strPid);
        const DWORD dwStart = GetTickCount();
        while (!(bEnded = Exists(UnixFile(".ended"))) && GetTickCount() - dwStart < kStopMs)
            Sleep(50);
        if (bEnded)
            break;
    }
    if (!bEnded) {
        fprintf(stderr, "The test camera (process %s) did not end\n", m_strPid.c_str());
        return false;
    }
    m_bRunning = false;
    m_strUrl.clear();
    m_strRedirectUrl.clear();
    RemoveFiles();
    return true;
}

CTlsFrontProcess::CTlsFrontProcess() : CRtspCameraProcess(DVV_TLSFRONT_SCRIPT) {}

bool CTlsFrontProcess::Available()
{
    return Exists(kPython) && Exists("/usr/bin/openssl") && Exists(DVV_TLSFRONT_SCRIPT);
}
