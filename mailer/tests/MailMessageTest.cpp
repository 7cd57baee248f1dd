#include "mailer/MailMessage.h"
#include "platform/Base64.h"
#include "platform/tests/TempDir.h"

#include <gtest/gtest.h>

#include <numeric>

using namespace gardivo;
using namespace gardivo::testing;

namespace {

const std::string kBoundaryLine = "--KM_MAIL_PaRt_BoUnDaRy_05151998\r\n";

TEST(MimeMessage, ComposesTheWholeMessageByteForByte) {
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    TempDir dir;
    std::vector<uint8_t> bytes(54);
    std::iota(bytes.begin(), bytes.end(), 0);
    writeBytes(dir.file("a.bin"), bytes);
    writeText(dir.file("b.txt"), "Hi");

    MimeMessage m;
    m.setFixedTime(0);
    m.From = "10.0.0.5";
    m.Subject = "Tavrin Gardivo Warning....";
    m.Body =
        "  " + std::string(80, 'x') + "\r\n" + std::string(70, 'a') + " " + std::string(10, 'b') + " cc\r\n";
    ASSERT_TRUE(m.AddRecipients("Night Guard <guard@example.org>", RecipientTo));
    ASSERT_TRUE(m.AddRecipients("hidden@example.org", RecipientBcc));
    m.AddMimePart(" " + dir.file("a.bin") + " ", OctetStreamPart, "", 4, true);
    m.AddMimePart(dir.file("missing.bin"), OctetStreamPart, "", 4, true);
    m.AddMimePart(dir.file("b.txt"), OctetStreamPart, "", 4, true);
    m.FormatMessage();

    EXPECT_EQ(m.header(), "From: 10.0.0.5\r\n"
                          "To: Night Guard <guard@example.org>\r\n"
                          "Cc: \r\n"
                          "Date: Thu, 01 Jan 70 00:00:00 UTC\r\n"
                          "Subject: Tavrin Gardivo Warning....\r\n"
                          "X-Mailer: DE Zozo\r\n"
                          "MIME-Version: 1.0\r\n"
                          "Content-Type: multipart/mixed; boundary=KM_MAIL_PaRt_BoUnDaRy_05151998\r\n"
                          "\r\n");
    const std::string expected =
        "This is a multi-part message in MIME format.\r\n"
        "\r\n" +
        kBoundaryLine +
        "Content-Type: text/plain\r\n"
        "Content-Transfer-Encoding: 7Bit\r\n"
        "\r\n" +
        std::string(80, 'x') + "\r\n" + std::string(70, 'a') + "\r\n" + "bbbbbbbbbb cc\r\n" + kBoundaryLine +
        "Content-Type: application/octet-stream; file=a.bin\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=a.bin\r\n"
        "\r\n"
        "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1\r\n"
        "\r\n"
        "\r\n" +
        kBoundaryLine + kBoundaryLine +
        "Content-Type: application/octet-stream; file=b.txt\r\n"
        "Content-Transfer-Encoding: base64\r\n"
        "Content-Disposition: attachment; filename=b.txt\r\n"
        "\r\n"
        "SGk=\r\n"
        "\r\n"
        "--KM_MAIL_PaRt_BoUnDaRy_05151998--\r\n";
    EXPECT_EQ(m.Body, expected);
}

TEST(MimeMessage, WithoutBodyOrPartsOnlyThePreambleAndTheClosingBoundaryRemain) {
    MimeMessage m;
    m.FormatMessage();
    EXPECT_EQ(m.Body,
              "This is a multi-part message in MIME format.\r\n\r\n--KM_MAIL_PaRt_BoUnDaRy_05151998--\r\n");
    // Text parts go in front of the attachments, whatever the order they were added in.
    MimeMessage n;
    n.AddMimePart("/x", OctetStreamPart, "", 4, true);
    n.AddMimePart(" note ", TextPlainPart, "", 0, false);
    ASSERT_EQ(n.parts().size(), 2u);
    EXPECT_EQ(n.parts()[0].content, "note");
}

TEST(Recipients, SplitAtSemicolonsWithNamesAndEmptyItems) {
    MailMessage m;
    ASSERT_TRUE(m.AddRecipients("Ann <ann@x.org>;bob@y.org;", RecipientTo));
    ASSERT_EQ(m.recipientCount(RecipientTo), 3u);
    EXPECT_EQ(m.recipient(RecipientTo, 0).address, "ann@x.org");
    EXPECT_EQ(m.recipient(RecipientTo, 0).name, "Ann ");
    EXPECT_EQ(m.recipient(RecipientTo, 1).address, "bob@y.org");
    EXPECT_EQ(m.recipient(RecipientTo, 1).name, "");
    EXPECT_EQ(m.recipient(RecipientTo, 2).address, ""); // the trailing ';' gives an empty one
    // A '<' without a '>' stops the list; what came before stays.
    EXPECT_FALSE(m.AddRecipients("c@z.org;Dan <dan@z.org", RecipientCc));
    EXPECT_EQ(m.recipientCount(RecipientCc), 1u);
    EXPECT_FALSE(m.AddRecipients("x", 3));
}

TEST(TextWrap, BreaksLongLinesAtTheirLastSpace) {
    EXPECT_EQ(wrapText(std::string(76, 'a'), 76), std::string(76, 'a'));
    EXPECT_EQ(wrapText(std::string(100, 'a'), 76), std::string(100, 'a')); // no space: stays whole
    EXPECT_EQ(wrapText(std::string(60, 'a') + "   " + std::string(20, 'b'), 76),
              std::string(60, 'a') + "\r\n" + std::string(20, 'b'));
    // The count starts again after every CRLF.
    const std::string twoLines = std::string(70, 'a') + "\r\n" + std::string(70, 'b') + " c";
    EXPECT_EQ(wrapText(twoLines, 76), twoLines);
    // A long text breaks more than once.
    std::string words;
    for (int i = 0; i < 40; ++i)
        words += "word" + std::to_string(i % 10) + " ";
    const std::string wrapped = wrapText(words, 76);
    size_t start = 0, end;
    int lines = 0;
    while ((end = wrapped.find("\r\n", start)) != std::string::npos) {
        EXPECT_LE(end - start, 76u);
        EXPECT_NE(wrapped[end - 1], ' ');
        start = end + 2;
        ++lines;
    }
    EXPECT_EQ(lines, 3);
}

TEST(DataTransparency, LinesOfOneDotAreDoubled) {
    EXPECT_EQ(dotStuff(".\r\nx"), "..\r\nx");
    EXPECT_EQ(dotStuff("a\r\n.\r\nb"), "a\r\n..\r\nb");
    EXPECT_EQ(dotStuff("a\r\n.\r\n.\r\nb"), "a\r\n..\r\n..\r\nb");
    // Any line that starts with a dot: the receiving server takes one off again.
    EXPECT_EQ(dotStuff("a\r\n.b\r\n"), "a\r\n..b\r\n");
    EXPECT_EQ(dotStuff(".net\r\n..two\r\nmid.dle."), "..net\r\n...two\r\nmid.dle.");
    // A bare newline ends no line in SMTP.
    EXPECT_EQ(dotStuff("a\n.b"), "a\n.b");
}

TEST(Base64, EncodesChunksWithTheirOwnPadding) {
    const auto enc = [](std::string s) { return base64Encode(s); };
    EXPECT_EQ(enc(""), "");
    EXPECT_EQ(enc("f"), "Zg==");
    EXPECT_EQ(enc("fo"), "Zm8=");
    EXPECT_EQ(enc("foo"), "Zm9v");
    EXPECT_EQ(enc("foobar"), "Zm9vYmFy");
    EXPECT_EQ(base64Encode("\xff\xfe\xfd"), "//79");
}

} // namespace
