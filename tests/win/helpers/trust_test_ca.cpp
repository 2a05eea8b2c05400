// trust_test_ca CERT.der: adds a test CA to the machine "Root" store of the Wine
// prefix it runs in (never the host's), so that WinHTTP trusts what it issued.
#include <windows.h>
// Needs windows.h first.
#include <wincrypt.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  const std::string der((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // Closing the store writes it.
  const std::unique_ptr<void, BOOL (*)(HCERTSTORE)> root(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"Root"),
      [](HCERTSTORE store) { return CertCloseStore(store, 0); });
  const auto bytes = reinterpret_cast<const BYTE*>(der.data());
  return root && CertAddEncodedCertificateToStore(root.get(), X509_ASN_ENCODING, bytes, static_cast<DWORD>(der.size()),
                                                  CERT_STORE_ADD_REPLACE_EXISTING, nullptr)
             ? 0
             : 1;
}
