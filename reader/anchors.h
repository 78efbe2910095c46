#ifndef VANTORIL_ANCHORS_H
#define VANTORIL_ANCHORS_H

#include <string>
#include <vector>

typedef struct x509_st X509;
typedef struct x509_store_st X509_STORE;

namespace vantoril {

// The certificates a signature may chain to: the system's CA store (on Windows its
// ROOT store, less what its Disallowed store withdraws), the
// bundled code-signing roots Windows trusts and the system lacks, and every
// certificate file in the folder `trust` beside the library. Read-only once
// built, so any number of threads may verify against it at once.
class Anchors
{
public:
    // Built on first use from the places above, then kept for the process.
    static const Anchors &shared();

    // An anchor set of the system store and the given folder only (tests, fuzzing).
    explicit Anchors(const std::string &trustFolder, bool bundled = true);
    ~Anchors();
    Anchors(const Anchors &) = delete;
    Anchors &operator=(const Anchors &) = delete;

    X509_STORE *store() const { return anchors; }
    // One of the bundled roots old enough to predate basic constraints.
    bool isLegacyRoot(X509 *certificate) const;
    // In the system's store of certificates it never trusts.
    bool isDisallowed(X509 *certificate) const;
    // The bundled roots and those of the `trust` folder (DER): anchors of the library's
    // own, which the system's chain engine is given beside its own roots.
    const std::vector<std::string> &ownAnchors() const { return ownAnchorsDer; }
    // What was loaded, for the explain output.
    const std::vector<std::string> &notes() const { return loadNotes; }
    // SHA-256 in hex over every anchor and withdrawn certificate loaded, and over the
    // listing of the system folder whose certificates are looked up on demand: equal
    // fingerprints mean equal verdicts for the same signature at the same time.
    const std::string &fingerprint() const { return anchorsFingerprint; }

private:
    void addSystemStore();
    void addBundled();
    void addFolder(const std::string &folder);
    void takeFingerprint();

    X509_STORE *anchors = nullptr;
    std::vector<X509 *> legacyRoots;
    std::vector<X509 *> disallowed;
    std::vector<std::string> loadNotes;
    std::vector<std::string> ownAnchorsDer;
    // The system folder searched by certificate hash when an issuer is needed.
    std::string lookupFolder;
    std::string anchorsFingerprint;
};

} // namespace vantoril

#endif
