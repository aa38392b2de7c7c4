// Encrypted command bodies as every JSON command opens them: UTF-8 up to the first zero byte,
// Base64, AES-128 ECB with zero padding, JSON, then "id", "devicesn", "order" and "datas".
// An input whose first byte is even is sent as the body itself, so the Base64 and block checks
// are fuzzed; with an odd first byte the rest is a plain message that is sealed first, so the
// fuzzer reaches the JSON reading behind the cipher and the seal must open to what went in.

#include "fuzzsupport.h"

#include "commands/txdeal.h"
#include "crypto/envelope.h"

#include <QJsonObject>

#include <cstddef>
#include <cstdint>

namespace {

// What a command takes from a request body, in the order the commands read it.
void openAsCommand(const QByteArray &body)
{
    const QString decoded = TxDeal::decode_aes(QString::fromUtf8(body.constData()));
    const QJsonObject message = TxDeal::QstringToJson(decoded);
    if (decoded.isEmpty())
        FUZZ_CHECK(message.isEmpty());

    for (const char *key : {"id", "devicesn"}) {
        const QJsonValue value = message.value(QLatin1String(key));
        const QString text = TxDeal::json_to_qstring(value);
        if (value.isDouble()) {
            bool ok = false;
            text.toInt(&ok);
            FUZZ_CHECK(ok);
        } else if (!value.isString()) {
            FUZZ_CHECK(text.isEmpty());
        }
    }
    const QJsonValue order = message.value(QLatin1String("order"));
    const quint32 number = TxDeal::json_to_uint(order);
    if (!order.isDouble() && !order.isString())
        FUZZ_CHECK(number == 0);
    if (order.isDouble())
        FUZZ_CHECK(qint32(number) == TxDeal::json_to_qstring(order).toInt());
    const QJsonObject datas = message.value(QLatin1String("datas")).toObject();
    for (auto it = datas.begin(); it != datas.end(); ++it) {
        TxDeal::json_to_qstring(it.value());
        TxDeal::json_to_uint(it.value());
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray rest(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    if (data[0] % 2 == 0) {
        openAsCommand(rest);
        return 0;
    }
    const QByteArray sealed = envelope::seal(rest);
    const int cipherBytes = (rest.size() + 15) / 16 * 16;
    FUZZ_CHECK(sealed.size() == (cipherBytes + 2) / 3 * 4);
    const int firstZero = rest.indexOf('\0');
    FUZZ_CHECK(envelope::open(sealed) == rest.left(firstZero < 0 ? rest.size() : firstZero));
    openAsCommand(sealed);
    return 0;
}
