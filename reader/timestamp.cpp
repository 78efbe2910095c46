#include "timestamp.h"

#include "anchors.h"
#include "chain.h"
#include "system.h"

#include <cstring>
#include <memory>
#include <openssl/asn1.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/ts.h>
#include <openssl/x509.h>

namespace vantoril {

namespace {

// SPC_RFC3161_OBJID: an unsigned attribute holding an RFC 3161 timestamp token.
constexpr char rfc3161Oid[] = "1.3.6.1.4.1.311.3.3.1";

struct SignerInfoFree { void operator()(PKCS7_SIGNER_INFO *s) const { PKCS7_SIGNER_INFO_free(s); } };
struct CmsFree { void operator()(CMS_ContentInfo *c) const { CMS_ContentInfo_free(c); } };
struct CertsPopFree { void operator()(STACK_OF(X509) *s) const { sk_X509_pop_free(s, X509_free); } };
struct TstInfoFree { void operator()(TS_TST_INFO *t) const { TS_TST_INFO_free(t); } };
struct ObjectFree { void operator()(ASN1_OBJECT *o) const { ASN1_OBJECT_free(o); } };
struct StoreFree { void operator()(X509_STORE *s) const { X509_STORE_free(s); } };
struct MdContextFree { void operator()(EVP_MD_CTX *c) const { EVP_MD_CTX_free(c); } };
struct CertsFree { void operator()(STACK_OF(X509) *s) const { sk_X509_free(s); } };
struct OpenSslFree { void operator()(unsigned char *p) const { OPENSSL_free(p); } };

bool toTime(const ASN1_TIME *asn1, std::time_t &when)
{
    std::tm parts{};
    if (!asn1 || ASN1_TIME_to_tm(asn1, &parts) != 1)
        return false;
    when = utcSeconds(parts);
    return true;
}

bool digestOf(const EVP_MD *type, const ASN1_OCTET_STRING *data, std::vector<unsigned char> &digest)
{
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!type || !data || EVP_Digest(data->data, static_cast<std::size_t>(data->length), value, &size, type, nullptr) != 1)
        return false;
    digest.assign(value, value + size);
    return true;
}

bool sameBytes(const std::vector<unsigned char> &digest, const ASN1_OCTET_STRING *expected)
{
    return expected && digest.size() == static_cast<std::size_t>(expected->length)
        && std::memcmp(digest.data(), expected->data, digest.size()) == 0;
}

// The helpers for a timestamp's chain: the token's own bag, then the signature's.
std::unique_ptr<STACK_OF(X509), CertsFree> helpers(STACK_OF(X509) *first, STACK_OF(X509) *second)
{
    std::unique_ptr<STACK_OF(X509), CertsFree> all(sk_X509_new_null());
    for (STACK_OF(X509) *bag : {first, second})
        for (int i = 0; all && bag && i < sk_X509_num(bag); ++i)
            sk_X509_push(all.get(), sk_X509_value(bag, i));
    return all;
}

void checkChain(const Anchors &anchors, X509 *signer, STACK_OF(X509) *untrusted, Timestamp &timestamp)
{
    const ChainCheck check = verifyChain(anchors, signer, untrusted, &timestamp.time, Usage::TimeStamping);
    timestamp.chain = check.subjects;
    timestamp.system = check.system;
    if (check.trusted)
        timestamp.verified = true;
    else
        timestamp.error = "timestamp " + check.reason;
}

// RFC 3161: a SignedData over TSTInfo whose message imprint is the digest of
// the signer's signature value.
void verifyToken(const Anchors &anchors, PKCS7 *signedData, const ASN1_TYPE *value,
                 const ASN1_OCTET_STRING *signatureValue, Timestamp &timestamp)
{
    timestamp.kind = "RFC 3161";
    if (!value || value->type != V_ASN1_SEQUENCE || !value->value.sequence) {
        timestamp.error = "timestamp token malformed";
        return;
    }
    // Read as CMS: OpenSSL's PKCS#7 reader refuses some tokens in the wild (a version 3
    // SignedData from Microsoft's time-stamp service, for one).
    const unsigned char *cursor = value->value.sequence->data;
    std::unique_ptr<CMS_ContentInfo, CmsFree> token(
        d2i_CMS_ContentInfo(nullptr, &cursor, value->value.sequence->length));
    if (!token || OBJ_obj2nid(CMS_get0_eContentType(token.get())) != NID_id_smime_ct_TSTInfo) {
        timestamp.error = "timestamp token malformed";
        return;
    }
    std::unique_ptr<X509_STORE, StoreFree> empty(X509_STORE_new());
    if (!empty
        || CMS_verify(token.get(), signedData->d.sign->cert, empty.get(), nullptr, nullptr,
                      CMS_NO_SIGNER_CERT_VERIFY | CMS_BINARY) != 1) {
        timestamp.error = "timestamp signature does not verify";
        return;
    }
    ASN1_OCTET_STRING **content = CMS_get0_content(token.get());
    const unsigned char *infoCursor = content && *content ? (*content)->data : nullptr;
    std::unique_ptr<TS_TST_INFO, TstInfoFree> info(
        infoCursor ? d2i_TS_TST_INFO(nullptr, &infoCursor, (*content)->length) : nullptr);
    if (!info) {
        timestamp.error = "timestamp token malformed";
        return;
    }
    TS_MSG_IMPRINT *imprint = TS_TST_INFO_get_msg_imprint(info.get());
    X509_ALGOR *algorithm = imprint ? TS_MSG_IMPRINT_get_algo(imprint) : nullptr;
    std::vector<unsigned char> digest;
    if (!algorithm || !digestOf(EVP_get_digestbyobj(algorithm->algorithm), signatureValue, digest)
        || !sameBytes(digest, TS_MSG_IMPRINT_get_msg(imprint))) {
        timestamp.error = "timestamp covers another signature";
        return;
    }
    if (!toTime(TS_TST_INFO_get_time(info.get()), timestamp.time)) {
        timestamp.error = "timestamp time malformed";
        return;
    }
    std::unique_ptr<STACK_OF(X509), CertsFree> signers(CMS_get0_signers(token.get()));
    X509 *signer = signers && sk_X509_num(signers.get()) > 0 ? sk_X509_value(signers.get(), 0) : nullptr;
    std::unique_ptr<STACK_OF(X509), CertsPopFree> tokenCertificates(CMS_get1_certs(token.get()));
    auto untrusted = helpers(tokenCertificates.get(), signedData->d.sign->cert);
    if (!signer || !untrusted) {
        timestamp.error = "timestamp signer missing";
        return;
    }
    checkChain(anchors, signer, untrusted.get(), timestamp);
}

// Authenticode countersignature: a SignerInfo whose messageDigest is the
// digest of the signer's signature value, signed by a certificate of the bag.
void verifyCountersignature(const Anchors &anchors, PKCS7 *signedData, const ASN1_TYPE *value,
                            const ASN1_OCTET_STRING *signatureValue, Timestamp &timestamp)
{
    timestamp.kind = "Authenticode countersignature";
    if (!value || value->type != V_ASN1_SEQUENCE || !value->value.sequence) {
        timestamp.error = "countersignature malformed";
        return;
    }
    const unsigned char *cursor = value->value.sequence->data;
    std::unique_ptr<PKCS7_SIGNER_INFO, SignerInfoFree> counter(
        d2i_PKCS7_SIGNER_INFO(nullptr, &cursor, value->value.sequence->length));
    if (!counter || !counter->issuer_and_serial || !counter->digest_alg || !counter->enc_digest
        || !counter->auth_attr) {
        timestamp.error = "countersignature malformed";
        return;
    }
    X509 *signer = X509_find_by_issuer_and_serial(signedData->d.sign->cert, counter->issuer_and_serial->issuer,
                                                  counter->issuer_and_serial->serial);
    const EVP_MD *type = EVP_get_digestbyobj(counter->digest_alg->algorithm);
    std::vector<unsigned char> digest;
    if (!signer || !type) {
        timestamp.error = !signer ? "countersigner missing" : "countersignature digest unsupported";
        return;
    }
    if (!digestOf(type, signatureValue, digest) || !sameBytes(digest, PKCS7_digest_from_attributes(counter->auth_attr))) {
        timestamp.error = "countersignature covers another signature";
        return;
    }
    // The signature covers the DER of the authenticated attributes as a SET OF.
    unsigned char *encoded = nullptr;
    const int encodedSize = ASN1_item_i2d(reinterpret_cast<ASN1_VALUE *>(counter->auth_attr), &encoded,
                                          ASN1_ITEM_rptr(PKCS7_ATTR_VERIFY));
    std::unique_ptr<unsigned char, OpenSslFree> attributes(encoded);
    std::unique_ptr<EVP_MD_CTX, MdContextFree> context(EVP_MD_CTX_new());
    if (encodedSize <= 0 || !context
        || EVP_DigestVerifyInit(context.get(), nullptr, type, nullptr, X509_get0_pubkey(signer)) != 1
        || EVP_DigestVerify(context.get(), counter->enc_digest->data,
                            static_cast<std::size_t>(counter->enc_digest->length), attributes.get(),
                            static_cast<std::size_t>(encodedSize)) != 1) {
        timestamp.error = "countersignature does not verify";
        return;
    }
    const ASN1_TYPE *signingTime = PKCS7_get_signed_attribute(counter.get(), NID_pkcs9_signingTime);
    if (!signingTime || (signingTime->type != V_ASN1_UTCTIME && signingTime->type != V_ASN1_GENERALIZEDTIME)
        || !toTime(signingTime->value.utctime, timestamp.time)) {
        timestamp.error = "countersignature has no signing time";
        return;
    }
    checkChain(anchors, signer, signedData->d.sign->cert, timestamp);
}

} // namespace

Timestamp findTimestamp(const Anchors &anchors, PKCS7 *signedData)
{
    Timestamp timestamp;
    STACK_OF(PKCS7_SIGNER_INFO) *signerInfos = PKCS7_get_signer_info(signedData);
    PKCS7_SIGNER_INFO *signerInfo = sk_PKCS7_SIGNER_INFO_num(signerInfos) > 0
        ? sk_PKCS7_SIGNER_INFO_value(signerInfos, 0) : nullptr;
    if (!signerInfo || !signerInfo->enc_digest || !signerInfo->unauth_attr)
        return timestamp;
    std::unique_ptr<ASN1_OBJECT, ObjectFree> rfc3161(OBJ_txt2obj(rfc3161Oid, 1));
    STACK_OF(X509_ATTRIBUTE) *attributes = signerInfo->unauth_attr;
    // The first timestamp that verifies counts; otherwise the last one's reason is kept.
    for (int i = 0; i < sk_X509_ATTRIBUTE_num(attributes); ++i) {
        X509_ATTRIBUTE *attribute = sk_X509_ATTRIBUTE_value(attributes, i);
        ASN1_OBJECT *type = X509_ATTRIBUTE_get0_object(attribute);
        const bool token = rfc3161 && OBJ_cmp(type, rfc3161.get()) == 0;
        if (!token && OBJ_obj2nid(type) != NID_pkcs9_countersignature)
            continue;
        Timestamp candidate;
        candidate.present = true;
        const ASN1_TYPE *value = X509_ATTRIBUTE_get0_type(attribute, 0);
        if (token)
            verifyToken(anchors, signedData, value, signerInfo->enc_digest, candidate);
        else
            verifyCountersignature(anchors, signedData, value, signerInfo->enc_digest, candidate);
        timestamp = candidate;
        if (timestamp.verified)
            break;
    }
    ERR_clear_error();
    return timestamp;
}

} // namespace vantoril
