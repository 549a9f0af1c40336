#include "engine/LinkInfo.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "engine/Charset.h"
#include "engine/WexoDoc.h"
#include "platform/MimeTypes.h"

namespace {

// Beyond this many referrers a membership set replaces the linear scan.
constexpr std::size_t kReferrerScanLimit = 16;

std::mutex serverNamePoolLock;
std::map<std::string, std::unique_ptr<const std::string>, std::less<>>& ServerNamePool() {
  static auto* pool = new std::map<std::string, std::unique_ptr<const std::string>, std::less<>>;
  return *pool;
}

const char* KnownStatusText(std::int16_t code) {
  switch (code) {
    case -6: return "mail host ok";
    case -5: return "external .jar content";
    case -4: return "user skip";
    case -3: return "skip type";
    case -2: return "skip external";
    case -1: return "busy";
    case 0: return "pending";
    case 2: return "file not found";
    case 3: return "invalid path";
    case 4: return "too many open files";
    case 5: return "access denied";
    case 6: return "invalid file handle";
    case 10: return "hardware error";
    case 11: return "sharing violation";
    case 87: return "parameter incorrect";
    case 200: return "ok";
    case 204: return "no info to return";
    case 300: return "ambiguous";
    case 301: return "object permanently moved";
    case 302: return "object temporarily moved";
    case 303: return "redirection with new access method";
    case 304: return "Not Modified";
    case 305: return "use proxy";
    case 307: return "keep same verb";
    case 400: return "no object data";
    case 401: return "auth required";
    case 403: return "forbidden request";
    case 404: return "not found";
    case 405: return "method is not allowed";
    case 406: return "no response acceptable to client found";
    case 407: return "proxy authentication required";
    case 408: return "server timed out waiting for request";
    case 409: return "user should resubmit with more info";
    case 410: return "the resource is no longer available";
    case 411: return "the server refused to accept request without a length";
    case 412: return "precondition given in request failed";
    case 413: return "request entity was too large";
    case 414: return "request URI too long";
    case 415: return "unsupported media type";
    case 423: return "The requested resource is currently locked";
    case 500: return "server error";
    case 501: return "required not supported";
    case 502: return "error response received from gateway";
    case 503: return "temporarily overloaded";
    case 504: return "timed out waiting for gateway";
    case 505: return "HTTP Version Not Supported";
    case 12002: return "timeout";
    case 12003: return "extended error";
    case 12007: return "no such host";
    case 12013: return "incorrect user";
    case 12014: return "incorrect password";
    case 12015: return "login failure";
    case 12017: return "cancelled / timeout";
    case 12029: return "no connection";
    case 12030: return "connection aborted";
    case 12031: return "connection reset";
    case 12037: return "SSL certificate expired";
    case 12038: return "SSL certificate common name incorrect";
    case 12044: return "The server is requesting client authentication";
    case 12045: return "Certificate Authority unfamiliar";
    case 12057: return "security certificate revocation failed";
    case 12152: return "invalid response";
    default: return nullptr;
  }
}

}  // namespace

std::string StatusText(std::int16_t code) {
  if (const char* text = KnownStatusText(code)) return text;
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "error %hd", code);
  return buffer;
}

CLinkInfo::CLinkInfo() = default;

CLinkInfo::~CLinkInfo() = default;

// Record indices in one flat table (open addressing, at most half full): no allocation per
// member, as a node-based set would make for every referrer of a much-linked record.
class CLinkInfo::ReferrerSet {
 public:
  template <class It>
  ReferrerSet(It first, It last) {
    m_slots.assign(64, 0);
    for (; first != last; ++first) Insert(*first);
  }
  bool Contains(std::uint32_t index) const {
    const std::uint64_t key = std::uint64_t{index} + 1;
    for (std::size_t i = Slot(index);; i = (i + 1) & (m_slots.size() - 1)) {
      if (m_slots[i] == key) return true;
      if (m_slots[i] == 0) return false;
    }
  }
  // The index must not be a member yet.
  void Insert(std::uint32_t index) {
    if ((m_count + 1) * 2 > m_slots.size()) Grow();
    Place(std::uint64_t{index} + 1);
    ++m_count;
  }

 private:
  std::size_t Slot(std::uint32_t index) const {
    return static_cast<std::size_t>((std::uint64_t{index} * 0x9E3779B97F4A7C15ull) >> 32) & (m_slots.size() - 1);
  }
  void Place(std::uint64_t key) {
    std::size_t i = Slot(static_cast<std::uint32_t>(key - 1));
    while (m_slots[i] != 0) i = (i + 1) & (m_slots.size() - 1);
    m_slots[i] = key;
  }
  void Grow() {
    std::vector<std::uint64_t> old(m_slots.size() * 2, 0);
    old.swap(m_slots);
    for (std::uint64_t key : old)
      if (key) Place(key);
  }
  // index + 1 per member (so 0 is free); 64 bits, as a record index may be 0xFFFFFFFF.
  std::vector<std::uint64_t> m_slots;
  std::size_t m_count = 0;
};

bool CLinkInfo::HasReferrer(std::uint32_t index) const {
  // A page names the same target many times over while it is scanned.
  if (!m_dwaReferrers.empty() && m_dwaReferrers.back() == index) return true;
  if (m_referrerSet) return m_referrerSet->Contains(index);
  for (std::uint32_t r : m_dwaReferrers)
    if (r == index) return true;
  return false;
}

bool CLinkInfo::AddReferrerIndex(std::uint32_t index) {
  if (HasReferrer(index)) return false;
  m_dwaReferrers.push_back(index);
  if (m_referrerSet) {
    m_referrerSet->Insert(index);
  } else if (m_dwaReferrers.size() > kReferrerScanLimit) {
    m_referrerSet = std::make_unique<ReferrerSet>(m_dwaReferrers.begin(), m_dwaReferrers.end());
  }
  return true;
}

const std::string& CLinkInfo::GetUrl() const { return m_pDoc->GetUrl(m_nIndex); }

std::string CLinkInfo::GetServer() const {
  const std::string* s = GetServerName();
  return s ? *s : std::string();
}

std::string CLinkInfo::GetCharsetName() const {
  const CCharsetInfo* cs = GetCharset();
  return cs ? cs->m_csName : std::string();
}

unsigned CLinkInfo::GetCodePage() const {
  const CCharsetInfo* cs = GetCharset();
  return cs ? cs->m_nCodePage : 0;
}

bool CLinkInfo::IsParsableType() const {
  return m_csMimeType == "text/html" || m_csMimeType == "text/vnd.wap.wml" || m_csMimeType == "application/xhtml+xml" ||
         m_csMimeType == "text/css";
}

bool CLinkInfo::IsNonHtmlType() const {
  static const char* const types[] = {
      "text/plain",
      "text/richtext",
      "text/rtf",
      "application/rtf",
      "application/pdf",
      "application/msword",
      "application/vnd.msexcel",
      "application/vnd.ms-powerpoint",
      "application/vnd.openxmlformats-officedocument.wordprocessingml.document",
      "application/vnd.ms-word.document.macroEnabled.12",
      "application/vnd.ms-excel.sheet.macroEnabled.12",
      "application/vnd.ms-powerpoint.presentation.macroEnabled.12",
      "application/vnd.openxmlformats-officedocument.spreadsheetml.sheet",
      "application/vnd.openxmlformats-officedocument.presentationml.presentation",
      "application/vnd.openxmlformats-officedocument.presentationml.slideshow",
  };
  for (const char* t : types)
    if (m_csMimeType == t) return true;
  return m_csMimeType.starts_with("audio/") || m_csMimeType.starts_with("video/");
}

const std::string* InternServerNameText(const std::string& text) {
  std::lock_guard<std::mutex> lock(serverNamePoolLock);
  auto& pool = ServerNamePool();
  auto it = pool.find(text);
  if (it == pool.end()) it = pool.emplace(text, std::make_unique<const std::string>(text)).first;
  return it->second.get();
}

void InternServerName(CLinkInfo* link, const std::string& text) { link->SetServerName(InternServerNameText(text)); }

void FreeServerNamePool() {
  std::lock_guard<std::mutex> lock(serverNamePoolLock);
  ServerNamePool().clear();
}


