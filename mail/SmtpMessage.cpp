#include "mail/SmtpMessage.h"

#include "algorithms/Base64.h"
#include "mail/MailEncoders.h"
#include "platform/LocalTime.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <functional>

namespace {

constexpr const char* kPreamble = "This is a multi-part message in MIME format";

bool IsTrimmed(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; }

std::string Trim(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

// Each item of a list, trimmed; items end at ',' ';' and the end of the text (or its first
// NUL). With quoting, a ',' or ';' between double quotes (where a backslash takes the next
// character as it is) or between '<' and '>' is part of its item; a '"' or '<' that nothing
// closes is an ordinary character.
void ForEachListItem(const std::string& list, bool quoting, const std::function<void(const std::string&)>& item) {
  const std::size_t end = std::min(list.size(), list.find('\0'));
  // Once a quote or bracket found no end, none after it can: each is looked for once.
  bool quoteCloses = quoting, bracketCloses = quoting;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= end; ++i) {
    if (i < end && list[i] == '"' && quoteCloses) {
      std::size_t j = i + 1;
      while (j < end && list[j] != '"') j += list[j] == '\\' ? 2 : 1;
      if (j < end)
        i = j;
      else
        quoteCloses = false;
      continue;
    }
    if (i < end && list[i] == '<' && bracketCloses) {
      const std::size_t j = list.find('>', i + 1);
      if (j < end)
        i = j;
      else
        bracketCloses = false;
      continue;
    }
    if (i == end || list[i] == ',' || list[i] == ';') {
      item(Trim(list.substr(start, i - start)));
      start = i + 1;
    }
  }
}

std::string NewBoundary() {
  uuid_t id;
  uuid_generate(id);
  char text[37];
  uuid_unparse_lower(id, text);
  return text;
}

// Reads the whole file into out; false when it cannot be read or is larger than limit.
bool ReadAttachment(const std::string& path, std::uint32_t limit, std::string& out) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  bool ok = fstat(fd, &st) == 0 && st.st_size >= 0 && static_cast<std::uint64_t>(st.st_size) <= limit;
  if (ok) {
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (ok && done < out.size()) {
      const ssize_t n = read(fd, out.data() + done, out.size() - done);
      if (n > 0)
        done += static_cast<std::size_t>(n);
      else if (n == 0 || errno != EINTR)
        ok = false;  // an error, or a file that shrank while it was read
    }
  }
  close(fd);
  return ok;
}

// A name as it goes into an address header. Encoded words cannot stand inside quotes: a
// quoted name that needs them loses its quotes (and the backslashes of its quoted pairs).
std::vector<HeaderWord> NameWords(const std::string& name, const std::string& charset, bool utf8Words) {
  const bool ascii = std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
  if ((ascii && !utf8Words) || name.size() < 2 || name.front() != '"' || name.back() != '"')
    return EncodeHeaderWords(name, charset, utf8Words, WordPlace::Phrase);
  std::string bare;
  for (std::size_t i = 1; i + 1 < name.size(); ++i) {
    if (name[i] == '\\' && i + 2 < name.size()) ++i;
    bare += name[i];
  }
  return EncodeHeaderWords(bare, charset, utf8Words, WordPlace::Phrase);
}

// "Name <addr>", or the address alone, into a header line; a fold between the encoded words
// of a name is the last resort (some readers keep the blank between them).
void AddAddress(HeaderFolder& line, const CSMTPAddress& a, const std::string& charset, bool utf8Words) {
  if (a.m_sFriendlyName.empty()) {
    line.Word(a.m_sEmailAddress);
    return;
  }
  line.Words(NameWords(a.m_sFriendlyName, charset, utf8Words), false);
  line.Text(" ");
  line.Word("<" + a.m_sEmailAddress + ">");
}

// A header line folded where it is too long; when its pieces leave no way to fold it short
// enough, made again with every text as UTF-8 encoded words, which can be folded anywhere.
std::string FoldedLine(const char* start, const std::function<void(HeaderFolder&, bool utf8Words)>& fill) {
  HeaderFolder line(start);
  fill(line, false);
  if (line.Fits()) return line.Line();
  HeaderFolder again(start);
  fill(again, true);
  return again.Line();
}

// Whether a parameter value can stand without quotes (an RFC 2045 token).
bool IsToken(const std::string& value) {
  return !value.empty() && std::all_of(value.begin(), value.end(), [](char c) {
    return c > ' ' && c < 0x7F && std::string_view("()<>@,;:\\\"/[]?=").find(c) == std::string_view::npos;
  });
}

void AppendFormatted(std::string& out, const char* first, const std::string& value, const char* last) {
  out += first;
  out += value;
  out += last;
}

}  // namespace

// --- CSMTPAddress ---

void CSMTPAddress::ParseAddress(const std::string& text) {
  const std::string t = Trim(text);
  const std::size_t open = t.find('<');
  const std::size_t close = t.find('>');
  if (open == std::string::npos || close == std::string::npos || close < open + 2) {
    m_sFriendlyName.clear();
    m_sEmailAddress = t;
    return;
  }
  m_sEmailAddress = t.substr(open + 1, close - open - 1);
  m_sFriendlyName = Trim(t.substr(0, open));
}

std::string CSMTPAddress::RegularForm(bool encode, const std::string& charset) const {
  if (m_sFriendlyName.empty()) return m_sEmailAddress;
  std::string name;
  if (encode) {
    for (const HeaderWord& w : NameWords(m_sFriendlyName, charset, false)) name += w.text;
  } else {
    name = m_sFriendlyName;
  }
  return name + " <" + m_sEmailAddress + ">";
}

int SplitAddressList(const std::string& text, std::vector<CSMTPAddress>& addresses) {
  addresses.clear();
  ForEachListItem(text, true, [&](const std::string& item) {
    CSMTPAddress a(item);
    if (!a.m_sEmailAddress.empty()) addresses.push_back(std::move(a));
  });
  return static_cast<int>(addresses.size());
}

// --- CSMTPBodyPart ---

CSMTPBodyPart::CSMTPBodyPart() : m_sBoundary(NewBoundary()) {}

CSMTPBodyPart::CSMTPBodyPart(const CSMTPBodyPart& other) { CopyFrom(other); }

CSMTPBodyPart& CSMTPBodyPart::operator=(const CSMTPBodyPart& other) {
  if (this != &other) CopyFrom(other);
  return *this;
}

CSMTPBodyPart::~CSMTPBodyPart() = default;

void CSMTPBodyPart::CopyFrom(const CSMTPBodyPart& other) {
  m_sFilename = other.m_sFilename;
  m_sTitle = other.m_sTitle;
  m_sContentType = other.m_sContentType;
  m_sCharset = other.m_sCharset;
  m_sContentBase = other.m_sContentBase;
  m_sContentID = other.m_sContentID;
  m_sContentLocation = other.m_sContentLocation;
  m_sText = other.m_sText;
  m_pParent = other.m_pParent;
  m_sBoundary = other.m_sBoundary;
  m_bQuotedPrintable = other.m_bQuotedPrintable;
  m_bBase64 = other.m_bBase64;
  m_dwMaxAttachmentSize = other.m_dwMaxAttachmentSize;
  // Copied first: other may be one of this part's own children.
  std::vector<std::unique_ptr<CSMTPBodyPart>> children;
  for (const auto& child : other.m_children) {
    children.push_back(std::make_unique<CSMTPBodyPart>(*child));
    children.back()->m_pParent = this;
  }
  m_children = std::move(children);
}

void CSMTPBodyPart::SetBodyText(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else {
      out += c;
    }
  }
  m_sText = std::move(out);
  m_sContentType = "text/plain";
}

bool CSMTPBodyPart::SetAttachmentFile(const std::string& path) {
  struct stat st;
  if (path.empty() || stat(path.c_str(), &st) != 0) return false;
  m_sFilename = path;
  const std::size_t slash = path.rfind('/');
  m_sTitle = slash == std::string::npos ? path : path.substr(slash + 1);
  m_sContentType = "application/octet-stream";
  return true;
}

int CSMTPBodyPart::AddChildPart(const CSMTPBodyPart& part) {
  auto copy = std::make_unique<CSMTPBodyPart>(part);
  copy->m_pParent = this;
  m_children.push_back(std::move(copy));
  return ChildCount() - 1;
}

void CSMTPBodyPart::RemoveChildPart(int index) {
  if (index >= 0 && index < ChildCount()) m_children.erase(m_children.begin() + index);
}

CSMTPBodyPart* CSMTPBodyPart::GetChildPart(int index) const {
  return index >= 0 && index < ChildCount() ? m_children[static_cast<std::size_t>(index)].get() : nullptr;
}

CSMTPBodyPart* CSMTPBodyPart::FindChildByType(const std::string& type) const {
  for (const auto& child : m_children)
    if (child->m_sContentType == type) return child.get();
  return nullptr;
}

std::string CSMTPBodyPart::BuildPartHeader() const {
  const std::string parentBoundary = m_pParent ? m_pParent->m_sBoundary : std::string();
  const bool hasChildren = !m_children.empty();
  std::string h;
  if (!m_sFilename.empty()) {
    // A file name that is no token goes so that readers take it back whole: quoted (encoded
    // words inside the quotes where needed) for the name, and as an extended parameter for the
    // file name where quotes alone cannot carry it.
    const bool token = IsToken(m_sTitle);
    const std::string quoted = token ? "\"" + m_sTitle + "\"" : QuotedParameterText(m_sTitle);
    const bool plainQuotes = token || quoted == "\"" + m_sTitle + "\"";
    AppendFormatted(h, "\r\n\r\n--", parentBoundary, "\r\n");
    AppendFormatted(h, "Content-Type: ", m_sContentType, "; ");
    AppendFormatted(h, "charset=", m_sCharset, "; ");
    AppendFormatted(h, "name=", token ? m_sTitle : quoted, "");
    if (hasChildren) AppendFormatted(h, "; Boundary=\"", m_sBoundary, "\"");
    h += "\r\nContent-Transfer-Encoding: base64\r\n";
    if (plainQuotes)
      AppendFormatted(h, "Content-Disposition: attachment; filename=", quoted, "\r\n");
    else
      AppendFormatted(h, "Content-Disposition: attachment; filename*=", ExtendedParameterText(m_sTitle), "\r\n");
  } else {
    AppendFormatted(h, "\r\n--", parentBoundary, "\r\n");
    AppendFormatted(h, "Content-Type: ", m_sContentType, "; ");
    AppendFormatted(h, "charset=", m_sCharset, "");
    if (hasChildren) AppendFormatted(h, "; Boundary=\"", m_sBoundary, "\"");
    h += "\r\n";
    if (!hasChildren) {
      if (m_bBase64)
        h += "Content-Transfer-Encoding: base64\r\n";
      else if (m_bQuotedPrintable)
        h += "Content-Transfer-Encoding: quoted-printable\r\n";
    }
  }
  if (!m_sContentBase.empty()) AppendFormatted(h, "Content-Base: ", m_sContentBase, "\r\n");
  if (!m_sContentID.empty()) AppendFormatted(h, "Content-ID: ", m_sContentID, "\r\n");
  if (!m_sContentLocation.empty()) AppendFormatted(h, "Content-Location: ", m_sContentLocation, "\r\n");
  h += "\r\n";
  return h;
}

bool CSMTPBodyPart::EncodePartBody(std::string& out) const {
  out.clear();
  if (!m_sFilename.empty()) {
    std::string bytes;
    if (!ReadAttachment(m_sFilename, m_dwMaxAttachmentSize, bytes)) return false;
    out = Base64Lines(bytes.data(), bytes.size());
    return true;
  }
  const std::string bytes = TextForCharset(m_sText, m_sCharset);
  if (m_bBase64)
    out = Base64Lines(bytes.data(), bytes.size());
  else if (m_bQuotedPrintable)
    out = StuffDots(EncodeQuotedPrintable(bytes));
  else
    out = StuffDots(bytes);
  return true;
}

std::string CSMTPBodyPart::BuildPartFooter() const { return "\r\n--" + m_sBoundary + "--"; }

std::string Base64Lines(const void* bytes, std::size_t count) {
  if (count == 0) return {};
  CBase64Coder coder;
  coder.Encode(bytes, count);
  const char* text = coder.EncodedText();
  const std::size_t length = static_cast<std::size_t>(coder.EncodedLength());
  std::string out;
  out.reserve(length + (length / 76 + 1) * 2);
  for (std::size_t at = 0; at < length; at += 76) {
    out.append(text + at, std::min<std::size_t>(76, length - at));
    out += "\r\n";
  }
  return out;
}

std::string ZoneText(int biasMinutes) {
  const int minutes = std::abs(biasMinutes);
  char text[16];
  std::snprintf(text, sizeof text, "%c%02d%02d", biasMinutes <= 0 ? '+' : '-', minutes / 60, minutes % 60);
  return text;
}

int LocalBiasMinutes(std::time_t t) {
  struct tm local;
  if (localtime_r(&t, &local) == nullptr) return 0;
  return static_cast<int>(-local.tm_gmtoff / 60);
}

// --- CSMTPMessage ---

CSMTPMessage::CSMTPMessage() = default;
CSMTPMessage::~CSMTPMessage() = default;

std::vector<std::unique_ptr<CSMTPAddress>>* CSMTPMessage::List(int type) {
  switch (type) {
    case SMTP_TO: return &m_ToRecipients;
    case SMTP_CC: return &m_CCRecipients;
    case SMTP_BCC: return &m_BCCRecipients;
    default: return nullptr;
  }
}

const std::vector<std::unique_ptr<CSMTPAddress>>* CSMTPMessage::List(int type) const {
  return const_cast<CSMTPMessage*>(this)->List(type);
}

int CSMTPMessage::AddRecipient(const CSMTPAddress& address, int type) {
  auto* list = List(type);
  if (!list) return -1;
  list->push_back(std::make_unique<CSMTPAddress>(address));
  return static_cast<int>(list->size()) - 1;
}

bool CSMTPMessage::AddRecipientList(const std::string& text, int type) {
  std::vector<CSMTPAddress> addresses;
  SplitAddressList(text, addresses);
  for (const CSMTPAddress& a : addresses) AddRecipient(a, type);
  return !addresses.empty();
}

int CSMTPMessage::RecipientCount(int type) const {
  const auto* list = List(type);
  return list ? static_cast<int>(list->size()) : 0;
}

CSMTPAddress* CSMTPMessage::GetRecipient(int index, int type) const {
  const auto* list = List(type);
  if (!list || index < 0 || index >= static_cast<int>(list->size())) return nullptr;
  return (*list)[static_cast<std::size_t>(index)].get();
}

void CSMTPMessage::AddBodyText(const std::string& text) {
  if (!m_bMime) {
    m_RootPart.SetBodyText(text);
    return;
  }
  if (CSMTPBodyPart* part = m_RootPart.FindChildByType("text/plain")) {
    part->SetBodyText(text);
    return;
  }
  m_RootPart.SetBodyText(kPreamble);
  m_RootPart.SetContentType("multipart/mixed");
  CSMTPBodyPart part;
  part.SetCharset(m_RootPart.Charset());
  part.SetBodyText(text);
  m_RootPart.AddChildPart(part);
}

void CSMTPMessage::SetMultipart(bool on) {
  if (on == m_bMime) return;
  m_bMime = on;
  while (m_RootPart.ChildCount() > 0) m_RootPart.RemoveChildPart(m_RootPart.ChildCount() - 1);
  if (!on) return;
  const std::string oldText = m_RootPart.GetText();
  m_RootPart.SetBodyText(kPreamble);
  m_RootPart.SetContentType("multipart/mixed");
  if (!oldText.empty()) AddBodyText(oldText);
}

int CSMTPMessage::AddPart(const CSMTPBodyPart& part) {
  SetMultipart(true);
  return m_RootPart.AddChildPart(part);
}

bool CSMTPMessage::AttachFile(const std::string& path) {
  CSMTPBodyPart part;
  if (!part.SetAttachmentFile(path)) return false;
  AddPart(part);
  return true;
}

int CSMTPMessage::AttachFileList(const std::string& list) {
  int attached = 0;
  ForEachListItem(list, false, [&](const std::string& item) {
    if (!item.empty() && AttachFile(item)) ++attached;
  });
  return attached;
}

std::string CSMTPMessage::BuildHeader() {
  const std::string& charset = m_RootPart.Charset();
  const std::time_t now = std::time(nullptr);
  const std::string date = platform::FormatLocalTime(now, "%a, %d %b %Y %H:%M:%S ") + ZoneText(LocalBiasMinutes(now));

  auto addresses = [&](const char* start, const std::vector<std::unique_ptr<CSMTPAddress>>& list) {
    return FoldedLine(start, [&](HeaderFolder& line, bool utf8Words) {
      for (std::size_t i = 0; i < list.size(); ++i) {
        if (i > 0) {
          line.Word(",");
          line.Break();
        }
        AddAddress(line, *list[i], charset, utf8Words);
      }
    });
  };
  // The sender is often one text, "Name <addr>": its name is encoded like any other.
  CSMTPAddress from = m_From;
  if (from.m_sFriendlyName.empty()) {
    const CSMTPAddress parsed(m_From.m_sEmailAddress);
    if (!parsed.m_sEmailAddress.empty()) from = parsed;
  }

  std::string h =
      FoldedLine("From: ", [&](HeaderFolder& line, bool utf8Words) { AddAddress(line, from, charset, utf8Words); });
  AppendFormatted(h, "\r\n", addresses("To: ", m_ToRecipients), "\r\n");
  if (!m_CCRecipients.empty()) AppendFormatted(h, "", addresses("Cc: ", m_CCRecipients), "\r\n");
  h += FoldedLine("Subject: ", [&](HeaderFolder& line, bool utf8Words) {
    line.Words(EncodeHeaderWords(m_sSubject, charset, utf8Words), true);
  });
  if (!m_sXMailer.empty()) h += "\r\nX-Mailer: " + m_sXMailer;
  h += "\r\n";
  if (m_bMime) {
    const bool multipart = m_RootPart.ChildCount() > 0;
    if (!multipart) {
      if (m_RootPart.GetBase64())
        h += "Content-Transfer-Encoding: base64\r\n";
      else if (m_RootPart.GetQuotedPrintable())
        h += "Content-Transfer-Encoding: quoted-printable\r\n";
    }
    h += "MIME-Version: 1.0\r\n";
    AppendFormatted(h, "Content-Type: ", m_RootPart.GetContentType(), "");
    if (multipart) AppendFormatted(h, "; boundary=\"", m_RootPart.GetBoundary(), "\"");
    h += "\r\n";
  } else {
    AppendFormatted(h, "Content-Type: ", m_RootPart.GetContentType(), ";\r\n");
    AppendFormatted(h, "\tcharset=", charset, "\r\n");
  }
  if (!m_ReplyTo.m_sEmailAddress.empty() || !m_ReplyTo.m_sFriendlyName.empty()) {
    h += FoldedLine("Reply-To: ",
                    [&](HeaderFolder& line, bool utf8Words) { AddAddress(line, m_ReplyTo, charset, utf8Words); });
    h += "\r\n";
  }
  AppendFormatted(h, "Date: ", date, "\r\n");
  switch (m_Priority) {
    case LOW_PRIORITY: h += "X-Priority: 5\r\n"; break;
    case NORMAL_PRIORITY: h += "X-Priority: 3\r\n"; break;
    case HIGH_PRIORITY: h += "X-Priority: 1\r\n"; break;
    default: break;
  }
  for (const std::string& line : m_CustomHeaders) h += line + "\r\n";
  return h;
}
