#include "QualityPage.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace gardivo {

QualityPage::QualityPage(trv2::QualityLevel& quality, QWidget* parent)
    : QDialog(parent), m_quality(quality), m_level(quality.get()), m_savedLevel(m_level) {
    setWindowTitle("Contrast");
    auto* banner = new QLabel("Tavrin TRV2\nVideo CODEC");
    banner->setFixedSize(160, 45);
    banner->setAlignment(Qt::AlignCenter);
    banner->setStyleSheet("background: #202a44; color: #f0c040; font-weight: bold;");

    m_levels = new QComboBox;
    m_levels->addItems({"0 - Best Compression", "1", "2", "3", "4", "5 - Normal Quality", "6", "7", "8",
                        "9 - Best Quality"});
    m_levels->setMaxVisibleItems(10);
    if (m_level >= 0 && m_level < m_levels->count())
        m_levels->setCurrentIndex(m_level);
    auto* group = new QGroupBox("Quality Level");
    auto* groupLayout = new QVBoxLayout(group);
    groupLayout->addWidget(m_levels);

    auto* buttons =
        new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::Apply);
    m_apply = buttons->button(QDialogButtonBox::Apply);
    m_apply->setEnabled(false);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(banner, 0, Qt::AlignHCenter);
    layout->addWidget(group);
    layout->addWidget(buttons);

    // Only a choice the user confirms counts (the list's own scrolling does not).
    connect(m_levels, QOverload<int>::of(&QComboBox::activated), this, &QualityPage::choose);
    connect(m_apply, &QPushButton::clicked, this, &QualityPage::apply);
    connect(buttons, &QDialogButtonBox::accepted, this, [this] {
        apply();
        accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

void QualityPage::choose(int index) {
    m_level = index;
    m_quality.put(m_level);
    m_dirty = true;
    m_apply->setEnabled(true);
}

void QualityPage::apply() {
    m_savedLevel = m_level;
    m_dirty = false;
    m_apply->setEnabled(false);
}

void QualityPage::done(int result) {
    // Leaving the page: the level in force is the one last applied.
    m_quality.put(m_savedLevel);
    QDialog::done(result);
}

} // namespace gardivo
