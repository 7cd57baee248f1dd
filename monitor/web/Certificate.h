#pragma once

// The web view's TLS certificate: the user's own, or one made at the first start and kept, whose
// fingerprint the user compares on the phone the first time it warns of it.

#include <string>

namespace gardivo {

// Makes a self-signed certificate (ECDSA P-256, SHA-256, ten years, for this host's name, localhost
// and 127.0.0.1) and its key (owner-only) unless both files exist already.
bool ensureSelfSignedCertificate(const std::string& certPath, const std::string& keyPath,
                                 const std::string& hostName, std::string* error = nullptr);
// The certificate's SHA-256 fingerprint as "AB:CD:...", "" when it cannot be read.
std::string certificateFingerprint(const std::string& certPath);

} // namespace gardivo
