#include "app/handover.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QStringDecoder>
#include <QThread>
#include <QtEndian>

#include <cstring>

#include <sys/socket.h>
#include <unistd.h>

namespace qmt {
namespace {

constexpr char kMagic[4] = {'Q', 'M', 'T', '1'};
// How long to wait before asking again for a socket that is not there yet.
constexpr int kRetryMs = 40;

void appendField(QByteArray &out, const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    char length[4];
    qToBigEndian(quint32(utf8.size()), length);
    out.append(length, 4);
    out.append(utf8);
}

enum class FieldState { Incomplete, Done, Invalid };

// Reads one length-prefixed UTF-8 field at *offset and moves the offset past it.
FieldState readField(const QByteArray &bytes, qsizetype *offset, QString *text)
{
    if (bytes.size() - *offset < 4)
        return FieldState::Incomplete;
    const quint32 length = qFromBigEndian<quint32>(bytes.constData() + *offset);
    if (length > quint32(kMaxHandOverField))
        return FieldState::Invalid;
    if (bytes.size() - *offset - 4 < qsizetype(length))
        return FieldState::Incomplete;
    const QByteArrayView utf8(bytes.constData() + *offset + 4, qsizetype(length));
    if (std::memchr(utf8.data(), 0, size_t(utf8.size())))
        return FieldState::Invalid;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    *text = decoder(utf8);
    if (decoder.hasError())
        return FieldState::Invalid;
    *offset += 4 + qsizetype(length);
    return FieldState::Done;
}

// Reads until the accepting byte arrives, the peer closes or the time is up.
bool waitForAcceptance(QLocalSocket &socket, const QDeadlineTimer &deadline)
{
    while (!deadline.hasExpired()) {
        if (socket.bytesAvailable() > 0) {
            char answer = 0;
            return socket.getChar(&answer) && answer == kHandOverAccepted;
        }
        if (socket.state() != QLocalSocket::ConnectedState)
            return false;
        socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())));
    }
    return false;
}

} // namespace

QByteArray encodeHandOver(const HandedOverStart &start)
{
    QByteArray out(kMagic, 4);
    appendField(out, start.workingFolder);
    appendField(out, start.commandLine);
    return out;
}

HandOverParse parseHandOver(const QByteArray &bytes, HandedOverStart *start)
{
    const qsizetype magicBytes = qMin<qsizetype>(bytes.size(), 4);
    if (std::memcmp(bytes.constData(), kMagic, size_t(magicBytes)) != 0)
        return HandOverParse::Invalid;
    qsizetype offset = 4;
    HandedOverStart read;
    for (QString *field : {&read.workingFolder, &read.commandLine}) {
        switch (readField(bytes, &offset, field)) {
        case FieldState::Incomplete:
            return HandOverParse::Incomplete;
        case FieldState::Invalid:
            return HandOverParse::Invalid;
        case FieldState::Done:
            // A relative working folder could only be taken against the running program's own.
            if (field == &read.workingFolder && !read.workingFolder.startsWith(QLatin1Char('/')))
                return HandOverParse::Invalid;
            break;
        }
    }
    if (offset != bytes.size())
        return HandOverParse::Invalid;
    if (start)
        *start = std::move(read);
    return HandOverParse::Complete;
}

QString commandLineForRunningProgram(const HandedOverStart &start)
{
    const QString &line = start.commandLine;
    if (line.isEmpty() || line.startsWith(QLatin1Char('/')))
        return line;
    QString folder = start.workingFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + line;
}

bool peerIsThisUser(qintptr socketDescriptor)
{
    ucred peer{};
    socklen_t length = sizeof peer;
    if (::getsockopt(int(socketDescriptor), SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0 ||
        length != sizeof peer)
        return false;
    return peer.uid == ::getuid();
}

bool handOverStart(const QString &socketPath, const HandedOverStart &start, int timeoutMs)
{
    if (socketPath.isEmpty())
        return false;
    const QByteArray message = encodeHandOver(start);
    if (parseHandOver(message, nullptr) != HandOverParse::Complete)
        return false; // too long to be taken: the running program would refuse it anyway
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    for (;;) {
        socket.connectToServer(socketPath);
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        socket.abort();
        if (deadline.remainingTime() <= kRetryMs)
            return false;
        QThread::msleep(kRetryMs);
    }
    if (!peerIsThisUser(socket.socketDescriptor()))
        return false;
    socket.write(message);
    while (socket.bytesToWrite() > 0 && !deadline.hasExpired()) {
        if (!socket.waitForBytesWritten(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
    }
    if (socket.bytesToWrite() > 0)
        return false;
    return waitForAcceptance(socket, deadline);
}

} // namespace qmt
