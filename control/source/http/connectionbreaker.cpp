// Finding a connection's socket among the process's handles.
#include <winsock2.h>
#include <ws2tcpip.h>

#include "connectionbreaker.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

namespace {

// The system's list of open handles (information class 64, the extended
// form: handle values and process ids at full width).
const ULONG SYSTEM_EXTENDED_HANDLE_INFORMATION = 64;
const LONG STATUS_INFO_LENGTH_MISMATCH = static_cast<LONG>(0xC0000004);
const ULONG MAX_LIST_BYTES = 64 * 1024 * 1024;

struct CHandleEntry
{
    PVOID m_pObject;
    ULONG_PTR m_nProcessId;
    ULONG_PTR m_nHandle;
    ULONG m_nAccess;
    USHORT m_nCreatorBackTrace;
    USHORT m_nObjectType;
    ULONG m_nAttributes;
    ULONG m_nReserved;
};

struct CHandleList
{
    ULONG_PTR m_nCount;
    ULONG_PTR m_nReserved;
    CHandleEntry m_entries[1];
};

typedef LONG(NTAPI* QuerySystemInformation)(ULONG, PVOID, ULONG, PULONG);

static_assert(sizeof(SOCKADDR_STORAGE) == sizeof(CConnectionEnds::m_local), "a socket address fits");

bool SameAddress(const sockaddr_storage& a, const BYTE* pbAddress)
{
    SOCKADDR_STORAGE b;
    memcpy(&b, pbAddress, sizeof b);
    if (a.ss_family != b.ss_family)
        return false;
    if (a.ss_family == AF_INET) {
        const sockaddr_in& a4 = reinterpret_cast<const sockaddr_in&>(a);
        const sockaddr_in& b4 = reinterpret_cast<const sockaddr_in&>(b);
        return a4.sin_port == b4.sin_port && a4.sin_addr.s_addr == b4.sin_addr.s_addr;
    }
    if (a.ss_family == AF_INET6) {
        const sockaddr_in6& a6 = reinterpret_cast<const sockaddr_in6&>(a);
        const sockaddr_in6& b6 = reinterpret_cast<const sockaddr_in6&>(b);
        return a6.sin6_port == b6.sin6_port && memcmp(&a6.sin6_addr, &b6.sin6_addr, sizeof a6.sin6_addr) == 0;
    }
    return false;
}

// Whether socket s (if it is one) joins these two addresses.
bool Joins(SOCKET s, const CConnectionEnds& ends)
{
    sockaddr_storage address = {};
    int cb = sizeof address;
    if (getsockname(s, reinterpret_cast<sockaddr*>(&address), &cb) != 0 || !SameAddress(address, ends.m_local))
        return false;
    cb = sizeof address;
    return getpeername(s, reinterpret_cast<sockaddr*>(&address), &cb) == 0 && SameAddress(address, ends.m_remote);
}

// Winsock started once for the process's life, never cleaned up: its start
// count is not safe against threads under Wine, and the cleanup that takes it
// to zero closes every socket of the process, the HTTP client's pending
// calls' too (Wine's server then crashed on one of them).
BOOL CALLBACK StartWinsock(PINIT_ONCE, PVOID, PVOID*)
{
    WSADATA wsa;
    return WSAStartup(MAKEWORD(2, 2), &wsa) == 0;
}

} // namespace

bool BreakConnection(const CConnectionEnds& ends)
{
    const auto pfnQuery = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (pfnQuery == nullptr)
        return false;
    std::vector<BYTE> list(64 * 1024);
    LONG status;
    for (;;) {
        ULONG cbNeeded = 0;
        status = pfnQuery(SYSTEM_EXTENDED_HANDLE_INFORMATION, list.data(), static_cast<ULONG>(list.size()), &cbNeeded);
        if (status != STATUS_INFO_LENGTH_MISMATCH || list.size() >= MAX_LIST_BYTES)
            break;
        list.resize(std::max<size_t>(list.size() * 2, cbNeeded + 4096));
    }
    if (status < 0)
        return false;
    static INIT_ONCE s_winsock = INIT_ONCE_STATIC_INIT;
    if (!InitOnceExecuteOnce(&s_winsock, StartWinsock, nullptr, nullptr))
        return false;
    const CHandleList* pList = reinterpret_cast<const CHandleList*>(list.data());
    const size_t nFit = (list.size() - offsetof(CHandleList, m_entries)) / sizeof(CHandleEntry);
    bool bBroken = false;
    for (size_t n = 0; n < pList->m_nCount && n < nFit && !bBroken; ++n) {
        const CHandleEntry& entry = pList->m_entries[n];
        if (entry.m_nProcessId != GetCurrentProcessId())
            continue;
        const SOCKET s = static_cast<SOCKET>(entry.m_nHandle);
        // Shut down, not closed: the socket stays the client's to close.
        if (Joins(s, ends))
            bBroken = shutdown(s, SD_BOTH) == 0;
    }
    return bBroken;
}
