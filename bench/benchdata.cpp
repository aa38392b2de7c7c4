#include "benchdata.h"

#include <QSqlDatabase>
#include <QSqlQuery>

PersonStruct benchPerson(quint32 id)
{
    PersonStruct p;
    p.personid = id;
    p.persontype = 1;
    p.accountstatus = 1;
    p.name = QStringLiteral("5byg5LiJ");
    p.group = QStringLiteral("1");
    p.iden = QStringLiteral("110101199001011234");
    p.mobil = QStringLiteral("13800000000");
    p.password = QStringLiteral("123456");
    p.regtime = 1700000000;
    p.voliditystart = 1700000000;
    p.volidityend = 1900000000;
    return p;
}

RecordStruct benchRecord(quint32 id, quint32 persons)
{
    RecordStruct r;
    r.recordid = id;
    r.personid = id % persons;
    r.cardid = QStringLiteral("12345678");
    r.time = 1700000000 + id;
    r.doornum = id % 4;
    return r;
}

bool fill(
    const QString &file, const char *table, int rows, const std::function<QString(quint32)> &values)
{
    bool ok = false;
    {
        QSqlDatabase db
            = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(file);
        if (db.open() && db.transaction()) {
            QSqlQuery query(db);
            ok = true;
            for (int i = 0; i < rows && ok; ++i)
                ok = query.exec(QStringLiteral("INSERT INTO %1 VALUES(%2)")
                                    .arg(QLatin1String(table), values(quint32(i))));
            ok = db.commit() && ok;
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    return ok;
}
