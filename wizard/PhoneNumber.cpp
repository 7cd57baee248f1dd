#include "PhoneNumber.h"

namespace gardivo {

PhoneParts splitPhoneNumber(const std::string& stored) {
    const size_t first = stored.find(' ');
    const size_t second = first == std::string::npos ? std::string::npos : stored.find(' ', first + 1);
    if (second != std::string::npos) {
        // "+code (area) number": the area code starts two characters after the first space.
        const size_t from = first + 2;
        const size_t length = second >= first + 3 ? second - first - 3 : 0;
        return {from <= stored.size() ? stored.substr(from, length) : std::string(),
                stored.substr(second + 1)};
    }
    return {{}, first == std::string::npos ? stored : stored.substr(first + 1)};
}

std::string composePhoneNumber(int callingCode, const std::string& areaCode, const std::string& number) {
    std::string text =
        areaCode.empty() ? number : "+" + std::to_string(callingCode) + " (" + areaCode + ") " + number;
    if (text.size() > kPhoneNumberLength)
        text.resize(kPhoneNumberLength);
    return text;
}

} // namespace gardivo
