#include "store/sqlite.h"

#include "store/storetext.h"

#include <QStringList>

using namespace records;

// The store command language: "table.operation.arguments...", fields separated by ".". Text
// arguments and the text fields of record texts are encoded as storetext.h describes, and so are
// the values inside row replies. Replies:
//   "0"          a write command was carried out
//   "3"          a write command failed (the reason is in the log)
//   "0." + data  a read command found data
//   "2"          a read command found nothing, or the store could not be read
//   "1"          unknown table or operation
//   the value    of the settings read 20.4, bare

namespace {

QString written(bool ok)
{
    return ok ? QStringLiteral("0") : QStringLiteral("3");
}

QString found(const QString &data)
{
    return data.isEmpty() ? QStringLiteral("2") : QStringLiteral("0.") + data;
}

// The counts of the codes 80 and 81, in the order of their replies (81.k is entry k - 1).
using Count = quint32 (Sqlite::*)();
const Count counts[] = {
    &Sqlite::get_person_count,
    &Sqlite::get_cardid_count,
    &Sqlite::get_permit_count,
    &Sqlite::get_doorset_count,
    &Sqlite::get_warrant_count,
    &Sqlite::get_timezone_count,
    &Sqlite::get_holiday_count,
    &Sqlite::get_specialday_count,
    &Sqlite::get_stay_count,
    &Sqlite::get_recordid_min,
    &Sqlite::get_recordid_max,
    &Sqlite::get_record_count,
};
const quint32 countKinds = sizeof(counts) / sizeof(counts[0]);

} // namespace

// Entry point for the command handlers: the reply to one store command.
QString Sqlite::dbus_pro(const QString &command)
{
    return dbus_pro_pra(command);
}

QString Sqlite::dbus_pro_pra(const QString &command)
{
    const QStringList fields = command.split(QLatin1Char('.'));
    const auto field = [&fields](int i) { return i < fields.size() ? fields.at(i) : QString(); };
    const auto number = [&field](int i) { return storetext::toNumber(field(i)); };
    const quint8 table = quint8(number(0));
    const quint8 operation = quint8(number(1));
    const QString text = field(2); // a record text, decoded field by field by its parser
    const quint32 a = number(2);
    const quint32 b = number(3);

    switch (table) {
    case 1:
        switch (operation) {
        case 1:
            return written(clear_person());
        case 2:
            return written(delete_person_by_personid(a));
        case 3:
            return written(update_person(person_from_str(text)));
        case 4:
            return found(get_person_by_personid(a));
        case 5:
            return found(get_person_index(a, b));
        }
        break;
    case 2:
        switch (operation) {
        case 1:
            return written(clear_cardid());
        case 2:
            return written(delete_cardid_by_personid(a));
        case 3:
            return written(update_cardid(cardid_from_str(text)));
        case 4:
            return found(get_cardid_by_personid(a));
        case 5:
            return found(get_cardid_index(a, b));
        case 10:
            return found(find_cardid_by_cardid(storetext::decode(text)));
        case 11:
            return found(find_cardid_by_fingerid(storetext::decode(text)));
        }
        break;
    case 3:
        switch (operation) {
        case 1:
            return written(clear_record());
        case 2:
            return written(delete_record_by_recordid(a));
        case 3: {
            bool ok = false;
            update_record(record_from_str(text), &ok);
            return written(ok);
        }
        case 4:
            return found(get_record_by_recordid(a));
        case 5:
            return found(get_record_index(a, b));
        case 6:
            return found(get_record_index_id(a, b));
        case 7:
            return found(get_record_by_personid_last(a));
        case 8:
            return found(get_record_by_personid_resultcode_last(a, b));
        }
        break;
    case 4:
        switch (operation) {
        case 1:
            return written(clear_permit());
        case 2:
            return written(delete_permit_by_permitrank(a));
        case 3:
            return written(update_permit(permit_from_str(text)));
        case 4:
            return found(get_permit_by_permitrank(a));
        case 5:
            return found(get_permit_index(a, b));
        }
        break;
    case 5:
        switch (operation) {
        case 1:
            return written(clear_doorset());
        case 2:
            return written(delete_doorset_by_doornum_direction(a, b));
        case 3:
            return written(update_doorset(doorset_from_str(text)));
        case 4:
            return found(get_doorset_by_doornum_direction(a, b));
        case 5:
            return found(get_doorset_index(a, b));
        }
        break;
    case 6:
        switch (operation) {
        case 1:
            return written(clear_warrant());
        case 2:
            return written(delete_warrant_by_warrantid(a));
        case 3:
            return written(update_warrant(warrant_from_str(text)));
        case 4:
            return found(get_warrant_by_warrantid(a));
        case 5:
            return found(get_warrant_index(a, b));
        case 10:
            return found(get_warrant_by_gdd(a, number(5), b, number(4)));
        }
        break;
    case 7:
        switch (operation) {
        case 1:
            return written(clear_timezone());
        case 2:
            return written(delete_timezone_by_timezoneid(a));
        case 3:
            return written(update_timezone(timezone_from_str(text)));
        case 4:
            return found(get_timezone_by_timezoneid(a));
        case 5:
            return found(get_timezone_index(a, b));
        }
        break;
    case 8:
        switch (operation) {
        case 1:
            return written(clear_holiday());
        case 2:
            return written(delete_holiday_by_holidayid(a));
        case 3:
            return written(update_holiday(holiday_from_str(text)));
        case 4:
            return found(get_holiday_by_holidayid(a));
        case 5:
            return found(get_holiday_index(a, b));
        }
        break;
    case 9:
        switch (operation) {
        case 1:
            return written(clear_specialday());
        case 2:
            return written(delete_specialday_by_specialdayid(a));
        case 3:
            return written(update_specialday(specialday_from_str(text)));
        case 4:
            return found(get_specialday_by_specialdayid(a));
        case 5:
            return found(get_specialday_index(a, b));
        }
        break;
    case 10:
        switch (operation) {
        case 1:
            return written(clear_stay());
        case 2:
            return written(delete_stay_by_stayid(a));
        case 3:
            return written(update_stay(stay_from_str(text)));
        case 4:
            return found(get_stay_by_stayid(a));
        case 5:
            return found(get_stay_index(a, b));
        }
        break;
    case 20:
        switch (operation) {
        case 3:
            return written(write_userset(storetext::decode(field(2)), storetext::decode(field(3))));
        case 4:
            return read_userset(storetext::decode(field(2)));
        }
        break;
    case 80: {
        QStringList numbers;
        for (const Count count : counts)
            numbers << QString::number((this->*count)());
        return QStringLiteral("0.") + numbers.join(QLatin1Char('.'));
    }
    case 81: {
        // The operation field names the count here; an unknown one answers "0." alone.
        if (operation == 0 || operation > countKinds)
            return QStringLiteral("0.");
        return QStringLiteral("0.") + QString::number((this->*counts[operation - 1])());
    }
    }
    return QStringLiteral("1");
}
