#include "commands/txdeal.h"

#include "logging/redact.h"
#include "store/recordfields.h"
#include "store/sqlite.h"

#include <QStringList>

namespace {

// Position of a person's "password" (a door PIN) in its pipe text form and in its rows.
int personPasswordPosition()
{
    struct Finder
    {
        int position = 0;
        int found = -1;
        void field(const char *name)
        {
            if (qstrcmp(name, "password") == 0)
                found = position;
            ++position;
        }
        void number(const char *name, quint32) { field(name); }
        void quotedNumber(const char *name, quint32) { field(name); }
        void text(const char *name, const QString &) { field(name); }
        void numericText(const char *name, const QString &) { field(name); }
        void sqlOnlyText(const char *, const QString &) { }
    };
    PersonStruct person;
    Finder finder;
    records::fields(person, finder);
    Q_ASSERT(finder.found >= 0);
    return finder.found;
}

} // namespace

// Every command reaches the access-control data through the store command language; a store
// object lives for one command, so nothing of a database stays open between commands.
QString TxDeal::send_dbus(quint8 table, quint8 operation, const QString &text)
{
    const QString command = QStringLiteral("%1.%2.%3").arg(table).arg(operation).arg(text);
    Sqlite store;
    const QString reply = store.dbus_pro(command);
    qDebug("sql cmd:%s", qUtf8Printable(store_text_for_log(table, command)));
    qDebug("sql recv:%s", qUtf8Printable(store_text_for_log(table, reply)));
    return reply;
}

// A store command or reply as the log may show it: a person's password is a secret like any
// other, so in the person texts (a record sent, or the rows read back, each a ","-piece whose
// "|"-sections are its fields; text values inside are encoded) it is masked.
QString TxDeal::store_text_for_log(quint8 table, const QString &text)
{
    if (table != 1)
        return text;
    static const int password = personPasswordPosition();
    QStringList rows = text.split(QLatin1Char(','));
    for (QString &row : rows) {
        QStringList sections = row.split(QLatin1Char('|'));
        if (sections.size() > password && !sections.at(password).isEmpty()) {
            sections[password] = QLatin1String(redact::mask);
            row = sections.join(QLatin1Char('|'));
        }
    }
    return rows.join(QLatin1Char(','));
}
