#include "chainengine.h"

#include "text.h"

#include <windows.h>

#include <wincrypt.h>

#include <atomic>
#include <cstddef>
#include <cstdio>
#include <memory>
#include <mutex>

namespace vantoril {

namespace {

// Each fetch the engine makes (a missing intermediate, a root the system updates on
// demand) gives up after this long; once one chain took longer than slowBuild, the
// rest of the process uses what the system has cached, so an export without a
// network stalls once, briefly, and never again.
constexpr DWORD fetchTimeoutMs = 5000;
constexpr DWORD slowBuildMs = 3000;
std::atomic<bool> offline{false};

struct StoreCloser
{
    void operator()(void *store) const { CertCloseStore(store, 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct CertificateFree
{
    void operator()(const CERT_CONTEXT *certificate) const { CertFreeCertificateContext(certificate); }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

struct ChainFree
{
    void operator()(const CERT_CHAIN_CONTEXT *chain) const { CertFreeCertificateChain(chain); }
};
using Chain = std::unique_ptr<const CERT_CHAIN_CONTEXT, ChainFree>;

struct EngineFree
{
    void operator()(void *engine) const { CertFreeCertificateChainEngine(static_cast<HCERTCHAINENGINE>(engine)); }
};
using Engine = std::unique_ptr<void, EngineFree>;

// The engine's settings as Windows 8 and later define them. The system takes the
// shorter forms of older versions too, and some engines take nothing else, so each is
// offered in turn, longest first.
struct EngineConfig
{
    DWORD cbSize;
    HCERTSTORE hRestrictedRoot;
    HCERTSTORE hRestrictedTrust;
    HCERTSTORE hRestrictedOther;
    DWORD cAdditionalStore;
    HCERTSTORE *rghAdditionalStore;
    DWORD dwFlags;
    DWORD dwUrlRetrievalTimeout;
    DWORD MaximumCachedCertificates;
    DWORD CycleDetectionModulus;
    HCERTSTORE hExclusiveRoot;
    HCERTSTORE hExclusiveTrustedPeople;
    DWORD dwExclusiveFlags;
};

HCERTCHAINENGINE createEngine(EngineConfig config)
{
    for (const std::size_t size : {sizeof(EngineConfig), offsetof(EngineConfig, dwExclusiveFlags),
                                   offsetof(EngineConfig, hExclusiveRoot)}) {
        // A form without exclusive roots would quietly trust the system's roots instead.
        if (size <= offsetof(EngineConfig, hExclusiveRoot) && config.hExclusiveRoot)
            break;
        config.cbSize = static_cast<DWORD>(size);
        HCERTCHAINENGINE engine = nullptr;
        if (CertCreateCertificateChainEngine(reinterpret_cast<CERT_CHAIN_ENGINE_CONFIG *>(&config), &engine))
            return engine;
    }
    return nullptr;
}

Store memoryStore(const std::vector<std::string> &certificates)
{
    Store store(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (!store)
        return store;
    for (const std::string &der : certificates)
        CertAddEncodedCertificateToStore(store.get(), X509_ASN_ENCODING,
                                         reinterpret_cast<const BYTE *>(der.data()), static_cast<DWORD>(der.size()),
                                         CERT_STORE_ADD_USE_EXISTING, nullptr);
    return store;
}

// The user's view of the system's stores: the machine's roots, those group policy
// deployed and the user's own, as the system allows them.
HCERTCHAINENGINE systemEngine(bool cacheOnly)
{
    static std::once_flag once;
    static HCERTCHAINENGINE engines[2] = {nullptr, nullptr};
    std::call_once(once, [] {
        for (int i = 0; i < 2; ++i) {
            EngineConfig config = {};
            config.dwUrlRetrievalTimeout = fetchTimeoutMs;
            config.dwFlags = i == 1 ? CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL : 0;
            engines[i] = createEngine(config);
        }
    });
    // Kept for the life of the process, like the anchors; the default engine stands in.
    return engines[cacheOnly ? 1 : 0] ? engines[cacheOnly ? 1 : 0] : HCCE_CURRENT_USER;
}

std::string systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD size = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM
                                          | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                                      reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::string message = size ? utf16ToUtf8(std::u16string(text, text + size)) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.'))
        message.pop_back();
    char number[16];
    std::snprintf(number, sizeof number, "0x%08lX", static_cast<unsigned long>(code));
    return message.empty() ? number : std::string(number) + " " + message;
}

// The system's refusal in the words the library's own check uses for the same fault.
std::string reasonFor(DWORD error, bool timeStamping, bool atGivenTime)
{
    switch (error) {
    case static_cast<DWORD>(CERT_E_UNTRUSTEDROOT):
    case static_cast<DWORD>(CERT_E_UNTRUSTEDTESTROOT):
    case static_cast<DWORD>(CERT_E_CHAINING):
        return "untrusted root";
    case static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST):
        return "a certificate of the chain is in the system's Disallowed store";
    case static_cast<DWORD>(CERT_E_EXPIRED):
        return atGivenTime ? "expired at the timestamp's time" : "expired without a timestamp";
    case static_cast<DWORD>(CERT_E_WRONG_USAGE):
        return timeStamping ? "no time-stamping usage" : "no code-signing usage";
    case static_cast<DWORD>(TRUST_E_CERT_SIGNATURE):
        return "a certificate's signature does not verify";
    case static_cast<DWORD>(TRUST_E_BASIC_CONSTRAINTS):
        return "issuer is not a CA";
    default:
        return "refused by the system: " + systemMessage(error);
    }
}

// The time in the system's form; false for a time it cannot hold.
bool fileTime(std::time_t when, FILETIME &out)
{
    // Seconds between 1601-01-01 and 1970-01-01, and FILETIME's 100 ns units.
    const long long epoch = 11644473600LL;
    if (when < -epoch || when > 900000000000LL)
        return false;
    const unsigned long long ticks = static_cast<unsigned long long>(when + epoch) * 10000000ULL;
    out.dwLowDateTime = static_cast<DWORD>(ticks & 0xFFFFFFFFu);
    out.dwHighDateTime = static_cast<DWORD>(ticks >> 32);
    return true;
}

// A certificate an administrator withdrew is never trusted, whatever the engine said
// (not every version of the engine consults that store itself).
bool withdrawn(const CERT_CHAIN_CONTEXT *chain)
{
    Store disallowed(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                   CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_OPEN_EXISTING_FLAG
                                       | CERT_STORE_READONLY_FLAG,
                                   L"Disallowed"));
    if (!disallowed || chain->cChain == 0)
        return false;
    const CERT_SIMPLE_CHAIN *simple = chain->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement; ++i) {
        // By thumbprint, as the store keys them: issuer and serial number alone would
        // also match another certificate that reuses them.
        BYTE hash[20];
        DWORD size = sizeof hash;
        if (!CertGetCertificateContextProperty(simple->rgpElement[i]->pCertContext, CERT_SHA1_HASH_PROP_ID, hash,
                                               &size))
            continue;
        CRYPT_HASH_BLOB blob = {size, hash};
        const Certificate found(
            CertFindCertificateInStore(disallowed.get(), X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr));
        if (found)
            return true;
    }
    return false;
}

// The errors Windows' base policy gives for a chain's own status, for an engine whose
// policy checks less (Wine's passes a chain that ends in no root at all).
DWORD statusError(DWORD status)
{
    if (status & CERT_TRUST_IS_NOT_SIGNATURE_VALID)
        return static_cast<DWORD>(TRUST_E_CERT_SIGNATURE);
    if (status & (CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_CYCLIC))
        return static_cast<DWORD>(CERT_E_CHAINING);
    if (status & CERT_TRUST_IS_EXPLICIT_DISTRUST)
        return static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST);
    if (status & CERT_TRUST_IS_UNTRUSTED_ROOT)
        return static_cast<DWORD>(CERT_E_UNTRUSTEDROOT);
    if (status & CERT_TRUST_IS_NOT_TIME_VALID)
        return static_cast<DWORD>(CERT_E_EXPIRED);
    if (status & CERT_TRUST_IS_NOT_VALID_FOR_USAGE)
        return static_cast<DWORD>(CERT_E_WRONG_USAGE);
    if (status & CERT_TRUST_INVALID_BASIC_CONSTRAINTS)
        return static_cast<DWORD>(TRUST_E_BASIC_CONSTRAINTS);
    return 0;
}

struct PolicyResult
{
    bool built = false;
    DWORD error = 0;
    Chain chain;
    // The policy applied, when not the one asked for.
    std::string policy;
};

PolicyResult judge(HCERTCHAINENGINE engine, const CERT_CONTEXT *leaf, HCERTSTORE helpers, FILETIME *when,
                   bool timeStamping, DWORD flags)
{
    PolicyResult result;
    LPSTR usage = const_cast<LPSTR>(timeStamping ? szOID_PKIX_KP_TIMESTAMP_SIGNING : szOID_PKIX_KP_CODE_SIGNING);
    CERT_CHAIN_PARA para = {};
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = &usage;
    PCCERT_CHAIN_CONTEXT built = nullptr;
    // No revocation flags: revocation is not checked, as everywhere in the library.
    if (!CertGetCertificateChain(engine, leaf, when, helpers, &para, flags, nullptr, &built) || !built)
        return result;
    result.chain.reset(built);
    result.built = true;

    CERT_CHAIN_POLICY_PARA policy = {};
    policy.cbSize = sizeof policy;
    AUTHENTICODE_EXTRA_CERT_CHAIN_POLICY_PARA signing = {};
    signing.cbSize = sizeof signing;
    AUTHENTICODE_TS_EXTRA_CERT_CHAIN_POLICY_PARA stamping = {};
    stamping.cbSize = sizeof stamping;
    policy.pvExtraPolicyPara = timeStamping ? static_cast<void *>(&stamping) : static_cast<void *>(&signing);
    CERT_CHAIN_POLICY_STATUS status = {};
    status.cbSize = sizeof status;
    bool judged = CertVerifyCertificateChainPolicy(
        timeStamping ? CERT_CHAIN_POLICY_AUTHENTICODE_TS : CERT_CHAIN_POLICY_AUTHENTICODE, built, &policy, &status);
    // An engine without the time-stamping policy (Wine's) still has the base one; the
    // time-stamping usage was asked of the chain itself.
    if (!judged && timeStamping) {
        policy.pvExtraPolicyPara = nullptr;
        status = {};
        status.cbSize = sizeof status;
        judged = CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_BASE, built, &policy, &status);
        result.policy = "base policy with time-stamping usage";
    }
    if (!judged) {
        result.error = GetLastError() ? GetLastError() : static_cast<DWORD>(CERT_E_CHAINING);
        return result;
    }
    result.error = status.dwError ? status.dwError : statusError(built->TrustStatus.dwErrorStatus);
    return result;
}

} // namespace

bool systemChainVerdict(const std::string &leaf, const std::vector<std::string> &helpers,
                        const std::vector<std::string> &extraAnchors, const std::time_t *at, bool timeStamping,
                        SystemChainVerdict &verdict)
{
    const Certificate certificate(CertCreateCertificateContext(
        X509_ASN_ENCODING, reinterpret_cast<const BYTE *>(leaf.data()), static_cast<DWORD>(leaf.size())));
    // The extra anchors go with the helpers, so that a chain to one of them is built
    // whole and refused only for its root, which the second look below settles.
    std::vector<std::string> known = helpers;
    known.insert(known.end(), extraAnchors.begin(), extraAnchors.end());
    const Store extra = memoryStore(known);
    if (!certificate || !extra) {
        verdict.said = "the system cannot read the certificates";
        verdict.reason = "refused by the system: " + verdict.said;
        return true;
    }
    FILETIME when = {};
    FILETIME *whenPointer = nullptr;
    if (at && fileTime(*at, when))
        whenPointer = &when;

    const bool cacheOnly = offline.load();
    const DWORD start = GetTickCount();
    PolicyResult result = judge(systemEngine(cacheOnly), certificate.get(), extra.get(), whenPointer, timeStamping,
                                cacheOnly ? CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL : 0);
    if (GetTickCount() - start > slowBuildMs)
        offline.store(true);
    std::string own;

    // A root of the library's own (bundled, or in the `trust` folder) anchors a chain
    // for which the system has none: the same chain judged again with only those roots,
    // every other check of the system's still applying.
    const bool rootMissing = result.built
        && (result.error == static_cast<DWORD>(CERT_E_UNTRUSTEDROOT)
            || result.error == static_cast<DWORD>(CERT_E_CHAINING));
    if (rootMissing && !extraAnchors.empty()) {
        const Store anchors = memoryStore(extraAnchors);
        EngineConfig config = {};
        config.hExclusiveRoot = anchors.get();
        config.dwUrlRetrievalTimeout = fetchTimeoutMs;
        config.dwFlags = CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL;
        HCERTCHAINENGINE exclusive = anchors ? createEngine(config) : nullptr;
        if (exclusive) {
            const Engine owner(exclusive);
            PolicyResult second = judge(exclusive, certificate.get(), extra.get(), whenPointer, timeStamping,
                                        CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL);
            if (second.built && second.error == 0) {
                result = std::move(second);
                own = "the system has no root for this chain, one of the program's own anchors does: ";
            }
        }
    }
    const std::string policy = !result.policy.empty() ? result.policy
        : timeStamping                                ? "time-stamping policy"
                                                      : "Authenticode policy";
    const std::string how = "system chain engine, " + policy + ": " + own;
    if (!result.built) {
        verdict.said = how + "no chain: " + systemMessage(GetLastError());
        verdict.reason = "refused by the system: no chain";
        return true;
    }
    if (result.error == 0 && withdrawn(result.chain.get()))
        result.error = static_cast<DWORD>(TRUST_E_EXPLICIT_DISTRUST);
    verdict.trusted = result.error == 0;
    verdict.said = how + (verdict.trusted ? std::string("trusted") : "not trusted: " + systemMessage(result.error));
    if (!verdict.trusted)
        verdict.reason = reasonFor(result.error, timeStamping, at != nullptr);
    return true;
}

} // namespace vantoril
