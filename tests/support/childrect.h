// Where a child window sits: its rectangle in its parent's client
// coordinates, as a CRect that GoogleTest prints.
#pragma once

#include <afxwin.h>

#include <ostream>

inline void PrintTo(const CRect& rc, std::ostream* pOut)
{
    *pOut << "(" << rc.left << ", " << rc.top << ", " << rc.right << ", " << rc.bottom << ")";
}

inline CRect ChildRect(HWND hWnd)
{
    RECT rc;
    ::GetWindowRect(hWnd, &rc);
    ::MapWindowPoints(HWND_DESKTOP, ::GetParent(hWnd), reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}
