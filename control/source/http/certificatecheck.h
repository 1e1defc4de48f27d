// The camera's certificate checked as Windows checks a web server's: a chain
// to a trusted root, good for server authentication, naming the camera's
// host. Schannel checks this itself on Windows; Wine's accepts any
// certificate, so the stand-in checks once the handshake is done and before
// anything is sent, the same way everywhere.
#pragma once

#define SECURITY_WIN32
#include <windows.h>
#include <sspi.h>

#include <string>

// ERROR_SUCCESS, or why the certificate of the connection pContext is not
// trusted for strHost (such as CERT_E_UNTRUSTEDROOT or CERT_E_CN_NO_MATCH).
DWORD CheckCameraCertificate(CtxtHandle* pContext, const std::wstring& strHost);
