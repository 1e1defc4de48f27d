// Switches that let tests steer the stand-in control, and its call journal.
// They are environment variables, read at the moment of each call, so a test
// can change them between calls; the program itself never sets them.
//
//   DORSA_STANDIN_JOURNAL=<path>     append one UTF-8 line per call received
//                                    (see viewerctl.cpp for the line forms)
//   DORSA_STANDIN_EMPTY_SESSION=1    StartStream returns an empty text
//   DORSA_STANDIN_FAIL=<MethodName>  that method fails with DISP_E_EXCEPTION
//   DORSA_STANDIN_RESULT=<MethodName>=<n>
//                                    that method (one returning a short)
//                                    returns n instead of its own result
//   DORSA_STANDIN_EVENT_MS=<n>       TimeStamp event period (default 1000 ms)
//   DORSA_STANDIN_EVENTS_PER_TICK=<n>
//                                    TimeStamps raised per session each period
//                                    (default 1)
//   DORSA_STANDIN_NO_CLASSINFO2=1    QueryInterface refuses IProvideClassInfo2
#pragma once

#include <windows.h>
#include <string>

namespace standin {

// The variable's value, or an empty text when it is not set.
std::wstring SwitchValue(const wchar_t* pszName);

// True when the variable is set to "1".
bool SwitchIsOn(const wchar_t* pszName);

// The variable as a positive number, or nDefault when unset or not a number.
UINT SwitchNumber(const wchar_t* pszName, UINT nDefault);

// UTF-8 form of a wide text (nChars < 0: up to the terminating zero).
std::string ToUtf8(const wchar_t* psz, int nChars = -1);
inline std::string ToUtf8(const std::wstring& str)
{
    return ToUtf8(str.c_str(), static_cast<int>(str.size()));
}

// The wide form of UTF-8 text.
std::wstring FromUtf8(const std::string& str);

// Appends strLine and a line feed to the journal file, when one is named.
// The file is opened and closed for each line so a reader sees it at once.
void Journal(const std::string& strLine);

} // namespace standin
