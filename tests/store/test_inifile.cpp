#include "store/inifile.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

// The device account is written into DORXWebOnDevice.ini, which people keep with comments: only
// the group's own keys may change.
class TestIniFile : public QObject
{
    Q_OBJECT

private slots:
    void writesOnlyTheGroupsKeys_data();
    void writesOnlyTheGroupsKeys();
    void valuesReadBackAsWritten_data();
    void valuesReadBackAsWritten();
};

namespace {

const QList<QPair<QString, QString>> account = {{"name", "n"}, {"password", "p"}};

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

void TestIniFile::writesOnlyTheGroupsKeys_data()
{
    QTest::addColumn<QByteArray>("before"); // "-" for no file
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("no file yet") << QByteArray("-") << QByteArray("[login]\nname=n\npassword=p\n");
    QTest::newRow("group added at the end")
        << QByteArray("; sample\n[listener]\nhost=\n")
        << QByteArray("; sample\n[listener]\nhost=\n\n[login]\nname=n\npassword=p\n");
    QTest::newRow("last line without line end")
        << QByteArray("[a]\nx=1") << QByteArray("[a]\nx=1\n\n[login]\nname=n\npassword=p\n");
    QTest::newRow("keys replaced where they stand")
        << QByteArray("[login]\n; who\nname = old\nfileroot=/up\npassword=old\n\n[x]\ny=2\n")
        << QByteArray("[login]\n; who\nname=n\nfileroot=/up\npassword=p\n\n[x]\ny=2\n");
    QTest::newRow("new keys at the start of the group")
        << QByteArray("[login]\nfileroot=/up\r\n[x]\nname=other group\n")
        << QByteArray("[login]\nname=n\npassword=p\nfileroot=/up\r\n[x]\nname=other group\n");
    QTest::newRow("later lines of a key dropped")
        << QByteArray("[login]\nname=a\nname=b\n;name=c\n")
        << QByteArray("[login]\npassword=p\nname=n\n;name=c\n");
}

void TestIniFile::writesOnlyTheGroupsKeys()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, after);
    const QTemporaryDir dir;
    const QString path = dir.filePath("DORXWebOnDevice.ini");
    if (before != "-") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(before);
    }
    QVERIFY(inifile::writeGroup(path, "login", account));
    QCOMPARE(readFile(path), after);
    // It now holds a password.
    QCOMPARE(QFile::permissions(path) & 0x0077, QFile::Permissions());
}

void TestIniFile::valuesReadBackAsWritten_data()
{
    QTest::addColumn<QString>("value");
    QTest::newRow("empty") << QString();
    QTest::newRow("beyond ASCII") << QString::fromUtf8("门卫");
    QTest::newRow("separators and quotes") << QString("a;b, \"c\" = d # e");
    QTest::newRow("line end and backslash") << QString("x\ny\\z");
    QTest::newRow("leading at sign and spaces") << QString("@Invalid() ");
}

void TestIniFile::valuesReadBackAsWritten()
{
    QFETCH(QString, value);
    const QTemporaryDir dir;
    const QString path = dir.filePath("a.ini");
    QVERIFY(inifile::writeGroup(path, "login", {{"name", value}, {"password", value}}));
    QSettings settings(path, QSettings::IniFormat);
    settings.setIniCodec("UTF-8");
    QCOMPARE(settings.value("login/name").toString(), value);
    QCOMPARE(settings.value("login/password").toString(), value);
}

QTEST_GUILESS_MAIN(TestIniFile)
#include "test_inifile.moc"
