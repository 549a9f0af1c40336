#include "platform/Inet.h"
#include "platform/InetTransfer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

namespace platform {

using inet_detail::SessionState;
using inet_detail::Transfer;

namespace {

std::string Lower(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string NoLineBreaks(std::string s)
{
    std::replace(s.begin(), s.end(), '\r', ' ');
    std::replace(s.begin(), s.end(), '\n', ' ');
    return s;
}

std::string TrimBlanks(const std::string& s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t'))
        ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t'))
        --e;
    return s.substr(b, e - b);
}

// Bytes curl's URL parser refuses (blanks, controls, 8-bit) as %XX; the rest,
// dots and escapes included, goes to the server as it is.
std::string EscapeUnsafe(const std::string& s)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(s.size());
    for (unsigned char c : s) {
        if (c <= 0x20 || c >= 0x7F) {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool ValidHost(const std::string& host)
{
    if (host.empty())
        return false;
    for (unsigned char c : host) {
        if (c <= 0x20 || c == 0x7F || c == '/' || c == '?' || c == '#' || c == '@' || c == '\\')
            return false;
    }
    return true;
}

std::string HostForUrl(const std::string& host)
{
    if (host.find(':') != std::string::npos && host.front() != '[')
        return "[" + host + "]";
    return host;
}

bool ValidHeaderName(const std::string& name)
{
    if (name.empty())
        return false;
    for (unsigned char c : name) {
        if (c <= 0x20 || c >= 0x7F || c == ':')
            return false;
    }
    return true;
}

bool SameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

const char* HeaderNameOfLevel(std::uint32_t level)
{
    switch (level) {
    case HTTP_QUERY_CONTENT_TYPE: return "Content-Type";
    case HTTP_QUERY_CONTENT_LENGTH: return "Content-Length";
    case HTTP_QUERY_DATE: return "Date";
    case HTTP_QUERY_LAST_MODIFIED: return "Last-Modified";
    case HTTP_QUERY_CONTENT_ENCODING: return "Content-Encoding";
    case HTTP_QUERY_LOCATION: return "Location";
    case HTTP_QUERY_SERVER: return "Server";
    case HTTP_QUERY_WWW_AUTHENTICATE: return "WWW-Authenticate";
    case HTTP_QUERY_PROXY_AUTHENTICATE: return "Proxy-Authenticate";
    case HTTP_QUERY_SET_COOKIE: return "Set-Cookie";
    default: return nullptr;
    }
}

// A whole-URL request of a scheme without headers (gopher).
class RawUrlFile : public CInternetFile {
public:
    RawUrlFile(std::shared_ptr<SessionState> s, std::string url, std::string protocols)
        : CInternetFile(std::move(s), std::move(url)), m_protocols(std::move(protocols))
    {
    }
    void Open(const std::string& poolKey) { StartTransfer(poolKey, false); }

private:
    void Configure(Transfer& t) override
    {
        curl_easy_setopt(t.Easy(), CURLOPT_URL, m_url.c_str());
        curl_easy_setopt(t.Easy(), CURLOPT_PROTOCOLS_STR, m_protocols.c_str());
    }
    std::string m_protocols;
};

} // namespace

// ---- CHttpConnection ----

CHttpConnection::CHttpConnection(std::shared_ptr<SessionState> session, std::string server,
                                 std::uint16_t port, std::string user, std::string password)
    : m_session(std::move(session)), m_server(std::move(server)), m_port(port),
      m_user(std::move(user)), m_password(std::move(password))
{
}

CHttpConnection::~CHttpConnection() = default;

std::unique_ptr<CHttpConnection> CInternetSession::GetHttpConnection(const std::string& server,
                                                                     std::uint16_t port,
                                                                     const std::string& user,
                                                                     const std::string& password)
{
    if (m_state->cancelled.load())
        throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
    if (!ValidHost(server))
        throw CInternetException(ERROR_INTERNET_INVALID_URL);
    return std::unique_ptr<CHttpConnection>(
        new CHttpConnection(m_state, server, port, user, password));
}

std::unique_ptr<CHttpFile> CHttpConnection::OpenRequest(int verb, const std::string& object,
                                                        const std::string& referer,
                                                        std::uint32_t flags)
{
    if (m_session->cancelled.load())
        throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
    if (verb != HTTP_VERB_GET && verb != HTTP_VERB_HEAD && verb != HTTP_VERB_POST)
        throw CInternetException(ERROR_INVALID_PARAMETER, "unsupported verb");
    const bool secure = (flags & INTERNET_FLAG_SECURE) != 0;
    const char* scheme = secure ? "https" : "http";
    const std::uint16_t port =
        m_port != INTERNET_INVALID_PORT_NUMBER ? m_port
                                               : (secure ? INTERNET_DEFAULT_HTTPS_PORT : INTERNET_DEFAULT_HTTP_PORT);
    const std::string hostPort = HostForUrl(m_server) + ":" + std::to_string(port);
    std::string path = object.empty() || object[0] != '/' ? "/" + object : object;
    std::string url = std::string(scheme) + "://" + hostPort + EscapeUnsafe(path);
    std::string key = std::string(scheme) + "://" + Lower(hostPort);
    return std::unique_ptr<CHttpFile>(new CHttpFile(m_session, std::move(url), std::move(key), verb,
                                                    object, NoLineBreaks(referer), flags, m_user,
                                                    m_password));
}

// ---- CHttpFile ----

CHttpFile::CHttpFile(std::shared_ptr<SessionState> session, std::string url, std::string poolKey,
                     int verb, std::string object, std::string referer, std::uint32_t flags,
                     std::string user, std::string password)
    : CInternetFile(std::move(session), std::move(url)), m_poolKey(std::move(poolKey)), m_verb(verb),
      m_object(std::move(object)), m_referer(std::move(referer)), m_flags(flags),
      m_user(std::move(user)), m_password(std::move(password))
{
}

CHttpFile::~CHttpFile() = default;

namespace {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Adds one "Name: value" line to list; ok becomes false for a malformed one.
void AddLine(HeaderList& list, const std::string& raw, std::uint32_t flags, bool& ok)
{
    const std::string line = TrimBlanks(raw);
    if (line.empty())
        return;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
        ok = false;
        return;
    }
    std::string name = TrimBlanks(line.substr(0, colon));
    std::string value = TrimBlanks(line.substr(colon + 1));
    if (!ValidHeaderName(name)) {
        ok = false;
        return;
    }
    auto it = std::find_if(list.begin(), list.end(),
                           [&](const auto& h) { return SameName(h.first, name); });
    if ((flags & HTTP_ADDREQ_FLAG_ADD_IF_NEW) && it != list.end())
        return;
    if ((flags & HTTP_ADDREQ_FLAG_REPLACE) && it != list.end()) {
        it->second = std::move(value);
        return;
    }
    list.emplace_back(std::move(name), std::move(value));
}

// Adds a block of lines separated by CR LF or LF.
bool AddLines(HeaderList& list, const std::string& block, std::uint32_t flags)
{
    bool ok = true;
    std::size_t start = 0;
    while (start <= block.size()) {
        std::size_t end = block.find_first_of("\r\n", start);
        if (end == std::string::npos)
            end = block.size();
        AddLine(list, block.substr(start, end - start), flags, ok);
        start = end + 1;
    }
    return ok;
}

} // namespace

bool CHttpFile::AddRequestHeaders(const std::string& headers, std::uint32_t flags)
{
    const bool ok = AddLines(m_headers, headers, flags);
    if (!ok)
        InternetSetLastError(ERROR_INVALID_PARAMETER);
    return ok;
}

bool CHttpFile::AddRequestHeader(const std::string& name, const std::string& value, std::uint32_t flags)
{
    bool ok = true;
    AddLine(m_headers, NoLineBreaks(name) + ": " + NoLineBreaks(value), flags, ok);
    if (!ok)
        InternetSetLastError(ERROR_INVALID_PARAMETER);
    return ok;
}

bool CHttpFile::SendRequest(const std::string& headers, const std::string& optional)
{
    // The headers of this send replace added ones of the same name, for this send.
    m_sendHeaders = m_headers;
    AddLines(m_sendHeaders, headers, HTTP_ADDREQ_FLAG_REPLACE);
    m_body = optional;
    StartTransfer(m_poolKey, true);
    return true;
}

void CHttpFile::Configure(Transfer& t)
{
    CURL* e = t.Easy();
    curl_easy_setopt(e, CURLOPT_URL, m_url.c_str());
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_HTTP_CONTENT_DECODING, 0L);
    curl_easy_setopt(e, CURLOPT_PATH_AS_IS, 1L);
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (!m_session->agent.empty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, m_session->agent.c_str());
    if (!m_referer.empty())
        curl_easy_setopt(e, CURLOPT_REFERER, m_referer.c_str());

    switch (m_verb) {
    case HTTP_VERB_HEAD:
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
        break;
    case HTTP_VERB_POST:
        t.SetBody(m_body);
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(t.Body().size()));
        curl_easy_setopt(e, CURLOPT_POSTFIELDS, t.Body().data());
        break;
    default:
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        break;
    }

    // The request carries exactly the headers it was given: curl's own Accept,
    // Content-Type and Expect are taken out unless the caller set them.
    curl_slist* list = nullptr;
    bool accept = false, contentType = false;
    auto add = [&](const std::pair<std::string, std::string>& h) {
        accept = accept || SameName(h.first, "Accept");
        contentType = contentType || SameName(h.first, "Content-Type");
        const std::string line = h.second.empty() ? h.first + ";" : h.first + ": " + h.second;
        list = curl_slist_append(list, line.c_str());
    };
    for (const auto& h : m_sendHeaders)
        add(h);
    if (!accept)
        list = curl_slist_append(list, "Accept:");
    if (!contentType)
        list = curl_slist_append(list, "Content-Type:");
    list = curl_slist_append(list, "Expect:");
    t.SetHeaderList(list);

    if (!m_user.empty()) {
        curl_easy_setopt(e, CURLOPT_USERNAME, m_user.c_str());
        curl_easy_setopt(e, CURLOPT_PASSWORD, m_password.c_str());
        curl_easy_setopt(e, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_ANY));
        t.SetAuthRetry(true);
    }
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST,
                     (m_securityFlags & SECURITY_FLAG_IGNORE_CERT_CN_INVALID) ? 0L : 2L);
}

bool CHttpFile::QueryInfoStatusCode(std::uint32_t& status) const
{
    if (!m_transfer || !m_transfer->HasResponse()) {
        InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return false;
    }
    status = m_transfer->Status();
    return true;
}

bool CHttpFile::QueryInfo(std::uint32_t level, std::string& value) const
{
    if (!m_transfer || !m_transfer->HasResponse()) {
        InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return false;
    }
    switch (level & 0xFFFF) {
    case HTTP_QUERY_RAW_HEADERS_CRLF:
        value = m_transfer->RawHeaders();
        return true;
    case HTTP_QUERY_STATUS_CODE:
        value = std::to_string(m_transfer->Status());
        return true;
    case HTTP_QUERY_STATUS_TEXT:
        value = m_transfer->StatusText();
        return true;
    default:
        break;
    }
    const char* name = HeaderNameOfLevel(level & 0xFFFF);
    if (name && m_transfer->Header(name, value))
        return true;
    InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return false;
}

bool CHttpFile::QueryInfo(std::uint32_t level, SYSTEMTIME& value) const
{
    std::string text;
    if (!QueryInfo(level & 0xFFFF, text))
        return false;
    if (!ParseHttpDate(text, value)) {
        InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
        return false;
    }
    return true;
}

bool CHttpFile::QueryInfo(const std::string& name, std::string& value) const
{
    if (m_transfer && m_transfer->HasResponse() && m_transfer->Header(name, value))
        return true;
    InternetSetLastError(ERROR_HTTP_HEADER_NOT_FOUND);
    return false;
}

bool CHttpFile::QueryOption(std::uint32_t option, std::uint32_t& value) const
{
    if (option != INTERNET_OPTION_SECURITY_FLAGS) {
        InternetSetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    value = m_securityFlags;
    return true;
}

bool CHttpFile::SetOption(std::uint32_t option, std::uint32_t value)
{
    if (option != INTERNET_OPTION_SECURITY_FLAGS) {
        InternetSetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    m_securityFlags = value;
    return true;
}

// ---- OpenURL ----

std::unique_ptr<CInternetFile> CInternetSession::OpenURL(const std::string& url, std::uint32_t flags)
{
    if (m_state->cancelled.load())
        throw CInternetException(ERROR_INTERNET_OPERATION_CANCELLED);
    const std::string escaped = EscapeUnsafe(url);
    CURLU* u = curl_url();
    if (!u)
        throw CInternetException(ERROR_INTERNET_INTERNAL_ERROR);
    std::string scheme, host, port, path, query;
    auto part = [&](CURLUPart what, std::string& out, unsigned flagsU) {
        char* p = nullptr;
        if (curl_url_get(u, what, &p, flagsU) == CURLUE_OK && p) {
            out = p;
            curl_free(p);
            return true;
        }
        return false;
    };
    bool parsed =
        curl_url_set(u, CURLUPART_URL, escaped.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_PATH_AS_IS) ==
            CURLUE_OK &&
        part(CURLUPART_SCHEME, scheme, 0);
    scheme = Lower(scheme);
    const bool known = scheme == "http" || scheme == "https" || scheme == "gopher";
    if (parsed && known) {
        parsed = part(CURLUPART_HOST, host, 0) && part(CURLUPART_PORT, port, CURLU_DEFAULT_PORT);
        part(CURLUPART_PATH, path, 0);
        part(CURLUPART_QUERY, query, 0);
    }
    curl_url_cleanup(u);
    if (!parsed)
        throw CInternetException(ERROR_INTERNET_INVALID_URL);
    if (!known)
        throw CInternetException(ERROR_INTERNET_UNRECOGNIZED_SCHEME);
    if (host.size() > 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);

    if (scheme == "http" || scheme == "https") {
        auto conn = GetHttpConnection(host, static_cast<std::uint16_t>(std::stoi(port)));
        std::string object = path.empty() ? "/" : path;
        if (!query.empty())
            object += "?" + query;
        auto file = conn->OpenRequest(HTTP_VERB_GET, object, {},
                                      flags | (scheme == "https" ? INTERNET_FLAG_SECURE : 0));
        file->SendRequest();
        return file;
    }
    auto file = std::make_unique<RawUrlFile>(m_state, escaped, "gopher");
    file->Open(scheme + "://" + Lower(HostForUrl(host)) + ":" + port);
    return file;
}

} // namespace platform
