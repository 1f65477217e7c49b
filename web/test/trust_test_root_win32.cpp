// Makes the Wine prefix trust the test authority (certs/test-root.pem), so
// that the platform's request object accepts the TLS test server: the same
// machine-wide root store a Windows administrator would add it to. Run before
// the tests (a CTest fixture); adding it again changes nothing.
// Usage: trust_test_root PEM_FILE
#include <windows.h>
// After windows.h, whose types it uses.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc != 2) {
    static_cast<void>(std::fprintf(stderr, "usage: trust_test_root PEM_FILE\n"));
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  std::stringstream pem;
  pem << file.rdbuf();
  const std::string text = pem.str();
  DWORD size = 0;
  if (text.empty() ||
      !CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                            nullptr, &size, nullptr, nullptr)) {
    static_cast<void>(std::fprintf(stderr, "trust_test_root: no certificate in %s\n", argv[1]));
    return 1;
  }
  std::vector<BYTE> der(size);
  CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64HEADER,
                       der.data(), &size, nullptr, nullptr);
  HCERTSTORE store =
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"ROOT");
  if (!store) {
    static_cast<void>(
        std::fprintf(stderr, "trust_test_root: root store not opened (%lu)\n", GetLastError()));
    return 1;
  }
  const BOOL added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der.data(), size,
                                                      CERT_STORE_ADD_USE_EXISTING, nullptr);
  const DWORD error = GetLastError();
  CertCloseStore(store, 0);
  if (!added) {
    static_cast<void>(std::fprintf(stderr, "trust_test_root: not added (%lu)\n", error));
    return 1;
  }
  return 0;
}
