#include "testsupport/self_signed.h"

#include <openssl/bio.h>
#include <openssl/ec.h>
#include <openssl/pem.h>
#include <openssl/x509v3.h>

#include <random>
#include <stdexcept>

namespace ombrik::testsupport {
namespace {

void Check(bool ok, const char* what) {
  if (!ok) throw std::runtime_error(std::string("self-signed certificate: ") + what);
}

struct BioFree {
  void operator()(BIO* b) const { BIO_free(b); }
};

std::string BioToString(BIO* bio) {
  char* data = nullptr;
  long n = BIO_get_mem_data(bio, &data);
  return std::string(data, static_cast<std::size_t>(n));
}

void AddAltNames(X509* cert, const CertificateOptions& options) {
  std::string names;
  for (const auto& dns : options.dnsNames) names += (names.empty() ? "" : ",") + ("DNS:" + dns);
  for (const auto& ip : options.ipAddresses) names += (names.empty() ? "" : ",") + ("IP:" + ip);
  if (names.empty()) return;
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, NID_subject_alt_name, names.c_str());
  Check(ext != nullptr, "subject alternative names");
  bool added = X509_add_ext(cert, ext, -1) == 1;
  X509_EXTENSION_free(ext);
  Check(added, "adding subject alternative names");
}

}  // namespace

SelfSignedCertificate::SelfSignedCertificate(const CertificateOptions& options)
    : key_(EVP_EC_gen("P-256")), cert_(X509_new()) {
  Check(key_ && cert_, "key or certificate allocation");
  X509* cert = cert_.get();
  Check(X509_set_version(cert, 2) == 1, "version");
  // Distinct serials, so a client that caches sessions never mixes two test certificates.
  std::random_device rd;
  Check(ASN1_INTEGER_set(X509_get_serialNumber(cert), static_cast<long>(rd() & 0x7fffffff)) == 1, "serial");
  Check(X509_gmtime_adj(X509_getm_notBefore(cert), options.notBefore.count()) != nullptr, "not before");
  Check(X509_gmtime_adj(X509_getm_notAfter(cert), options.notAfter.count()) != nullptr, "not after");

  X509_NAME* name = X509_get_subject_name(cert);
  Check(X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(options.commonName.c_str()), -1, -1, 0) == 1,
        "common name");
  Check(X509_set_issuer_name(cert, name) == 1, "issuer");
  AddAltNames(cert, options);
  Check(X509_set_pubkey(cert, key_.get()) == 1, "public key");
  Check(X509_sign(cert, key_.get(), EVP_sha256()) > 0, "signature");
}

std::string SelfSignedCertificate::CertificatePem() const {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_X509(bio.get(), cert_.get()) == 1, "certificate PEM");
  return BioToString(bio.get());
}

std::string SelfSignedCertificate::KeyPem() const {
  std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
  Check(bio && PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1, "key PEM");
  return BioToString(bio.get());
}

}  // namespace ombrik::testsupport
