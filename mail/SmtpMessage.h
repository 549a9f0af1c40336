// A mail message as the SMTP connection (SmtpConnection.h) sends it: addresses, the
// recipient lists, the header block, and the tree of MIME body parts with their headers,
// encoded bodies and closing boundaries.
//
//   CSMTPMessage m;
//   m.m_From = CSMTPAddress("", sender);                  // "Name <addr>" is fine too
//   m.m_sSubject = subject;
//   m.AddBodyText(text);                                  // plain text while MIME is off
//   m.AttachFileList(path);                               // turns MIME on: text, then file
//   m.AddRecipientList(to, SMTP_TO);                      // "a@x; B <b@y>, c@z"
//   connection.SendMessage(m);
//
// Texts are UTF-8. Where a charset label goes out with a text (header words, text parts),
// the text is converted to that charset first, so the label is true; a header text that the
// charset cannot hold goes as UTF-8 encoded words.
// Nothing here fails on text: bad list items are dropped, missing files skipped; only
// EncodePartBody fails (an attachment that cannot be read or is too large). Not thread-safe:
// one thread builds and sends a message.
#pragma once

#include <cstdint>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

enum MailPriority { NO_PRIORITY = 0, LOW_PRIORITY = 1, NORMAL_PRIORITY = 2, HIGH_PRIORITY = 3 };
enum SmtpRecipientType { SMTP_TO = 0, SMTP_CC = 1, SMTP_BCC = 2 };

class CSMTPAddress {
 public:
  CSMTPAddress() = default;
  CSMTPAddress(std::string friendlyName, std::string emailAddress)
      : m_sFriendlyName(std::move(friendlyName)), m_sEmailAddress(std::move(emailAddress)) {}
  explicit CSMTPAddress(const std::string& text) { ParseAddress(text); }

  // "Name <addr>" gives name and address (the name trimmed, quotes kept); a text without a
  // '<' ... '>' pair holding something is all address, trimmed.
  void ParseAddress(const std::string& text);

  // The address alone when there is no name, else "Name <addr>" with the name passed through
  // EncodeHeaderValue(charset) when encode is set (a quoted name that needs encoded words
  // loses its quotes first).
  std::string RegularForm(bool encode, const std::string& charset) const;

  std::string m_sFriendlyName;
  std::string m_sEmailAddress;
};

// Replaces addresses with every address of a list whose items end at ',' ';', except inside
// double quotes or angle brackets ("Smith, John" <js@x> is one item); items without an
// address are dropped. Returns the count.
int SplitAddressList(const std::string& text, std::vector<CSMTPAddress>& addresses);

class CSMTPBodyPart {
 public:
  static constexpr std::uint32_t kDefaultMaxAttachmentSize = 52428800;

  // A text/plain part in iso-8859-1, quoted-printable, with a fresh UUID as its boundary.
  CSMTPBodyPart();
  // Copies keep the source's boundary and parent and deep-copy its children.
  CSMTPBodyPart(const CSMTPBodyPart& other);
  CSMTPBodyPart& operator=(const CSMTPBodyPart& other);
  virtual ~CSMTPBodyPart();

  // Stores text with every line end as CR LF and makes the part text/plain.
  void SetBodyText(const std::string& text);
  // False when path names nothing; else the part becomes an application/octet-stream
  // attachment titled with the file's name.
  bool SetAttachmentFile(const std::string& path);

  int AddChildPart(const CSMTPBodyPart& part);
  void RemoveChildPart(int index);
  int ChildCount() const { return static_cast<int>(m_children.size()); }
  CSMTPBodyPart* GetChildPart(int index) const;
  // The first child whose content type is exactly type, else nullptr.
  CSMTPBodyPart* FindChildByType(const std::string& type) const;
  CSMTPBodyPart* GetParentPart() const { return m_pParent; }

  const std::string& GetText() const { return m_sText; }
  const std::string& GetFilename() const { return m_sFilename; }
  const std::string& GetTitle() const { return m_sTitle; }
  const std::string& GetContentType() const { return m_sContentType; }
  void SetContentType(const std::string& type) { m_sContentType = type; }
  const std::string& Charset() const { return m_sCharset; }
  void SetCharset(const std::string& charset) { m_sCharset = charset; }
  const std::string& GetBoundary() const { return m_sBoundary; }
  bool GetQuotedPrintable() const { return m_bQuotedPrintable; }
  void SetQuotedPrintable(bool on) { m_bQuotedPrintable = on; }
  bool GetBase64() const { return m_bBase64; }
  void SetBase64(bool on) { m_bBase64 = on; }

  // The header of a part below the root: boundary line, content type, transfer encoding,
  // ending in the empty line. A part with children declares no transfer encoding of its own
  // (a multipart entity must not, RFC 2045). An attachment's name that is no token goes
  // quoted, with encoded words inside the quotes and as an extended file name parameter
  // (RFC 2231) where quotes alone cannot carry it.
  std::string BuildPartHeader() const;
  // The body as it goes on the wire: an attachment's file in Base64 lines of 76; a text in
  // its charset, Base64 or quoted-printable by the flags, dot-stuffed. False when the file
  // cannot be read or is larger than the maximum attachment size.
  bool EncodePartBody(std::string& out) const;
  // "\r\n--boundary--".
  std::string BuildPartFooter() const;

 private:
  void CopyFrom(const CSMTPBodyPart& other);

  std::string m_sFilename;
  std::string m_sTitle;
  std::string m_sContentType = "text/plain";
  std::string m_sCharset = "iso-8859-1";
  std::string m_sContentBase;
  std::string m_sContentID;
  std::string m_sContentLocation;
  std::string m_sText;
  std::vector<std::unique_ptr<CSMTPBodyPart>> m_children;
  CSMTPBodyPart* m_pParent = nullptr;
  std::string m_sBoundary;
  bool m_bQuotedPrintable = true;
  bool m_bBase64 = false;
  std::uint32_t m_dwMaxAttachmentSize = kDefaultMaxAttachmentSize;
};

// Base64 of bytes in lines of 76 characters, each line (the last too) ending in CR LF.
std::string Base64Lines(const void* bytes, std::size_t count);

// The zone of a Date header for a bias in minutes (UTC = local + bias): -60 "+0100",
// 300 "-0500", -330 "+0530".
std::string ZoneText(int biasMinutes);

// The bias of the local time zone at t, daylight saving included.
int LocalBiasMinutes(std::time_t t);

class CSMTPMessage {
 public:
  CSMTPMessage();
  CSMTPMessage(const CSMTPMessage&) = delete;
  CSMTPMessage& operator=(const CSMTPMessage&) = delete;
  virtual ~CSMTPMessage();

  // Appends a copy of address to the list of type; its index, or -1 for another type.
  int AddRecipient(const CSMTPAddress& address, int type);
  // Every address of a list text (SplitAddressList); true when there was one.
  bool AddRecipientList(const std::string& text, int type);
  int RecipientCount(int type) const;
  CSMTPAddress* GetRecipient(int index, int type) const;

  // The message text: the root's while MIME is off, else the first text/plain part's (made
  // when there is none).
  void AddBodyText(const std::string& text);
  // Switching MIME on makes the root a multipart/mixed container; the old text, if any,
  // becomes its first child. Every child is dropped on a switch.
  void SetMultipart(bool on);
  bool IsMultipart() const { return m_bMime; }
  // Turns MIME on and appends a copy of part under the root; its index.
  int AddPart(const CSMTPBodyPart& part);
  // Attaches one file, its path taken whole (',' and ';' included). False when it does not
  // exist.
  bool AttachFile(const std::string& path);
  // Attaches each file of a ',' or ';' separated list; files that do not exist are skipped.
  // Returns how many were attached.
  int AttachFileList(const std::string& list);

  // The header block, every line ending in CR LF (the empty line after it is not included).
  // The Date is the local time with the "C" locale's names and the zone of that moment. A
  // sender without a name whose address text is "Name <addr>" shows that name, encoded like
  // the recipients' names. A line longer than 998 characters is folded (HeaderFolder).
  virtual std::string BuildHeader();

  CSMTPAddress m_From;
  std::string m_sSubject;
  std::string m_sXMailer = "CRQZSMTPConnection v2.42";
  CSMTPAddress m_ReplyTo;
  CSMTPBodyPart m_RootPart;
  int m_Priority = NO_PRIORITY;
  std::vector<std::string> m_CustomHeaders;

 private:
  std::vector<std::unique_ptr<CSMTPAddress>>* List(int type);
  const std::vector<std::unique_ptr<CSMTPAddress>>* List(int type) const;

  std::vector<std::unique_ptr<CSMTPAddress>> m_ToRecipients;
  std::vector<std::unique_ptr<CSMTPAddress>> m_CCRecipients;
  std::vector<std::unique_ptr<CSMTPAddress>> m_BCCRecipients;
  bool m_bMime = false;
};
