// What the stand-in viewer control's own files share.
#pragma once

#include <windows.h>

#include <string>

// Posted to the clock window by a camera stream with a new picture or status.
const UINT WM_STREAM_NOTIFY = WM_APP + 1;

// "YYYY-MM-DD hh:mm:ss.mmm"
std::wstring TimeText(const SYSTEMTIME& st);
