#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace lw::web {

// One request as a client sent it: the request line and its headers, header
// names in lower case, and the body of a POST (see bodyLength).
struct Request {
    std::string method;
    std::string target;  // as sent: path and query, nothing decoded
    std::string path;
    std::string query;   // after '?', without it
    int minorVersion = 1;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;  // filled by the connection, never by the head's parser

    // The value of the first header of that (lower-case) name, or empty.
    std::string_view header(std::string_view name) const;
    // HTTP/1.1 without "Connection: close": the connection may serve another.
    bool keepAlive() const;
    // Asks to become a WebSocket.
    bool upgrade() const;
    // Announces a body (Content-Length above 0 or Transfer-Encoding).
    bool hasBody() const;
};

// What the bytes received so far amount to.
struct ParseResult {
    enum class Outcome { NeedMore, Complete, Refused };
    Outcome outcome = Outcome::NeedMore;
    int status = 0;        // with Refused: 400 or 431
    std::size_t size = 0;  // with Complete: bytes of the head, blank lines before it included
    Request request;
};

inline constexpr std::size_t kMaxHead = 8 * 1024;
inline constexpr std::size_t kMaxHeaders = 64;
inline constexpr std::size_t kMaxBody = 4096;

// Reads one request head from the start of `bytes`. Pure: no sockets, no
// state; called again with more bytes, it starts over. A request line that
// cannot become valid is refused as soon as it is seen, and a head that
// outgrows kMaxHead before its end as soon as it does.
ParseResult parseRequestHead(std::string_view bytes);

// The body that follows a whole head. Only a POST's is read, and only by
// its Content-Length, up to kMaxBody: `refused` is 411 for a chunked one,
// 413 for a longer one, 400 for a length that is no number. Any other
// method's body is never read (its connection closes after the answer).
struct BodyLength {
    int refused = 0;
    std::size_t length = 0;
};
BodyLength bodyLength(const Request& request);

// %XX decoded; a '%' not followed by two hex digits stays as it is.
std::string percentDecoded(std::string_view s);

// The value of `name` in a query string, %XX decoded; empty when absent.
std::string queryValue(std::string_view query, std::string_view name);

}  // namespace lw::web
