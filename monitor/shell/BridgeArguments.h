#pragma once

// The methods a skin page reaches as window.external, and how their arguments are read. Calls
// arrive from the page as a name and an array of JSON values; numbers that JSON cannot carry
// (NaN and the infinities) arrive tagged by the page's stub as {"gardivoNumber": "Infinity"}.

#include <QString>
#include <QVariant>

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace gardivo {

// Why a call failed as a whole; the page's promise is rejected with an Error of that name.
enum class BridgeFailure { None, UnknownName, BadParamCount, TypeMismatch };
const char* failureName(BridgeFailure failure);

struct BridgeMethod {
    const char* name;
    int dispid;
};

// The 30 methods by their names and dispatch identifiers.
inline constexpr std::array<BridgeMethod, 30> kBridgeMethods{{
    {"GetInitialStatus", 100002},
    {"CreateContentWindow", 100003},
    {"NavigateContent", 100004},
    {"ForwardContent", 100005},
    {"BackContent", 100006},
    {"StopContent", 100007},
    {"Help", 100008},
    {"Explore", 100009},
    {"Setup", 100010},
    {"WindowShape", 100011},
    {"EnableMove", 100012},
    {"DisableMove", 100013},
    {"Notify", 100014},
    {"RegisterMsg", 100015},
    {"UnRegisterMsg", 100016},
    {"RegisterID", 100017},
    {"Minimize", 100018},
    {"MoveTo", 100019},
    {"CloseWindow", 100020},
    {"SetTitleIcon", 100021},
    {"SetWindowRegion", 100022},
    {"SetRegion", 100023},
    {"Start", 100024},
    {"VideoSource", 100025},
    {"CloseHistory", 100026},
    {"Localize", 100027},
    {"SelectGroup", 100028},
    {"OpenFile", 100029},
    {"InitGroups", 100030},
    {"DeleteRecord", 100031},
}};

// Our own read-only call for the history page: HistoryRows() gives every row, HistoryRows(group)
// the rows of one group, each as {GroupName, Time, Remark, Description, ImagePath, VideoPath},
// ordered by group and then description, both descending. It never takes SQL from the page.
inline constexpr BridgeMethod kHistoryRowsMethod{"HistoryRows", 100100};
// SaveCopy(group, description): asks where, and saves there a copy of the row's clip that phones
// and browsers play (the one beside the clip, or one made for it). True when it is being saved.
inline constexpr BridgeMethod kSaveCopyMethod{"SaveCopy", 100101};

// The identifier of a name, compared exactly; -1 when there is none.
int dispidOf(const QString& name);

bool isString(const QVariant& value);
// A number as a double (the tagged non-finite ones included).
std::optional<double> numberOf(const QVariant& value);
// An integral number within the 32-bit range (message identifiers).
std::optional<int32_t> exactInt32(const QVariant& value);
// Any finite number within the 32-bit range, the fraction dropped (coordinates, flags).
std::optional<int32_t> truncatedInt32(const QVariant& value);

// One further argument of Notify as it appears in the call text: integral numbers within 32 bits
// as "%li", other numbers as "%le" (NaN and the infinities by their script names), strings as
// script string literals, booleans as true and false, anything else (null, objects) as null.
std::string notifyArgumentText(const QVariant& value);

} // namespace gardivo
