#include "app/desktop_opener.h"

#include <QDebug>
#include <QPointer>
#include <QProcess>

namespace orvanta {

void openWithXdgOpen(QObject* owner, const QString& path, std::function<void()> noHandler) {
    auto* process = new QProcess(owner);
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({path});
    // What xdg-open says goes to the debug log, not to the terminal the window came from.
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
                             qDebug().noquote()
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
