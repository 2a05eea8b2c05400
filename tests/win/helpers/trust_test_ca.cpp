// trust_test_ca CERT.der: adds a test CA to the machine's "Root" store, so that
// WinHTTP trusts servers whose certificates it issued. Run under the tests' Wine
// prefix only: the store it writes is that prefix's, never the host's.
#include <windows.h>
// Needs windows.h first.
#include <wincrypt.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

namespace {

class CertStore {
 public:
  explicit CertStore(HCERTSTORE store) : store_(store) {}
  ~CertStore() {
    if (store_) CertCloseStore(store_, 0);  // the close writes the store
  }
  CertStore(const CertStore&) = delete;
  CertStore& operator=(const CertStore&) = delete;
  HCERTSTORE get() const { return store_; }

 private:
  HCERTSTORE store_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: trust_test_ca CERT.der\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (der.empty()) {
    std::fprintf(stderr, "cannot read the certificate\n");
    return 1;
  }
  CertStore root(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"));
  if (!root.get()) {
    std::fprintf(stderr, "CertOpenStore failed: %lu\n", GetLastError());
    return 1;
  }
  if (!CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
                                        static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr)) {
    std::fprintf(stderr, "CertAddEncodedCertificateToStore failed: %lu\n", GetLastError());
    return 1;
  }
  return 0;
}
