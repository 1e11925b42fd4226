#include "storage/WebPage.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTest>

class TestExtract : public QObject {
    Q_OBJECT
private slots:
    void extract_data();
    void extract();
    void decoding_data();
    void decoding();
    void corpus();
};

void TestExtract::extract_data() {
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QByteArray>("text");

    const QByteArray pad512(512, 'x');
    const QByteArray title = "<title>Fallback</title>";

    QTest::newRow("description in capitals")
        << QByteArray("<HTML><HEAD><META NAME=\"DESCRIPTION\" CONTENT=\"Daily notes\">"
                      "<TITLE>Other</TITLE>")
        << QByteArray("Daily notes");
    QTest::newRow("description wins over an earlier title")
        << QByteArray("<title>T</title><meta name=\"description\" content=\"D\">")
        << QByteArray("D");
    QTest::newRow("description keeps blanks and case")
        << QByteArray("<meta name=\"Description\" content=\"  Mixed Case  \">")
        << QByteArray("  Mixed Case  ");
    QTest::newRow("references are not decoded")
        << QByteArray("<meta name=\"description\" content=\"Tom &amp; Jerry\">")
        << QByteArray("Tom &amp; Jerry");
    QTest::newRow("only the first description tag counts")
        << QByteArray("<meta name=\"description\">" + pad512 +
                      "<meta name=\"description\" content=\"late\">" + title)
        << QByteArray("Fallback");
    QTest::newRow("marker just inside the 512 from the tag")
        << QByteArray("<meta name=\"description\"" + QByteArray(512 - 24 - 9, ' ') +
                      "content=\"in\">" + title)
        << QByteArray("in");
    QTest::newRow("marker one past the 512 falls back to the title")
        << QByteArray("<meta name=\"description\"" + QByteArray(512 - 24 - 8, ' ') +
                      "content=\"out\">" + title)
        << QByteArray("Fallback");
    QTest::newRow("value of 512 bytes")
        << QByteArray("<meta name=\"description\" content=\"" + pad512 + "\">" + title) << pad512;
    QTest::newRow("value of 513 bytes falls back")
        << QByteArray("<meta name=\"description\" content=\"" + pad512 + "y\">" + title)
        << QByteArray("Fallback");
    QTest::newRow("unclosed value falls back")
        << QByteArray(title + "<meta name=\"description\" content=\"never closed")
        << QByteArray("Fallback");
    QTest::newRow("empty value is no description")
        << QByteArray("<meta name=\"description\" content=\"\"><a href=\"x\">" + title)
        << QByteArray("Fallback");
    QTest::newRow("other attribute order has no tag")
        << QByteArray("<meta content=\"D\" name=\"description\">" + title)
        << QByteArray("Fallback");
    QTest::newRow("title with blanks, tag in other case")
        << QByteArray("<html><head><Title>  My page \r\n\t</Title></head>")
        << QByteArray("My page");
    QTest::newRow("title end before title start")
        << QByteArray("</title>junk<title>Late</title>") << QByteArray();
    QTest::newRow("empty title") << QByteArray("<title></title>") << QByteArray();
    QTest::newRow("title of blanks only") << QByteArray("<title> \t </title>") << QByteArray();
    QTest::newRow("title without end") << QByteArray("<title>Open") << QByteArray();
    QTest::newRow("title with attributes is not a title start")
        << QByteArray("<title lang=\"en\">X</title>") << QByteArray();
    QTest::newRow("title keeps inner markup and references")
        << QByteArray("<title>A &lt;b&gt; <i>B</i></title>") << QByteArray("A &lt;b&gt; <i>B</i>");
    QTest::newRow("nothing") << QByteArray("<html><body>Hello</body></html>") << QByteArray();
    QTest::newRow("empty page") << QByteArray() << QByteArray();
    QTest::newRow("tag cut off at the end") << QByteArray("<meta name=\"descr") << QByteArray();
    QTest::newRow("NUL bytes inside")
        << QByteArray("\0<title>a\0b</title>", 19) << QByteArray("a\0b", 3);
}

void TestExtract::extract() {
    QFETCH(QByteArray, page);
    QFETCH(QByteArray, text);
    QCOMPARE(WebPage::ExtractBytes(page), text);
}

void TestExtract::decoding_data() {
    QTest::addColumn<QByteArray>("page");
    QTest::addColumn<QString>("text");
    QTest::newRow("UTF-8") << QByteArray("<title>Caf\xc3\xa9 \xe2\x82\xac</title>")
                           << QStringLiteral("Café €");
    QTest::newRow("single-byte page")
        << QByteArray("<title>Caf\xe9 \x80</title>") << QStringLiteral("Café €");
    QTest::newRow("upper-case non-ASCII letters are not folded")
        << QByteArray("<TITLE>\xc3\x89t\xc3\xa9</TITLE>") << QStringLiteral("Été");
}

void TestExtract::decoding() {
    QFETCH(QByteArray, page);
    QFETCH(QString, text);
    QCOMPARE(WebPage::Extract(page), text);
}

// Files written by other programs: whatever they hold, the result is a piece of them.
void TestExtract::corpus() {
    const QDir dir(QStringLiteral(CORVANTIS_CORPUS_DIR));
    if (!dir.exists())
        QSKIP("the corpus of other programs' files is not here");
    int files = 0;
    QDirIterator it(dir.path(), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        QFile file(it.next());
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(file.fileName()));
        const QByteArray page = file.readAll();
        const QByteArray text = WebPage::ExtractBytes(page);
        QVERIFY2(page.contains(text), qPrintable(file.fileName()));
        ++files;
    }
    qInfo("%d files", files);
}

QTEST_GUILESS_MAIN(TestExtract)
#include "tst_extract.moc"
