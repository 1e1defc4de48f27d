#include "viewerdriver.h"

#include <commctrl.h>
#include <fstream>
#include <sstream>

std::wstring ProgramFolder()
{
    wchar_t path[MAX_PATH];
    ::GetModuleFileNameW(NULL, path, MAX_PATH);
    std::wstring s(path);
    return s.substr(0, s.find_last_of(L"\\/"));
}

bool RegisterViewerControl(bool bRegister)
{
    HMODULE hDll = ::LoadLibraryW((ProgramFolder() + L"\\dorsaviewerctl.dll").c_str());
    if (!hDll)
        return false;
    typedef HRESULT(STDAPICALLTYPE * PFN)();
    PFN pfn = reinterpret_cast<PFN>(
        reinterpret_cast<void*>(::GetProcAddress(hDll, bRegister ? "DllRegisterServer" : "DllUnregisterServer")));
    HRESULT hr = pfn ? pfn() : E_FAIL;
    ::FreeLibrary(hDll);
    return SUCCEEDED(hr);
}

static std::wstring MakeFolder()
{
    wchar_t temp[MAX_PATH];
    ::GetTempPathW(MAX_PATH, temp);
    static int s_nCounter = 0;
    for (;;) {
        std::wstringstream name;
        name << temp << L"dvv-ui-" << ::GetCurrentProcessId() << L"-" << ++s_nCounter;
        if (::CreateDirectoryW(name.str().c_str(), NULL))
            return name.str();
    }
}

static void RemoveFolder(const std::wstring& folder)
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW((folder + L"\\*").c_str(), &fd);
    if (hFind != INVALID_HANDLE_VALUE) {
        do {
            std::wstring name = fd.cFileName;
            if (name != L"." && name != L"..")
                ::DeleteFileW((folder + L"\\" + name).c_str());
        } while (::FindNextFileW(hFind, &fd));
        ::FindClose(hFind);
    }
    ::RemoveDirectoryW(folder.c_str());
}

ViewerDriver::ViewerDriver(const ViewerEnv& env, const std::wstring& folder)
    : m_env(env), m_bOwnFolder(folder.empty()), m_folder(folder.empty() ? MakeFolder() : folder)
{
    if (!m_env.count(L"DORSA_STANDIN_JOURNAL"))
        m_env[L"DORSA_STANDIN_JOURNAL"] = m_folder + L"\\journal.txt";
}

ViewerDriver::~ViewerDriver()
{
    if (m_pi.hProcess) {
        if (::WaitForSingleObject(m_pi.hProcess, 0) == WAIT_TIMEOUT) {
            ::TerminateProcess(m_pi.hProcess, 99);
            ::WaitForSingleObject(m_pi.hProcess, 5000);
        }
        ::CloseHandle(m_pi.hProcess);
        ::CloseHandle(m_pi.hThread);
    }
    // DVV_KEEP_UI_FOLDERS keeps the run's folder (log, journal) for a look.
    if (m_bOwnFolder && !::GetEnvironmentVariableW(L"DVV_KEEP_UI_FOLDERS", NULL, 0))
        RemoveFolder(m_folder);
}

bool ViewerDriver::Start()
{
    // This process's environment with the extra variables set or replaced.
    std::map<std::wstring, std::wstring> vars;
    wchar_t* pEnv = ::GetEnvironmentStringsW();
    for (const wchar_t* p = pEnv; *p; p += wcslen(p) + 1) {
        std::wstring entry(p);
        size_t eq = entry.find(L'=', 1);
        if (eq != std::wstring::npos)
            vars[entry.substr(0, eq)] = entry.substr(eq + 1);
    }
    ::FreeEnvironmentStringsW(pEnv);
    for (const auto& kv : m_env)
        vars[kv.first] = kv.second;
    std::wstring block;
    for (const auto& kv : vars)
        block += kv.first + L"=" + kv.second + L'\0';
    block += L'\0';

    std::wstring exe = ProgramFolder() + L"\\DorsaVantixViewer.exe";
    std::wstring cmd = L"\"" + exe + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    return ::CreateProcessW(exe.c_str(), &cmd[0], NULL, NULL, FALSE, CREATE_UNICODE_ENVIRONMENT, &block[0],
                            m_folder.c_str(), &si, &m_pi) != FALSE;
}

namespace {
struct WindowSearch
{
    DWORD pid;
    const std::wstring* caption;
    const std::wstring* cls;
    HWND except;
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hWnd, LPARAM lParam)
{
    WindowSearch* ps = reinterpret_cast<WindowSearch*>(lParam);
    DWORD pid = 0;
    ::GetWindowThreadProcessId(hWnd, &pid);
    if (pid != ps->pid || hWnd == ps->except)
        return TRUE;
    wchar_t text[256] = L"", cls[256] = L"";
    ::GetWindowTextW(hWnd, text, 256);
    ::GetClassNameW(hWnd, cls, 256);
    if (*ps->caption == text && (ps->cls->empty() || *ps->cls == cls)) {
        ps->found = hWnd;
        return FALSE;
    }
    return TRUE;
}
} // namespace

HWND ViewerDriver::FindProcessWindow(const std::wstring& caption, const std::wstring& className, HWND hExcept) const
{
    WindowSearch s = { m_pi.dwProcessId, &caption, &className, hExcept, NULL };
    ::EnumWindows(&MatchWindow, reinterpret_cast<LPARAM>(&s));
    return s.found;
}

HWND ViewerDriver::WaitForMainWindow(DWORD dwTimeoutMs)
{
    DWORD dwStart = ::GetTickCount();
    while (::GetTickCount() - dwStart < dwTimeoutMs) {
        HWND hWnd = FindProcessWindow(L"Dorsa Vantix Viewer", L"#32770");
        if (hWnd && ::IsWindowVisible(hWnd)) {
            m_hMain = hWnd;
            return hWnd;
        }
        if (::WaitForSingleObject(m_pi.hProcess, 50) == WAIT_OBJECT_0)
            return NULL;
    }
    return NULL;
}

void ViewerDriver::SetAddress(BYTE b0, BYTE b1, BYTE b2, BYTE b3)
{
    ::SendMessageW(Control(1007), IPM_SETADDRESS, 0, MAKEIPADDRESS(b0, b1, b2, b3));
}

void ViewerDriver::SetText(int nID, const std::wstring& text)
{
    ::SendMessageW(Control(nID), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

std::wstring ViewerDriver::GetText(int nID) const
{
    wchar_t buf[1024] = L"";
    ::SendMessageW(Control(nID), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    return buf;
}

void ViewerDriver::Click(int nID) { ::PostMessageW(Control(nID), BM_CLICK, 0, 0); }

void ViewerDriver::Close() { ::PostMessageW(m_hMain, WM_CLOSE, 0, 0); }

void ViewerDriver::Detach()
{
    if (m_pi.hProcess) {
        ::CloseHandle(m_pi.hProcess);
        ::CloseHandle(m_pi.hThread);
    }
    m_pi = PROCESS_INFORMATION();
}

DWORD ViewerDriver::WaitForExit(DWORD dwTimeoutMs)
{
    if (::WaitForSingleObject(m_pi.hProcess, dwTimeoutMs) != WAIT_OBJECT_0)
        return STILL_ACTIVE;
    DWORD dwCode = 0;
    ::GetExitCodeProcess(m_pi.hProcess, &dwCode);
    return dwCode;
}

std::wstring ViewerDriver::LogFilePath() const
{
    WIN32_FIND_DATAW fd;
    HANDLE hFind = ::FindFirstFileW((m_folder + L"\\Dorsa Vantix Viewer *.log").c_str(), &fd);
    if (hFind == INVALID_HANDLE_VALUE)
        return L"";
    ::FindClose(hFind);
    return m_folder + L"\\" + fd.cFileName;
}

static std::string ReadShared(const std::wstring& path)
{
    // The viewer holds the file open for writing and lets others read.
    HANDLE h = ::CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (h == INVALID_HANDLE_VALUE)
        return "";
    std::string data;
    char buf[65536];
    DWORD n = 0;
    while (::ReadFile(h, buf, sizeof(buf), &n, NULL) && n)
        data.append(buf, n);
    ::CloseHandle(h);
    return data;
}

std::string ViewerDriver::LogBytes() const
{
    std::wstring path = LogFilePath();
    return path.empty() ? "" : ReadShared(path);
}

std::vector<std::wstring> ViewerDriver::LogLines() const
{
    std::vector<std::wstring> lines;
    std::string data = LogBytes();
    size_t pos = 0, end;
    while ((end = data.find("\r\n", pos)) != std::string::npos) {
        std::string line = data.substr(pos, end - pos);
        pos = end + 2;
        // "[YYYY-MM-DD hh:mm:ss (+mmm.ffff ms)]: " heads every entry.
        if (line.size() > 38 && line[0] == '[' && line.compare(21, 2, "(+") == 0 && line.compare(34, 4, ")]: ") == 0)
            line = line.substr(38);
        // The file is 8-bit text: each byte is one character.
        lines.emplace_back(line.begin(), line.end());
    }
    return lines;
}

int ViewerDriver::WaitForLogLines(const std::wstring& prefix, int nCount, DWORD dwTimeoutMs) const
{
    DWORD dwStart = ::GetTickCount();
    int nFound = 0;
    for (;;) {
        nFound = 0;
        for (const std::wstring& line : LogLines())
            if (line.compare(0, prefix.size(), prefix) == 0)
                ++nFound;
        if (nFound >= nCount || ::GetTickCount() - dwStart >= dwTimeoutMs)
            return nFound;
        ::Sleep(50);
    }
}

std::vector<std::string> ViewerDriver::Journal() const
{
    std::vector<std::string> lines;
    std::istringstream in(ReadShared(m_env.at(L"DORSA_STANDIN_JOURNAL")));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

BoxSeen DismissBox(const ViewerDriver& driver, const std::wstring& caption, DWORD dwTimeoutMs)
{
    BoxSeen seen;
    DWORD dwStart = ::GetTickCount();
    while (::GetTickCount() - dwStart < dwTimeoutMs) {
        HWND hBox = driver.FindProcessWindow(caption, L"#32770", driver.MainWindow());
        if (hBox) {
            wchar_t buf[1024] = L"";
            ::SendMessageW(::GetDlgItem(hBox, 0xFFFF), WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
            seen.bFound = true;
            seen.text = buf;
            ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
            return seen;
        }
        ::Sleep(50);
    }
    return seen;
}

bool TakeScreenshot(const std::wstring& name)
{
    wchar_t dir[MAX_PATH] = L"";
    if (!::GetEnvironmentVariableW(L"DVV_SCREENSHOT_DIR", dir, MAX_PATH))
        return false;
    // Wine starts host programs given by their host path.
    std::wstring cmd = L"start.exe /wait /unix /usr/bin/import -window root \"" + std::wstring(dir) + L"/" + name + L".png\"";
    STARTUPINFOW si = {};
    si.cb = sizeof(si);
    PROCESS_INFORMATION pi = {};
    if (!::CreateProcessW(NULL, &cmd[0], NULL, NULL, FALSE, 0, NULL, NULL, &si, &pi))
        return false;
    ::WaitForSingleObject(pi.hProcess, 30000);
    ::CloseHandle(pi.hProcess);
    ::CloseHandle(pi.hThread);
    return true;
}
