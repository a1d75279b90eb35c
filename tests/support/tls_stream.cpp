#include "tests/support/tls_stream.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <stdexcept>
#include <string>

namespace korvanel::test_support {
namespace {

[[noreturn]] void Fail(const std::string& what) {
  char reason[256] = "";
  ERR_error_string_n(ERR_get_error(), reason, sizeof reason);
  throw std::runtime_error("test TLS: " + what + ": " + reason);
}

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct CertificateFree {
  void operator()(X509* certificate) const { X509_free(certificate); }
};
struct ExtensionFree {
  void operator()(X509_EXTENSION* extension) const { X509_EXTENSION_free(extension); }
};

std::unique_ptr<X509, CertificateFree> SelfSigned(EVP_PKEY* key) {
  std::unique_ptr<X509, CertificateFree> certificate(X509_new());
  if (!certificate) Fail("no certificate");
  X509* c = certificate.get();
  X509_set_version(c, 2);  // version 3, for the subject alternative name
  ASN1_INTEGER_set(X509_get_serialNumber(c), 1);
  X509_gmtime_adj(X509_getm_notBefore(c), -60 * 60);
  X509_gmtime_adj(X509_getm_notAfter(c), 24 * 60 * 60);
  X509_set_pubkey(c, key);
  X509_NAME* name = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(kTlsCertificateHost), -1, -1,
                             0);
  X509_set_issuer_name(c, name);
  const std::string alternative = std::string("DNS:") + kTlsCertificateHost;
  std::unique_ptr<X509_EXTENSION, ExtensionFree> extension(
      X509V3_EXT_conf_nid(nullptr, nullptr, NID_subject_alt_name, alternative.c_str()));
  if (!extension || !X509_add_ext(c, extension.get(), -1)) Fail("no alternative name");
  if (X509_sign(c, key, EVP_sha256()) == 0) Fail("cannot sign the certificate");
  return certificate;
}

// One server connection: OpenSSL works on memory buffers and this class moves the records
// between them and the plain stream, so the stream's way of stopping (its socket shut
// underneath) ends a blocked read here too, and no write can raise SIGPIPE.
class TlsStream : public Stream {
 public:
  TlsStream(std::unique_ptr<SocketStream> plain, SSL* ssl) : m_plain(std::move(plain)), m_ssl(ssl) {
    m_incoming = BIO_new(BIO_s_mem());
    m_outgoing = BIO_new(BIO_s_mem());
    SSL_set_bio(m_ssl, m_incoming, m_outgoing);  // the session owns both from here
    SSL_set_accept_state(m_ssl);
  }
  ~TlsStream() override {
    if (m_open) {
      SSL_shutdown(m_ssl);  // the close_notify alert, sent if the client is still there
      Flush();
    }
    SSL_free(m_ssl);
  }
  TlsStream(const TlsStream&) = delete;
  TlsStream& operator=(const TlsStream&) = delete;

  bool Handshake() {
    m_open = Drive([this] { return SSL_do_handshake(m_ssl); }) > 0;
    return m_open;
  }

  long Read(char* data, std::size_t size) override {
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
    return Drive([&] { return SSL_read(m_ssl, data, chunk); });
  }

  bool Write(std::string_view bytes) override {
    while (!bytes.empty()) {
      const int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), 64 * 1024));
      if (Drive([&] { return SSL_write(m_ssl, bytes.data(), chunk); }) <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(chunk));
    }
    return true;
  }

 private:
  // Runs step until it gets somewhere, sending what OpenSSL wrote and feeding it what the
  // client sent: step's count when positive, 0 at the end of the stream, -1 on an error.
  template <class Step>
  long Drive(Step step) {
    for (;;) {
      ERR_clear_error();  // SSL_get_error reads this thread's queue
      const int result = step();
      const int error = result > 0 ? SSL_ERROR_NONE : SSL_get_error(m_ssl, result);
      if (!Flush()) return -1;
      if (result > 0) return result;
      if (error == SSL_ERROR_ZERO_RETURN) return 0;
      if (error != SSL_ERROR_WANT_READ) return -1;
      char buffer[16 * 1024];
      const long got = m_plain->Read(buffer, sizeof buffer);
      if (got <= 0) return got;
      BIO_write(m_incoming, buffer, static_cast<int>(got));
    }
  }

  bool Flush() {
    char* data = nullptr;
    const long pending = BIO_get_mem_data(m_outgoing, &data);
    if (pending <= 0) return true;
    const bool sent = m_plain->Write(std::string_view(data, static_cast<std::size_t>(pending)));
    (void)BIO_reset(m_outgoing);
    return sent;
  }

  std::unique_ptr<SocketStream> m_plain;
  SSL* m_ssl;
  BIO* m_incoming = nullptr;
  BIO* m_outgoing = nullptr;
  bool m_open = false;
};

}  // namespace

TlsIdentity::TlsIdentity() {
  std::unique_ptr<EVP_PKEY, KeyFree> key(EVP_EC_gen("P-256"));
  if (!key) Fail("cannot make a key");
  const auto certificate = SelfSigned(key.get());
  m_context.reset(SSL_CTX_new(TLS_server_method()), SSL_CTX_free);
  if (!m_context) Fail("no context");
  if (SSL_CTX_use_certificate(m_context.get(), certificate.get()) != 1 ||
      SSL_CTX_use_PrivateKey(m_context.get(), key.get()) != 1)
    Fail("cannot use the key and certificate");
}

StreamWrapper TlsIdentity::Wrapper() const {
  return [context = m_context](std::unique_ptr<SocketStream> plain) -> std::unique_ptr<Stream> {
    SSL* ssl = SSL_new(context.get());
    if (ssl == nullptr) return nullptr;
    auto stream = std::make_unique<TlsStream>(std::move(plain), ssl);
    if (!stream->Handshake()) return nullptr;
    return stream;
  };
}

}  // namespace korvanel::test_support
