// simcamera.exe: the simulated camera as a program of its own.
//   simcamera [--port N] [--size WxH] [--fps N] [--channels N] [--header-delay MS]
//             [--user U --password P [--auth basic|digest|sha256|all|rfc2069] [--stale]]
//             [--fault MODE] [--parts no-length,lf,tight,octet-stream] [--seconds N]
// Serves http://127.0.0.1:<port>/video<channel>.mjpg until it is ended (or
// for N seconds). --fps may be below 1, down to 0.2 (a picture every 5 s).
// --digest is --auth digest. MODE: none, refuse, stall, silent, cut, garbage,
// oversized, trickle, redirect, huge-length, undecodable, endless-headers. --parts writes the
// parts as some cameras do: without Content-Length, with LF-only line ends,
// with no line break before the next delimiter, typed application/octet-stream.
#include "simcamera.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const double MIN_FPS = 0.2;
const double MAX_FPS = 120.0;

bool ParseSchemes(const char* pszName, UINT* pnSchemes)
{
    static const struct { const char* m_pszName; UINT m_nSchemes; } s_schemes[] = {
        { "basic", CCameraAuth::SCHEME_BASIC },
        { "digest", CCameraAuth::SCHEME_DIGEST_MD5 },
        { "sha256", CCameraAuth::SCHEME_DIGEST_SHA256 },
        { "all", CCameraAuth::SCHEME_BASIC | CCameraAuth::SCHEME_DIGEST_MD5 | CCameraAuth::SCHEME_DIGEST_SHA256 },
        { "rfc2069", CCameraAuth::SCHEME_DIGEST_RFC2069 },
    };
    for (const auto& entry : s_schemes) {
        if (strcmp(pszName, entry.m_pszName) == 0) {
            *pnSchemes = entry.m_nSchemes;
            return true;
        }
    }
    return false;
}

} // namespace

int main(int argc, char** argv)
{
    CSimCamera::COptions options;
    options.m_nPort = 8080;
    unsigned nSeconds = 0;
    double dFps = options.m_nFps;
    for (int n = 1; n < argc; ++n) {
        const char* pszArg = argv[n];
        const char* pszValue = n + 1 < argc ? argv[n + 1] : "";
        bool bTakesValue = true;
        if (strcmp(pszArg, "--port") == 0)
            options.m_nPort = static_cast<USHORT>(atoi(pszValue));
        else if (strcmp(pszArg, "--size") == 0)
            sscanf(pszValue, "%ux%u", &options.m_cx, &options.m_cy);
        else if (strcmp(pszArg, "--fps") == 0)
            dFps = atof(pszValue);
        else if (strcmp(pszArg, "--channels") == 0)
            options.m_nChannels = static_cast<UINT>(atoi(pszValue));
        else if (strcmp(pszArg, "--header-delay") == 0)
            options.m_nHeaderDelayMs = static_cast<DWORD>(atoi(pszValue));
        else if (strcmp(pszArg, "--user") == 0)
            options.m_strUser = pszValue;
        else if (strcmp(pszArg, "--password") == 0)
            options.m_strPassword = pszValue;
        else if (strcmp(pszArg, "--seconds") == 0)
            nSeconds = static_cast<unsigned>(atoi(pszValue));
        else if (strcmp(pszArg, "--fault") == 0) {
            if (!CSimCamera::ParseFault(pszValue, &options.m_fault)) {
                fprintf(stderr, "simcamera: unknown fault mode %s\n", pszValue);
                return 2;
            }
        } else if (strcmp(pszArg, "--parts") == 0) {
            if (!CSimCamera::ParseParts(pszValue, &options.m_nParts)) {
                fprintf(stderr, "simcamera: unknown parts %s (no-length, lf, tight, octet-stream)\n", pszValue);
                return 2;
            }
        } else if (strcmp(pszArg, "--auth") == 0) {
            if (!ParseSchemes(pszValue, &options.m_nSchemes)) {
                fprintf(stderr, "simcamera: unknown sign-in %s (basic, digest, sha256, all, rfc2069)\n", pszValue);
                return 2;
            }
        } else if (strcmp(pszArg, "--digest") == 0) {
            options.m_nSchemes = CCameraAuth::SCHEME_DIGEST_MD5;
            bTakesValue = false;
        } else if (strcmp(pszArg, "--stale") == 0) {
            options.m_bStaleFirst = true;
            bTakesValue = false;
        } else {
            fprintf(stderr, "simcamera: unknown option %s\n", pszArg);
            return 2;
        }
        if (bTakesValue)
            ++n;
    }
    if (options.m_cx < 16 || options.m_cy < 16 || options.m_cx > 4096 || options.m_cy > 4096 || !(dFps >= MIN_FPS) ||
        dFps > MAX_FPS || options.m_nChannels < 1) {
        fprintf(stderr, "simcamera: size 16x16 to 4096x4096, fps 0.2-120, at least one channel\n");
        return 2;
    }
    if (dFps < 1.0)
        options.m_nFramePeriodMs = static_cast<UINT>(1000.0 / dFps + 0.5);
    else
        options.m_nFps = static_cast<UINT>(dFps + 0.5);
    CSimCamera camera;
    if (!camera.Start(options)) {
        fprintf(stderr, "simcamera: can't listen on 127.0.0.1:%u\n", options.m_nPort);
        return 1;
    }
    printf("Simulated camera: http://127.0.0.1:%u/video1.mjpg (channels 1-%u, %ux%u, %g frames/s)\n",
           camera.Port(), options.m_nChannels, options.m_cx, options.m_cy, dFps);
    fflush(stdout);
    for (unsigned nElapsed = 0; nSeconds == 0 || nElapsed < nSeconds; ++nElapsed)
        Sleep(1000);
    camera.Stop();
    return 0;
}
