// The WinHTTP back end: winhttp.dll ships with every Windows, so the Windows
// filedist needs no HTTP library of its own. It takes the proxy the user's
// system is set to (a named one, or one found by automatic detection or a
// configuration script) and checks certificates against the system's store,
// or against the authorities of --ca alone.
#include <winsock2.h>
#include <windows.h>
#include <wincrypt.h>
#include <winhttp.h>

#include <cstdlib>
#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "transport/http_status.h"
#include "transport/http_transport.h"

namespace {

// Longest header block an answer may have: a release's server sends a few
// hundred bytes, and one that never stops must not grow the process.
constexpr DWORD kMostHeaderBytes = 64 * 1024;

std::wstring Widen(const std::string& text) {
  if (text.empty()) return std::wstring();
  int length =
      MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &wide[0], length);
  return wide;
}

std::string ErrorText(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
      return "timed out";
    case ERROR_WINHTTP_CANNOT_CONNECT:
      return "cannot connect to the server";
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case WSAECONNRESET:
    case WSAECONNABORTED:
      return "the connection was reset";
    case WSAETIMEDOUT:
      return "timed out";
    case WSAECONNREFUSED:
      return "the server refused the connection";
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
      return "the server's name cannot be resolved";
    case ERROR_WINHTTP_SECURE_FAILURE:
      return "the server's certificate is refused (not from a trusted authority, or not for "
             "this host name)";
    case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
    case ERROR_WINHTTP_INVALID_URL:
      return "the URL is not valid";
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
      return "the server's answer is malformed";
    case ERROR_WINHTTP_REDIRECT_FAILED:
      return "the server's redirect cannot be followed";
    // What a WinHTTP that keeps to no header size limit says of headers
    // that do not end.
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return "not enough memory to hold the server's answer";
    case ERROR_WINHTTP_HEADER_SIZE_OVERFLOW:
      return "the server's headers are longer than " + std::to_string(kMostHeaderBytes) + " bytes";
    default:
      return "WinHTTP error " + std::to_string(code);
  }
}

bool IsTransientError(DWORD code) {
  switch (code) {
    case ERROR_WINHTTP_TIMEOUT:
    case ERROR_WINHTTP_CANNOT_CONNECT:
    case ERROR_WINHTTP_CONNECTION_ERROR:
    case ERROR_WINHTTP_NAME_NOT_RESOLVED:
    case ERROR_WINHTTP_RESEND_REQUEST:
    case ERROR_WINHTTP_INVALID_SERVER_RESPONSE:
    // Some WinHTTPs pass the socket's own error through.
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAETIMEDOUT:
    case WSAECONNREFUSED:
      return true;
    default:
      return false;
  }
}

struct InternetHandle {
  explicit InternetHandle(HINTERNET value = nullptr) : handle(value) {}
  ~InternetHandle() {
    if (handle != nullptr) WinHttpCloseHandle(handle);
  }
  InternetHandle(const InternetHandle&) = delete;
  InternetHandle& operator=(const InternetHandle&) = delete;
  HINTERNET handle;
};

struct StoreCloser {
  void operator()(void* store) const { CertCloseStore(static_cast<HCERTSTORE>(store), 0); }
};
using Store = std::unique_ptr<void, StoreCloser>;

struct CertificateFree {
  void operator()(const CERT_CONTEXT* certificate) const {
    CertFreeCertificateContext(certificate);
  }
};
using Certificate = std::unique_ptr<const CERT_CONTEXT, CertificateFree>;

// The certificates of a PEM file, in a store of their own. False when the
// file cannot be read or holds none.
bool LoadAuthorities(const std::string& path, Store* store, std::string* error) {
  std::string text;
  if (FILE* in = std::fopen(path.c_str(), "rb")) {
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof(buffer), in)) > 0) text.append(buffer, got);
    std::fclose(in);
  } else {
    *error = "cannot read the CA file " + path;
    return false;
  }
  store->reset(CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, 0, nullptr));
  static const char kBegin[] = "-----BEGIN CERTIFICATE-----";
  static const char kEnd[] = "-----END CERTIFICATE-----";
  int added = 0;
  for (size_t at = text.find(kBegin); at != std::string::npos; at = text.find(kBegin, at + 1)) {
    size_t end = text.find(kEnd, at);
    if (end == std::string::npos) break;
    std::string block = text.substr(at, end + sizeof(kEnd) - 1 - at);
    DWORD size = 0;
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, nullptr, &size, nullptr, nullptr)) {
      continue;
    }
    std::vector<BYTE> der(size);
    if (!CryptStringToBinaryA(block.c_str(), static_cast<DWORD>(block.size()),
                              CRYPT_STRING_BASE64HEADER, der.data(), &size, nullptr, nullptr)) {
      continue;
    }
    if (CertAddEncodedCertificateToStore(store->get(), X509_ASN_ENCODING, der.data(), size,
                                         CERT_STORE_ADD_ALWAYS, nullptr)) {
      ++added;
    }
  }
  if (added == 0) {
    *error = "the CA file " + path + " holds no certificate";
    return false;
  }
  return true;
}

// Whether the server's certificate leads to one of authorities. WinHTTP has
// checked the rest already: the host name and the dates.
bool ChainsTo(const CERT_CONTEXT* server, HCERTSTORE authorities) {
  Store both(CertOpenStore(CERT_STORE_PROV_COLLECTION, 0, 0, 0, nullptr));
  if (!both) return false;
  CertAddStoreToCollection(both.get(), authorities, 0, 0);
  if (server->hCertStore != nullptr) CertAddStoreToCollection(both.get(), server->hCertStore, 0, 0);
  CERT_CHAIN_PARA para = {};
  para.cbSize = sizeof(para);
  const CERT_CHAIN_CONTEXT* chain = nullptr;
  if (!CertGetCertificateChain(nullptr, server, nullptr, both.get(), &para, 0, nullptr, &chain)) {
    return false;
  }
  bool trusted = false;
  const DWORD kTolerated = CERT_TRUST_IS_UNTRUSTED_ROOT | CERT_TRUST_REVOCATION_STATUS_UNKNOWN |
                           CERT_TRUST_IS_OFFLINE_REVOCATION;
  if (chain->cChain > 0 && (chain->TrustStatus.dwErrorStatus & ~kTolerated) == 0) {
    const CERT_SIMPLE_CHAIN* simple = chain->rgpChain[0];
    if (simple->cElement > 0) {
      const CERT_CONTEXT* root = simple->rgpElement[simple->cElement - 1]->pCertContext;
      const CERT_CONTEXT* found = CertFindCertificateInStore(authorities, X509_ASN_ENCODING, 0,
                                                             CERT_FIND_EXISTING, root, nullptr);
      if (found != nullptr) {
        trusted = true;
        CertFreeCertificateContext(found);
      }
    }
  }
  CertFreeCertificateChain(chain);
  return trusted;
}

// The request sent and its answer's headers received on a thread of its
// own, so that the caller can give up on headers that never end: the
// receive timeout counts only silence, and not every WinHTTP keeps to the
// header size limit (some read the answer while the request is sent).
// Shared by the two threads; the last to let go frees it.
struct HeaderWait {
  HINTERNET request = nullptr;
  std::wstring headers;  // extra request headers, or empty
  BOOL received = FALSE;
  DWORD error = 0;
  LONG owners = 2;

  void Release() {
    if (InterlockedDecrement(&owners) == 0) delete this;
  }

  bool SendAndReceive() {
    return WinHttpSendRequest(
               request, headers.empty() ? WINHTTP_NO_ADDITIONAL_HEADERS : headers.c_str(),
               headers.empty() ? 0 : static_cast<DWORD>(-1L), WINHTTP_NO_REQUEST_DATA, 0, 0, 0) &&
           WinHttpReceiveResponse(request, nullptr);
  }

  static DWORD WINAPI Run(void* context) {
    HeaderWait* wait = static_cast<HeaderWait*>(context);
    wait->received = wait->SendAndReceive();
    wait->error = GetLastError();
    wait->Release();
    return 0;
  }
};

// Sends the request and waits at most seconds for the answer's headers.
// False with *error the WinHTTP error, or ERROR_WINHTTP_TIMEOUT when the
// time ran out; the request handle is then closed (which cancels the calls)
// and *request set to null.
bool SendAndReceiveHeaders(HINTERNET* request, const std::wstring& headers, DWORD seconds,
                           DWORD* error) {
  HeaderWait* wait = new HeaderWait;
  wait->request = *request;
  wait->headers = headers;
  HANDLE thread = CreateThread(nullptr, 0, &HeaderWait::Run, wait, 0, nullptr);
  if (thread == nullptr) {
    bool received = wait->SendAndReceive();
    *error = GetLastError();
    delete wait;
    return received;
  }
  DWORD waited = WaitForSingleObject(thread, seconds * 1000);
  CloseHandle(thread);
  if (waited != WAIT_OBJECT_0) {
    WinHttpCloseHandle(*request);
    *request = nullptr;
    wait->Release();
    *error = ERROR_WINHTTP_TIMEOUT;
    return false;
  }
  bool received = wait->received != FALSE;
  *error = wait->error;
  wait->Release();
  return received;
}

// A header of the answer as text; empty when it has none.
std::wstring QueryText(HINTERNET request, DWORD what) {
  DWORD size = 0;
  WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, WINHTTP_NO_OUTPUT_BUFFER, &size,
                      WINHTTP_NO_HEADER_INDEX);
  if (size == 0 || GetLastError() != ERROR_INSUFFICIENT_BUFFER) return std::wstring();
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, &text[0], &size,
                           WINHTTP_NO_HEADER_INDEX)) {
    return std::wstring();
  }
  text.resize(size / sizeof(wchar_t));
  return text;
}

std::string Narrow(const std::wstring& text) {
  std::string narrow;
  for (wchar_t c : text) narrow += c < 0x80 ? static_cast<char>(c) : '?';
  return narrow;
}

bool StartsWithHttp(const std::wstring& url) {
  static const wchar_t kPlain[] = L"http://";
  if (url.size() < 7) return false;
  for (size_t i = 0; i < 7; ++i) {
    if (towlower(url[i]) != kPlain[i]) return false;
  }
  return true;
}

class WinHttpTransport : public HttpTransport {
 public:
  WinHttpTransport(const TransportOptions& options, HINTERNET session, Store authorities)
      : options_(options), session_(session), authorities_(std::move(authorities)) {
    int ms = options_.timeout_seconds * 1000;
    WinHttpSetTimeouts(session_.handle, ms, ms, ms, ms);
    // HTTP/2 where the server offers it; a Windows before 10 does not know
    // the option and goes on with HTTP/1.1.
    DWORD protocols = WINHTTP_PROTOCOL_FLAG_HTTP2;
    WinHttpSetOption(session_.handle, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &protocols,
                     sizeof(protocols));
    ReadProxySettings();
  }
  ~WinHttpTransport() override {
    if (ie_.lpszAutoConfigUrl != nullptr) GlobalFree(ie_.lpszAutoConfigUrl);
    if (ie_.lpszProxy != nullptr) GlobalFree(ie_.lpszProxy);
    if (ie_.lpszProxyBypass != nullptr) GlobalFree(ie_.lpszProxyBypass);
  }

  TransferResult Get(const std::string& url, uint64_t offset, BodySink* sink) override {
    TransferResult result;
    std::wstring wide_url = Widen(url);
    URL_COMPONENTS parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = static_cast<DWORD>(-1);
    parts.dwUrlPathLength = static_cast<DWORD>(-1);
    parts.dwExtraInfoLength = static_cast<DWORD>(-1);
    if (!WinHttpCrackUrl(wide_url.c_str(), 0, 0, &parts) ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS)) {
      result.error = "'" + url + "' is no http:// or https:// URL";
      return result;
    }
    std::wstring host(parts.lpszHostName, parts.dwHostNameLength);
    std::wstring path(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (parts.lpszExtraInfo != nullptr) path.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    if (path.empty()) path = L"/";
    bool secure = parts.nScheme == INTERNET_SCHEME_HTTPS;

    InternetHandle connection(WinHttpConnect(session_.handle, host.c_str(), parts.nPort, 0));
    if (connection.handle == nullptr) return Failure(GetLastError(), &result);
    // The URL is escaped already; escaping it again would break it.
    InternetHandle request(
        WinHttpOpenRequest(connection.handle, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                           WINHTTP_DEFAULT_ACCEPT_TYPES,
                           (secure ? WINHTTP_FLAG_SECURE : 0) | WINHTTP_FLAG_ESCAPE_DISABLE));
    if (request.handle == nullptr) return Failure(GetLastError(), &result);
    // Never from https to plain http (the default of some WinHTTPs only).
    DWORD policy = WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP;
    WinHttpSetOption(request.handle, WINHTTP_OPTION_REDIRECT_POLICY, &policy, sizeof(policy));
    DWORD most_header_bytes = kMostHeaderBytes;
    WinHttpSetOption(request.handle, WINHTTP_OPTION_MAX_RESPONSE_HEADER_SIZE, &most_header_bytes,
                     sizeof(most_header_bytes));
    UseProxy(request.handle, wide_url);
    if (secure && authorities_) {
      // Checked below against the given authorities alone.
      DWORD flags = SECURITY_FLAG_IGNORE_UNKNOWN_CA;
      WinHttpSetOption(request.handle, WINHTTP_OPTION_SECURITY_FLAGS, &flags, sizeof(flags));
    }
    std::wstring headers;
    if (offset > 0) headers = L"Range: bytes=" + std::to_wstring(offset) + L"-\r\n";
    // One --timeout for connecting and sending, one for the headers.
    DWORD header_seconds = static_cast<DWORD>(options_.timeout_seconds) * 2;
    DWORD header_error = 0;
    if (!SendAndReceiveHeaders(&request.handle, headers, header_seconds, &header_error)) {
      Failure(header_error, &result);
      if (request.handle == nullptr) {
        // WinHTTP's own timeouts end a silent server (a failure tried
        // again); the wait runs out only while the headers keep coming, and
        // a server that sends them without end sends them again: trying
        // again would multiply --timeout by the tries.
        result.status = TransferStatus::kFailed;
        result.error = "no complete answer within " + std::to_string(header_seconds) +
                       " s (headers that do not end, or a server that does not answer)";
      } else if (secure && header_error == ERROR_WINHTTP_REDIRECT_FAILED) {
        std::wstring location = QueryText(request.handle, WINHTTP_QUERY_LOCATION);
        result.status = TransferStatus::kFailed;
        result.error = "refusing the redirect from https to the insecure '" +
                       (location.empty() ? std::string("http://...") : Narrow(location.c_str())) +
                       "'";
      }
      return result;
    }
    if (secure) {
      // The answer came from a plain address after all, or would send us to
      // one: the user asked for a secure transfer.
      std::wstring final_url;
      DWORD url_size = 0;
      WinHttpQueryOption(request.handle, WINHTTP_OPTION_URL, nullptr, &url_size);
      if (url_size > 0) {
        final_url.assign(url_size / sizeof(wchar_t) + 1, L'\0');
        if (!WinHttpQueryOption(request.handle, WINHTTP_OPTION_URL, &final_url[0], &url_size)) {
          final_url.clear();
        }
      }
      std::wstring location = QueryText(request.handle, WINHTTP_QUERY_LOCATION);
      std::wstring insecure = StartsWithHttp(final_url)  ? final_url
                              : StartsWithHttp(location) ? location
                                                         : std::wstring();
      if (!insecure.empty()) {
        result.status = TransferStatus::kFailed;
        result.error =
            "refusing the redirect from https to the insecure '" + Narrow(insecure.c_str()) + "'";
        return result;
      }
    }
    if (secure && authorities_ && !ServerIsTrusted(request.handle)) {
      result.status = TransferStatus::kFailed;
      result.error = "the server's certificate is not from an authority of the CA file";
      return result;
    }

    DWORD status = 0;
    DWORD size = sizeof(status);
    WinHttpQueryHeaders(request.handle, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                        WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX);
    result.http_status = static_cast<int>(status);
    if (status < 200 || status > 299) {
      result.status = IsTransientHttpStatus(static_cast<long>(status)) ? TransferStatus::kTransient
                                                                       : TransferStatus::kFailed;
      result.error = "the server answered HTTP " + std::to_string(status);
      return result;
    }
    bool partial = status == 206;
    if (partial && (offset == 0 || RangeStart(request.handle) != offset)) {
      result.status = TransferStatus::kFailed;
      result.error = "the server answered a range request with other bytes";
      return result;
    }
    if (!sink->Start(partial)) {
      result.status = TransferStatus::kStopped;
      return result;
    }
    return ReadBody(request.handle, sink, &result);
  }

 private:
  TransferResult& Failure(DWORD code, TransferResult* result) {
    result->status = IsTransientError(code) ? TransferStatus::kTransient : TransferStatus::kFailed;
    result->error = ErrorText(code);
    return *result;
  }

  TransferResult& ReadBody(HINTERNET request, BodySink* sink, TransferResult* result) {
    uint64_t expected = 0;
    bool known_length = ContentLength(request, &expected);
    // WinHTTP's receive timeout catches a server that stops; this catches
    // one that goes on a few bytes at a time.
    const DWORD window_ms = static_cast<DWORD>(options_.timeout_seconds) * 1000;
    const uint64_t window_floor =
        static_cast<uint64_t>(options_.min_bytes_per_second) * options_.timeout_seconds;
    DWORD window_start = GetTickCount();
    uint64_t window_bytes = 0;
    std::vector<char> buffer(1 << 16);
    for (;;) {
      // Asking for what has arrived, not for a full buffer, returns as soon
      // as anything comes, so that the rate below is measured as it goes.
      DWORD available = 0;
      if (!WinHttpQueryDataAvailable(request, &available)) return Failure(GetLastError(), result);
      DWORD want = available == 0 ? 1 : available;
      if (want > buffer.size()) want = static_cast<DWORD>(buffer.size());
      DWORD got = 0;
      if (!WinHttpReadData(request, buffer.data(), want, &got)) {
        return Failure(GetLastError(), result);
      }
      if (got == 0) break;
      if (!sink->Write(buffer.data(), got)) {
        result->status = TransferStatus::kStopped;
        return *result;
      }
      result->received += got;
      window_bytes += got;
      DWORD elapsed = GetTickCount() - window_start;
      if (elapsed >= window_ms) {
        if (window_bytes < window_floor) {
          result->status = TransferStatus::kTransient;
          result->error = "the transfer was slower than " +
                          std::to_string(options_.min_bytes_per_second) + " bytes a second for " +
                          std::to_string(options_.timeout_seconds) + " s";
          return *result;
        }
        window_start += elapsed;
        window_bytes = 0;
      }
    }
    if (known_length && result->received < expected) {
      result->status = TransferStatus::kTransient;
      result->error = "the connection closed after " + std::to_string(result->received) + " of " +
                      std::to_string(expected) + " bytes";
      return *result;
    }
    result->status = TransferStatus::kOk;
    return *result;
  }

  static bool ContentLength(HINTERNET request, uint64_t* length) {
    wchar_t text[32] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
      return false;
    }
    *length = std::wcstoull(text, nullptr, 10);
    return true;
  }

  // The first byte of "Content-Range: bytes FIRST-LAST/SIZE"; -1 without one.
  static uint64_t RangeStart(HINTERNET request) {
    wchar_t text[128] = {};
    DWORD size = sizeof(text);
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_RANGE, WINHTTP_HEADER_NAME_BY_INDEX,
                             text, &size, WINHTTP_NO_HEADER_INDEX)) {
      return static_cast<uint64_t>(-1);
    }
    const wchar_t* digits = text;
    while (*digits != L'\0' && (*digits < L'0' || *digits > L'9')) ++digits;
    return *digits == L'\0' ? static_cast<uint64_t>(-1) : std::wcstoull(digits, nullptr, 10);
  }

  bool ServerIsTrusted(HINTERNET request) {
    const CERT_CONTEXT* server = nullptr;
    DWORD size = sizeof(server);
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &server, &size) ||
        server == nullptr) {
      return false;
    }
    Certificate owned(server);
    return ChainsTo(server, authorities_.get());
  }

  void ReadProxySettings() {
    if (!WinHttpGetIEProxyConfigForCurrentUser(&ie_)) ie_ = {};
    auto_proxy_ = ie_.fAutoDetect || ie_.lpszAutoConfigUrl != nullptr;
  }

  // The proxy the user's system names for url: found by automatic detection
  // or a configuration script where it is set so, else the one it names.
  void UseProxy(HINTERNET request, const std::wstring& url) {
    if (auto_proxy_) {
      WINHTTP_AUTOPROXY_OPTIONS automatic = {};
      if (ie_.lpszAutoConfigUrl != nullptr) {
        automatic.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        automatic.lpszAutoConfigUrl = ie_.lpszAutoConfigUrl;
      } else {
        automatic.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        automatic.dwAutoDetectFlags =
            WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
      }
      automatic.fAutoLogonIfChallenged = TRUE;
      WINHTTP_PROXY_INFO found = {};
      if (WinHttpGetProxyForUrl(session_.handle, url.c_str(), &automatic, &found)) {
        WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &found, sizeof(found));
        if (found.lpszProxy != nullptr) GlobalFree(found.lpszProxy);
        if (found.lpszProxyBypass != nullptr) GlobalFree(found.lpszProxyBypass);
        return;
      }
      // Nothing found: the automatic way does not hold for this network, so
      // the named proxy, if any, applies from now on.
      auto_proxy_ = false;
    }
    if (ie_.lpszProxy != nullptr) {
      WINHTTP_PROXY_INFO named = {};
      named.dwAccessType = WINHTTP_ACCESS_TYPE_NAMED_PROXY;
      named.lpszProxy = ie_.lpszProxy;
      named.lpszProxyBypass = ie_.lpszProxyBypass;
      WinHttpSetOption(request, WINHTTP_OPTION_PROXY, &named, sizeof(named));
    }
  }

  TransportOptions options_;
  InternetHandle session_;
  Store authorities_;
  WINHTTP_CURRENT_USER_IE_PROXY_CONFIG ie_ = {};
  bool auto_proxy_ = false;
};

}  // namespace

std::unique_ptr<HttpTransport> MakeHttpTransport(const TransportOptions& options,
                                                 std::string* error) {
  Store authorities;
  if (!options.ca_file.empty() && !LoadAuthorities(options.ca_file, &authorities, error)) {
    return nullptr;
  }
  // Without a proxy of the system's, WinHTTP's own setting (netsh winhttp)
  // applies.
  HINTERNET session = WinHttpOpen(L"filedist", WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                  WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
  if (session == nullptr) {
    *error = "cannot start WinHTTP";
    return nullptr;
  }
  return std::make_unique<WinHttpTransport>(options, session, std::move(authorities));
}
