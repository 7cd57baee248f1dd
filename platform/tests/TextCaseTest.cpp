#include "platform/TextCase.h"
#include "platform/tests/CompiledLocale.h"
#include "platform/tests/TempDir.h"

#include <cctype>
#include <gtest/gtest.h>

using namespace gardivo;

// The programs run with the user's locale, and in Turkish std::tolower leaves 'I' as it is; names
// of folders, sections and connectors must still match in any case.
TEST(TextCase, LettersMatchInAnyCaseWhateverTheLocale) {
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    gardivo::testing::TempDir locales;
    if (!gardivo::testing::useCompiledLocale(LC_CTYPE, "tr_TR.UTF-8", locales.path()))
        GTEST_SKIP() << "no Turkish locale and localedef cannot make one (Debian package locales)";
    // The locale really is Turkish: 'I' does not become 'i'. (Asked this way round: GCC takes it
    // that tolower never returns a capital letter.)
    volatile char upper = 'I';
    ASSERT_NE(std::tolower(upper), 'i');
    EXPECT_TRUE(equalsIgnoringCase("Info", "INFO"));
    EXPECT_TRUE(equalsIgnoringCase("skins\\Default", "SKINS\\default"));
    EXPECT_EQ(asciiLower("S-VIDEO In"), "s-video in");
    // An SMTP server's extensions, however it spells them.
    EXPECT_EQ(asciiUpper("auth plain login"), "AUTH PLAIN LOGIN");
    std::setlocale(LC_CTYPE, saved.c_str());
    EXPECT_FALSE(equalsIgnoringCase("Info", "Inf0"));
    EXPECT_FALSE(equalsIgnoringCase("Info", "Infos"));
    EXPECT_FALSE(equalsIgnoringCase("\xC4\xB0nfo", "info")); // only ASCII letters fold
}
