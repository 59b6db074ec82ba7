#include "tests/platform/LocalFeedServer.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <stdexcept>

namespace tw {

LocalFeedServer::LocalFeedServer() {
    if (!server_.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("cannot listen on 127.0.0.1");
    QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
        while (auto* socket = server_.nextPendingConnection()) {
            QObject::connect(socket, &QTcpSocket::readyRead, socket,
                             [this, socket] { answer(socket); });
            QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
}

void LocalFeedServer::respond(int status, QByteArray body) {
    status_ = status;
    body_ = std::move(body);
}

QString LocalFeedServer::url() const {
    return QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(server_.serverPort());
}

QString LocalFeedServer::closedPortUrl() {
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        throw std::runtime_error("cannot listen on 127.0.0.1");
    const auto port = probe.serverPort();
    probe.close();
    return QStringLiteral("http://127.0.0.1:%1/appcast.xml").arg(port);
}

void LocalFeedServer::answer(QTcpSocket* socket) {
    // The request is read whole (its header ends with an empty line) before the answer goes out.
    auto request = socket->property("request").toByteArray() + socket->readAll();
    socket->setProperty("request", request);
    if (!request.contains("\r\n\r\n")) return;
    ++requests_;
    if (silent_) return;
    socket->write("HTTP/1.1 " + QByteArray::number(status_) +
                  " Answer\r\n"
                  "Content-Type: application/rss+xml\r\n"
                  "Content-Length: " +
                  QByteArray::number(body_.size()) +
                  "\r\n"
                  "Connection: close\r\n\r\n" +
                  body_);
    socket->disconnectFromHost();
}

}  // namespace tw
