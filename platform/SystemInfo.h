#pragma once

#include "RegistryStore.h"

#include <string>
#include <vector>

namespace gardivo {

// The Windows version code the programs branch on. Linux is none of the Windows families, so
// it is always 0: the registry root is the current user's and the administrator test applies.
int OsVersionCode();

// HKEY_LOCAL_MACHINE for the Windows 95/98/Me code (2), the current user's root otherwise.
RegistryRoot registryRootFor(int osVersionCode);

// The administrator test. On Windows it stands for "may write where the program must write";
// here it is just that: the user can write each of the places (a folder, or a file in one), or
// make them where they are missing. No group membership is asked for. unwritable, when given,
// receives the first place that cannot be written.
bool mayWritePlaces(const std::vector<std::string>& places, std::string* unwritable = nullptr);
// Whether one place can be written: itself when it is there, else the nearest folder above it.
bool mayWritePlace(const std::string& place);
// The places the programs write: the user's settings, history and log folders (the program
// directory, or per-user folders for an installed copy) and the registry's folder.
std::vector<std::string> programPlaces(const std::string& programDirectory);
// The administrator test as the programs run it: their places may be written. When not, the
// place is named on standard error under the program's name (the box the caller shows has a
// fixed text).
bool passesAdministratorTest(const std::string& programDirectory, const char* programName);

// Values of the user's "Intl" profile section, derived from the locale's territory.
struct IntlProfile {
    std::string iCountry; // calling code, "0" when unknown
    std::string sCountry; // English country name, "" when unknown
};

// Reads LC_ALL, LC_MESSAGES and LANG in that order, like the C library does. A locale without a
// territory (C.UTF-8, POSIX) tells nothing of where the machine is: the country of its time zone
// is taken then (TZ, else /etc/timezone, else the zone /etc/localtime links to).
IntlProfile intlProfile();
// The same for an explicit locale name such as "ja_JP.UTF-8".
IntlProfile intlProfileForLocale(const std::string& locale);
// The country of a time zone such as "Asia/Tokyo", as the zone table at zoneTab lists it.
IntlProfile intlProfileForTimeZone(const std::string& zone,
                                   const std::string& zoneTab = "/usr/share/zoneinfo/zone.tab");

} // namespace gardivo
