#pragma once

#include "codec_filter/QualitySetting.h"

#include <QDialog>

class QComboBox;
class QPushButton;

namespace gardivo {

// The codec's property page: the quality level in a drop-down list. A choice is applied and
// stored at once; Apply keeps it; closing without Apply puts back the level that was in force
// when the page opened or was last applied.
class QualityPage final : public QDialog {
    Q_OBJECT

public:
    explicit QualityPage(trv2::QualityLevel& quality, QWidget* parent = nullptr);

    QComboBox* levels() const { return m_levels; }
    QPushButton* applyButton() const { return m_apply; }
    bool isDirty() const { return m_dirty; }

public slots:
    void apply();

protected:
    void done(int result) override;

private:
    void choose(int index);

    trv2::QualityLevel& m_quality;
    int m_level;
    int m_savedLevel;
    bool m_dirty = false;
    QComboBox* m_levels;
    QPushButton* m_apply;
};

} // namespace gardivo
