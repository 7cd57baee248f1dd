#include "Certificate.h"

#include "platform/FileOps.h"
#include "platform/FileProbes.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace gardivo {

namespace {

template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;

bool addExtension(X509* cert, int nid, const std::string& value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value.c_str());
    if (!ext)
        return false;
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

} // namespace

bool ensureSelfSignedCertificate(const std::string& certPath, const std::string& keyPath,
                                 const std::string& hostName, std::string* error) {
    if (FileExists(certPath) && FileExists(keyPath))
        return true;
    const auto fail = [&](const char* why) {
        if (error)
            *error = why;
        return false;
    };
    Owned<EVP_PKEY, EVP_PKEY_free> key(EVP_EC_gen("P-256"));
    Owned<X509, X509_free> cert(X509_new());
    if (!key || !cert)
        return fail("no key can be made");
    X509_set_version(cert.get(), 2);
    unsigned char serial[16];
    RAND_bytes(serial, sizeof serial);
    serial[0] &= 0x7f;
    Owned<BIGNUM, BN_free> number(BN_bin2bn(serial, sizeof serial, nullptr));
    BN_to_ASN1_INTEGER(number.get(), X509_get_serialNumber(cert.get()));
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 10L * 365 * 24 * 3600);
    X509_set_pubkey(cert.get(), key.get());
    X509_NAME* name = X509_get_subject_name(cert.get());
    const std::string common = hostName.empty() ? "gardivo" : hostName;
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("Gardivo"), -1,
                               -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(common.c_str()), -1, -1, 0);
    X509_set_issuer_name(cert.get(), name);
    std::string names = "DNS:localhost,IP:127.0.0.1";
    if (!hostName.empty())
        names = "DNS:" + hostName + "," + names;
    if (!addExtension(cert.get(), NID_subject_alt_name, names) ||
        !addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE"))
        return fail("the certificate's names cannot be set");
    if (X509_sign(cert.get(), key.get(), EVP_sha256()) == 0)
        return fail("the certificate cannot be signed");

    const auto slash = keyPath.find_last_of('/');
    if (slash != std::string::npos && slash > 0)
        MakeDirectories(keyPath.substr(0, slash));
    // The key is written readable by its owner only, from the first byte.
    const mode_t old = ::umask(077);
    std::FILE* keyFile = std::fopen(keyPath.c_str(), "w");
    ::umask(old);
    if (!keyFile)
        return fail("the key cannot be written");
    const bool keyOk = PEM_write_PrivateKey(keyFile, key.get(), nullptr, nullptr, 0, nullptr, nullptr) == 1;
    std::fclose(keyFile);
    std::FILE* certFile = std::fopen(certPath.c_str(), "w");
    if (!certFile || !keyOk) {
        if (certFile)
            std::fclose(certFile);
        return fail("the certificate cannot be written");
    }
    const bool certOk = PEM_write_X509(certFile, cert.get()) == 1;
    return (std::fclose(certFile) == 0 && certOk) || fail("the certificate cannot be written");
}

std::string certificateFingerprint(const std::string& certPath) {
    std::FILE* file = std::fopen(certPath.c_str(), "r");
    if (!file)
        return {};
    Owned<X509, X509_free> cert(PEM_read_X509(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    if (!cert)
        return {};
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert.get(), EVP_sha256(), digest, &length) != 1)
        return {};
    std::string out;
    char hex[4];
    for (unsigned int i = 0; i < length; ++i) {
        std::snprintf(hex, sizeof hex, i ? ":%02X" : "%02X", digest[i]);
        out += hex;
    }
    return out;
}

} // namespace gardivo
