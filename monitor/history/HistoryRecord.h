#pragma once

#include <string>

namespace gardivo {

// One event: the six text columns of a history row, in column order. The engine's event ring
// holds the same record.
struct HistoryRecord {
    std::string GroupName;   // the run's evidence directory name
    std::string Time;        // "%d/%02d/%02d %02d:%02d:%02d" at the condition
    std::string Remark;      // release or reset remark, empty while the condition lasts
    std::string Description; // "Condition%03d"
    std::string ImagePath;   // ".../error%03d.bmp"
    std::string VideoPath;   // ".../error%03d.avi" when a clip was recorded, else empty

    bool operator==(const HistoryRecord&) const = default;
};

using EventEntry = HistoryRecord;

} // namespace gardivo
