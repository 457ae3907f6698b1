#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

namespace qmt {

// The running program's ear for later starts: a local socket, reachable by this user only, on
// which a second start hands over its command line (see handover.h) before it ends. Each
// connection gets a short time to send one whole, valid message; anything else is dropped
// without an answer.
class InstanceServer : public QObject
{
    Q_OBJECT

public:
    explicit InstanceServer(QObject *parent = nullptr);
    ~InstanceServer() override;

    // Listens on path, replacing a socket left there by a program that is gone (the caller holds
    // the single-instance lock, so no live program owns it). False when it cannot listen.
    bool listen(const QString &path);
    // Stops listening and removes the socket.
    void close();
    bool isListening() const;

    // How long one connection may take to deliver its message.
    static constexpr int kMessageTimeoutMs = 2000;
    // Connections served at the same time; more are closed at once.
    static constexpr int kMaxConnections = 8;

Q_SIGNALS:
    // A later start's command line, relative paths already taken in its folder.
    void commandLineReceived(const QString &commandLine);

private:
    void acceptConnections();
    void readFrom(QLocalSocket *socket);

    QLocalServer *m_server;
    int m_connections = 0;
};

} // namespace qmt
