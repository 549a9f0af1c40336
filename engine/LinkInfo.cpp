#include "engine/LinkInfo.h"

#include <cstdio>
#include <map>
#include <mutex>

#include "engine/Charset.h"
#include "engine/LinkTable.h"
#include "platform/MimeTypes.h"

namespace {

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

const std::string& CLinkInfo::GetUrl() const { return m_pTable->GetUrl(m_nIndex); }

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
