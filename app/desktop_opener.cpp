#include "app/desktop_opener.h"

#include <QLoggingCategory>
#include <QPointer>
#include <QProcess>

namespace orvanta {

namespace {
// What xdg-open said when it found no program; shown with
// QT_LOGGING_RULES="orvanta.desktop.debug=true".
Q_LOGGING_CATEGORY(desktopLog, "orvanta.desktop", QtInfoMsg)
}  // namespace

void openWithXdgOpen(QObject* owner, const QString& path, std::function<void()> noHandler) {
    auto* process = new QProcess(owner);
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({path});
    // What xdg-open says goes to a debug log that is off by default, not to the terminal
    // the window came from: the window's own view is the answer to a failure.
    process->setStandardOutputFile(QProcess::nullDevice());
    const QPointer<QObject> guard(owner);
    const bool owned = owner != nullptr;
    auto fail = [guard, owned, noHandler = std::move(noHandler)] {
        if (noHandler && (!owned || !guard.isNull())) {
            noHandler();
        }
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, fail](int exitCode, QProcess::ExitStatus status) {
                         if (status != QProcess::NormalExit || exitCode != 0) {
                             qCDebug(desktopLog).noquote()
                                 << "xdg-open:"
                                 << QString::fromLocal8Bit(process->readAllStandardError());
                             fail();
                         }
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, fail](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) {
                             fail();
                             process->deleteLater();
                         }
                     });
    process->start();
}

}  // namespace orvanta
