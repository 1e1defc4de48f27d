// simcamera.exe: the simulated camera as a program of its own.
//   simcamera [--port N] [--size WxH] [--fps N] [--channels N]
//             [--user U --password P [--digest]] [--fault MODE] [--seconds N]
// Serves http://127.0.0.1:<port>/video<channel>.mjpg until it is ended (or
// for N seconds). MODE: none, refuse, stall, silent, cut, garbage, oversized.
#include "simcamera.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv)
{
    CSimCamera::COptions options;
    options.m_nPort = 8080;
    unsigned nSeconds = 0;
    for (int n = 1; n < argc; ++n) {
        const char* pszArg = argv[n];
        const char* pszValue = n + 1 < argc ? argv[n + 1] : "";
        bool bTakesValue = true;
        if (strcmp(pszArg, "--port") == 0)
            options.m_nPort = static_cast<USHORT>(atoi(pszValue));
        else if (strcmp(pszArg, "--size") == 0)
            sscanf(pszValue, "%ux%u", &options.m_cx, &options.m_cy);
        else if (strcmp(pszArg, "--fps") == 0)
            options.m_nFps = static_cast<UINT>(atoi(pszValue));
        else if (strcmp(pszArg, "--channels") == 0)
            options.m_nChannels = static_cast<UINT>(atoi(pszValue));
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
        } else if (strcmp(pszArg, "--digest") == 0) {
            options.m_bDigest = true;
            bTakesValue = false;
        } else {
            fprintf(stderr, "simcamera: unknown option %s\n", pszArg);
            return 2;
        }
        if (bTakesValue)
            ++n;
    }
    if (options.m_cx < 16 || options.m_cy < 16 || options.m_cx > 4096 || options.m_cy > 4096 ||
        options.m_nFps < 1 || options.m_nFps > 120 || options.m_nChannels < 1) {
        fprintf(stderr, "simcamera: size 16x16 to 4096x4096, fps 1-120, at least one channel\n");
        return 2;
    }
    CSimCamera camera;
    if (!camera.Start(options)) {
        fprintf(stderr, "simcamera: can't listen on 127.0.0.1:%u\n", options.m_nPort);
        return 1;
    }
    printf("Simulated camera: http://127.0.0.1:%u/video1.mjpg (channels 1-%u, %ux%u, %u frames/s)\n",
           camera.Port(), options.m_nChannels, options.m_cx, options.m_cy, options.m_nFps);
    fflush(stdout);
    for (unsigned nElapsed = 0; nSeconds == 0 || nElapsed < nSeconds; ++nElapsed)
        Sleep(1000);
    camera.Stop();
    return 0;
}
