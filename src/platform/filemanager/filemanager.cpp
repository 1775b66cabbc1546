#include "platform/filemanager/filemanager.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QFileInfo>
#include <QUrl>

#include "core/diag.h"

namespace {

constexpr const char* kService = "org.freedesktop.FileManager1";
constexpr const char* kPath = "/org/freedesktop/FileManager1";
constexpr const char* kInterface = "org.freedesktop.FileManager1";
constexpr int kCallTimeoutMs = 5000;  // file managers start on demand: give them time

void OpenFolder(const QString& file) {
    const QString folder = QFileInfo(file).absolutePath();
    if (!QDesktopServices::openUrl(QUrl::fromLocalFile(folder)))
        DebugLog("show in folder: nothing opens %s", folder.toUtf8().constData());
}

}  // namespace

void ShowInFolder(const std::string& path) {
    const QString file = QFileInfo(QString::fromStdString(path)).absoluteFilePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || !QCoreApplication::instance()) return OpenFolder(file);
    QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "ShowItems");
    call << QStringList{QString::fromUtf8(QUrl::fromLocalFile(file).toEncoded())} << QString();
    auto* watcher =
        new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), QCoreApplication::instance());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, [file](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        const QDBusPendingReply<> reply = *w;
        if (!reply.isError()) return;
        DebugLog("show in folder: %s", reply.error().message().toUtf8().constData());
        OpenFolder(file);
    });
}
