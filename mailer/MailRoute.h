#pragma once

// Where an alert mail goes. With a mail server set in the wizard ("SMTP Server Setup", kept under
// HKEY_LOCAL_MACHINE "SOFTWARE\Tavrin\Gardivo\Email"), through that server; otherwise straight to
// the recipient domain's mail exchangers (its MX records in preference order), and last to the
// domain's own address.

#include "platform/RegistryStore.h"

#include <functional>
#include <string>
#include <vector>

namespace gardivo {

struct MailServer {
    static constexpr const char* kKey = "SOFTWARE\\Tavrin\\Gardivo\\Email";

    std::string host;
    int port = 25;
    std::string user;
    std::string password;
    bool promptForPassword = false;
    // "SMTP Server Name" that was set but could not be read as host or host:port.
    bool malformed = false;

    bool configured() const { return !host.empty(); }
    // The wizard's values; the password Base64-decoded.
    static MailServer fromRegistry(const RegistryStore& registry);
};

// "host", "host:port", "[v6 address]" or "[v6 address]:port"; false for anything else (a port
// outside 1..65535 included).
bool parseServerName(const std::string& text, std::string& host, int& port);

// An IPv4 or IPv6 address written out, rather than a host name.
bool isIpAddress(const std::string& host);

// The domain's mail exchangers, best first; empty when it has none or they cannot be looked up.
using MxLookup = std::function<std::vector<std::string>(const std::string& domain)>;
std::vector<std::string> lookupMx(const std::string& domain);

// The hosts to try for a recipient domain: its mail exchangers, then the domain itself; an IP
// address is tried as it is.
std::vector<std::string> deliveryHosts(const std::string& domain, const MxLookup& lookup);

} // namespace gardivo
