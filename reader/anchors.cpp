#include "anchors.h"

#include "folderaccess.h"
#include "system.h"
#include "text.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

namespace vantoril {

// The bundled roots as PEM text, generated at build time from reader/anchors/.
extern const char bundledAnchorsPem[];

namespace {

// An administrator's folder holds a few roots; anything much larger is not a certificate.
constexpr std::size_t certificateFileLimit = 1 << 20;
constexpr std::size_t folderEntryLimit = 1000;

struct BioFree { void operator()(BIO *b) const { BIO_free(b); } };

void keepDer(X509 *certificate, std::vector<std::string> *ders)
{
    unsigned char *der = nullptr;
    const int size = ders ? i2d_X509(certificate, &der) : 0;
    if (size > 0)
        ders->emplace_back(reinterpret_cast<const char *>(der), static_cast<std::size_t>(size));
    OPENSSL_free(der);
}

// Adds every certificate of a PEM or DER buffer, and its DER to ders when given; returns how many.
int addCertificates(X509_STORE *store, const char *data, int size, std::vector<X509 *> *noBasicConstraints,
                    std::vector<std::string> *ders)
{
    int added = 0;
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(data, size));
    if (!bio)
        return 0;
    while (X509 *certificate = PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr)) {
        keepDer(certificate, ders);
        if (X509_STORE_add_cert(store, certificate) == 1)
            ++added;
        if (noBasicConstraints && !(X509_get_extension_flags(certificate) & EXFLAG_BCONS))
            noBasicConstraints->push_back(certificate);
        else
            X509_free(certificate);
    }
    ERR_clear_error();
    if (added == 0) {
        const auto *cursor = reinterpret_cast<const unsigned char *>(data);
        if (X509 *certificate = d2i_X509(nullptr, &cursor, size)) {
            keepDer(certificate, ders);
            if (X509_STORE_add_cert(store, certificate) == 1)
                ++added;
            X509_free(certificate);
        }
        ERR_clear_error();
    }
    return added;
}

} // namespace

const Anchors &Anchors::shared()
{
    static std::once_flag once;
    static Anchors *instance = nullptr;
    // Kept for the life of the process: the library may be called until it exits.
    std::call_once(once, [] {
        const std::string folder = libraryFolder();
        instance = new Anchors(folder.empty() ? std::string() : folder + "/trust");
    });
    return *instance;
}

Anchors::Anchors(const std::string &trustFolder, bool bundled)
{
    anchors = X509_STORE_new();
    if (!anchors)
        return;
    addSystemStore();
    if (bundled)
        addBundled();
    addFolder(trustFolder);
    takeFingerprint();
}

Anchors::~Anchors()
{
    for (X509 *root : legacyRoots)
        X509_free(root);
    for (X509 *certificate : disallowed)
        X509_free(certificate);
    X509_STORE_free(anchors);
}

bool Anchors::isLegacyRoot(X509 *certificate) const
{
    for (X509 *root : legacyRoots)
        if (X509_cmp(root, certificate) == 0)
            return true;
    return false;
}

bool Anchors::isDisallowed(X509 *certificate) const
{
    for (X509 *withdrawn : disallowed)
        if (X509_cmp(withdrawn, certificate) == 0)
            return true;
    return false;
}

// OpenSSL's default paths, without the directory-listing lookup that
// X509_STORE_set_default_paths adds: that one lists the whole folder on every
// issuer it looks for. The bundle file holds the system store in full; the
// hashed folder is looked up by name for anything added beside it.
void Anchors::addSystemStore()
{
    // Certificates the system's administrators withdrew are never trusted, whoever else lists them.
    std::vector<std::string> withdrawn;
    if (systemStoreCertificates("Disallowed", withdrawn)) {
        for (const std::string &der : withdrawn) {
            const auto *cursor = reinterpret_cast<const unsigned char *>(der.data());
            if (X509 *certificate = d2i_X509(nullptr, &cursor, static_cast<long>(der.size())))
                disallowed.push_back(certificate);
        }
        ERR_clear_error();
        loadNotes.push_back("system Disallowed store: " + std::to_string(disallowed.size()) + " certificates");
    }
    // Where the system keeps its own store of roots (and its administrators add theirs
    // there, as group policy does), that store is the system's trust.
    std::vector<std::string> roots;
    if (systemStoreCertificates("ROOT", roots)) {
        int added = 0;
        for (const std::string &der : roots)
            added += addCertificates(anchors, der.data(), static_cast<int>(der.size()), nullptr, nullptr);
        loadNotes.push_back("system ROOT store: " + std::to_string(added) + " certificates");
        return;
    }
    const char *file = std::getenv(X509_get_default_cert_file_env());
    const char *folder = std::getenv(X509_get_default_cert_dir_env());
    if (!file || !*file)
        file = X509_get_default_cert_file();
    if (!folder || !*folder)
        folder = X509_get_default_cert_dir();
    X509_LOOKUP *bundle = X509_STORE_add_lookup(anchors, X509_LOOKUP_file());
    const bool loaded = bundle && X509_LOOKUP_load_file(bundle, file, X509_FILETYPE_PEM) == 1;
    X509_LOOKUP *hashed = X509_STORE_add_lookup(anchors, X509_LOOKUP_hash_dir());
    if (hashed && X509_LOOKUP_add_dir(hashed, folder, X509_FILETYPE_PEM) == 1)
        lookupFolder = folder;
    ERR_clear_error();
    loadNotes.push_back(std::string("system CA store: ") + (loaded ? file : "bundle missing") + ", " + folder);
}

void Anchors::addBundled()
{
    const std::string pem(bundledAnchorsPem);
    const int added = addCertificates(anchors, pem.data(), static_cast<int>(pem.size()), &legacyRoots, &ownAnchorsDer);
    loadNotes.push_back(std::to_string(added) + " bundled roots");
}

void Anchors::addFolder(const std::string &folder)
{
    if (folder.empty())
        return;
    const std::vector<std::string> files = smallFilesIn(folder, certificateFileLimit, folderEntryLimit);
    // Whoever may write the folder, or the program folder around it, could plant a root
    // there and have their own signer shown as a vendor.
    if (!files.empty()) {
        const std::size_t separator = folder.find_last_of("/\\");
        const std::string programFolder = separator == std::string::npos ? std::string(".") : folder.substr(0, separator);
        for (const std::string &place : {programFolder, folder}) {
            const std::string reason = folderRefusal(FolderUse::Program, place);
            if (!reason.empty()) {
                loadNotes.push_back("not used: " + folder + " (" + place + " " + reason + ")");
                return;
            }
        }
    }
    int added = 0;
    for (const std::string &content : files)
        added += addCertificates(anchors, content.data(), static_cast<int>(content.size()), nullptr, &ownAnchorsDer);
    loadNotes.push_back(std::to_string(added) + " certificates from " + folder);
}

void Anchors::takeFingerprint()
{
    std::vector<std::string> parts;
    const auto addCertificate = [&parts](const char *kind, X509 *certificate) {
        unsigned char digest[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (X509_digest(certificate, EVP_sha256(), digest, &size) == 1)
            parts.push_back(kind + lowerHex(digest, size));
    };
    if (anchors) {
        STACK_OF(X509) *all = X509_STORE_get1_all_certs(anchors);
        for (int i = 0; i < sk_X509_num(all); ++i)
            addCertificate("anchor ", sk_X509_value(all, i));
        sk_X509_pop_free(all, X509_free);
    }
    for (X509 *certificate : disallowed)
        addCertificate("withdrawn ", certificate);
    // Sorted, so that the order in which the places were read does not matter.
    std::sort(parts.begin(), parts.end());
    if (!lookupFolder.empty())
        parts.push_back("folder " + folderStamp(lookupFolder));
    std::string all;
    for (const std::string &part : parts)
        all += part + "\n";
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (EVP_Digest(all.data(), all.size(), digest, &size, EVP_sha256(), nullptr) == 1)
        anchorsFingerprint = lowerHex(digest, size);
    ERR_clear_error();
}

} // namespace vantoril
