#include "applogthread.h"

// The instant is read once, here, on the logging caller's thread; all text
// is made later on the logging thread.
CAppLogThread::LogEntry::LogEntry() { ::GetSystemTimeAsFileTime(&m_ftTime); }

CAppLogThread::LogEntry::LogEntry(const CString& text) : m_strText(text) { ::GetSystemTimeAsFileTime(&m_ftTime); }
