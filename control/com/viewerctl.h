// CViewerCtl: the stand-in viewer control object. It does what the program
// expects of the real viewer control: the four dispatch methods, the
// TimeStamp event on its default source interface, in-place activation in a
// child window, and the 20-byte persisted block holding its extent.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>
#include <ocidl.h>

#include "camerastream.h"
#include "pluginfile.h"

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

// The DLL that holds the control, and its count of living objects and locks.
extern HMODULE g_hCtlModule;
void CtlModuleLock();
void CtlModuleUnlock();

// Loads the type library embedded in this DLL (resource TYPELIB 1).
HRESULT CtlLoadTypeLib(ITypeLib** ppTypeLib);

// Unregisters the control window class, if this DLL registered it.
void CtlUnregisterWindowClass();

class CViewerCtl final : public IOleObject,
                         public IOleInPlaceObject,
                         public IPersistStreamInit,
                         public IPersistStream,
                         public IDispatch,
                         public IConnectionPointContainer,
                         public IProvideClassInfo2
{
public:
    // What GetMiscStatus reports: the container sets the site first and
    // activates the control in place as soon as it is visible.
    static const DWORD s_dwMiscStatus = OLEMISC_SETCLIENTSITEFIRST | OLEMISC_ACTIVATEWHENVISIBLE |
                                        OLEMISC_INSIDEOUT | OLEMISC_CANTLINKINSIDE |
                                        OLEMISC_RECOMPOSEONRESIZE;

    CViewerCtl();

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleObject
    STDMETHODIMP SetClientSite(IOleClientSite* pClientSite) override;
    STDMETHODIMP GetClientSite(IOleClientSite** ppClientSite) override;
    STDMETHODIMP SetHostNames(LPCOLESTR szContainerApp, LPCOLESTR szContainerObj) override;
    STDMETHODIMP Close(DWORD dwSaveOption) override;
    STDMETHODIMP SetMoniker(DWORD dwWhichMoniker, IMoniker* pmk) override;
    STDMETHODIMP GetMoniker(DWORD dwAssign, DWORD dwWhichMoniker, IMoniker** ppmk) override;
    STDMETHODIMP InitFromData(IDataObject* pDataObject, BOOL fCreation, DWORD dwReserved) override;
    STDMETHODIMP GetClipboardData(DWORD dwReserved, IDataObject** ppDataObject) override;
    STDMETHODIMP DoVerb(LONG iVerb, LPMSG lpmsg, IOleClientSite* pActiveSite, LONG lindex,
                        HWND hwndParent, LPCRECT lprcPosRect) override;
    STDMETHODIMP EnumVerbs(IEnumOLEVERB** ppEnumOleVerb) override;
    STDMETHODIMP Update() override;
    STDMETHODIMP IsUpToDate() override;
    STDMETHODIMP GetUserClassID(CLSID* pClsid) override;
    STDMETHODIMP GetUserType(DWORD dwFormOfType, LPOLESTR* pszUserType) override;
    STDMETHODIMP SetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    STDMETHODIMP GetExtent(DWORD dwDrawAspect, SIZEL* psizel) override;
    STDMETHODIMP Advise(IAdviseSink* pAdvSink, DWORD* pdwConnection) override;
    STDMETHODIMP Unadvise(DWORD dwConnection) override;
    STDMETHODIMP EnumAdvise(IEnumSTATDATA** ppenumAdvise) override;
    STDMETHODIMP GetMiscStatus(DWORD dwAspect, DWORD* pdwStatus) override;
    STDMETHODIMP SetColorScheme(LOGPALETTE* pLogpal) override;

    // IOleWindow / IOleInPlaceObject
    STDMETHODIMP GetWindow(HWND* phwnd) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL fEnterMode) override;
    STDMETHODIMP InPlaceDeactivate() override;
    STDMETHODIMP UIDeactivate() override;
    STDMETHODIMP SetObjectRects(LPCRECT lprcPosRect, LPCRECT lprcClipRect) override;
    STDMETHODIMP ReactivateAndUndo() override;

    // IPersist / IPersistStreamInit / IPersistStream (shared bodies)
    STDMETHODIMP GetClassID(CLSID* pClassID) override;
    STDMETHODIMP IsDirty() override;
    STDMETHODIMP Load(LPSTREAM pStm) override;
    STDMETHODIMP Save(LPSTREAM pStm, BOOL fClearDirty) override;
    STDMETHODIMP GetSizeMax(ULARGE_INTEGER* pCbSize) override;
    STDMETHODIMP InitNew() override;

    // IDispatch
    STDMETHODIMP GetTypeInfoCount(UINT* pctinfo) override;
    STDMETHODIMP GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) override;
    STDMETHODIMP GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                               DISPID* rgDispId) override;
    STDMETHODIMP Invoke(DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
                        DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                        UINT* puArgErr) override;

    // IConnectionPointContainer
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints** ppEnum) override;
    STDMETHODIMP FindConnectionPoint(REFIID riid, IConnectionPoint** ppCP) override;

    // IProvideClassInfo / IProvideClassInfo2
    STDMETHODIMP GetClassInfo(ITypeInfo** ppTI) override;
    STDMETHODIMP GetGUID(DWORD dwGuidKind, GUID* pGUID) override;

    // Window procedure of the control window and of its hidden clock window.
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT uMsg, WPARAM wParam, LPARAM lParam);

private:
    // The connection point of the TimeStamp event; it lives inside the
    // control and shares its reference count.
    class CEventPoint : public IConnectionPoint
    {
    public:
        explicit CEventPoint(CViewerCtl* pCtl) : m_pCtl(pCtl) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** ppv) override;
        STDMETHODIMP_(ULONG) AddRef() override;
        STDMETHODIMP_(ULONG) Release() override;
        STDMETHODIMP GetConnectionInterface(IID* pIID) override;
        STDMETHODIMP GetConnectionPointContainer(IConnectionPointContainer** ppCPC) override;
        STDMETHODIMP Advise(IUnknown* pUnkSink, DWORD* pdwCookie) override;
        STDMETHODIMP Unadvise(DWORD dwCookie) override;
        STDMETHODIMP EnumConnections(IEnumConnections** ppEnum) override;

    private:
        CViewerCtl* m_pCtl;
    };

    // One stream started by StartStream.
    struct CSession
    {
        std::wstring m_strCameraIP;
        std::wstring m_strPort;
        std::wstring m_strChannel;
        bool m_bPlaying = false;
        float m_fSpeed = 0.0f;
        ULONGLONG m_nPlayStartTick = 0;   // GetTickCount64 when playing began
        ULONGLONG m_nStreamStartTime = 0; // local FILETIME of the stream then
        ULONGLONG m_nEventsRaised = 0;    // TimeStamps raised for this session
        // A camera's stream, when a plug-in names one; else the simulated picture.
        std::shared_ptr<CCameraStream> m_pStream;
        std::shared_ptr<CCameraStream::CFrame> m_pFrame; // the picture shown last
        std::wstring m_strProblem;        // what stops the plug-in from streaming
        std::wstring m_strSimulated;      // why its picture is simulated, when it is
        ULONGLONG m_nFramesShown = 0;
        ULONGLONG m_nFramesDropped = 0;   // arrived while the session did not play, or could not be drawn
        std::vector<double> m_drawMs;     // the latest draw times
        std::wstring m_strStatusSeen;     // the stream's status last journalled
    };

    ~CViewerCtl();

    HRESULT InPlaceActivate(LPCRECT lprcPosRect);
    void EnsureClockWindow();
    void UpdateClock();
    void OnEventTimer();
    void OnPaint(HWND hWnd);
    void DrawPicture(HDC hdc, const RECT& rc);
    void FireTimeStamp(const std::wstring& strSession, const std::wstring& strTimeStamp);
    std::wstring StreamTimeText(const CSession& session) const;
    const CSession* ShownSession(std::wstring* pstrId) const;
    void StartCameraStream(CSession& session);
    void EndSession(const std::wstring& strId, CSession& session);
    void OnStreamNotify();
    void JournalStatus(const std::wstring& strId, CSession& session);
    static void JournalPictureSays(std::wstring strText, const std::wstring& strId);
    void ShowFrame(HDC hdc, const RECT& rc, const CSession& session);
    void DrawStreamPicture(HDC hdc, const RECT& rc, const CSession& session);
    bool IsShown(const std::wstring& strId, const CSession& session) const;
    void ShowStreams();

    HRESULT CallSetPluginPath(DISPPARAMS* pDispParams, VARIANT* pResult, UINT* puArgErr);
    HRESULT CallStartStream(DISPPARAMS* pDispParams, VARIANT* pResult, UINT* puArgErr);
    HRESULT CallStopStream(DISPPARAMS* pDispParams, VARIANT* pResult, UINT* puArgErr);
    HRESULT CallPlayForward(DISPPARAMS* pDispParams, VARIANT* pResult, UINT* puArgErr);

    LONG m_cRef;
    CEventPoint m_eventPoint;
    IOleClientSite* m_pClientSite;
    IOleInPlaceSite* m_pInPlaceSite; // held while in-place active
    IOleAdviseHolder* m_pOleAdviseHolder;
    HWND m_hWnd;                     // the visible control window
    HWND m_hWndClock;                // hidden window whose timers drive events and frames
    SIZEL m_sizeExtent;              // HIMETRIC
    bool m_bDirty;
    bool m_bClockRunning;
    UINT m_nEventPeriod;
    UINT m_nEventsPerTick;           // TimeStamps per session on each event tick
    UINT m_nFrame;
    DWORD m_dwNextCookie;
    std::vector<std::pair<DWORD, IDispatch*>> m_sinks;
    std::map<std::wstring, CSession> m_sessions;
    std::wstring m_strLastPlayed; // the session the picture shows
    CPluginFile m_plugin;         // read by SetPluginPath
    std::wstring m_strNoPlugin;   // why sessions started now are simulated, when they are
};
