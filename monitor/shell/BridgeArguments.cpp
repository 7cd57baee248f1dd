#include "BridgeArguments.h"

#include "monitor/messages/ScriptText.h"

#include <QVariantMap>

#include <cmath>
#include <cstdio>
#include <limits>

namespace gardivo {

namespace {

constexpr const char* kNumberTag = "gardivoNumber";

} // namespace

const char* failureName(BridgeFailure failure) {
    switch (failure) {
    case BridgeFailure::UnknownName:
        return "DISP_E_UNKNOWNNAME";
    case BridgeFailure::BadParamCount:
        return "DISP_E_BADPARAMCOUNT";
    case BridgeFailure::TypeMismatch:
        return "DISP_E_TYPEMISMATCH";
    case BridgeFailure::None:
        break;
    }
    return "";
}

int dispidOf(const QString& name) {
    for (const auto& method : kBridgeMethods)
        if (name == QLatin1String(method.name))
            return method.dispid;
    if (name == QLatin1String(kHistoryRowsMethod.name))
        return kHistoryRowsMethod.dispid;
    if (name == QLatin1String(kSaveCopyMethod.name))
        return kSaveCopyMethod.dispid;
    return -1;
}

bool isString(const QVariant& value) {
    return value.typeId() == QMetaType::QString;
}

std::optional<double> numberOf(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return value.toDouble();
    case QMetaType::QVariantMap: {
        const QVariantMap map = value.toMap();
        if (map.size() != 1 || !map.contains(kNumberTag))
            return std::nullopt;
        const QString text = map.value(kNumberTag).toString();
        if (text == "NaN")
            return std::numeric_limits<double>::quiet_NaN();
        if (text == "Infinity")
            return std::numeric_limits<double>::infinity();
        if (text == "-Infinity")
            return -std::numeric_limits<double>::infinity();
        return std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<int32_t> exactInt32(const QVariant& value) {
    const auto number = numberOf(value);
    if (!number || !std::isfinite(*number) || std::trunc(*number) != *number ||
        *number < std::numeric_limits<int32_t>::min() || *number > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(*number);
}

std::optional<int32_t> truncatedInt32(const QVariant& value) {
    const auto number = numberOf(value);
    if (!number || !std::isfinite(*number))
        return std::nullopt;
    const double whole = std::trunc(*number);
    if (whole < std::numeric_limits<int32_t>::min() || whole > std::numeric_limits<int32_t>::max())
        return std::nullopt;
    return static_cast<int32_t>(whole);
}

std::string notifyArgumentText(const QVariant& value) {
    if (value.typeId() == QMetaType::Bool)
        return value.toBool() ? "true" : "false";
    if (isString(value))
        return jsString(value.toString().toStdString());
    const auto number = numberOf(value);
    // Written as nothing, an argument of another kind would leave "f(1,,2)", a call that never
    // runs: it is passed as null instead.
    if (!number)
        return "null";
    if (std::isnan(*number))
        return "NaN";
    if (std::isinf(*number))
        return *number > 0 ? "Infinity" : "-Infinity";
    char text[64];
    if (const auto integral = exactInt32(value))
        std::snprintf(text, sizeof text, "%li", static_cast<long>(*integral));
    else
        std::snprintf(text, sizeof text, "%le", *number);
    return text;
}

} // namespace gardivo
