#include "gui/tray/HandOverServer.hpp"

#include <QLocalSocket>
#include <QTimer>
#include <sys/socket.h>
#include <unistd.h>

#include "instance/AppInstance.hpp"

namespace vesperon::gui {
namespace {

constexpr int readPatienceMs = 5000;

bool sameUser(const QLocalSocket& socket) {
    ucred peer{};
    socklen_t size = sizeof peer;
    return ::getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED, &peer,
                        &size) == 0 &&
           peer.uid == ::geteuid();
}

} // namespace

HandOverServer::HandOverServer(int listeningSocket, Deliver deliver)
    : deliver_(std::move(deliver)) {
    if (listeningSocket >= 0 && server_.listen(listeningSocket)) {
        QObject::connect(&server_, &QLocalServer::newConnection, this, [this] { accept(); });
    }
}

void HandOverServer::accept() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (!sameUser(*socket)) {
            socket->abort();
            continue;
        }
        // A sender that stalls is dropped; a malformed message is refused.
        QTimer::singleShot(readPatienceMs, socket, [socket] { socket->abort(); });
        auto buffer = std::make_shared<QByteArray>();
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, buffer] {
            buffer->append(socket->readAll());
            auto urls = decodeHandOver(
                std::string_view(buffer->constData(), static_cast<std::size_t>(buffer->size())));
            if (!urls) {
                socket->abort();
                return;
            }
            if (!*urls) {
                return; // more to come
            }
            socket->write(handOverReceipt.data(), static_cast<qint64>(handOverReceipt.size()));
            socket->disconnectFromServer();
            deliver_(**urls);
        });
    }
}

} // namespace vesperon::gui
