#pragma once

// What the files of the settings form share: the spin box it uses, the colour names and the
// small helpers every tab's code calls.

#include "settings/WatchdogSettings.h"

#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <cstdint>
#include <string>

namespace gardivo::formparts {

// A spin box that, left with no number in it, takes its minimum.
class IntegerSpin final : public QSpinBox {
public:
    IntegerSpin(int minimum, int maximum, QWidget* parent) : QSpinBox(parent) {
        setRange(minimum, maximum);
        setAccelerated(true);
    }

protected:
    void fixup(QString& input) const override { input = QString::number(minimum()); }
};

inline constexpr const char* kColourNames[4] = {"Brightness", "Contrast", "Saturation", "Hue"};
inline constexpr const char* kColourLabels[4] = {"Brightness:", "Contrast:", "Saturation:", "Hue:"};

inline QLabel* label(const char* text, QWidget* parent) {
    return new QLabel(QString::fromUtf8(text), parent);
}

inline int32_t& colourField(WatchdogSettings& s, int which) {
    switch (which) {
    case 0:
        return s.Brightness;
    case 1:
        return s.Contrast;
    case 2:
        return s.Saturation;
    default:
        return s.Hue;
    }
}

inline std::string text(const QLineEdit* edit) {
    return edit->text().toStdString();
}

} // namespace gardivo::formparts
