#include "commands/jsonobject.h"

#include <QtTest>

// A message that names a member twice is refused whatever the value kinds, escapes or nesting;
// the same name in different objects is not a repetition.
class TestJsonObject : public QObject
{
    Q_OBJECT

private slots:
    void readJsonObject_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("read");
        QTest::newRow("one of each name")
            << QByteArray("{ \"a\" : 1 , \"b\":{\"a\":[{\"a\":2}]}}") << true;
        QTest::newRow("quotes and backslashes in names and values")
            << QByteArray("{\"a\\\\\":1,\"a\\\"\":\"\\\"a\",\"a\":2}") << true;
        QTest::newRow("array replaced") << QByteArray("{\"a\":[1],\"a\":[1]}") << false;
        QTest::newRow("object replaced by a number")
            << QByteArray("{\"a\":{\"b\":1},\"a\":2}") << false;
        QTest::newRow("numbers") << QByteArray("{\"a\":1,\"a\":2}") << false;
        QTest::newRow("same name escaped") << QByteArray("{\"é\":1,\"\\u00e9\":2}") << false;
        QTest::newRow("deep inside an array") << QByteArray("{\"d\":[{\"c\":1,\"c\":1}]}") << false;
        QTest::newRow("array at the top") << QByteArray("[1]") << false;
        QTest::newRow("broken") << QByteArray("{\"a\":1,}") << false;
    }
    void readJsonObject()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, read);
        QCOMPARE(::readJsonObject(text).has_value(), read);
        QCOMPARE(repeatsAName(text), !read && text.startsWith("{\"") && !text.endsWith(",}"));
    }
};

QTEST_APPLESS_MAIN(TestJsonObject)
#include "test_jsonobject.moc"
