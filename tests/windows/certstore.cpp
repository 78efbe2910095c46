// Adds a DER certificate to, or removes it from, one of the current user's system
// certificate stores, as an administrator's tools or group policy would:
//   certstore add|remove ROOT|Disallowed FILE.der
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <vector>

int wmain(int argc, wchar_t *argv[])
{
    if (argc != 4)
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
    if (add) {
        ok = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()),
                                              CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    } else {
        PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
        if (wanted)
            certificate = CertFindCertificateInStore(store, X509_ASN_ENCODING, 0, CERT_FIND_EXISTING, wanted, nullptr);
        ok = !certificate || CertDeleteCertificateFromStore(certificate);
        if (wanted)
            CertFreeCertificateContext(wanted);
    }
    CertCloseStore(store, 0);
    return ok ? 0 : 1;
}
