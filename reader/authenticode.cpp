#include "authenticode.h"

#include "anchors.h"
#include "system.h"
#include "text.h"

#include <algorithm>
#include <ctime>
#include <limits>
#include <memory>
#include <openssl/asn1.h>
#include <openssl/bio.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

namespace vantoril {

namespace {

// SpcIndirectDataContent, the signed content of every Authenticode signature.
constexpr char spcIndirectDataOid[] = "1.3.6.1.4.1.311.2.1.4";

constexpr std::uint8_t derSequence = 0x30;
constexpr std::uint8_t derOctetString = 0x04;
constexpr std::uint8_t derObjectIdentifier = 0x06;

struct Pkcs7Free { void operator()(PKCS7 *p) const { PKCS7_free(p); } };
struct BioFree { void operator()(BIO *b) const { BIO_free(b); } };
struct StoreFree { void operator()(X509_STORE *s) const { X509_STORE_free(s); } };
struct ObjectFree { void operator()(ASN1_OBJECT *o) const { ASN1_OBJECT_free(o); } };
struct SignersFree { void operator()(STACK_OF(X509) *s) const { sk_X509_free(s); } };
struct CertificatesFree { void operator()(STACK_OF(X509) *s) const { sk_X509_pop_free(s, X509_free); } };

// One DER element: definite lengths only, as DER requires.
struct Element
{
    std::uint8_t tag = 0;
    const std::uint8_t *begin = nullptr;
    const std::uint8_t *content = nullptr;
    std::size_t length = 0;
    std::size_t total = 0;
};

bool readElement(const std::uint8_t *data, std::size_t size, Element &element)
{
    if (size < 2)
        return false;
    element.tag = data[0];
    std::size_t header = 2;
    std::size_t length = data[1];
    if (length & 0x80) {
        const std::size_t bytes = length & 0x7F;
        if (bytes == 0 || bytes > 4 || size < 2 + bytes)
            return false;
        length = 0;
        for (std::size_t i = 0; i < bytes; ++i)
            length = (length << 8) | data[2 + i];
        header += bytes;
    }
    if (length > size - header)
        return false;
    element.begin = data;
    element.content = data + header;
    element.length = length;
    element.total = header + length;
    return true;
}

bool child(const Element &parent, std::size_t skip, Element &element)
{
    const std::uint8_t *position = parent.content;
    std::size_t left = parent.length;
    for (std::size_t i = 0;; ++i) {
        if (!readElement(position, left, element))
            return false;
        if (i == skip)
            return true;
        position += element.total;
        left -= element.total;
    }
}

std::u16string nameEntry(X509_NAME *name, int nid)
{
    const int index = X509_NAME_get_index_by_NID(name, nid, -1);
    if (index < 0)
        return {};
    unsigned char *utf8 = nullptr;
    const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, index)));
    if (length < 0)
        return {};
    const std::string text(reinterpret_cast<const char *>(utf8), static_cast<std::size_t>(length));
    OPENSSL_free(utf8);
    return trimmed(utf8ToUtf16(text));
}

// Narrows the window around `now` to the validity boundaries of the certificates: a
// certificate turns valid at its notBefore and expired one second after its notAfter.
void narrowToBoundaries(STACK_OF(X509) *certificates, std::time_t now, ParseWindow &window)
{
    for (int i = 0; i < sk_X509_num(certificates); ++i) {
        X509 *certificate = sk_X509_value(certificates, i);
        const ASN1_TIME *limits[] = {X509_get0_notBefore(certificate), X509_get0_notAfter(certificate)};
        for (int which = 0; which < 2; ++which) {
            std::tm parts{};
            if (!limits[which] || ASN1_TIME_to_tm(limits[which], &parts) != 1) {
                // A time we cannot place might be any time: nothing may be kept.
                window.until = window.from;
                return;
            }
            const std::time_t boundary = utcSeconds(parts) + (which == 1 ? 1 : 0);
            if (boundary > now)
                window.until = std::min(window.until, boundary);
            else
                window.from = std::max(window.from, boundary);
        }
    }
}

// The times a verdict made at `now` holds. A verdict checked at a timestamp's time does
// not depend on now; one checked at now holds until a certificate of the signature, or
// any certificate the store has seen, crosses a validity boundary.
ParseWindow verdictWindow(const Anchors &anchors, PKCS7 *signedData, const TrustVerdict &trust,
                                     std::time_t now)
{
    ParseWindow window{std::numeric_limits<std::time_t>::min(), std::numeric_limits<std::time_t>::max()};
    if (trust.timestamped)
        return window;
    narrowToBoundaries(signedData->d.sign->cert, now, window);
    std::unique_ptr<STACK_OF(X509), CertificatesFree> stored(
        anchors.store() ? X509_STORE_get1_all_certs(anchors.store()) : nullptr);
    if (!stored) {
        window.until = window.from;
        return window;
    }
    narrowToBoundaries(stored.get(), now, window);
    return window;
}

} // namespace

bool parseSignatureAt(const std::uint8_t *data, std::size_t size, const Anchors &anchors, std::time_t now,
                      Signature &signature, std::string &error, ParseWindow &window)
{
    const unsigned char *cursor = data;
    std::unique_ptr<PKCS7, Pkcs7Free> p7(d2i_PKCS7(nullptr, &cursor, static_cast<long>(size)));
    if (!p7) {
        error = "signature is not PKCS#7";
        return false;
    }
    if (!PKCS7_type_is_signed(p7.get()) || !p7->d.sign || !p7->d.sign->contents) {
        error = "signature is not SignedData";
        return false;
    }
    PKCS7 *contents = p7->d.sign->contents;
    std::unique_ptr<ASN1_OBJECT, ObjectFree> spcOid(OBJ_txt2obj(spcIndirectDataOid, 1));
    ASN1_TYPE *other = contents->d.other;
    if (!spcOid || !contents->type || OBJ_cmp(contents->type, spcOid.get()) != 0 || !other
        || other->type != V_ASN1_SEQUENCE || !other->value.sequence) {
        error = "signed content is not SpcIndirectDataContent";
        return false;
    }

    // SpcIndirectDataContent ::= SEQUENCE { data, messageDigest DigestInfo }
    // DigestInfo ::= SEQUENCE { AlgorithmIdentifier, digest OCTET STRING }
    Element indirect, digestInfo, algorithm, algorithmOid, digest;
    const ASN1_STRING *encoded = other->value.sequence;
    if (!readElement(encoded->data, static_cast<std::size_t>(encoded->length), indirect) || indirect.tag != derSequence
        || !child(indirect, 1, digestInfo) || digestInfo.tag != derSequence || !child(digestInfo, 0, algorithm)
        || algorithm.tag != derSequence || !child(algorithm, 0, algorithmOid) || algorithmOid.tag != derObjectIdentifier
        || !child(digestInfo, 1, digest) || digest.tag != derOctetString) {
        error = "malformed SpcIndirectDataContent";
        return false;
    }
    const unsigned char *oidCursor = algorithmOid.begin;
    std::unique_ptr<ASN1_OBJECT, ObjectFree> digestOid(
        d2i_ASN1_OBJECT(nullptr, &oidCursor, static_cast<long>(algorithmOid.total)));
    const EVP_MD *digestType = digestOid ? EVP_get_digestbyobj(digestOid.get()) : nullptr;
    if (!digestType || static_cast<std::size_t>(EVP_MD_get_size(digestType)) != digest.length) {
        error = "unsupported digest algorithm";
        return false;
    }

    // PKCS7_verify leaks its copy of the data when it cannot set up a digest, so refuse
    // those first. It fetches each by name from the providers: a digest OpenSSL knows
    // but no loaded provider implements (MD4, for one) fails there too.
    STACK_OF(X509_ALGOR) *digests = p7->d.sign->md_algs;
    for (int i = 0; i < sk_X509_ALGOR_num(digests); ++i) {
        char digestName[80];
        EVP_MD *fetched = nullptr;
        if (OBJ_obj2txt(digestName, sizeof digestName, sk_X509_ALGOR_value(digests, i)->algorithm, 0) > 0)
            fetched = EVP_MD_fetch(nullptr, digestName, nullptr);
        EVP_MD_free(fetched);
        if (!fetched) {
            error = "unsupported digest algorithm";
            return false;
        }
    }

    // The signer's messageDigest covers the content of SpcIndirectDataContent
    // without its own tag and length, so that is what is passed as the data.
    std::unique_ptr<BIO, BioFree> content(BIO_new_mem_buf(indirect.content, static_cast<int>(indirect.length)));
    std::unique_ptr<X509_STORE, StoreFree> store(X509_STORE_new());
    if (!content || !store) {
        error = "out of memory";
        return false;
    }
    const int verified = PKCS7_verify(p7.get(), nullptr, store.get(), content.get(), nullptr,
                                      PKCS7_NOVERIFY | PKCS7_BINARY);
    if (verified != 1) {
        error = "PKCS#7 signature does not verify";
        return false;
    }
    // The signer certificate is the one named by issuer and serial, not simply the first.
    std::unique_ptr<STACK_OF(X509), SignersFree> signers(PKCS7_get0_signers(p7.get(), nullptr, 0));
    X509 *signer = signers && sk_X509_num(signers.get()) > 0 ? sk_X509_value(signers.get(), 0) : nullptr;
    if (!signer) {
        error = "signing certificate missing";
        return false;
    }
    X509_NAME *subject = X509_get_subject_name(signer);
    std::u16string name = nameEntry(subject, NID_commonName);
    if (name.empty())
        name = nameEntry(subject, NID_organizationName);

    signature.digestType = digestType;
    signature.fileDigest.assign(digest.content, digest.content + digest.length);
    signature.signerName = name;
    signature.encodedSize = static_cast<std::size_t>(cursor - data);
    signature.trust = checkTrust(anchors, p7.get(), signer);
    const ParseWindow span = verdictWindow(anchors, p7.get(), signature.trust, now);
    signature.trust.validFrom = span.from;
    signature.trust.validUntil = span.until;
    window.from = std::max(window.from, span.from);
    window.until = std::min(window.until, span.until);
    return true;
}

void prepareCrypto() noexcept
{
    // Marks the configuration as loaded; later implicit requests to load it do nothing.
    OPENSSL_init_crypto(OPENSSL_INIT_NO_LOAD_CONFIG, nullptr);
}

void releaseThreadState() noexcept
{
    OPENSSL_thread_stop();
}

} // namespace vantoril
