// The ambient properties a hosted control reads from its site.
#include "occimpl.h"

// The container window's font (the dialog's), as a font object.
HRESULT COleControlSite::AmbientFont(VARIANT* pVarResult) const
{
    HWND hWnd = ContainerWindow();
    HFONT hFont = hWnd ? reinterpret_cast<HFONT>(::SendMessageW(hWnd, WM_GETFONT, 0, 0)) : NULL;
    LOGFONTW lf = {};
    if (!::GetObjectW(hFont ? static_cast<HGDIOBJ>(hFont) : ::GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf))
        return DISP_E_MEMBERNOTFOUND;
    const LONG nPixelsY = AfxPixelsPerInch(hWnd).cy;
    FONTDESC desc = { sizeof(FONTDESC), lf.lfFaceName, {}, SHORT(lf.lfWeight), SHORT(lf.lfCharSet),
                      lf.lfItalic, lf.lfUnderline, lf.lfStrikeOut };
    // Points in units of 1/10000: the height in pixels at the screen's resolution.
    desc.cySize.int64 = LONGLONG(lf.lfHeight < 0 ? -lf.lfHeight : lf.lfHeight) * 72 * 10000 / nPixelsY;
    IFontDisp* pFont = NULL;
    HRESULT hr = ::OleCreateFontIndirect(&desc, IID_IFontDisp, reinterpret_cast<void**>(&pFont));
    if (FAILED(hr))
        return hr;
    V_VT(pVarResult) = VT_DISPATCH;
    V_DISPATCH(pVarResult) = pFont;
    return S_OK;
}

STDMETHODIMP COleControlSite::Invoke(DISPID dispIdMember, REFIID riid, LCID, WORD wFlags, DISPPARAMS*,
                                     VARIANT* pVarResult, EXCEPINFO*, UINT*)
{
    if (riid != IID_NULL)
        return DISP_E_UNKNOWNINTERFACE;
    if (!(wFlags & DISPATCH_PROPERTYGET))
        return DISP_E_MEMBERNOTFOUND;
    if (!pVarResult)
        return E_POINTER;
    ::VariantInit(pVarResult);
    switch (dispIdMember) {
    case DISPID_AMBIENT_USERMODE:          // running, not being designed
    case DISPID_AMBIENT_AUTOCLIP:          // the container clips the control's window
    case DISPID_AMBIENT_SUPPORTSMNEMONICS:
        V_VT(pVarResult) = VT_BOOL;
        V_BOOL(pVarResult) = VARIANT_TRUE;
        return S_OK;
    case DISPID_AMBIENT_UIDEAD:
    case DISPID_AMBIENT_SHOWGRABHANDLES:
    case DISPID_AMBIENT_SHOWHATCHING:
    case DISPID_AMBIENT_DISPLAYASDEFAULT:
    case DISPID_AMBIENT_MESSAGEREFLECT:    // the container reflects no messages
        V_VT(pVarResult) = VT_BOOL;
        V_BOOL(pVarResult) = VARIANT_FALSE;
        return S_OK;
    case DISPID_AMBIENT_LOCALEID:
        V_VT(pVarResult) = VT_I4;
        V_I4(pVarResult) = LONG(::GetUserDefaultLCID());
        return S_OK;
    case DISPID_AMBIENT_BACKCOLOR:
    case DISPID_AMBIENT_FORECOLOR:
        V_VT(pVarResult) = VT_I4;
        V_I4(pVarResult) =
            LONG(::GetSysColor(dispIdMember == DISPID_AMBIENT_BACKCOLOR ? COLOR_BTNFACE : COLOR_BTNTEXT));
        return S_OK;
    case DISPID_AMBIENT_FONT:
        return AmbientFont(pVarResult);
    case DISPID_AMBIENT_DISPLAYNAME:       // the container gives its controls no names
        V_VT(pVarResult) = VT_BSTR;
        V_BSTR(pVarResult) = ::SysAllocString(L"");
        return V_BSTR(pVarResult) ? S_OK : E_OUTOFMEMORY;
    default:
        return DISP_E_MEMBERNOTFOUND;
    }
}
