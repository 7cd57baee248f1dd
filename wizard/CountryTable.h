#pragma once

// The countries of the "Country Code:" list with their international calling codes, in list
// order: the position in the list is the index the wizard works with.

#include <string>
#include <string_view>
#include <vector>

namespace gardivo {

struct Country {
    const char* name;
    int callingCode;
};

class CountryTable {
public:
    static constexpr int kCount = 233;

    static const std::vector<Country>& rows();
    // The country at the index; outside the table, Taiwan with 886.
    static Country at(int index);
    // The index of the name, compared without regard to case; 0 when no country has it.
    static int indexOf(std::string_view name);
    // The text the list shows for a row ("Korea, North " keeps the trailing space it always had).
    static std::string shownName(int index);
};

} // namespace gardivo
