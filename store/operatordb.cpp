#include "store/operatordb.h"

#include "store/sqlconnection.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

const char fileName[] = "login_sql.db";
const char insertUser[] = "INSERT INTO user VALUES(?,?,?,?)";

// Runs work(db) on an open connection to the operator database and returns its result; failed
// when the file does not open.
template<typename Result, typename Work> Result withDatabase(const Result &failed, Work work)
{
    Result result = failed;
    sqlconnection::use(
        QString::fromUtf8(fileName), "OperatorDb", [&](QSqlDatabase &db) { result = work(db); },
        sqlconnection::Journal::WriteAheadLog);
    return result;
}

// Prepares statement, binds values to its placeholders in order and runs it; a failure is
// logged with the driver's reason.
bool run(QSqlQuery &query, const QString &statement, const QVariantList &values)
{
    bool ok = query.prepare(statement);
    if (ok) {
        for (const QVariant &value : values)
            query.addBindValue(value);
        ok = query.exec();
    }
    if (!ok) {
        qWarning("OperatorDb: \"%s\" failed: %s", qUtf8Printable(statement),
            qUtf8Printable(query.lastError().text()));
    }
    return ok;
}

int write(const QString &statement, const QVariantList &values)
{
    return withDatabase(-1, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        return run(query, statement, values) ? 0 : -2;
    });
}

// Every result row of statement as the texts of its columns (NULL gives ""); empty on failure.
QList<QStringList> readRows(const QString &statement, const QVariantList &values)
{
    return withDatabase(QList<QStringList>(), [&](QSqlDatabase &db) {
        QList<QStringList> rows;
        QSqlQuery query(db);
        if (run(query, statement, values)) {
            const int columns = query.record().count();
            while (query.next()) {
                QStringList row;
                for (int column = 0; column < columns; ++column)
                    row << query.value(column).toString();
                rows << row;
            }
        }
        return rows;
    });
}

QStringList flatRows(const QString &statement, const QVariantList &values)
{
    QStringList texts;
    for (const QStringList &row : readRows(statement, values))
        texts << row;
    return texts;
}

// Runs work(query) as one transaction of db: kept when work and the commit succeed, rolled back
// whole otherwise. A failed begin or commit is logged with its reason; work logs its own.
template<typename Work> bool inTransaction(QSqlDatabase &db, Work work)
{
    if (!db.transaction()) {
        qWarning(
            "OperatorDb: cannot begin a transaction: %s", qUtf8Printable(db.lastError().text()));
        return false;
    }
    QSqlQuery query(db);
    bool ok = work(query);
    if (ok && !db.commit()) {
        qWarning("OperatorDb: commit failed: %s", qUtf8Printable(db.lastError().text()));
        ok = false;
    }
    if (!ok)
        (void)db.rollback(); // should even this fail, SQLite has ended the transaction itself
    return ok;
}

bool bothTablesExist(QSqlQuery &query)
{
    const bool exist = query.exec(QStringLiteral("select * from user"))
        && query.exec(QStringLiteral("select * from txid"));
    query.finish();
    return exist;
}

// Creates the missing tables; the super-user goes in only with a newly created "user" table, so
// an existing operator list is never touched. True when both tables exist afterwards.
bool createTables(QSqlQuery &query)
{
    if (query.exec(QStringLiteral(
            "create table user(username text,password text,type text,enable int)"))) {
        if (!run(query, QString::fromUtf8(insertUser), OperatorDb::builtInSuperUser()))
            return false;
        qDebug("Table record created!");
    } else {
        qDebug("Error: Fail to create table.record %s", qUtf8Printable(query.lastError().text()));
    }
    if (query.exec(QStringLiteral("create table txid(ip text,txid int)")))
        qDebug("Table txid created!");
    else
        qDebug("Error: Fail to create table.txid %s", qUtf8Printable(query.lastError().text()));
    return bothTablesExist(query);
}

// Without an enabled super-user nobody can manage the operators any more (a list rewrite may
// have dropped them all): the built-in super-user is put back, replacing any operator of its
// name. *restored tells whether it was.
bool ensureSuperUser(QSqlQuery &query, bool *restored)
{
    *restored = false;
    if (!run(query, QStringLiteral("select count(*) from user where type=? and enable=1"),
            {OperatorDb::builtInSuperUser().at(2)})
        || !query.next())
        return false;
    if (query.value(0).toInt() > 0)
        return true;
    query.finish();
    *restored = run(query, QStringLiteral("delete from user where username=?"),
                    {OperatorDb::builtInSuperUser().at(0)})
        && run(query, QString::fromUtf8(insertUser), OperatorDb::builtInSuperUser());
    return *restored;
}

} // namespace

QVariantList OperatorDb::builtInSuperUser()
{
    return {QStringLiteral("dorx"), defaultPassword(), QString::fromUtf8("超级用户"), 1};
}

QString OperatorDb::defaultPassword()
{
    return QStringLiteral("6172839405");
}

void OperatorDb::check_sql()
{
    bool restored = false;
    const bool ok = withDatabase(false, [&](QSqlDatabase &db) {
        qDebug("Succeed to connect database.");
        // A new or foreign file may lack either table; creating an existing table fails
        // harmlessly and keeps its rows.
        return inTransaction(db, [&](QSqlQuery &query) {
            return (bothTablesExist(query) || createTables(query))
                && ensureSuperUser(query, &restored);
        });
    });
    if (!ok)
        qCritical("OperatorDb: start-up check of %s failed; the file is left as it was", fileName);
    else if (restored)
        qWarning("OperatorDb: no super-user was left in %s; the built-in super-user \"%s\" is "
                 "back with the default password",
            fileName, qUtf8Printable(builtInSuperUser().at(0).toString()));
}

void OperatorDb::init_sql()
{
    const bool ok = withDatabase(false, [](QSqlDatabase &db) {
        return inTransaction(db, [](QSqlQuery &query) { return createTables(query); });
    });
    if (!ok)
        qCritical("OperatorDb: cannot create the tables of %s", fileName);
}

QStringList OperatorDb::get_operate_db()
{
    return flatRows(QStringLiteral("select * from user"), {});
}

QStringList OperatorDb::get_operate_db_by_username(const QString &name)
{
    return flatRows(QStringLiteral("select * from user where username=?"), {name});
}

bool OperatorDb::login_allowed(const QString &name, const QString &password)
{
    const QStringList rows = get_operate_db();
    for (int row = 0; row + 3 < rows.size(); row += 4) {
        if (rows.at(row) == name)
            return rows.at(row + 1) == password && rows.at(row + 3) == QLatin1String("1");
    }
    return false;
}

uint OperatorDb::get_user_count()
{
    const QString count = get_note(QStringLiteral("select count(*) from user")).section(',', 0, 0);
    return count.isEmpty() ? 0 : count.toUInt();
}

int OperatorDb::add_note(const QString &table, const QVariantList &values)
{
    // A table name cannot be a bound parameter, so only the two tables of this file are accepted.
    if (table != QLatin1String("user") && table != QLatin1String("txid")) {
        qWarning("OperatorDb: refusing insert into unknown table %s", qUtf8Printable(table));
        return -2;
    }
    QStringList placeholders;
    for (int i = 0; i < values.size(); ++i)
        placeholders << QStringLiteral("?");
    const QString statement
        = QStringLiteral("INSERT INTO %1 VALUES(%2)").arg(table, placeholders.join(','));
    qDebug("%s", qUtf8Printable(statement));
    return write(statement, values);
}

int OperatorDb::clear_user()
{
    return write(QStringLiteral("delete from user"), {});
}

int OperatorDb::replace_users(const QList<QVariantList> &rows)
{
    return withDatabase(-1, [&](QSqlDatabase &db) {
        const bool ok = inTransaction(db, [&](QSqlQuery &query) {
            bool done = run(query, QStringLiteral("delete from user"), {});
            for (int i = 0; done && i < rows.size(); ++i)
                done = run(query, QString::fromUtf8(insertUser), rows.at(i));
            return done;
        });
        return ok ? 0 : -2;
    });
}

int OperatorDb::upgrade_password(const QString &name, const QString &password)
{
    return write(QStringLiteral("update user set password = ? where username=?"), {password, name});
}

uint OperatorDb::get_txid_db(const QString &key)
{
    enum class Stored { Unreadable, Absent, Found };
    uint counter = 0;
    const Stored stored = withDatabase(Stored::Unreadable, [&](QSqlDatabase &db) {
        QSqlQuery query(db);
        if (!run(query, QStringLiteral("select txid from txid where ip = ?"), {key}))
            return Stored::Unreadable;
        if (!query.next())
            return Stored::Absent;
        counter = query.value(0).toUInt();
        return Stored::Found;
    });
    if (stored == Stored::Absent) {
        // Keys are chosen by clients (address and "processtag"), so the table is bounded: the
        // rows advanced longest ago go first. A key seen again after that starts afresh.
        withDatabase(false, [&](QSqlDatabase &db) {
            return inTransaction(db, [&](QSqlQuery &query) {
                return run(query, QStringLiteral("INSERT INTO txid VALUES(?,?)"), {key, 1})
                    && run(query,
                        QStringLiteral("delete from txid where rowid in (select rowid from txid "
                                       "order by rowid desc limit -1 offset ?)"),
                        {mostCounters});
            });
        });
    }
    return counter;
}

// The key's row is written anew, so rowid order is the order of last use (and a key stored twice
// by an older version becomes one row). A key that is not stored stays so.
int OperatorDb::upgrade_txid(const QString &key, uint value)
{
    qDebug("OperatorDb: txid of %s set to %u", qUtf8Printable(key), value);
    return withDatabase(-1, [&](QSqlDatabase &db) {
        return inTransaction(db,
                   [&](QSqlQuery &query) {
                       return run(query, QStringLiteral("delete from txid where ip=?"), {key})
                           && (query.numRowsAffected() == 0
                               || run(query, QStringLiteral("INSERT INTO txid VALUES(?,?)"),
                                   {key, value}));
                   })
            ? 0
            : -2;
    });
}

QString OperatorDb::get_note(const QString &statement, const QVariantList &values)
{
    QString text;
    for (const QStringList &row : readRows(statement, values))
        text += row.join('|') + ',';
    return text;
}
