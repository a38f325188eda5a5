#include "blocking/HttpGet.h"

#include "blocking/CurlHandle.h"
#include "blocking/HttpErrors.h"

#include <string_view>

namespace ostrel {

namespace {

struct Reply {
    std::size_t bodyLimit = 0;
    std::string body;
    bool cut = false;
    std::string statusLine;
};

size_t appendBody(char* data, size_t size, size_t count, void* target) {
    auto* reply = static_cast<Reply*>(target);
    const size_t length = size * count;
    if (reply->bodyLimit == 0 || reply->body.size() + length <= reply->bodyLimit) {
        reply->body.append(data, length);
        return length;
    }
    reply->body.append(data, reply->bodyLimit - reply->body.size());
    reply->cut = true;
    // Taking less than was given ends the transfer: a huge body is neither kept nor waited for.
    return 0;
}

// Keeps the latest status line, so an interim reply (100 Continue) never stands for the final one.
size_t keepStatusLine(char* data, size_t size, size_t count, void* reply) {
    std::string_view line(data, size * count);
    if (line.starts_with("HTTP/")) {
        while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
            line.remove_suffix(1);
        static_cast<Reply*>(reply)->statusLine = line;
    }
    return size * count;
}

[[noreturn]] void raiseTransferError(CURLcode rc, const char* detail) {
    const std::string message = detail[0] != '\0' ? detail : curl_easy_strerror(rc);
    switch (rc) {
    case CURLE_UNSUPPORTED_PROTOCOL:
    case CURLE_URL_MALFORMAT:
        throw EURLError(message);
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
        throw EConnectError(message);
    case CURLE_OPERATION_TIMEDOUT:
        throw ETimeoutError(message);
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_PEER_FAILED_VERIFICATION:
    case CURLE_USE_SSL_FAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
        throw ESSLError(message);
    default:
        throw EHTTPClientError(message);
    }
}

template <typename Value> void setOption(CURL* curl, CURLoption option, Value value) {
    if (CURLcode rc = curl_easy_setopt(curl, option, value); rc != CURLE_OK)
        raiseTransferError(rc, "");
}

} // namespace

std::string httpGet(const std::string& url, const HttpGetOptions& options) {
    // The reply and the error buffer are libcurl's until the handle is cleaned up, so they
    // are declared first and outlive it.
    Reply reply;
    reply.bodyLimit = options.maxBodyBytes;
    char detail[CURL_ERROR_SIZE] = "";
    CurlEasy handle = makeCurlEasy();
    CURL* curl = handle.get();

    setOption(curl, CURLOPT_ERRORBUFFER, detail);
    setOption(curl, CURLOPT_URL, url.c_str());
    setOption(curl, CURLOPT_USERAGENT, options.userAgent.c_str());
    setOption(curl, CURLOPT_HTTP_VERSION, long{CURL_HTTP_VERSION_1_1});
    setOption(curl, CURLOPT_FOLLOWLOCATION, 0L);
    // A report address is for a web script: nothing but http and https is fetched, whatever it names.
    setOption(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    // Reports run on many threads at once: libcurl must not use signals for its time limits.
    setOption(curl, CURLOPT_NOSIGNAL, 1L);
    setOption(curl, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
    setOption(curl, CURLOPT_TIMEOUT_MS, options.totalTimeoutMs);
    setOption(curl, CURLOPT_WRITEFUNCTION, appendBody);
    setOption(curl, CURLOPT_WRITEDATA, &reply);
    setOption(curl, CURLOPT_HEADERFUNCTION, keepStatusLine);
    setOption(curl, CURLOPT_HEADERDATA, &reply);

    // A body cut at its limit ends the transfer as a write error of our own making.
    if (CURLcode rc = curl_easy_perform(curl); rc != CURLE_OK && !(rc == CURLE_WRITE_ERROR && reply.cut))
        raiseTransferError(rc, detail);

    long status = 0;
    curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
    if (status < 200 || status > 299)
        throw EHTTPProtocolException(reply.statusLine.empty() ? "HTTP status " + std::to_string(status)
                                                              : reply.statusLine);
    return std::move(reply.body);
}

} // namespace ostrel
