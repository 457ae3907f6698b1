#include "app/instanceserver.h"

#include "app/handover.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>
#include <QVariant>

namespace qmt {
namespace {

constexpr char kBufferProperty[] = "qmtHandOverBytes";

} // namespace

InstanceServer::InstanceServer(QObject *parent) : QObject(parent), m_server(new QLocalServer(this))
{
    // The socket file is made readable and writable by its owner only.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    m_server->setMaxPendingConnections(kMaxConnections);
    connect(m_server, &QLocalServer::newConnection, this, &InstanceServer::acceptConnections);
}

InstanceServer::~InstanceServer()
{
    close();
}

bool InstanceServer::listen(const QString &path)
{
    if (path.isEmpty())
        return false;
    QLocalServer::removeServer(path);
    return m_server->listen(path);
}

void InstanceServer::close()
{
    m_server->close();
}

bool InstanceServer::isListening() const
{
    return m_server->isListening();
}

void InstanceServer::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (m_connections >= kMaxConnections || !peerIsThisUser(socket->socketDescriptor())) {
            socket->abort();
            socket->deleteLater();
            continue;
        }
        ++m_connections;
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QObject::destroyed, this, [this] { --m_connections; });
        // A sender that stalls is cut off: it cannot keep a connection open for long.
        QTimer::singleShot(kMessageTimeoutMs, socket, [socket] {
            socket->abort();
            socket->deleteLater();
        });
        if (socket->bytesAvailable() > 0)
            readFrom(socket);
    }
}

void InstanceServer::readFrom(QLocalSocket *socket)
{
    QByteArray bytes = socket->property(kBufferProperty).toByteArray();
    // Never more than one whole message is read: one byte past it already makes it invalid.
    const qint64 room = kMaxHandOverMessage + 1 - bytes.size();
    bytes.append(socket->read(qMax<qint64>(0, room)));
    HandedOverStart start;
    switch (parseHandOver(bytes, &start)) {
    case HandOverParse::Incomplete:
        socket->setProperty(kBufferProperty, bytes);
        return;
    case HandOverParse::Invalid:
        socket->abort();
        socket->deleteLater();
        return;
    case HandOverParse::Complete:
        break;
    }
    socket->setProperty(kBufferProperty, QVariant());
    // Bytes after the message, sent before the answer, make it invalid too.
    if (socket->bytesAvailable() > 0) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    socket->putChar(kHandOverAccepted);
    socket->flush();
    socket->disconnectFromServer();
    Q_EMIT commandLineReceived(commandLineForRunningProgram(start));
}

} // namespace qmt
