#include "SystemInfo.h"

#include "UserPlaces.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>
#include <vector>

namespace gardivo {

int OsVersionCode() {
    return 0;
}

RegistryRoot registryRootFor(int osVersionCode) {
    return osVersionCode == 2 ? RegistryRoot::LocalMachine : RegistryRoot::CurrentUser;
}

bool mayWritePlace(const std::string& place) {
    std::filesystem::path path(place);
    if (path.empty())
        return false;
    // The place itself when it is there; else the folder it would be made in, and so on up.
    for (;;) {
        std::error_code ec;
        if (std::filesystem::exists(path, ec))
            return ::access(path.c_str(), W_OK | (std::filesystem::is_directory(path, ec) ? X_OK : 0)) == 0;
        if (!path.has_parent_path() || path.parent_path() == path)
            return false;
        path = path.parent_path();
    }
}

bool mayWritePlaces(const std::vector<std::string>& places, std::string* unwritable) {
    for (const auto& place : places)
        if (!mayWritePlace(place)) {
            if (unwritable)
                *unwritable = place;
            return false;
        }
    return true;
}

std::vector<std::string> programPlaces(const std::string& programDirectory) {
    const UserPlaces places = userPlaces(programDirectory);
    return {places.settings, places.data, places.state, RegistryStore::defaultDirectory()};
}

bool passesAdministratorTest(const std::string& programDirectory, const char* programName) {
    std::string place;
    if (mayWritePlaces(programPlaces(programDirectory), &place))
        return true;
    std::fprintf(stderr, "%s: %s cannot be written by this account\n", programName, place.c_str());
    return false;
}

namespace {

struct Territory {
    const char* code;
    const char* callingCode;
    const char* name;
};

// Territories a surveillance product is commonly sold in; anything else reads as unknown.
constexpr Territory kTerritories[] = {
    {"US", "1", "United States"},   {"CA", "2", "Canada"},        {"RU", "7", "Russia"},
    {"EG", "20", "Egypt"},          {"ZA", "27", "South Africa"}, {"GR", "30", "Greece"},
    {"NL", "31", "Netherlands"},    {"BE", "32", "Belgium"},      {"FR", "33", "France"},
    {"ES", "34", "Spain"},          {"HU", "36", "Hungary"},      {"IT", "39", "Italy"},
    {"RO", "40", "Romania"},        {"CH", "41", "Switzerland"},  {"AT", "43", "Austria"},
    {"GB", "44", "United Kingdom"}, {"DK", "45", "Denmark"},      {"SE", "46", "Sweden"},
    {"NO", "47", "Norway"},         {"PL", "48", "Poland"},       {"DE", "49", "Germany"},
    {"PE", "51", "Peru"},           {"MX", "52", "Mexico"},       {"AR", "54", "Argentina"},
    {"BR", "55", "Brazil"},         {"CL", "56", "Chile"},        {"CO", "57", "Colombia"},
    {"MY", "60", "Malaysia"},       {"AU", "61", "Australia"},    {"ID", "62", "Indonesia"},
    {"PH", "63", "Philippines"},    {"NZ", "64", "New Zealand"},  {"SG", "65", "Singapore"},
    {"TH", "66", "Thailand"},       {"JP", "81", "Japan"},        {"KR", "82", "Korea"},
    {"VN", "84", "Vietnam"},        {"CN", "86", "China"},        {"TR", "90", "Turkey"},
    {"IN", "91", "India"},          {"PK", "92", "Pakistan"},     {"PT", "351", "Portugal"},
    {"IE", "353", "Ireland"},       {"FI", "358", "Finland"},     {"CZ", "420", "Czech Republic"},
    {"HK", "852", "Hong Kong"},     {"TW", "886", "Taiwan"},      {"IL", "972", "Israel"},
};

IntlProfile territoryProfile(const std::string& territory) {
    for (const auto& t : kTerritories)
        if (territory == t.code)
            return {t.callingCode, t.name};
    return {"0", ""};
}

} // namespace

IntlProfile intlProfileForLocale(const std::string& locale) {
    // language[_TERRITORY][.codeset][@modifier]
    const auto underscore = locale.find('_');
    if (underscore == std::string::npos)
        return {"0", ""};
    return territoryProfile(locale.substr(underscore + 1, 2));
}

namespace {

std::string machineTimeZone() {
    if (const char* tz = std::getenv("TZ"); tz && *tz)
        return std::string(tz[0] == ':' ? tz + 1 : tz);
    std::ifstream file("/etc/timezone");
    std::string zone;
    if (std::getline(file, zone) && !zone.empty())
        return zone;
    std::error_code ec;
    const std::string target = std::filesystem::read_symlink("/etc/localtime", ec).string();
    const auto at = target.find("zoneinfo/");
    return at == std::string::npos ? std::string() : target.substr(at + 9);
}

} // namespace

IntlProfile intlProfileForTimeZone(const std::string& zone, const std::string& zoneTab) {
    if (zone.empty())
        return {"0", ""};
    // Lines of "CC<tab>coordinates<tab>Area/City[<tab>comment]".
    std::ifstream table(zoneTab);
    for (std::string line; std::getline(table, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto first = line.find('\t');
        const auto second = first == std::string::npos ? first : line.find('\t', first + 1);
        if (second == std::string::npos)
            continue;
        const auto third = line.find('\t', second + 1);
        if (line.compare(second + 1, third == std::string::npos ? std::string::npos : third - second - 1,
                         zone) == 0)
            return territoryProfile(line.substr(0, first));
    }
    return {"0", ""};
}

IntlProfile intlProfile() {
    for (const char* variable : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (const char* value = std::getenv(variable); value && *value) {
            const std::string locale = value;
            if (locale.find('_') != std::string::npos)
                return intlProfileForLocale(locale);
            break;
        }
    return intlProfileForTimeZone(machineTimeZone());
}

} // namespace gardivo
