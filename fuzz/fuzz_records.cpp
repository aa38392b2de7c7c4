// The pipe text forms of the ten record kinds: the first input byte picks the kind, the rest is
// the text (UTF-8) that a command handler or the store hands over. Whatever the text, parsing
// it, writing the record and parsing that again gives the same record, with exactly the kind's
// number of fields in between; and the text taken as one value encodes without a separator and
// decodes back to itself.

#include "fuzzsupport.h"

#include "recordkinds.h"
#include "store/storetext.h"

#include <cstddef>
#include <cstdint>

using namespace records;

namespace {

// Parse -> text -> parse. The SQL values form writes every field of a record as an unambiguous
// literal, so two records with the same SQL values form are the same record.
template<class R>
void roundTrip(const QString &text, int fieldCount, R (*fromStr)(const QString &),
    QString (*toStr)(R), QString (*toStrDb)(R))
{
    const R record = fromStr(text);
    const QString written = toStr(record);
    FUZZ_CHECK(written.count(QLatin1Char('|')) == fieldCount - 1);
    const R again = fromStr(written);
    FUZZ_CHECK(toStrDb(again) == toStrDb(record));
    FUZZ_CHECK(toStr(again) == written);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data) + 1, int(size - 1));
    const QString encoded = storetext::encode(text);
    for (const char separator : {',', '.', '|'})
        FUZZ_CHECK(!encoded.contains(QLatin1Char(separator)));
    FUZZ_CHECK(storetext::decode(encoded) == text);

    recordkinds::withKind(
        data[0] % 10 + 1, [&text](auto fromStr, auto toStr, auto toStrDb, auto count) {
            roundTrip(text, count.pipe, fromStr, toStr, toStrDb);
        });
    return 0;
}
