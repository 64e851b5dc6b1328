#pragma once
// The running window of a user on a display listens on a local socket beside the
// single-instance lock; a second start on that display asks it to come to the front instead
// of only saying that the program is already running.

#include <QObject>
#include <QString>
#include <string>

class QLocalServer;

namespace orvanta {

// The socket of this display in the lock directory: the lock's name, then the display
// ($WAYLAND_DISPLAY, else $DISPLAY, else the platform's name).
QString raiseChannelPath(const std::string& lockDirectory);

// The first instance's end. Only the holder of the single-instance lock listens, so a
// socket left by one that crashed is taken over.
class RaiseListener : public QObject {
    Q_OBJECT

  public:
    explicit RaiseListener(QString path, QObject* parent = nullptr);
    ~RaiseListener() override;
    // False when the socket cannot be made (a second start then shows the message).
    bool listen();

  signals:
    // A second start asked for the window.
    void raiseRequested();

  private:
    QString m_path;
    QLocalServer* m_server;
};

// The second start's end: true once the running window has said it came to the front;
// false when none listens or it does not answer within timeoutMs. The wait runs the event
// loop.
bool askRunningWindowToRaise(const QString& path, int timeoutMs = 3000);

}  // namespace orvanta
