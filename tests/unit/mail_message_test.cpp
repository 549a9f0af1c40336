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
  // Encoded words cannot stand in quotes: a quoted name that needs them loses its quotes.
  EXPECT_EQ(CSMTPAddress("\"Doe, Jane\" <j@x>").RegularForm(true, "iso-8859-1"), "\"Doe, Jane\" <j@x>");
  // Inside the word of a name the specials are escaped, so that the comma parts no address.
  EXPECT_EQ(CSMTPAddress("\"M\xC3\xBCller, J\xC3\xB6rg\" <j@x>").RegularForm(true, "iso-8859-1"),
            "=?iso-8859-1?q?M=FCller=2C_J=F6rg?= <j@x>");
  const CSMTPAddress otdel("\xD0\x9E\xD1\x82\xD0\xB4\xD0\xB5\xD0\xBB <otdel@example.org>");
  EXPECT_EQ(otdel.RegularForm(true, "iso-8859-1"), "=?UTF-8?B?0J7RgtC00LXQuw==?= <otdel@example.org>");
}

TEST(MailAddress, Lists) {
  struct Case {
    std::string list;
    std::vector<std::string> addresses;
  } cases[] = {
      {"a@x; B <b@y>, c@z,, ", {"a@x", "b@y", "c@z"}},
      {" ; , ;; ", {}},
      // Inside quotes or angle brackets ',' and ';' belong to the item.
      {"\"Doe, Jane\" <j@x>", {"j@x"}},
      {"\"Smith, John\" <js@example.org>; \"a;b\" <ab@x>, c@y", {"js@example.org", "ab@x", "c@y"}},
      {"\"a\\\", b\" <a@x>, c@y", {"a@x", "c@y"}},  // an escaped quote does not close
      {"Odd <x,y@z>; w@z", {"x,y@z", "w@z"}},
      // A quote or bracket that nothing closes is an ordinary character.
      {"\"Doe, Jane <j@x>, k@y", {"\"Doe", "j@x", "k@y"}},
      {"a@x, <b@y; c@z", {"a@x", "<b@y", "c@z"}},
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

// The header's lines, without their CR LF; a folded line is one entry per physical line.
std::vector<std::string> HeaderLines(const std::string& header) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < header.size();) {
    const std::size_t end = header.find("\r\n", at);
    lines.push_back(header.substr(at, end - at));
    at = end == std::string::npos ? header.size() : end + 2;
  }
  return lines;
}

TEST(MailMessage, SenderNameIsEncodedLikeTheRecipients) {
  struct Case {
    CSMTPAddress from;
    std::string line;
  } cases[] = {
      {CSMTPAddress("",
                    "J\xC3\xB6rg Pr\xC3\xBC"
                    "fer <joerg@example.org>"),
       "From: =?iso-8859-1?q?J=F6rg_Pr=FCfer?= <joerg@example.org>"},
      {CSMTPAddress("", "Sender Name <s@x>"), "From: Sender Name <s@x>"},
      {CSMTPAddress("", "s@x"), "From: s@x"},
      {CSMTPAddress("", "Name <>"), "From: Name <>"},
      {CSMTPAddress("\xD0\x9E\xD1\x82\xD0\xB4\xD0\xB5\xD0\xBB", "o@x"), "From: =?UTF-8?B?0J7RgtC00LXQuw==?= <o@x>"},
  };
  for (const Case& c : cases) {
    CSMTPMessage m;
    m.m_From = c.from;
    m.AddRecipientList("a@x", SMTP_TO);
    EXPECT_EQ(HeaderLines(m.BuildHeader())[0], c.line);
  }
}

TEST(MailMessage, LongHeaderLinesAreFoldedAndShortOnesKeptAsTheyWere) {
  CSMTPMessage m;
  m.m_From = CSMTPAddress("", "Wexo <wexo@example.org>");
  std::string to, expectedTo;
  for (int i = 0; i < 40; ++i) {
    const std::string n = std::to_string(i);
    to += (i ? "; " : "") + std::string("Recipient Number ") + n + " <recipient" + n + "@example.org>";
    expectedTo += (i ? ", " : "") + std::string("Recipient Number ") + n + " <recipient" + n + "@example.org>";
  }
  m.AddRecipientList(to, SMTP_TO);
  std::string subject;
  while (subject.size() < 1500) subject += "Bericht f\xC3\xBCr M\xC3\xBCller ";
  m.m_sSubject = subject;
  m.AddRecipientList("Cc Person <cc@example.org>", SMTP_CC);
  const std::string h = m.BuildHeader();
  const std::vector<std::string> lines = HeaderLines(h);
  for (const std::string& line : lines) EXPECT_LE(line.size(), 998u) << line.substr(0, 80);

  // The To list comes apart after its commas; unfolded it is the list, a blank after each
  // comma where a fold went.
  const std::size_t toStart = h.find("\r\nTo: ") + 2;
  const std::string toLine = h.substr(toStart, h.find("\r\nCc: ") - toStart);
  EXPECT_NE(toLine.find(",\r\n Recipient"), std::string::npos) << toLine;
  std::string unfolded = toLine;
  for (std::size_t at; (at = unfolded.find("\r\n")) != std::string::npos;) unfolded.erase(at, 2);
  for (std::size_t at; (at = unfolded.find(",R")) != std::string::npos;) unfolded.insert(at + 1, " ");
  EXPECT_EQ(unfolded, "To: " + expectedTo);
  // The subject's words are parted between encoded words, with the blank a fold needs.
  EXPECT_NE(h.find("?=\r\n =?iso-8859-1?q?"), std::string::npos) << h.substr(0, 2000);
  // Short lines as they always were.
  EXPECT_THAT(h, HasSubstr("\r\nCc: Cc Person <cc@example.org>\r\n"));
  EXPECT_EQ(lines[0], "From: Wexo <wexo@example.org>");

  // A 1,500-character word that has no white space to fold at goes as UTF-8 words.
  m.m_sSubject = std::string(1500, 'x');
  const std::string h2 = m.BuildHeader();
  for (const std::string& line : HeaderLines(h2)) EXPECT_LE(line.size(), 998u) << line.substr(0, 80);
  EXPECT_THAT(h2, HasSubstr("Subject: =?UTF-8?q?xxxx"));
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

// A file name that is no token goes quoted, and where quotes alone cannot carry it, as encoded
// words inside them and as an extended file name; a token keeps the unquoted name.
TEST_F(MailFiles, AttachmentNamesThatAreNoTokenGoQuotedAndEncoded) {
  const struct {
    std::string title, name, filename;
  } cases[] = {
      {"QMV-1.htm", "name=QMV-1.htm", "filename=\"QMV-1.htm\""},
      {"wexo settings.ini", "name=\"wexo settings.ini\"", "filename=\"wexo settings.ini\""},
      {"a,b; c.htm", "name=\"a,b; c.htm\"", "filename=\"a,b; c.htm\""},
      {"Pr\xC3\xBC"
       "fung \"1\".ini",
       "name=\"=?UTF-8?B?UHLDvGZ1bmcgIjEiLmluaQ==?=\"", "filename*=UTF-8''Pr%C3%BCfung%20%221%22.ini"},
      {"a\\b.ini", "name=\"=?UTF-8?q?a=5Cb=2Eini?=\"", "filename*=UTF-8''a%5Cb.ini"},
      {"=?x?q?y?=", "name=\"=?UTF-8?B?PT94P3E/eT89?=\"", "filename*=UTF-8''%3D%3Fx%3Fq%3Fy%3F%3D"},
  };
  for (const auto& c : cases) {
    CSMTPMessage m;
    ASSERT_TRUE(m.AttachFile(Write(c.title, "x"))) << c.title;
    const CSMTPBodyPart& part = *m.m_RootPart.GetChildPart(0);
    EXPECT_EQ(part.BuildPartHeader(), "\r\n\r\n--" + m.m_RootPart.GetBoundary() +
                                          "\r\nContent-Type: application/octet-stream; charset=iso-8859-1; " + c.name +
                                          "\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; " +
                                          c.filename + "\r\n\r\n");
  }
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
