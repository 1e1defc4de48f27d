// CDialogEx: the framework's dialog with extended drawing; the program uses
// only what it shares with CDialog.
#pragma once

#include "afxwin.h"

class CDialogEx : public CDialog
{
    DECLARE_DYNAMIC(CDialogEx)
public:
    CDialogEx() {}
    explicit CDialogEx(UINT nIDTemplate, CWnd* pParent = NULL) : CDialog(nIDTemplate, pParent) {}

    DECLARE_MESSAGE_MAP()
};
