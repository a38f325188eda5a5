#pragma once

#include "common/Errors.h"

namespace ostrel {

#define OSTREL_HTTP_ERROR_KIND(Kind)                                                                                   \
    class Kind : public Error {                                                                                        \
    public:                                                                                                            \
        using Error::Error;                                                                                            \
        const char* typeName() const noexcept override { return #Kind; }                                               \
    }

// The server answered with a status outside 2xx (a redirect included); the message is its status line.
OSTREL_HTTP_ERROR_KIND(EHTTPProtocolException);
// The request address is not one the client can use (malformed, or a scheme other than http and https).
OSTREL_HTTP_ERROR_KIND(EURLError);
// No connection: the host name did not resolve or the server refused or could not be reached.
OSTREL_HTTP_ERROR_KIND(EConnectError);
// The TLS handshake failed, the server's certificate among others.
OSTREL_HTTP_ERROR_KIND(ESSLError);
// The connect or the whole request took longer than its limit.
OSTREL_HTTP_ERROR_KIND(ETimeoutError);
// Any other failure of the HTTP client.
OSTREL_HTTP_ERROR_KIND(EHTTPClientError);

#undef OSTREL_HTTP_ERROR_KIND

} // namespace ostrel
