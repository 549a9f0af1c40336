// The mail message: addresses and lists, the header block, the MIME part tree and the
// encoded part bodies.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <clocale>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "mail/SmtpMessage.h"

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

namespace {

// TZ for the life of one test.
class ZoneScope {
 public:
  explicit ZoneScope(const char* zone) {
    if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneScope() {
    if (had_)
      setenv("TZ", old_.c_str(), 1);
    else
      unsetenv("TZ");
    tzset();
  }

 private:
  std::string old_;
  bool had_ = false;
};

class MailFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("wexo-mail-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }
  std::string Write(const std::string& name, const std::string& bytes) {
    std::ofstream(dir_ / name, std::ios::binary) << bytes;
    return (dir_ / name).string();
  }
  fs::path dir_;
};

TEST(MailAddress, ParseAddress) {
  struct Case {
    std::string text, name, address;
  } cases[] = {
      {"  Jane Doe <jane@example.org>  ", "Jane Doe", "jane@example.org"},
      {"\"Doe, Jane\" <jane@x>", "\"Doe, Jane\"", "jane@x"},
      {"<a@x>", "", "a@x"},
      {"Name <>", "", "Name <>"},
      {"b@x > y < z", "", "b@x > y < z"},
      {" plain@x ", "", "plain@x"},
  };
  for (const Case& c : cases) {
    const CSMTPAddress a(c.text);
    EXPECT_EQ(a.m_sFriendlyName, c.name) << c.text;
    EXPECT_EQ(a.m_sEmailAddress, c.address) << c.text;
  }
  EXPECT_EQ(CSMTPAddress("", "a@x").RegularForm(true, "iso-8859-1"), "a@x");
  EXPECT_EQ(CSMTPAddress("J\xC3\xBCrgen", "j@x").RegularForm(true, "iso-8859-1"), "=?iso-8859-1?q?J=FCrgen?= <j@x>");
  EXPECT_EQ(CSMTPAddress("J\xC3\xBCrgen", "j@x").RegularForm(false, "iso-8859-1"), "J\xC3\xBCrgen <j@x>");
}

TEST(MailAddress, Lists) {
  struct Case {
    std::string list;
    std::vector<std::string> addresses;
  } cases[] = {
      {"a@x; B <b@y>, c@z,, ", {"a@x", "b@y", "c@z"}},
      {" ; , ;; ", {}},
      {"\"Doe, Jane\" <j@x>", {"\"Doe", "j@x"}},  // a comma in a quoted name ends the item too
      {std::string("a@x\0b@y", 7), {"a@x"}},
  };
  for (const Case& c : cases) {
    std::vector<CSMTPAddress> found{CSMTPAddress("old", "old@x")};
    EXPECT_EQ(SplitAddressList(c.list, found), static_cast<int>(c.addresses.size())) << c.list;
    std::vector<std::string> got;
    for (const CSMTPAddress& a : found) got.push_back(a.m_sEmailAddress);
    EXPECT_EQ(got, c.addresses) << c.list;

    CSMTPMessage m;
    EXPECT_EQ(m.AddRecipientList(c.list, SMTP_CC), !c.addresses.empty());
    EXPECT_EQ(m.RecipientCount(SMTP_CC), static_cast<int>(c.addresses.size()));
  }
  CSMTPMessage m;
  EXPECT_EQ(m.AddRecipient(CSMTPAddress("a@x"), 3), -1);
  EXPECT_EQ(m.AddRecipient(CSMTPAddress("a@x"), SMTP_BCC), 0);
  EXPECT_EQ(m.AddRecipient(CSMTPAddress("b@x"), SMTP_BCC), 1);
  EXPECT_EQ(m.GetRecipient(1, SMTP_BCC)->m_sEmailAddress, "b@x");
  EXPECT_EQ(m.GetRecipient(2, SMTP_BCC), nullptr);
  EXPECT_EQ(m.GetRecipient(0, 7), nullptr);
  EXPECT_EQ(m.RecipientCount(7), 0);
}

TEST(MailMessage, HeaderOfAPlainMessage) {
  ZoneScope zone("IST-5:30");
  CSMTPMessage m;
  m.m_From = CSMTPAddress("", "Sender Name <s@x>");
  m.m_sSubject = "R\xC3\xA9sum\xC3\xA9 of links";
  m.AddRecipientList("A <a@x>, B <b@y>", SMTP_TO);
  m.AddRecipientList("hidden@z", SMTP_BCC);
  m.AddBodyText("text");
  const std::string h = m.BuildHeader();
  const std::regex shape(
      "From: Sender Name <s@x>\r\n"
      "To: A <a@x>,B <b@y>\r\n"
      "Subject: =\\?iso-8859-1\\?q\\?R=E9sum=E9_of_links\\?=\r\n"
      "X-Mailer: CRQZSMTPConnection v2.42\r\n"
      "Content-Type: text/plain;\r\n\tcharset=iso-8859-1\r\n"
      "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-3][0-9] [A-Z][a-z]{2} 20[0-9]{2} [0-2][0-9]:[0-5][0-9]:[0-6][0-9] "
      "\\+0530\r\n");
  EXPECT_TRUE(std::regex_match(h, shape)) << h;

  m.m_sXMailer.clear();
  m.m_Priority = HIGH_PRIORITY;
  m.m_CustomHeaders.push_back("X-Check: 1");
  m.AddRecipientList("c@z", SMTP_CC);
  const std::string h2 = m.BuildHeader();
  EXPECT_THAT(h2, HasSubstr("\r\nCc: c@z\r\nSubject: "));
  EXPECT_THAT(h2, HasSubstr("_links?=\r\nContent-Type: "));
  EXPECT_THAT(h2, HasSubstr("\r\nX-Priority: 1\r\nX-Check: 1\r\n"));
  EXPECT_THAT(h2, Not(HasSubstr("X-Mailer")));
  EXPECT_THAT(h2, Not(HasSubstr("hidden")));
}

TEST(MailMessage, DateIsInEnglishWhateverTheLocale) {
  ZoneScope zone("UTC0");
  const char* was = std::setlocale(LC_ALL, nullptr);
  const std::string saved = was ? was : "C";
  // de_DE is installed by tools/install-deps; without it the check is still the "C" one.
  std::setlocale(LC_ALL, "de_DE.UTF-8");
  CSMTPMessage m;
  const std::string h = m.BuildHeader();
  std::setlocale(LC_ALL, saved.c_str());
  EXPECT_TRUE(std::regex_search(h, std::regex("\r\nDate: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), [0-9]{2} "
                                              "(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) .* \\+0000\r\n")))
      << h;
}

TEST(MailMessage, ZoneTexts) {
  struct Case {
    int bias;
    const char* text;
  } cases[] = {{-60, "+0100"}, {300, "-0500"}, {-330, "+0530"}, {0, "+0000"}, {210, "-0330"}, {-765, "+1245"}};
  for (const Case& c : cases) EXPECT_EQ(ZoneText(c.bias), c.text) << c.bias;

  // The offset of the moment itself, daylight saving included.
  ZoneScope zone("CET-1CEST,M3.5.0,M10.5.0/3");
  EXPECT_EQ(LocalBiasMinutes(1767225600), -60);   // 2026-01-01
  EXPECT_EQ(LocalBiasMinutes(1782864000), -120);  // 2026-07-01
}

TEST(MailMessage, BodyTextLineEnds) {
  CSMTPBodyPart p;
  p.SetContentType("x/y");
  p.SetBodyText("a\rb\nc\r\nd\n\re");
  EXPECT_EQ(p.GetText(), "a\r\nb\r\nc\r\nd\r\n\r\ne");
  EXPECT_EQ(p.GetContentType(), "text/plain");
}

TEST_F(MailFiles, AttachingMakesTextThenFileUnderAMultipartRoot) {
  CSMTPMessage m;
  m.SetMultipart(true);
  EXPECT_EQ(m.m_RootPart.ChildCount(), 0);  // no text, no text part
  m.SetMultipart(false);

  m.AddBodyText("Hello");
  const std::string file = Write("report.html", "<p>x</p>");
  EXPECT_EQ(m.AttachFileList(" " + file + " ; " + (dir_ / "missing.txt").string() + ",,"), 1);
  ASSERT_TRUE(m.IsMultipart());
  const CSMTPBodyPart& root = m.m_RootPart;
  EXPECT_EQ(root.GetContentType(), "multipart/mixed");
  EXPECT_EQ(root.GetText(), "This is a multi-part message in MIME format");
  ASSERT_EQ(root.ChildCount(), 2);
  const CSMTPBodyPart& text = *root.GetChildPart(0);
  const CSMTPBodyPart& attachment = *root.GetChildPart(1);
  EXPECT_EQ(text.GetText(), "Hello");
  EXPECT_EQ(attachment.GetTitle(), "report.html");
  EXPECT_EQ(attachment.GetParentPart(), &root);
  EXPECT_EQ(root.FindChildByType("application/octet-stream"), &attachment);
  EXPECT_EQ(root.FindChildByType("TEXT/PLAIN"), nullptr);

  m.AddBodyText("Replaced");
  EXPECT_EQ(root.GetChildPart(0)->GetText(), "Replaced");

  const std::string b = root.GetBoundary();
  EXPECT_TRUE(std::regex_match(b, std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}"))) << b;
  EXPECT_NE(b, text.GetBoundary());

  EXPECT_EQ(text.BuildPartHeader(), "\r\n--" + b +
                                        "\r\nContent-Type: text/plain; charset=iso-8859-1\r\n"
                                        "Content-Transfer-Encoding: quoted-printable\r\n\r\n");
  EXPECT_EQ(attachment.BuildPartHeader(), "\r\n\r\n--" + b +
                                              "\r\nContent-Type: application/octet-stream; charset=iso-8859-1; "
                                              "name=report.html\r\nContent-Transfer-Encoding: base64\r\n"
                                              "Content-Disposition: attachment; filename=\"report.html\"\r\n\r\n");
  EXPECT_EQ(root.BuildPartFooter(), "\r\n--" + b + "--");

  // The multipart root declares no transfer encoding of its own.
  const std::string h = m.BuildHeader();
  EXPECT_THAT(h, HasSubstr("\r\nMIME-Version: 1.0\r\nContent-Type: multipart/mixed; boundary=\"" + b + "\"\r\n"));
  EXPECT_THAT(h, Not(HasSubstr("Content-Transfer-Encoding")));

  // Copies keep boundaries and hang their children below themselves.
  CSMTPBodyPart copy = root;
  EXPECT_EQ(copy.GetBoundary(), b);
  ASSERT_EQ(copy.ChildCount(), 2);
  EXPECT_EQ(copy.GetChildPart(1)->GetParentPart(), &copy);
  copy.RemoveChildPart(0);
  EXPECT_EQ(copy.ChildCount(), 1);
  EXPECT_EQ(root.ChildCount(), 2);
}

TEST_F(MailFiles, OneFileIsAttachedByItsWholePath) {
  // A temporary folder may hold ',' and ';': the list would split such a path apart.
  const std::string file = Write("a,b; c.htm", "<p>x</p>");
  CSMTPMessage list;
  EXPECT_EQ(list.AttachFileList(file), 0);
  CSMTPMessage one;
  EXPECT_FALSE(one.AttachFile((dir_ / "missing.htm").string()));
  EXPECT_FALSE(one.IsMultipart());
  ASSERT_TRUE(one.AttachFile(file));
  ASSERT_EQ(one.m_RootPart.ChildCount(), 1);
  EXPECT_EQ(one.m_RootPart.GetChildPart(0)->GetFilename(), file);
  EXPECT_EQ(one.m_RootPart.GetChildPart(0)->GetTitle(), "a,b; c.htm");
}

TEST_F(MailFiles, EncodedBodies) {
  std::string out;
  CSMTPBodyPart text;
  text.SetBodyText(".dot\nR\xC3\xA9sum\xC3\xA9=");
  ASSERT_TRUE(text.EncodePartBody(out));
  EXPECT_EQ(out, "..dot\r\nR=E9sum=E9=3D");  // Latin-1 as labelled, escaped, dot-stuffed
  text.SetCharset("UTF-8");
  ASSERT_TRUE(text.EncodePartBody(out));
  EXPECT_EQ(out, "..dot\r\nR=C3=A9sum=C3=A9=3D");
  text.SetQuotedPrintable(false);
  ASSERT_TRUE(text.EncodePartBody(out));
  EXPECT_EQ(out, "..dot\r\nR\xC3\xA9sum\xC3\xA9=");

  // 114 bytes are 152 Base64 characters: two lines of 76, nothing else.
  text.SetBase64(true);
  text.SetBodyText(std::string(114, 'z'));
  ASSERT_TRUE(text.EncodePartBody(out));
  std::string line;
  for (int i = 0; i < 19; ++i) line += "enp6";
  EXPECT_EQ(out, line + "\r\n" + line + "\r\n");
  EXPECT_EQ(Base64Lines("foobar", 6), "Zm9vYmFy\r\n");
  EXPECT_EQ(Base64Lines("f", 1), "Zg==\r\n");
  EXPECT_EQ(Base64Lines("", 0), "");

  struct Case {
    std::uintmax_t size;
    bool ok;
  } cases[] = {{0, true},
               {CSMTPBodyPart::kDefaultMaxAttachmentSize, true},
               {CSMTPBodyPart::kDefaultMaxAttachmentSize + 1, false}};
  for (const Case& c : cases) {
    const std::string path = Write("file-" + std::to_string(c.size), "");
    fs::resize_file(path, c.size);
    CSMTPBodyPart file;
    ASSERT_TRUE(file.SetAttachmentFile(path));
    EXPECT_EQ(file.EncodePartBody(out), c.ok) << c.size;
    const std::uintmax_t base64 = (c.size + 2) / 3 * 4;
    if (c.ok) {
      EXPECT_EQ(out.size(), base64 + (base64 + 75) / 76 * 2) << c.size;
    }
  }
  CSMTPBodyPart gone;
  ASSERT_TRUE(gone.SetAttachmentFile(Write("gone", "x")));
  fs::remove(dir_ / "gone");
  EXPECT_FALSE(gone.EncodePartBody(out));
  EXPECT_FALSE(gone.SetAttachmentFile((dir_ / "never").string()));
}

}  // namespace
