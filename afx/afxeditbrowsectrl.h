// CMFCEditBrowseCtrl: an edit box with a browse button in its frame. In
// folder mode the button picks a folder with the shell's folder picker and
// puts it in the box.
#pragma once

#include "afxwin.h"

// Registers the window classes that dialog templates may name for the
// framework's own controls ("MfcEditBrowse"); done once per process.
void AfxRegisterMFCCtrlClasses();

class CMFCEditBrowseCtrl : public CEdit
{
    DECLARE_DYNAMIC(CMFCEditBrowseCtrl)
public:
    enum BrowseMode { BrowseMode_None = 0, BrowseMode_Default = 1, BrowseMode_Folder = 2, BrowseMode_File = 3 };

    CMFCEditBrowseCtrl() : m_Mode(BrowseMode_None), m_bPressed(false) {}
    void EnableFolderBrowseButton();
    BrowseMode GetMode() const { return m_Mode; }
    // Called when the browse button is clicked: in folder mode, asks for a folder.
    virtual void OnBrowse();

protected:
    void PreSubclassWindow() override;
    LRESULT OnNcCalcSize(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcPaint(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcHitTest(WPARAM wParam, LPARAM lParam);
    LRESULT OnNcLButtonDown(WPARAM wParam, LPARAM lParam);
    // The button's rectangle in window coordinates (empty without a button).
    CRect ButtonRect() const;

    BrowseMode m_Mode;
    bool m_bPressed;

    DECLARE_MESSAGE_MAP()
};
