// The stand-in viewer control's persisted state: the 20-byte block holding
// its extent.
#include "viewerctl.h"

#include "standinswitches.h"
#include "viewerctlcommon.h"
#include "viewerctlids.h"

namespace {

// Persisted block: five little-endian words, the third and fourth the extent.
const ULONG PERSIST_BLOCK_SIZE = 20;
const DWORD PERSIST_VERSION = 0x00010000;

void PutWord(BYTE* pb, DWORD dw)
{
    for (int n = 0; n < 4; ++n)
        pb[n] = static_cast<BYTE>(dw >> (8 * n));
}

DWORD GetWord(const BYTE* pb)
{
    return pb[0] | (pb[1] << 8) | (pb[2] << 16) | (static_cast<DWORD>(pb[3]) << 24);
}

} // namespace

// ---- IPersistStreamInit / IPersistStream

STDMETHODIMP CViewerCtl::GetClassID(CLSID* pClassID)
{
    if (pClassID == nullptr)
        return E_POINTER;
    *pClassID = CLSID_DorsaAPICOMViewer;
    return S_OK;
}

STDMETHODIMP CViewerCtl::IsDirty()
{
    return m_bDirty ? S_OK : S_FALSE;
}

STDMETHODIMP CViewerCtl::Load(LPSTREAM pStm)
{
    if (pStm == nullptr)
        return E_POINTER;
    BYTE block[PERSIST_BLOCK_SIZE];
    ULONG cbRead = 0;
    HRESULT hr = pStm->Read(block, sizeof block, &cbRead);
    if (FAILED(hr))
        return hr;
    if (cbRead != sizeof block)
        return STG_E_READFAULT;
    if (GetWord(block + 4) != PERSIST_VERSION)
        return E_FAIL;
    m_sizeExtent.cx = static_cast<LONG>(GetWord(block + 8));
    m_sizeExtent.cy = static_cast<LONG>(GetWord(block + 12));
    m_bDirty = false;
    standin::Journal("Load extent=" + std::to_string(m_sizeExtent.cx) + "x" +
                     std::to_string(m_sizeExtent.cy));
    return S_OK;
}

STDMETHODIMP CViewerCtl::Save(LPSTREAM pStm, BOOL fClearDirty)
{
    if (pStm == nullptr)
        return E_POINTER;
    BYTE block[PERSIST_BLOCK_SIZE] = {};
    PutWord(block + 4, PERSIST_VERSION);
    PutWord(block + 8, static_cast<DWORD>(m_sizeExtent.cx));
    PutWord(block + 12, static_cast<DWORD>(m_sizeExtent.cy));
    ULONG cbWritten = 0;
    HRESULT hr = pStm->Write(block, sizeof block, &cbWritten);
    if (FAILED(hr))
        return hr;
    if (cbWritten != sizeof block)
        return STG_E_WRITEFAULT;
    if (fClearDirty)
        m_bDirty = false;
    return S_OK;
}

STDMETHODIMP CViewerCtl::GetSizeMax(ULARGE_INTEGER* pCbSize)
{
    if (pCbSize == nullptr)
        return E_POINTER;
    pCbSize->QuadPart = PERSIST_BLOCK_SIZE;
    return S_OK;
}

STDMETHODIMP CViewerCtl::InitNew()
{
    m_sizeExtent.cx = DEFAULT_EXTENT_CX;
    m_sizeExtent.cy = DEFAULT_EXTENT_CY;
    m_bDirty = false;
    return S_OK;
}
