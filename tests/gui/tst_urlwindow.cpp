#include "dialogs/WebFetch.h"
#include "dialogs/uFrmURL.h"
#include "gui/DialogDriver.h"
#include "support/ScriptedPrompt.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QThread>
#include <QToolButton>

namespace {

QByteArray Response(int status, const QByteArray& body, const QByteArray& headers = {}) {
    return "HTTP/1.1 " + QByteArray::number(status) + " Status\r\nContent-Type: text/html\r\n" +
           "Content-Length: " + QByteArray::number(body.size()) + "\r\nConnection: close\r\n" +
           headers + "\r\n" + body;
}

// A web server on 127.0.0.1 for the fetch: answers each request by its path from a table of
// raw responses, and records the requests. A path that is not in the table is never answered;
// a "partial" answer sends its bytes and then holds the connection open without a word more.
class PageServer : public QObject {
public:
    PageServer() {
        if (!m_server.listen(QHostAddress::LocalHost, 0))
            qFatal("cannot listen");
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = m_server.nextPendingConnection())
                connect(socket, &QTcpSocket::readyRead, this, [this, socket] { serve(socket); });
        });
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(m_server.serverPort()).arg(path);
    }
    QMap<QByteArray, QByteArray> pages;   // path -> raw response, closed after
    QMap<QByteArray, QByteArray> partial; // path -> raw bytes, connection left open
    QList<QByteArray> requests;

private:
    void serve(QTcpSocket* socket) {
        QByteArray& request = m_pending[socket];
        request += socket->readAll();
        if (!request.contains("\r\n\r\n"))
            return;
        requests << request;
        const QByteArray path = request.split(' ').value(1);
        if (pages.contains(path)) {
            socket->write(pages.value(path));
            socket->disconnectFromHost();
        } else if (partial.contains(path)) {
            socket->write(partial.value(path));
        }
        m_pending.remove(socket);
    }
    QTcpServer m_server;
    QHash<QTcpSocket*, QByteArray> m_pending;
};

template <typename T = QWidget> T* control(TfrmURL& window, const char* name) {
    return window.findChild<T*>(QLatin1String(name));
}

QString unusedPortUrl() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/").arg(port);
}

} // namespace

class TestUrlWindow : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void layout();
    void fetchButton_data();
    void fetchButton();
    void addressesThatFetchNothing_data();
    void addressesThatFetchNothing();
    void request();
    void limits();
    void redirectLoop();
    void timeLimitIsADeadline();
    void waitingForAPage_data();
    void waitingForAPage();
    void enteringTheEmptyTextBox();
    void openerReadsTheAddress();
};

void TestUrlWindow::initTestCase() {
    PinLocaleAndClock();
    // The local server must be reached directly, whatever this machine's proxies are.
    for (const char* name :
         {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
        qunsetenv(name);
}

void TestUrlWindow::layout() {
    TfrmURL window;
    auto* fetch = control<QToolButton>(window, "SpeedButton1");
    // No caption; a picture, so the button says what it is for.
    QVERIFY(fetch->text().isEmpty() && !fetch->icon().isNull());
    QVERIFY(control<QPushButton>(window, "btnOK")->isDefault());
    // Tab order: Text, URL, OK, Cancel.
    QWidget* w = control(window, "edtText");
    QStringList order;
    for (int i = 0; i < 4; ++i, w = w->nextInFocusChain()) {
        while (w->focusPolicy() == Qt::NoFocus)
            w = w->nextInFocusChain();
        order << w->objectName();
    }
    QCOMPARE(order, (QStringList{"edtText", "edtURL", "btnOK", "btnCancel"}));
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.grab().save(QDir::temp().filePath(QStringLiteral("corvantis-url.png"))));
}

void TestUrlWindow::fetchButton_data() {
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<QString>("text");
    QTest::newRow("description")
        << Response(200, "<HTML><HEAD><META NAME=\"DESCRIPTION\" CONTENT=\"Daily notes\">"
                         "<TITLE>x</TITLE>")
        << "Daily notes";
    QTest::newRow("title") << Response(200, "<html><Title>  My page  </Title>") << "My page";
    QTest::newRow("the server's error page is a page too")
        << Response(404, "<title>Not Found</title>") << "Not Found";
    QTest::newRow("nothing to show") << Response(200, "<html><body>hi</body></html>") << "";
    QTest::newRow("empty body") << Response(204, "") << "";
    QTest::newRow("redirect followed") << Response(302, "", "Location: /moved\r\n") << "Moved here";
    QTest::newRow("UTF-8 title") << Response(200, "<title>Caf\xc3\xa9</title>")
                                 << QStringLiteral("Café");
    QTest::newRow("without a length, read to the end")
        << QByteArray("HTTP/1.0 200 OK\r\n\r\n<title>Old server</title>") << "Old server";
}

void TestUrlWindow::fetchButton() {
    QFETCH(QByteArray, response);
    QFETCH(QString, text);
    ScriptedPrompt prompt;
    PageServer server;
    server.pages.insert("/page", response);
    server.pages.insert("/moved", Response(200, "<title>Moved here</title>"));
    TfrmURL window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    control<QLineEdit>(window, "edtURL")->setText(server.url(QStringLiteral("/page")));
    control<QLineEdit>(window, "edtText")->setText(QStringLiteral("old text"));
    QTest::mouseClick(control(window, "SpeedButton1"), Qt::LeftButton);
    QCOMPARE(window.pageText(), text);
    QVERIFY(prompt.errors.isEmpty() && prompt.notices.isEmpty());
}

void TestUrlWindow::addressesThatFetchNothing_data() {
    QTest::addColumn<QString>("address");
    QTest::newRow("empty") << "";
    QTest::newRow("not an address") << "not an address";
    QTest::newRow("no scheme") << "www.example.invalid";
    QTest::newRow("a local file") << "file:///etc/hostname";
    QTest::newRow("another scheme") << "ftp://127.0.0.1/";
    QTest::newRow("nobody listening") << unusedPortUrl();
}

void TestUrlWindow::addressesThatFetchNothing() {
    QFETCH(QString, address);
    ScriptedPrompt prompt;
    TfrmURL window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    control<QLineEdit>(window, "edtURL")->setText(address);
    control<QLineEdit>(window, "edtText")->setText(QStringLiteral("old text"));
    QElapsedTimer clock;
    clock.start();
    QTest::mouseClick(control(window, "SpeedButton1"), Qt::LeftButton);
    QVERIFY(window.pageText().isEmpty());
    QVERIFY(clock.elapsed() < 5000);
    QVERIFY(prompt.errors.isEmpty() && prompt.notices.isEmpty());
}

void TestUrlWindow::request() {
    PageServer server;
    server.pages.insert("/a?b=c", Response(200, "<title>t</title>"));
    QCOMPARE(WebFetch::Fetch(server.url(QStringLiteral("/a?b=c"))), QByteArray("<title>t</title>"));
    QCOMPARE(server.requests.size(), 1);
    const QByteArray request = server.requests.first();
    QVERIFY2(request.startsWith("GET /a?b=c HTTP/1.1\r\n"), request.constData());
    QVERIFY2(request.contains("\r\nUser-Agent: Corvantis\r\n"), request.constData());
    // A fresh copy is asked for, never a cached one.
    QVERIFY2(request.contains("\r\nCache-Control: no-cache\r\n"), request.constData());
}

void TestUrlWindow::limits() {
    PageServer server;
    const QByteArray big = "<title>Big</title>" + QByteArray(200000, 'x');
    server.pages.insert("/big", Response(200, big));
    server.partial.insert("/stalls", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n"
                                     "<title>Half</title>");
    server.partial.insert("/silent", QByteArray());

    WebFetch::Limits limits;
    limits.maxBytes = 1000;
    limits.timeLimitMs = 400;
    QCOMPARE(WebFetch::Fetch(server.url(QStringLiteral("/big")), limits), big.left(1000));

    QElapsedTimer clock;
    clock.start();
    QCOMPARE(WebFetch::Fetch(server.url(QStringLiteral("/silent")), limits), QByteArray());
    // What arrived before the time ran out is kept.
    QCOMPARE(WebFetch::Fetch(server.url(QStringLiteral("/stalls")), limits),
             QByteArray("<title>Half</title>"));
    QVERIFY(clock.elapsed() < 4000);

    // The window's own limits are sound ones.
    const WebFetch::Limits defaults;
    QVERIFY(defaults.timeLimitMs >= 5000 && defaults.timeLimitMs <= 60000);
    QVERIFY(defaults.maxBytes >= 256 * 1024 && defaults.maxBytes <= 16 * 1024 * 1024);
    QCOMPARE(WebFetch::Fetch(server.url(QStringLiteral("/big"))), big);
}

void TestUrlWindow::redirectLoop() {
    // /r0 -> /r1 -> ... -> /r9 -> /page: five redirects are followed, a sixth is not.
    PageServer server;
    for (int i = 0; i < 10; ++i)
        server.pages.insert(
            "/r" + QByteArray::number(i),
            Response(302, "",
                     "Location: " + (i < 9 ? "/r" + QByteArray::number(i + 1) : "/page") + "\r\n"));
    server.pages.insert("/page", Response(200, "<title>Arrived</title>"));
    QCOMPARE(WebFetch::Fetch(server.url(QStringLiteral("/r5"))),
             QByteArray("<title>Arrived</title>"));
    server.requests.clear();
    QCOMPARE(WebFetch::Fetch(server.url(QStringLiteral("/r0"))), QByteArray());
    QSet<QByteArray> paths;
    for (const QByteArray& request : server.requests)
        paths << request.split(' ').value(1);
    QCOMPARE(paths, (QSet<QByteArray>{"/r0", "/r1", "/r2", "/r3", "/r4", "/r5"}));
}

void TestUrlWindow::timeLimitIsADeadline() {
    PageServer server;
    server.partial.insert("/silent", QByteArray());
    WebFetch::Limits limits;
    limits.timeLimitMs = 5000;
    // Start a little after a whole second of the clock, where a timer that rounds its waking
    // time to whole seconds would wake early.
    const auto phase = [] {
        QElapsedTimer now;
        now.start();
        return now.msecsSinceReference() % 1000;
    };
    while (phase() < 280 || phase() > 320)
        QThread::msleep(1);
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(WebFetch::Fetch(server.url(QStringLiteral("/silent")), limits), QByteArray());
    QVERIFY2(clock.elapsed() >= limits.timeLimitMs, qPrintable(QString::number(clock.elapsed())));
}

void TestUrlWindow::waitingForAPage_data() {
    QTest::addColumn<QString>("how"); // how the user ends the wait
    QTest::newRow("Cancel") << "btnCancel";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("close box") << "close";
}

// While the window waits for a page, the busy cursor shows, input is dropped rather than
// replayed afterwards, and the window's own Cancel or close box ends the wait at once.
void TestUrlWindow::waitingForAPage() {
    QFETCH(QString, how);
    ScriptedPrompt prompt;
    PageServer server;
    server.partial.insert("/silent", QByteArray());
    TfrmURL window;
    auto* url = control<QLineEdit>(window, "edtURL");
    url->setText(server.url(QStringLiteral("/silent")));
    control<QLineEdit>(window, "edtText")->setText(QStringLiteral("old text"));
    QElapsedTimer clock;
    Qt::CursorShape cursor = Qt::ArrowCursor;
    WhenShown(&window, [&] {
        QTimer::singleShot(200, &window, [&] {
            if (const QCursor* busy = QApplication::overrideCursor())
                cursor = busy->shape();
            url->setFocus();
            QTest::keyClicks(url, QStringLiteral("typed"));
            QTest::mouseClick(control(window, "SpeedButton1"), Qt::LeftButton);
            CloseBy(window, how);
        });
        clock.start();
        QTest::mouseClick(control(window, "SpeedButton1"), Qt::LeftButton);
    });
    QCOMPARE(window.ask(), std::optional<QString>());
    QVERIFY2(clock.elapsed() < 10000, "the wait did not end with the window");
    QCOMPARE(cursor, Qt::WaitCursor);
    QVERIFY(!QApplication::overrideCursor());
    QCOMPARE(url->text(), server.url(QStringLiteral("/silent")));
    QTest::qWait(100);
    QCOMPARE(server.requests.size(), 1);
}

void TestUrlWindow::enteringTheEmptyTextBox() {
    ScriptedPrompt prompt;
    PageServer server;
    server.pages.insert("/p", Response(200, "<title>Entered</title>"));
    TfrmURL window;
    auto* url = control<QLineEdit>(window, "edtURL");
    auto* text = control<QLineEdit>(window, "edtText");
    url->setText(server.url(QStringLiteral("/p")));
    // The first showing starts in the empty Text box, which fetches.
    WhenShown(&window, [&] {
        QVERIFY(text->hasFocus());
        QTRY_COMPARE(text->text(), QStringLiteral("Entered"));
        QCOMPARE(server.requests.size(), 1);
        // Entering it again while it holds text fetches nothing.
        url->setFocus(Qt::TabFocusReason);
        text->setFocus(Qt::TabFocusReason);
        QTest::qWait(50);
        QCOMPARE(server.requests.size(), 1);
        // Emptied, it fetches when entered from another box.
        text->clear();
        url->setFocus(Qt::TabFocusReason);
        QTest::keyClick(url, Qt::Key_Backtab);
        QTRY_COMPARE(text->text(), QStringLiteral("Entered"));
        QCOMPARE(server.requests.size(), 2);
        window.reject();
    });
    window.exec();
    QVERIFY(prompt.errors.isEmpty());
}

void TestUrlWindow::openerReadsTheAddress() {
    ScriptedPrompt prompt;
    TfrmURL window;
    auto* url = control<QLineEdit>(window, "edtURL");
    WhenShown(&window, [&] {
        url->setFocus();
        QTest::keyClicks(url, QStringLiteral("  http://example.invalid/x  "));
        control<QLineEdit>(window, "edtText")->setText(QStringLiteral("typed by hand"));
        QTest::keyClick(url, Qt::Key_Return); // OK is the default button
    });
    QCOMPARE(window.ask(), std::optional<QString>(QStringLiteral("  http://example.invalid/x  ")));
    // The second opening shows what the first one left.
    WhenShown(&window, [&] {
        QCOMPARE(url->text(), QStringLiteral("  http://example.invalid/x  "));
        QCOMPARE(window.pageText(), QStringLiteral("typed by hand"));
        QTest::mouseClick(control(window, "btnCancel"), Qt::LeftButton);
    });
    QCOMPARE(window.ask(), std::optional<QString>());
}

QTEST_MAIN(TestUrlWindow)
#include "tst_urlwindow.moc"
