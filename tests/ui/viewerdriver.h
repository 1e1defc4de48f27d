// Drives the real DorsaVantixViewer.exe from outside its process, with
// ordinary window messages only, and reads the log file it writes.
#pragma once

#include <windows.h>

#include <map>
#include <string>
#include <vector>

typedef std::map<std::wstring, std::wstring> ViewerEnv;

class ViewerDriver
{
public:
    // One run of the viewer in a fresh working folder; extra environment
    // variables go to the viewer (and so to the stand-in control it hosts).
    // With a folder given, the run works there and the folder is kept.
    explicit ViewerDriver(const ViewerEnv& env = ViewerEnv(), const std::wstring& folder = std::wstring());
    ~ViewerDriver();

    // How long the waits below give the viewer by default: generous, as the
    // emulated PC that runs the 32-bit build is many times slower than this
    // machine. A deadline only bounds how long a failing test takes.
    static const DWORD kWaitMs = 120000;

    bool Start();
    // The main dialog, once it is up (NULL if it never came).
    HWND WaitForMainWindow(DWORD dwTimeoutMs = kWaitMs);
    HWND Control(int nID) const { return ::GetDlgItem(m_hMain, nID); }

    void SetAddress(BYTE b0, BYTE b1, BYTE b2, BYTE b3);
    void SetText(int nID, const std::wstring& text);
    std::wstring GetText(int nID) const;
    // Clicks a button without waiting for its handler to finish.
    void Click(int nID);
    void Close();
    // Lets the viewer run on after this object is gone.
    void Detach();
    // Waits for the process to end; its exit code, or STILL_ACTIVE on time-out.
    DWORD WaitForExit(DWORD dwTimeoutMs = kWaitMs);

    // The log's messages: each line without its "[time stamp]: " head;
    // continuation lines of a multi-line message come as they are.
    std::vector<std::wstring> LogLines() const;
    // Waits until the log holds a line that starts with prefix at least
    // nCount times; the count found.
    int WaitForLogLines(const std::wstring& prefix, int nCount, DWORD dwTimeoutMs = kWaitMs) const;
    std::wstring LogFilePath() const;
    // The raw bytes of the log file.
    std::string LogBytes() const;
    // The stand-in control's journal of the calls it received.
    std::vector<std::string> Journal() const;

    // A top-level window of the viewer's process with this caption (and
    // class), other than hExcept, if any.
    HWND FindProcessWindow(const std::wstring& caption, const std::wstring& className = L"", HWND hExcept = NULL) const;
    HWND MainWindow() const { return m_hMain; }
    DWORD ProcessId() const { return m_pi.dwProcessId; }
    HANDLE Process() const { return m_pi.hProcess; }
    const std::wstring& Folder() const { return m_folder; }

private:
    ViewerEnv m_env;
    bool m_bOwnFolder;
    std::wstring m_folder;
    PROCESS_INFORMATION m_pi = {};
    HWND m_hMain = NULL;
};

// The folder this test program runs from (the viewer and the control are copied there).
std::wstring ProgramFolder();
// Registers (or unregisters) the stand-in control beside the test program.
bool RegisterViewerControl(bool bRegister);

// Saves a picture of the whole virtual display as <name>.png in the folder
// that DVV_SCREENSHOT_DIR names (a host path), when it is set.
bool TakeScreenshot(const std::wstring& name);

// Watches for a message box of the viewer's process with the given caption,
// records its text and dismisses it.
struct BoxSeen
{
    bool bFound = false;
    std::wstring text;
};
BoxSeen DismissBox(const ViewerDriver& driver, const std::wstring& caption, DWORD dwTimeoutMs = ViewerDriver::kWaitMs);
