#include "chain.h"

#include "anchors.h"
#include "chainengine.h"

#include <cstdint>
#include <memory>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace vantoril {

namespace {

struct ContextFree { void operator()(X509_STORE_CTX *c) const { X509_STORE_CTX_free(c); } };
struct BioFree { void operator()(BIO *b) const { BIO_free(b); } };

// The anchors for the callback below; per context, so concurrent checks stay apart.
int anchorsIndex()
{
    static const int index = X509_STORE_CTX_get_ex_new_index(0, nullptr, nullptr, nullptr, nullptr);
    return index;
}

// Windows takes a certificate without basic constraints as a CA; the oldest
// bundled root and the code-signing PCA under it are such certificates. Only
// chains that end in such a bundled root get that allowance.
int acceptLegacyCa(int ok, X509_STORE_CTX *context)
{
    if (ok || X509_STORE_CTX_get_error(context) != X509_V_ERR_INVALID_CA)
        return ok;
    const auto *anchors = static_cast<const Anchors *>(X509_STORE_CTX_get_ex_data(context, anchorsIndex()));
    X509 *certificate = X509_STORE_CTX_get_current_cert(context);
    STACK_OF(X509) *chain = X509_STORE_CTX_get0_chain(context);
    if (!anchors || !certificate || !chain || sk_X509_num(chain) < 2
        || (X509_get_extension_flags(certificate) & EXFLAG_BCONS))
        return ok;
    return anchors->isLegacyRoot(sk_X509_value(chain, sk_X509_num(chain) - 1)) ? 1 : ok;
}

std::string subjectLine(X509 *certificate)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || X509_NAME_print_ex(bio.get(), X509_get_subject_name(certificate), 0,
                                   XN_FLAG_ONELINE & ~ASN1_STRFLGS_ESC_MSB) < 0)
        return {};
    char *data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

std::string chainError(int error, bool timestamped)
{
    switch (error) {
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        return "self-signed";
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        return "untrusted root";
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return timestamped ? "expired at the timestamp's time" : "expired without a timestamp";
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return timestamped ? "not yet valid at the timestamp's time" : "not yet valid";
    case X509_V_ERR_INVALID_CA:
        return "issuer is not a CA";
    case X509_V_ERR_CERT_SIGNATURE_FAILURE:
        return "a certificate's signature does not verify";
    default:
        return X509_verify_cert_error_string(error);
    }
}

// The extended key usage, when the certificate has one, must name the usage.
bool allows(X509 *leaf, Usage usage)
{
    if (!(X509_get_extension_flags(leaf) & EXFLAG_XKUSAGE))
        return true;
    const std::uint32_t wanted = usage == Usage::CodeSigning ? XKU_CODE_SIGN : XKU_TIMESTAMP;
    return (X509_get_extended_key_usage(leaf) & wanted) != 0;
}

// The library's own check, with OpenSSL against the anchors.
ChainCheck verifyOwnChain(const Anchors &anchors, X509 *leaf, STACK_OF(X509) *untrusted, const std::time_t *at,
                          Usage usage)
{
    ChainCheck check;
    std::unique_ptr<X509_STORE_CTX, ContextFree> context(X509_STORE_CTX_new());
    if (!anchors.store() || !context || X509_STORE_CTX_init(context.get(), anchors.store(), leaf, untrusted) != 1
        || X509_STORE_CTX_set_ex_data(context.get(), anchorsIndex(), const_cast<Anchors *>(&anchors)) != 1) {
        ERR_clear_error();
        check.reason = "cannot set up the chain check";
        return check;
    }
    if (at)
        X509_VERIFY_PARAM_set_time(X509_STORE_CTX_get0_param(context.get()), *at);
    X509_STORE_CTX_set_verify_cb(context.get(), acceptLegacyCa);
    const bool verified = X509_verify_cert(context.get()) == 1;
    bool withdrawn = false;
    if (STACK_OF(X509) *chain = X509_STORE_CTX_get0_chain(context.get()))
        for (int i = 0; i < sk_X509_num(chain); ++i) {
            check.subjects.push_back(subjectLine(sk_X509_value(chain, i)));
            withdrawn = withdrawn || anchors.isDisallowed(sk_X509_value(chain, i));
        }
    if (check.subjects.empty())
        check.subjects.push_back(subjectLine(leaf));
    ERR_clear_error();
    if (!verified) {
        check.reason = chainError(X509_STORE_CTX_get_error(context.get()), at != nullptr);
        return check;
    }
    if (withdrawn) {
        check.reason = "a certificate of the chain is in the system's Disallowed store";
        return check;
    }
    if (!allows(leaf, usage)) {
        check.reason = usage == Usage::CodeSigning ? "no code-signing usage" : "no time-stamping usage";
        return check;
    }
    check.trusted = true;
    return check;
}

// DER of a certificate; empty when it cannot be encoded.
std::string derOf(X509 *certificate)
{
    unsigned char *der = nullptr;
    const int size = i2d_X509(certificate, &der);
    std::string bytes = size > 0 ? std::string(reinterpret_cast<const char *>(der), static_cast<std::size_t>(size))
                                 : std::string();
    OPENSSL_free(der);
    return bytes;
}

} // namespace

ChainCheck verifyChain(const Anchors &anchors, X509 *leaf, STACK_OF(X509) *untrusted, const std::time_t *at,
                       Usage usage)
{
    ChainCheck check = verifyOwnChain(anchors, leaf, untrusted, at, usage);
    std::vector<std::string> helpers;
    for (int i = 0; untrusted && i < sk_X509_num(untrusted); ++i)
        helpers.push_back(derOf(sk_X509_value(untrusted, i)));
    SystemChainVerdict system;
    if (!systemChainVerdict(derOf(leaf), helpers, anchors.ownAnchors(), at, usage == Usage::TimeStamping, system))
        return check;
    // Where the system has a chain engine, it decides. The chain's subjects stay ours; so
    // does the reason where both refuse, so that both systems word the same fault alike.
    check.system = system.said;
    if (system.trusted) {
        check.trusted = true;
        check.reason.clear();
    } else if (check.trusted) {
        check.trusted = false;
        check.reason = system.reason;
    }
    return check;
}

} // namespace vantoril
