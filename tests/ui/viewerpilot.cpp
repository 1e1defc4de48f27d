// viewerpilot: how tools/run-viewer.sh connects the viewer to the simulated
// camera when there is no display, as a user would: start the viewer in a
// folder, type 127.0.0.1 and the camera's port, press Connect, and wait for
// the first picture. The viewer is left running; the script takes its
// screenshot and closes it. With a plug-in folder given, that folder is
// typed as the Plugin Directory first; with --minimise, the viewer is
// minimised once pictures arrive.
//   viewerpilot <working folder> <camera port> [<plug-in folder>] [--minimise]
#include "viewerdriver.h"

#include <cstdio>
#include <string>

int wmain(int argc, wchar_t** argv)
{
    const bool bMinimise = argc > 1 && std::wstring(argv[argc - 1]) == L"--minimise";
    if (bMinimise)
        --argc;
    if (argc != 3 && argc != 4) {
        fwprintf(stderr, L"usage: viewerpilot <working folder> <camera port> [<plug-in folder>] [--minimise]\n");
        return 2;
    }
    const std::wstring folder = argv[1];
    ViewerDriver driver(ViewerEnv{ { L"DORSA_STANDIN_JOURNAL", folder + L"\\journal.txt" } }, folder);
    const HWND hwndMain = driver.Start() ? driver.WaitForMainWindow() : NULL;
    if (hwndMain == NULL) {
        fwprintf(stderr, L"viewerpilot: the viewer did not start\n");
        return 1;
    }
    if (argc == 4)
        driver.SetText(1003, argv[3]);
    driver.SetAddress(127, 0, 0, 1);
    driver.SetText(1004, argv[2]);
    driver.Click(1008);
    const bool bPictures = driver.WaitForLogLines(L"CDorsaVantixViewerDlg::OnDorsaViewerTimeStamp()", 1, 20000) > 0;
    if (bMinimise)
        ShowWindow(hwndMain, SW_MINIMIZE);
    driver.Detach();
    wprintf(L"viewerpilot: connected, %ls\n", bPictures ? L"pictures arrive" : L"no picture has arrived");
    return bPictures ? 0 : 1;
}
