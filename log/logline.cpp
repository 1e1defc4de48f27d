#include "logline.h"

#include "timestamp.h"

namespace {

// A NUL in an entry's text is shown as this, in the file and the popup
// alike, so nothing after it is lost: a character both hold and both fonts
// draw, and one that log texts hardly use.
const WCHAR kNulStandIn = 0x00A4;   // CURRENCY SIGN, the generic placeholder

} // namespace

bool HasNul(const CString& strText)
{
    return wmemchr(strText.GetString(), L'\0', size_t(strText.GetLength())) != NULL;
}

void AppendLogLineHead(CString& strLines, const FILETIME& ftTime, CTimestampFormatter& stamps)
{
    strLines += L'[';
    stamps.AppendDateTimeMs(strLines, ftTime);
    strLines.Append(L"]: ", 3);
}

void AppendLogLine(CString& strLines, const CString& strText, const FILETIME& ftTime, CTimestampFormatter& stamps)
{
    const int nBefore = strLines.GetLength();
    try {
        AppendLogLineHead(strLines, ftTime, stamps);
        if (HasNul(strText)) {
            CString strShown(strText);
            strShown.Replace(L'\0', kNulStandIn);
            strLines += strShown;
        } else {
            strLines += strText;
        }
        strLines += L'\n';
    } catch (const std::bad_alloc&) {
        strLines.Delete(nBefore, strLines.GetLength() - nBefore);
        throw;
    }
}

CString CountedLinesText(int nLines, LPCWSTR pszOne, LPCWSTR pszMany)
{
    CString strText;
    if (nLines == 1)
        strText = pszOne;
    else
        strText.Format(pszMany, nLines);
    return strText;
}
