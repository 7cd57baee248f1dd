#include "MailRoute.h"

#include "platform/Base64.h"

#include <algorithm>
#include <arpa/inet.h>
#include <arpa/nameser.h>
#include <cctype>
#include <netinet/in.h>
#include <resolv.h>

namespace gardivo {

MailServer MailServer::fromRegistry(const RegistryStore& registry) {
    MailServer server;
    const auto value = [&](const char* name) {
        return registry.queryValue(RegistryRoot::LocalMachine, kKey, name);
    };
    if (const auto name = value("SMTP Server Name"); name && !name->text().empty())
        server.malformed = !parseServerName(name->text(), server.host, server.port);
    if (const auto user = value("User ID"))
        server.user = user->text();
    if (const auto password = value("Password")) {
        std::string encoded(password->data.begin(), password->data.end());
        if (encoded.size() > 256)
            encoded.resize(256);
        if (const auto decoded = base64Decode(encoded))
            server.password = *decoded;
    }
    if (const auto prompt = value("Prompt for Password"))
        server.promptForPassword = prompt->dwordValue().value_or(0) == 1;
    return server;
}

bool parseServerName(const std::string& text, std::string& host, int& port) {
    std::string name = text;
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.back())))
        name.pop_back();
    while (!name.empty() && std::isspace(static_cast<unsigned char>(name.front())))
        name.erase(0, 1);
    std::string portText;
    if (!name.empty() && name.front() == '[') {
        const size_t close = name.find(']');
        if (close == std::string::npos)
            return false;
        const std::string rest = name.substr(close + 1);
        if (!rest.empty() && (rest.front() != ':' || rest.size() == 1))
            return false;
        portText = rest.empty() ? "" : rest.substr(1);
        name = name.substr(1, close - 1);
    } else if (const size_t colon = name.find(':'); colon != std::string::npos) {
        if (name.find(':', colon + 1) != std::string::npos)
            return false; // a bare IPv6 address needs its brackets
        portText = name.substr(colon + 1);
        name = name.substr(0, colon);
    }
    if (name.empty() || name.find_first_of(" \t/@") != std::string::npos)
        return false;
    int number = 25;
    if (!portText.empty()) {
        if (portText.size() > 5 || portText.find_first_not_of("0123456789") != std::string::npos)
            return false;
        number = std::stoi(portText);
        if (number < 1 || number > 65535)
            return false;
    }
    host = name;
    port = number;
    return true;
}

std::vector<std::string> lookupMx(const std::string& domain) {
    struct __res_state state {};
    if (::res_ninit(&state) != 0)
        return {};
    unsigned char answer[8192];
    const int length = ::res_nquery(&state, domain.c_str(), ns_c_in, ns_t_mx, answer, sizeof answer);
    std::vector<std::pair<int, std::string>> exchangers;
    ns_msg message;
    if (length > 0 && ::ns_initparse(answer, length, &message) == 0) {
        const int count = ns_msg_count(message, ns_s_an);
        for (int i = 0; i < count; ++i) {
            ns_rr record;
            if (::ns_parserr(&message, ns_s_an, i, &record) != 0 || ns_rr_type(record) != ns_t_mx ||
                ns_rr_rdlen(record) < 3)
                continue;
            const unsigned char* data = ns_rr_rdata(record);
            const int preference = ns_get16(data);
            char name[NS_MAXDNAME];
            if (::dn_expand(ns_msg_base(message), ns_msg_end(message), data + 2, name, sizeof name) < 0)
                continue;
            exchangers.emplace_back(preference, name);
        }
    }
    ::res_nclose(&state);
    std::stable_sort(exchangers.begin(), exchangers.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::string> hosts;
    for (auto& [preference, name] : exchangers)
        // "." alone is the null MX: the domain takes no mail.
        if (!name.empty() && name != ".")
            hosts.push_back(std::move(name));
    return hosts;
}

bool isIpAddress(const std::string& host) {
    in6_addr address{};
    return ::inet_pton(AF_INET, host.c_str(), &address) == 1 ||
           ::inet_pton(AF_INET6, host.c_str(), &address) == 1;
}

std::vector<std::string> deliveryHosts(const std::string& domain, const MxLookup& lookup) {
    if (domain.empty() || isIpAddress(domain))
        return {domain};
    std::vector<std::string> hosts = lookup ? lookup(domain) : std::vector<std::string>{};
    if (std::find(hosts.begin(), hosts.end(), domain) == hosts.end())
        hosts.push_back(domain);
    return hosts;
}

} // namespace gardivo
