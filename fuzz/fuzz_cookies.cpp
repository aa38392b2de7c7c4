// Cookie texts as clients and browsers send them: the ';'-separated list splitter that the
// request uses for "Cookie" headers, and the parser and writer of the "Set-Cookie" text form.

#include "fuzzsupport.h"

#include "httpserver/httpcookie.h"

#include <cstddef>
#include <cstdint>

using weblet::HttpCookie;

namespace {

bool sameCookie(const HttpCookie &a, const HttpCookie &b)
{
    return a.getName() == b.getName() && a.getValue() == b.getValue()
        && a.getComment() == b.getComment() && a.getDomain() == b.getDomain()
        && a.getMaxAge() == b.getMaxAge() && a.getPath() == b.getPath()
        && a.getSecure() == b.getSecure() && a.getHttpOnly() == b.getHttpOnly()
        && a.getSameSite() == b.getSameSite() && a.getVersion() == b.getVersion();
}

// A ';' can only have come in between double quotes, which the text form does not write back.
bool writableWithoutQuotes(const HttpCookie &cookie)
{
    for (const QByteArray &value : {cookie.getName(), cookie.getValue(), cookie.getComment(),
             cookie.getDomain(), cookie.getPath(), cookie.getSameSite()}) {
        if (value.contains(';'))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray source(reinterpret_cast<const char *>(data), int(size));

    for (const QByteArray &piece : HttpCookie::splitCSV(source)) {
        FUZZ_CHECK(!piece.isEmpty());
        FUZZ_CHECK(piece == piece.trimmed());
        FUZZ_CHECK(!piece.contains('"'));
    }

    const HttpCookie cookie(source);
    const QByteArray text = cookie.toByteArray();
    if (writableWithoutQuotes(cookie)) {
        const HttpCookie again(text);
        FUZZ_CHECK(sameCookie(again, cookie));
        FUZZ_CHECK(again.toByteArray() == text);
    }
    return 0;
}
