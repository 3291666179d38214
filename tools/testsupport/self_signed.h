// Self-signed TLS certificates made in memory, for test servers on loopback.
#pragma once

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace ombrik::testsupport {

struct X509Free {
  void operator()(X509* x) const { X509_free(x); }
};
struct EvpPkeyFree {
  void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, EvpPkeyFree>;

struct CertificateOptions {
  std::string commonName = "localhost";
  // Subject alternative names. Leave both empty for a certificate that names no host at all.
  std::vector<std::string> dnsNames = {"localhost"};
  std::vector<std::string> ipAddresses = {"127.0.0.1", "::1"};
  // Validity, relative to now. A negative notAfter gives an expired certificate.
  std::chrono::seconds notBefore{-3600};
  std::chrono::seconds notAfter{30 * 24 * 3600};
};

// An EC P-256 key and a certificate signed with it. Throws std::runtime_error when OpenSSL
// refuses a step (an unparsable IP address, for example).
class SelfSignedCertificate {
 public:
  explicit SelfSignedCertificate(const CertificateOptions& options = {});

  // Borrowed pointers; they live as long as this object.
  X509* certificate() const { return cert_.get(); }
  EVP_PKEY* key() const { return key_.get(); }

  std::string CertificatePem() const;
  std::string KeyPem() const;

 private:
  EvpPkeyPtr key_;
  X509Ptr cert_;
};

}  // namespace ombrik::testsupport
