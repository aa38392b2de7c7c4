#include "commands/txdeal.h"

#include "commands/jsonobject.h"
#include "crypto/envelope.h"
#include "logging/redact.h"
#include "store/operatordb.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextCodec>
#include <QTimer>

#include <climits>
#include <cmath>

namespace {

const int utf8Mib = 106; // the IANA number of UTF-8, under which Qt finds its codec

// Transaction counters hand out 1 to this value, then start again at 1.
constexpr uint largestTxid = 5000000;

// Counter value that follows stored; a stored value outside the range (also one written as a
// negative number, read back as a huge unsigned one) starts the count again.
uint nextTxid(uint stored)
{
    return stored >= largestTxid ? 1 : stored + 1;
}

// A JSON number counts only when it is a whole number within the signed 32-bit range; any other
// number reads as 0, as clients have always been answered.
int wholeNumber(const QJsonValue &value)
{
    const double number = value.toDouble();
    if (!std::isfinite(number) || std::trunc(number) != number || number < double(INT_MIN)
        || number > double(INT_MAX))
        return 0;
    return int(number);
}

QJsonObject replyObject(const QString &id, int code)
{
    QJsonObject reply;
    reply.insert(QStringLiteral("id"), id);
    reply.insert(QStringLiteral("devicesn"), TxDeal::read_userset(QStringLiteral("DEVICESN")));
    reply.insert(QStringLiteral("respond"), code);
    return reply;
}

// The indented form (four spaces a level, members sorted by key, final newline) is what the
// clients have always received, sealed.
QString seal(const QJsonObject &reply)
{
    return TxDeal::encode_aes(
        QString::fromUtf8(QJsonDocument(reply).toJson(QJsonDocument::Indented)));
}

} // namespace

// Plain text of an encrypted request body (its UTF-8 up to the first zero byte); "" when it does
// not open. *wellFormed, when given, is false when bytes that are not UTF-8 had to be replaced, so
// the text is not exactly what the client sent.
QString TxDeal::decode_aes(const QString &text, bool *wellFormed)
{
    if (wellFormed)
        *wellFormed = true;
    const QByteArray plain = envelope::open(text.toUtf8());
    if (plain.isEmpty())
        return QString();
    QTextCodec::ConverterState state;
    const QString decoded = QTextCodec::codecForMib(utf8Mib)->toUnicode(
        plain.constData(), int(qstrnlen(plain.constData(), uint(plain.size()))), &state);
    if (wellFormed)
        *wellFormed = state.invalidChars == 0;
    qDebug("decode data :%s", qUtf8Printable(redact::json(decoded)));
    return decoded;
}

// Base64 text of the sealed UTF-8 bytes of text.
QString TxDeal::encode_aes(const QString &text)
{
    qDebug("encode data :%s", qUtf8Printable(redact::json(text)));
    return QString::fromLatin1(envelope::seal(text.toUtf8()));
}

// The JSON object of text (read as UTF-8 up to its first zero character); an empty object when
// text is not a JSON object or names a member twice (readJsonObject).
QJsonObject TxDeal::QstringToJson(const QString &text)
{
    QByteArray bytes = text.toUtf8();
    const int firstZero = bytes.indexOf('\0');
    if (firstZero >= 0)
        bytes.truncate(firstZero);
    const std::optional<QJsonObject> object = readJsonObject(bytes);
    if (!object)
        qDebug("String NULL %s", qUtf8Printable(redact::json(text)));
    return object.value_or(QJsonObject());
}

// Text of a string or number value; "" for every other kind (also a missing key).
QString TxDeal::json_to_qstring(const QJsonValue &value)
{
    if (value.isDouble())
        return QString::number(wholeNumber(value));
    if (value.isString())
        return value.toString();
    return QString();
}

// Unsigned value of a number (negative numbers wrap) or of a decimal string; 0 otherwise.
quint32 TxDeal::json_to_uint(const QJsonValue &value)
{
    if (value.isDouble())
        return quint32(wholeNumber(value));
    if (value.isString()) {
        bool ok = false;
        const uint number = value.toString().toUInt(&ok, 10);
        return ok ? number : 0;
    }
    return 0;
}

QString TxDeal::sendback_respond(const QString &id, int code)
{
    return seal(replyObject(id, code));
}

QString TxDeal::sendback_data(const QString &id, int code, const QJsonObject &datas)
{
    QJsonObject reply = replyObject(id, code);
    reply.insert(QStringLiteral("datas"), datas);
    return seal(reply);
}

// "datas" is the array of the first count objects of items (empty for count 0).
QString TxDeal::sendback_data_array(
    const QString &id, int code, const QJsonObject *items, quint8 count)
{
    QJsonArray datas;
    for (int i = 0; i < count; ++i)
        datas.append(items[i]);
    QJsonObject reply = replyObject(id, code);
    reply.insert(QStringLiteral("datas"), datas);
    return seal(reply);
}

// Also advances the transaction counter of key and sends its new value as "txid". A failed
// store of the counter does not hold the reply back: the client still gets the value.
QString TxDeal::sendback_data_txid(
    const QString &id, int code, const QJsonObject &datas, const QString &key)
{
    QJsonObject reply = replyObject(id, code);
    reply.insert(QStringLiteral("datas"), datas);
    const uint next = nextTxid(OperatorDb::get_txid_db(key));
    OperatorDb::upgrade_txid(key, next);
    reply.insert(QStringLiteral("txid"), qint64(next));
    return seal(reply);
}

// {"txid": the stored counter of key plus one}; neither wrapped nor stored, since only the
// reply's own "txid" (sendback_data_txid) advances the counter.
QJsonObject TxDeal::get_txid_obj(const QString &key)
{
    QJsonObject object;
    object.insert(QStringLiteral("txid"), qint64(OperatorDb::get_txid_db(key)) + 1);
    return object;
}

// Waits seconds while the calling thread goes on handling its events. The wait is measured on
// the monotonic clock, so a change of the wall clock or midnight does not cut it short.
void TxDeal::delay_s(uint seconds)
{
    const qint64 total = qint64(seconds) * 1000;
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer wakeUp;
    wakeUp.setSingleShot(true);
    wakeUp.setTimerType(Qt::PreciseTimer);
    QObject::connect(&wakeUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    while (clock.elapsed() < total) {
        wakeUp.start(int(qMin<qint64>(total - clock.elapsed(), INT_MAX)));
        loop.exec();
    }
}
