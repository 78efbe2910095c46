// Adds a DER certificate to, or removes it from, one of the current user's system
// certificate stores, as an administrator's tools or group policy would, or limits
// the purposes the store allows it (as the certificate console's properties do; no
// OID lifts the limit):
//   certstore add|remove ROOT|CA|Disallowed FILE.der
//   certstore usage ROOT FILE.der [OID...]
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

// The very certificate, by its SHA-1 thumbprint: the tests' certificates are made anew on
// every run with the same issuer and serial number, which is all CERT_FIND_EXISTING compares.
static PCCERT_CONTEXT findExact(HCERTSTORE store, std::vector<unsigned char> &der)
{
    BYTE hash[20];
    DWORD size = sizeof hash;
    if (!CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), hash, &size))
        return nullptr;
    CRYPT_HASH_BLOB blob = {size, hash};
    return CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
}

int wmain(int argc, wchar_t *argv[])
{
    if (argc < 4 || (argc > 4 && wcscmp(argv[1], L"usage") != 0))
        return 2;
    const bool add = wcscmp(argv[1], L"add") == 0;
    FILE *file = _wfopen(argv[3], L"rb");
    if (!file)
        return 1;
    std::vector<unsigned char> der(1 << 16);
    der.resize(std::fread(der.data(), 1, der.size(), file));
    std::fclose(file);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, argv[2]);
    if (!store)
        return 1;
    PCCERT_CONTEXT certificate = nullptr;
    BOOL ok = FALSE;
    if (wcscmp(argv[1], L"usage") == 0) {
        certificate = findExact(store, der);
        std::vector<std::string> oids;
        for (int i = 4; i < argc; ++i)
            oids.emplace_back(argv[i], argv[i] + wcslen(argv[i]));
        std::vector<LPSTR> pointers;
        for (std::string &oid : oids)
            pointers.push_back(&oid[0]);
        CERT_ENHKEY_USAGE usage = {static_cast<DWORD>(pointers.size()), pointers.data()};
        ok = certificate && CertSetEnhancedKeyUsage(certificate, pointers.empty() ? nullptr : &usage);
        if (certificate)
            CertFreeCertificateContext(certificate);
    } else if (add) {
        ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    } else {
        certificate = findExact(store, der);
        ok = !certificate || CertDeleteCertificateFromStore(certificate);
        // Wine forgets a deletion from a registry store when the store closes: the
        // certificate's key goes too (on Windows it is gone already).
        BYTE hash[20];
        DWORD size = sizeof hash;
        if (CryptHashCertificate(0, CALG_SHA1, 0, der.data(), static_cast<DWORD>(der.size()), hash, &size)) {
            std::wstring key = std::wstring(L"Software\\Microsoft\\SystemCertificates\\") + argv[2] + L"\\Certificates\\";
            for (DWORD i = 0; i < size; ++i) {
                wchar_t digits[3];
                swprintf(digits, 3, L"%02X", hash[i]);
                key += digits;
            }
            RegDeleteKeyW(HKEY_CURRENT_USER, key.c_str());
        }
    }
    CertCloseStore(store, 0);
    return ok ? 0 : 1;
}
