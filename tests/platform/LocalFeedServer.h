#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpServer>

class QTcpSocket;

namespace tw {

// An HTTP server on 127.0.0.1, on a port the system picks, for tests of the updater. It answers
// every request with the one response set, or, when told to, keeps the connection open and says
// nothing. Runs on the test's Qt event loop.
class LocalFeedServer {
  public:
    LocalFeedServer();

    void respond(int status, QByteArray body);
    void staySilent() { silent_ = true; }

    // http://127.0.0.1:<port>/appcast.xml
    QString url() const;
    int requests() const { return requests_; }

    // An address on 127.0.0.1 where nothing listens: the port of a server just closed.
    static QString closedPortUrl();

  private:
    void answer(QTcpSocket* socket);

    QTcpServer server_;
    int status_ = 404;
    QByteArray body_;
    bool silent_ = false;
    int requests_ = 0;
};

}  // namespace tw
