// Trusts a test CA in the current Wine prefix: removes the test CAs of earlier runs from the
// "Root" store, then adds the given DER certificate.
// usage: add_root_cert.exe CA.der
#include <windows.h>

#include <wincrypt.h>

#include <cstdio>
#include <string>
#include <vector>

#include "base/unique_handle.h"

namespace {

void removeEarlierTestCas() {
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root");
    if (!store) return;
    // Collect first, delete afterwards: deleting the context that the enumeration stands on
    // makes Wine's enumeration start over endlessly.
    std::vector<PCCERT_CONTEXT> earlier;
    PCCERT_CONTEXT certificate = nullptr;
    while ((certificate = CertEnumCertificatesInStore(store, certificate)) != nullptr) {
        wchar_t name[256] = {};
        CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name, 256);
        if (std::wstring(name).rfind(L"Varnhold Test CA", 0) == 0) {
            earlier.push_back(CertDuplicateCertificateContext(certificate));
        }
    }
    for (PCCERT_CONTEXT old : earlier) CertDeleteCertificateFromStore(old);
    CertCloseStore(store, 0);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: add_root_cert.exe CA.der\n");
        return 2;
    }
    UniqueFile file(_wfopen(argv[1], L"rb"));
    if (!file) {
        std::fprintf(stderr, "cannot open the certificate\n");
        return 1;
    }
    std::vector<BYTE> der(16384);
    const size_t length = std::fread(der.data(), 1, der.size(), file.get());
    removeEarlierTestCas();
    if (!CertAddEncodedCertificateToSystemStoreA("Root", der.data(), static_cast<DWORD>(length))) {
        std::fprintf(stderr, "CertAddEncodedCertificateToSystemStoreA failed: %lu\n", GetLastError());
        return 1;
    }
    std::printf("added %zu bytes to Root\n", length);
    return 0;
}
