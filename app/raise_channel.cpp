#include "app/raise_channel.h"

#include <QEventLoop>
#include <QGuiApplication>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include "app/single_instance.h"

namespace orvanta {

namespace {

const QByteArray RAISE_REQUEST = QByteArrayLiteral("raise\n");
const QByteArray RAISED_REPLY = QByteArrayLiteral("raised\n");

QString displayName() {
    for (const char* name : {"WAYLAND_DISPLAY", "DISPLAY"}) {
        const QString value = qEnvironmentVariable(name);
        if (!value.isEmpty()) {
            return value;
        }
    }
    return QGuiApplication::platformName();
}

}  // namespace

QString raiseChannelPath(const std::string& lockDirectory) {
    QString display = displayName();
    for (QChar& c : display) {
        if (!c.isLetterOrNumber() && c != QLatin1Char('-') && c != QLatin1Char('.')) {
            c = QLatin1Char('_');
        }
    }
    return QString::fromStdString(lockDirectory + "/" + instanceLockName(lockDirectory)) +
           QStringLiteral(".window-") + display;
}

RaiseListener::RaiseListener(QString path, QObject* parent)
    : QObject(parent), m_path(std::move(path)), m_server(new QLocalServer(this)) {
    // In a directory other users can write to, only this user may connect.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_server, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket* socket = m_server->nextPendingConnection()) {
            connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
            connect(socket, &QLocalSocket::readyRead, socket, [this, socket] {
                if (!socket->canReadLine()) {
                    if (socket->bytesAvailable() > RAISE_REQUEST.size()) {
                        socket->abort();  // not a request of ours
                    }
                    return;
                }
                if (socket->readLine(RAISE_REQUEST.size() + 1) == RAISE_REQUEST) {
                    emit raiseRequested();
                    socket->write(RAISED_REPLY);
                    socket->flush();
                }
                socket->disconnectFromServer();
            });
        }
    });
}

RaiseListener::~RaiseListener() {
    m_server->close();
}

bool RaiseListener::listen() {
    // The lock is ours: a socket under the name is what an ended window left behind.
    QLocalServer::removeServer(m_path);
    return m_server->listen(m_path);
}

bool askRunningWindowToRaise(const QString& path, int timeoutMs) {
    QLocalSocket socket;
    QEventLoop loop;
    QByteArray reply;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QLocalSocket::connected, &loop,
                     [&socket] { socket.write(RAISE_REQUEST); });
    QObject::connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        reply += socket.read(RAISED_REPLY.size() - reply.size());
        if (reply.size() >= RAISED_REPLY.size()) {
            loop.quit();
        }
    });
    QObject::connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    QObject::connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    socket.connectToServer(path);
    if (socket.state() != QLocalSocket::UnconnectedState) {
        limit.start(timeoutMs);
        loop.exec();
    }
    return reply == RAISED_REPLY;
}

}  // namespace orvanta
