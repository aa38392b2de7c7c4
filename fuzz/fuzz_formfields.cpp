// Form-style bodies: the "&"-joined fields of the browser pages as the command handlers and the
// login read them, and the URL decoding of query strings and url-encoded bodies.

#include "fuzzsupport.h"

#include "commands/formfields.h"
#include "httpserver/httprequest.h"

#include <cstddef>
#include <cstdint>

using weblet::HttpRequest;

namespace {

void checkFormFields(const QByteArray &body)
{
    const QString text = QString::fromUtf8(body.constData());
    const FormFields fields(body);
    FUZZ_CHECK(fields.size() == text.count(QLatin1Char('&')) + 1);
    FUZZ_CHECK(fields.value(-1).isEmpty());
    FUZZ_CHECK(fields.value(fields.size()).isEmpty());
    for (int i = 0; i < fields.size(); ++i) {
        const QString value = fields.value(i);
        FUZZ_CHECK(!value.contains(QLatin1Char('=')) && !value.contains(QLatin1Char('&')));
        FUZZ_CHECK(text.contains(value));
    }

    // The pages look fields up by their name and "=", as the first field of the body names.
    const QByteArray prefix = body.left(body.indexOf('=') + 1);
    if (!prefix.isEmpty() && !prefix.contains('&') && !prefix.contains('\0')) {
        const QString last = fields.lastValueStartingWith(QLatin1String(prefix));
        bool found = last.isEmpty();
        for (int i = 0; i < fields.size() && !found; ++i)
            found = fields.value(i) == last;
        FUZZ_CHECK(found);
    }
}

void checkUrlDecode(const QByteArray &source)
{
    const QByteArray decoded = HttpRequest::urlDecode(source);
    FUZZ_CHECK(decoded.size() <= source.size());
    if (!source.contains('%') && !source.contains('+'))
        FUZZ_CHECK(decoded == source);

    // Every byte escaped, in either case of hex digit, comes back exactly.
    const QByteArray lower = source.toHex();
    const QByteArray upper = lower.toUpper();
    QByteArray escaped;
    escaped.reserve(source.size() * 3);
    for (int i = 0; i < lower.size(); i += 2) {
        escaped += '%';
        escaped.append((i % 4 ? upper : lower).constData() + i, 2);
    }
    FUZZ_CHECK(HttpRequest::urlDecode(escaped) == source);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), int(size));
    checkFormFields(input);
    checkUrlDecode(input);
    return 0;
}
