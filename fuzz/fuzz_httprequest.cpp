// HTTP request reading, fed from a buffer as the connection handler feeds it from its socket:
// the bytes arrive in chunks, every chunk is drained into the request being read, and a
// request that completes is followed by the next one on the same connection (pipelining).
// The first input byte chooses the chunk size (with the top bit set: everything at once), the
// second the two size limits, small ones included so the limits are fuzzed too; the rest is
// what the client sends.

#include "fuzzsupport.h"

#include "httpserver/httprequest.h"
#include "httpserver/listenerconfig.h"

#include <QBuffer>
#include <QTemporaryFile>

#include <cstddef>
#include <cstdint>
#include <memory>

using weblet::HttpRequest;

namespace {

// A connection serves this many requests of one input at most.
const int requestsPerInput = 4;
// The device's pages send one file a request; the request keeps at most this many.
const int maxUploadedFiles = 4;

weblet::ListenerConfig limits(uint8_t choice)
{
    static const int requestSizes[] = {16000, 300, 1000, 4000};
    static const int multiPartSizes[] = {1000000, 200, 1000, 3000};
    weblet::ListenerConfig config;
    config.maxRequestSize = requestSizes[choice % 4];
    config.maxMultiPartSize = multiPartSizes[choice / 4 % 4];
    return config;
}

void checkComplete(HttpRequest &request, const weblet::ListenerConfig &config)
{
    FUZZ_CHECK(request.getHeader("Cookie").isEmpty() && request.getHeaders("cookie").isEmpty());
    FUZZ_CHECK(!request.getRawPath().contains('?'));
    FUZZ_CHECK(request.getPath() == HttpRequest::urlDecode(request.getRawPath()));
    FUZZ_CHECK(request.getBody().size() <= config.maxRequestSize);

    const auto headers = request.getHeaderMap();
    for (const QByteArray &name : headers.uniqueKeys()) {
        FUZZ_CHECK(name == name.toLower());
        FUZZ_CHECK(request.getHeaders(name).first() == request.getHeader(name.toUpper()));
    }
    for (auto it = request.getCookieMap().cbegin(); it != request.getCookieMap().cend(); ++it)
        FUZZ_CHECK(it.key() == it.key().trimmed() && it.value() == it.value().trimmed());

    int files = 0;
    const auto parameters = request.getParameterMap();
    for (const QByteArray &name : parameters.uniqueKeys()) {
        FUZZ_CHECK(request.getParameters(name).first() == request.getParameter(name));
        QTemporaryFile *file = request.getUploadedFile(name);
        if (!file)
            continue;
        ++files;
        FUZZ_CHECK(file->isOpen() && file->pos() == 0);
        FUZZ_CHECK(file->readAll().size() == file->size());
        FUZZ_CHECK(file->size() < config.maxMultiPartSize);
    }
    FUZZ_CHECK(files <= maxUploadedFiles);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 2)
        return 0;
    const int chunk = data[0] & 0x80 ? int(size) : (data[0] & 0x7f) + 1;
    const weblet::ListenerConfig config = limits(data[1]);
    const QByteArray stream(reinterpret_cast<const char *>(data) + 2, int(size - 2));

    QBuffer socket;
    socket.open(QIODevice::ReadOnly);
    std::unique_ptr<HttpRequest> request;
    int served = 0;
    for (int sent = 0; sent < stream.size() && served < requestsPerInput; sent += chunk) {
        // More bytes arrive; the handler drains them, as on every readyRead of its socket.
        socket.buffer().append(stream.mid(sent, chunk));
        while (socket.bytesAvailable() > 0 && served < requestsPerInput) {
            if (!request)
                request = std::make_unique<HttpRequest>(config);
            while (socket.bytesAvailable() > 0 && !request->isFinished()) {
                const qint64 before = socket.pos();
                const HttpRequest::RequestStatus status = request->getStatus();
                request->readFromSocket(&socket);
                // Else the handler thread would spin on bytes that are never taken.
                FUZZ_CHECK(socket.pos() > before || request->getStatus() != status);
            }
            if (!request->isFinished())
                break;
            // Nothing on the server's side can fail here: the temporary files are healthy.
            FUZZ_CHECK(request->getStatus() != HttpRequest::failed);
            if (request->getStatus() != HttpRequest::complete)
                return 0; // answered 413, connection closed
            checkComplete(*request, config);
            request.reset();
            ++served;
        }
    }
    return 0;
}
