// Common controls the program binds.
#pragma once

#include "afxwin.h"

class CIPAddressCtrl : public CWnd
{
    DECLARE_DYNAMIC(CIPAddressCtrl)
public:
    // The four fields, first to last; a blank field reads as 0. Returns how
    // many fields are filled.
    int GetAddress(BYTE& nField0, BYTE& nField1, BYTE& nField2, BYTE& nField3) const;
    void SetAddress(BYTE nField0, BYTE nField1, BYTE nField2, BYTE nField3);
    void ClearAddress() { SendMessage(IPM_CLEARADDRESS); }
};
