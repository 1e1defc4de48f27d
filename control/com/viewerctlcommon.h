// What the stand-in viewer control's own files share.
#pragma once

#include <windows.h>

#include <string>

// Posted to the clock window by a camera stream with a new picture or status.
const UINT WM_STREAM_NOTIFY = WM_APP + 1;

// The class of the control window and of its hidden clock window.
inline constexpr wchar_t CTL_WND_CLASS[] = L"DorsaViewerStandInWnd";

// Why a session started before any SetPluginPath is simulated.
inline constexpr wchar_t NO_PLUGIN_FOLDER[] = L"no plug-in folder was given";
inline constexpr UINT DEFAULT_EVENT_PERIOD_MS = 1000;
inline constexpr UINT DEFAULT_EVENTS_PER_TICK = 1;

// Extent of a new control (HIMETRIC): 320 x 240 pixels at 96 dpi.
inline constexpr LONG DEFAULT_EXTENT_CX = 8467;
inline constexpr LONG DEFAULT_EXTENT_CY = 6350;

// "YYYY-MM-DD hh:mm:ss.mmm"
std::wstring TimeText(const SYSTEMTIME& st);
