// The e-mail options dialog's Test button against aiosmtpd (WEXO_SMTP_PORT): the test message
// with the settings file attached byte for byte, and the boxes of a refused connection and a
// refused recipient.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/support/PeerProcess.h"
#include "e2e/support/WexoRun.h"
#include "engine/Application.h"
#include "platform/LastError.h"
#include "platform/Profile.h"
#include "ui/EMailDialog.h"
#include "unit/support/ControlTable.h"

namespace {

namespace fs = std::filesystem;
using wexo_test::FromHex;
using wexo_test::OutputLines;

class EMailTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("wexo-emailtest-" + std::to_string(::getpid()));
    fs::create_directories(dir / "saved");
    std::string error;
    ASSERT_TRUE(wexo_test::StartMailPeer(smtp, (dir / "saved").string(), &error))
        << "aiosmtpd did not start: " << error;
    previousIni = platform::SettingsFile();
    // Bytes a text conversion would change: CR LF, a lone LF, UTF-8 and a byte that is none.
    ini =
        "[Options]\r\nE-Mail=1\r\nE-Mail-Subject=Pr\xC3\xBC"
        "fung\nTolvak=\xFF x\r\n";
    wexo_test::Write(dir / "wexo.ini", ini);
    platform::SetSettingsFile((dir / "wexo.ini").string());
  }
  void TearDown() override {
    platform::SetSettingsFile(previousIni);
    unsetenv("WEXO_SMTP_PORT");
    fs::remove_all(dir);
  }

  // Presses Test with these settings; the boxes shown.
  std::vector<std::string> Test(const std::string& server, const std::string& to) {
    CEMailDlg dialog(app);
    ControlTable controls;
    dialog.AttachControls(&controls);
    dialog.m_mail.EMail = 1;
    dialog.m_mail.EMailSmtpServer = server;
    dialog.m_mail.EMailFrom = "Wexo Tester <wexo@example.org>";
    dialog.m_mail.EMailTo = to;
    dialog.m_mail.EMailSubject = "Mail check";
    int waits = 0;
    dialog.m_waitCursor = [&](bool on) { waits += on ? 1 : -1; };
    dialog.OnInitDialog();
    dialog.OnTest();
    EXPECT_EQ(waits, 0);
    informations = controls.informations;
    return controls.messages;
  }

  fs::path dir;
  std::string previousIni;
  std::string ini;
  // The boxes of the last Test shown with the information icon.
  std::vector<std::string> informations;
  wexo_test::PeerProcess smtp;
  CWexoApp app;
};

TEST_F(EMailTest, TestMessageCarriesTheSettingsFile) {
  EXPECT_EQ(Test("127.0.0.1", "a@example.org; Bee <b@example.org>"),
            std::vector<std::string>{"E-Mail message successfully sent"});
  EXPECT_EQ(informations, std::vector<std::string>{"E-Mail message successfully sent"});
  ASSERT_TRUE(wexo_test::WaitForOutput(smtp, "DONE")) << smtp.Output();
  const std::string out = smtp.Output();
  EXPECT_EQ(OutputLines(out, "MAIL "), std::vector<std::string>{"wexo@example.org"});
  EXPECT_EQ(OutputLines(out, "RCPT "), (std::vector<std::string>{"a@example.org", "b@example.org"}));
  const std::vector<std::string> subject = OutputLines(out, "SUBJECT ");
  ASSERT_EQ(subject.size(), 1u) << out;
  EXPECT_EQ(FromHex(subject[0]), "Mail check");

  const std::vector<std::string> parts = OutputLines(out, "PART ");
  ASSERT_EQ(parts.size(), 2u) << out;
  ASSERT_EQ(parts[0].rfind("text/plain - ", 0), 0u) << parts[0];
  // The peer gives the text part decoded, with its line ends as Python reads them.
  EXPECT_EQ(FromHex(parts[0].substr(13)).rfind("This is a Test with your WEXO.INI file attached\n", 0), 0u);
  std::istringstream attachment(parts[1]);
  std::string type, name, hex;
  attachment >> type >> name >> hex;
  EXPECT_EQ(name, "wexo.ini");
  EXPECT_EQ(FromHex(hex), ini);
  // The test saves nothing.
  EXPECT_EQ(wexo_test::ReadAll(dir / "wexo.ini"), ini);
}

// A settings file whose name is no token: both readers take the attachment's name back whole,
// from the file name and from the content type's name.
TEST_F(EMailTest, AttachmentNamesArriveWhole) {
  const std::string names[] = {
      "wexo settings.ini", "Einstellungen f\xC3\xBCr \"Wexo\" (1).ini",
      "\xD0\x9E\xD1\x82\xD1\x87\xD1\x91\xD1\x82 \xD0\xBE \xD0\xBF\xD1\x80\xD0\xBE\xD0\xB2\xD0\xB5\xD1\x80\xD0\xBA"
      "\xD0\xB5 \xD1\x81\xD1\x81\xD1\x8B\xD0\xBB\xD0\xBE\xD0\xBA \xD0\xBD\xD0\xB0 \xD1\x81\xD0\xB0\xD0\xB9\xD1\x82"
      "\xD0\xB5.ini",  // Отчёт о проверке ссылок на сайте.ini: more than one encoded word
  };
  std::size_t sent = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    wexo_test::Write(dir / name, ini);
    platform::SetSettingsFile((dir / name).string());
    EXPECT_EQ(Test("127.0.0.1", "a@example.org"), std::vector<std::string>{"E-Mail message successfully sent"});
    ++sent;
    for (int i = 0; i < 1000 && OutputLines(smtp.Output(), "DONE").size() < sent; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const std::vector<std::string> files = OutputLines(smtp.Output(), "FILE ");
    ASSERT_EQ(files.size(), 2 * sent) << smtp.Output();
    // "<strict file name> <strict name> <lenient file name> <lenient name>" of the attachment.
    std::istringstream seen(files.back());
    for (const char* reader : {"strict file name", "strict name", "lenient file name", "lenient name"}) {
      std::string hex;
      seen >> hex;
      EXPECT_EQ(FromHex(hex), name) << reader;
    }
  }
}

TEST_F(EMailTest, FailuresShowTheirBoxes) {
  const std::string refusedPort = std::to_string(wexo_test::UnusedPort());
  setenv("WEXO_SMTP_PORT", refusedPort.c_str(), 1);
  EXPECT_EQ(Test("127.0.0.1", "a@example.org"),
            std::vector<std::string>{"Failed to connect to SMTP server 127.0.0.1: " +
                                     platform::FormatMessageText(platform::WSAECONNREFUSED)});
  // A port setting that is no port sends nothing, not even to port 25.
  setenv("WEXO_SMTP_PORT", "2525x", 1);
  EXPECT_EQ(Test("127.0.0.1", "a@example.org"), std::vector<std::string>{"WEXO_SMTP_PORT is not a port number: 2525x"});
  EXPECT_EQ(smtp.Output(), "");
  setenv("WEXO_SMTP_PORT", std::to_string(smtp.Port()).c_str(), 1);
  EXPECT_EQ(Test("127.0.0.1", "a@example.org, nobody@example.org"),
            std::vector<std::string>{
                "Failed to send e-mail message: 550 5.1.1 <nobody@example.org>: Recipient address rejected"});
  EXPECT_TRUE(OutputLines(smtp.Output(), "DONE").empty()) << smtp.Output();
  EXPECT_TRUE(informations.empty()) << "failures are warnings";
}

}  // namespace
