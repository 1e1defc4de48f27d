// Watches, from a thread of its own, for a message box (or another dialog of
// class #32770) with the given caption; records its text and presses OK.
// With bEvery it goes on, counting every such box, until Join(); otherwise it
// ends after the first. Join() ends the watch.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

class MessageBoxWatcher
{
public:
    explicit MessageBoxWatcher(const wchar_t* pszCaption, bool bEvery = false) : m_strCaption(pszCaption)
    {
        m_thread = std::thread([this, bEvery] {
            for (int i = 0; (bEvery || i < 500) && !m_bStop; ++i) {
                HWND hBox = ::FindWindowW(L"#32770", m_strCaption.c_str());
                if (hBox) {
                    wchar_t szText[1024] = L"";
                    ::GetDlgItemTextW(hBox, 0xFFFF, szText, 1024);   // the box's text
                    m_strText = szText;
                    m_bFound = true;
                    ++m_nBoxes;
                    ::PostMessageW(hBox, WM_COMMAND, IDOK, 0);
                    if (!bEvery)
                        return;
                    while (::IsWindow(hBox))   // count the next box, not this one again
                        ::Sleep(5);
                }
                ::Sleep(20);
            }
        });
    }
    ~MessageBoxWatcher() { Join(); }
    void Join()
    {
        m_bStop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    std::atomic<bool> m_bFound{ false };
    std::atomic<int> m_nBoxes{ 0 };
    std::wstring m_strText;

private:
    std::wstring m_strCaption;
    std::atomic<bool> m_bStop{ false };
    std::thread m_thread;
};
