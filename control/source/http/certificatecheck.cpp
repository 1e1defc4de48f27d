// A camera's certificate, checked after the handshake.
#include "certificatecheck.h"

#include <schannel.h>
#include <wincrypt.h>

DWORD CheckCameraCertificate(CtxtHandle* pContext, const std::wstring& strHost)
{
    PCCERT_CONTEXT pCertificate = nullptr;
    const SECURITY_STATUS status = QueryContextAttributesW(pContext, SECPKG_ATTR_REMOTE_CERT_CONTEXT, &pCertificate);
    if (status != SEC_E_OK || pCertificate == nullptr)
        return status != SEC_E_OK ? static_cast<DWORD>(status) : static_cast<DWORD>(SEC_E_CERT_UNKNOWN);
    LPSTR usages[] = { const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH) };
    CERT_CHAIN_PARA chainPara = {};
    chainPara.cbSize = sizeof chainPara;
    chainPara.RequestedUsage.dwType = USAGE_MATCH_TYPE_OR;
    chainPara.RequestedUsage.Usage.cUsageIdentifier = 1;
    chainPara.RequestedUsage.Usage.rgpszUsageIdentifier = usages;
    // An engine of its own sees the trusted roots as they are now: Wine's
    // process-wide one keeps them as they were when it was first used.
    CERT_CHAIN_ENGINE_CONFIG engineConfig = {};
    engineConfig.cbSize = sizeof engineConfig;
    HCERTCHAINENGINE hEngine = nullptr;
    if (!CertCreateCertificateChainEngine(&engineConfig, &hEngine))
        hEngine = nullptr;
    // Revocation is left to Schannel on Windows (best effort, as asked of curl).
    PCCERT_CHAIN_CONTEXT pChain = nullptr;
    DWORD dwError = ERROR_SUCCESS;
    if (CertGetCertificateChain(hEngine, pCertificate, nullptr, pCertificate->hCertStore, &chainPara, 0, nullptr,
                                &pChain)) {
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl = {};
        ssl.cbSize = sizeof ssl;
        ssl.dwAuthType = AUTHTYPE_SERVER;
        ssl.pwszServerName = const_cast<WCHAR*>(strHost.c_str());
        CERT_CHAIN_POLICY_PARA policyPara = {};
        policyPara.cbSize = sizeof policyPara;
        policyPara.pvExtraPolicyPara = &ssl;
        CERT_CHAIN_POLICY_STATUS policyStatus = {};
        policyStatus.cbSize = sizeof policyStatus;
        dwError = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, pChain, &policyPara, &policyStatus)
                      ? policyStatus.dwError
                      : GetLastError();
        CertFreeCertificateChain(pChain);
    } else {
        dwError = GetLastError();
    }
    if (hEngine)
        CertFreeCertificateChainEngine(hEngine);
    CertFreeCertificateContext(pCertificate);
    return dwError;
}
