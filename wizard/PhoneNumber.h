#pragma once

// The phone number of the record ("PhoneNumber", 19 characters at most) as the wizard shows it:
// an area code and a number, with the country's calling code in front when there is an area code.

#include <string>

namespace gardivo {

struct PhoneParts {
    std::string areaCode;
    std::string number;
    bool operator==(const PhoneParts&) const = default;
};

// "+886 (02) 12345678" gives 02 and 12345678; without two spaces the area code is empty and the
// number is what follows the first space (all of it when there is none).
PhoneParts splitPhoneNumber(const std::string& stored);
// The number alone without an area code, else "+code (area) number"; cut to 19 characters.
std::string composePhoneNumber(int callingCode, const std::string& areaCode, const std::string& number);

inline constexpr int kPhoneNumberLength = 19;

} // namespace gardivo
