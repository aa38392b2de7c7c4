// The pipe text forms of the ten record kinds: the first input byte picks the kind, the rest is
// the text (UTF-8) that a command handler or the store hands over. Whatever the text, parsing
// it, writing the record and parsing that again gives the same record, with exactly the kind's
// number of fields in between; and the text taken as one value encodes without a separator and
// decodes back to itself.

#include "fuzzsupport.h"

#include "store/records.h"
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

    switch (data[0] % 10) {
    case 0:
        roundTrip(text, 13, person_from_str, person_to_str, person_to_str_db);
        break;
    case 1:
        roundTrip(text, 6, cardid_from_str, cardid_to_str, cardid_to_str_db);
        break;
    case 2:
        roundTrip(text, 10, record_from_str, record_to_str, record_to_str_db);
        break;
    case 3:
        roundTrip(text, 19, permit_from_str, permit_to_str, permit_to_str_db);
        break;
    case 4:
        roundTrip(text, 12, doorset_from_str, doorset_to_str, doorset_to_str_db);
        break;
    case 5:
        roundTrip(text, 11, warrant_from_str, warrant_to_str, warrant_to_str_db);
        break;
    case 6:
        roundTrip(text, 16, timezone_from_str, timezone_to_str, timezone_to_str_db);
        break;
    case 7:
        roundTrip(text, 6, holiday_from_str, holiday_to_str, holiday_to_str_db);
        break;
    case 8:
        roundTrip(text, 5, specialday_from_str, specialday_to_str, specialday_to_str_db);
        break;
    case 9:
        roundTrip(text, 11, stay_from_str, stay_to_str, stay_to_str_db);
        break;
    }
    return 0;
}
