#include "codec_filter/properties/QualityPage.h"
#include "platform/tests/QtTestApplication.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <QTest>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

class QualityPageTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ensureQtApplication(); }
    void SetUp() override {
        ::setenv("TAVRIN_REGISTRY_DIR", m_dir.path().c_str(), 1);
        writeText(m_dir.file("system.ini"), "[TavrinCap.Drv]\nTRV2QL=6\n");
    }
    int stored() const { return trv2::readQualityLevel(m_dir.file("system.ini")); }
    // Chooses an item as the user would: open the list, pick, confirm.
    void pick(QComboBox* combo, int index) {
        combo->setCurrentIndex(index);
        emit combo->activated(index);
    }
    TempDir m_dir;
};

TEST_F(QualityPageTest, ShowsTheTenLevelsWithTheCurrentOneChosen) {
    trv2::QualityLevel quality;
    QualityPage page(quality);
    ASSERT_EQ(page.levels()->count(), 10);
    EXPECT_EQ(page.levels()->itemText(0), "0 - Best Compression");
    EXPECT_EQ(page.levels()->itemText(5), "5 - Normal Quality");
    EXPECT_EQ(page.levels()->itemText(9), "9 - Best Quality");
    EXPECT_EQ(page.levels()->itemText(3), "3");
    EXPECT_EQ(page.levels()->currentIndex(), 6);
    EXPECT_FALSE(page.applyButton()->isEnabled());
}

TEST_F(QualityPageTest, AChoiceIsStoredAtOnceAndUndoneWithoutApply) {
    trv2::QualityLevel quality;
    QualityPage page(quality);
    page.show();
    pick(page.levels(), 2);
    EXPECT_EQ(stored(), 2);
    EXPECT_EQ(quality.get(), 2);
    EXPECT_TRUE(page.isDirty());
    EXPECT_TRUE(page.applyButton()->isEnabled());
    page.reject(); // closed without Apply
    EXPECT_EQ(stored(), 6);
    EXPECT_EQ(quality.get(), 6);
}

TEST_F(QualityPageTest, ApplyKeepsTheChoice) {
    trv2::QualityLevel quality;
    QualityPage page(quality);
    page.show();
    pick(page.levels(), 9);
    QTest::mouseClick(page.applyButton(), Qt::LeftButton);
    EXPECT_FALSE(page.isDirty());
    pick(page.levels(), 1); // chosen but not applied
    page.reject();
    EXPECT_EQ(stored(), 9);
}

} // namespace
