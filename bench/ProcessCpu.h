#pragma once

// The processor time a process has used, read from /proc, for the benchmarks that measure whole
// programs.

#include <fstream>
#include <iterator>
#include <string>
#include <sys/types.h>
#include <unistd.h>
#include <vector>

namespace gardivo::bench {

// User and system time of a process, in seconds; 0 when it cannot be read.
inline double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    const auto close = text.rfind(')');
    if (close == std::string::npos || close + 2 > text.size())
        return 0;
    std::vector<std::string> fields;
    std::string field;
    for (char c : text.substr(close + 2)) {
        if (c == ' ') {
            fields.push_back(field);
            field.clear();
        } else {
            field += c;
        }
    }
    if (fields.size() < 13)
        return 0;
    // After the name: state is field 0, utime field 11, stime field 12.
    const double ticks = std::stod(fields[11]) + std::stod(fields[12]);
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

} // namespace gardivo::bench
