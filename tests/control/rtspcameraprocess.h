// The test RTSP camera (tests/rtspcamera/rtspcamera.py, GStreamer's RTSP
// server), started and ended by a test program. Under Wine a Windows program
// can start a Linux program but gets neither its pipes nor a handle that
// waits for it: the camera writes its address to a file and its process ID
// to another, it is ended by that ID (kill), and a third file says it has gone.
#pragma once

#include <windows.h>

#include <string>

class CRtspCameraProcess
{
public:
    CRtspCameraProcess();
    virtual ~CRtspCameraProcess();
    CRtspCameraProcess(const CRtspCameraProcess&) = delete;
    CRtspCameraProcess& operator=(const CRtspCameraProcess&) = delete;

    // Whether the camera can run here: Linux's python3 and GStreamer's RTSP
    // server, as tools/setup.sh installs them (not in the emulated PC).
    static bool Available();

    // Starts the camera with rtspcamera.py's options (such as "--markers
    // --user u --password p --transport tcp"; --port to come back on the
    // port of an earlier run) and waits until it serves. False, with what it
    // printed on the test's error output, when it did not.
    bool Start(const std::string& strOptions);

    // Ends it by its process ID and waits until it has gone (true), so that
    // its port is free for the next Start.
    bool Stop();

    // While it runs: rtsp://127.0.0.1:PORT/, to which the mount (h264, h265,
    // mjpeg) is added; its port; with --redirect, the redirecting camera's
    // address; and the file where the redirect's target writes each request
    // line and Authorization header it received ("request ..." and
    // "authorization ..." lines).
    const std::string& Url() const { return m_strUrl; }
    USHORT Port() const { return m_nPort; }
    const std::string& RedirectUrl() const { return m_strRedirectUrl; }
    std::wstring RecordFile() const;

protected:
    // Another script run the same way (tests/rtspcamera/).
    explicit CRtspCameraProcess(const char* pszScript);

private:
    // This run's file with the given ending, as Linux and as Windows name it.
    std::string UnixFile(const char* pszEnding) const;
    std::wstring WindowsFile(const char* pszEnding) const;
    void ShowLog() const;
    void RemoveFiles() const;

    std::string m_strScript;
    std::string m_strBase;
    std::string m_strPid;
    std::string m_strUrl;
    std::string m_strRedirectUrl;
    USHORT m_nPort;
    bool m_bRunning;
};

// HTTPS in front of a camera's plain HTTP port (tests/rtspcamera/tlsfront.py,
// started with "--camera-port PORT"), with a certificate of its own making
// for 127.0.0.1 that no one trusts until a test adds it.
class CTlsFrontProcess : public CRtspCameraProcess
{
public:
    CTlsFrontProcess();
    // Linux's python3 and openssl.
    static bool Available();
    // The certificate, DER encoded.
    std::wstring CertificateFile() const { return RecordFile() + L".cer"; }
};

// A Linux path as Wine's drive Z: shows it.
std::wstring WindowsPathOf(const std::string& strUnix);

// Runs a Linux program (its path and arguments, each in single quotes when
// needed) from a Windows program under Wine, without waiting for it.
bool RunUnixCommand(const std::string& strCommandLine);
