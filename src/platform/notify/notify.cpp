#include "platform/notify/notify.h"

#include <QApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QPointer>
#include <QVariantMap>
#include <QWidget>
#include <map>

#include "core/diag.h"

namespace {

constexpr const char* kService = "org.freedesktop.Notifications";
constexpr const char* kPath = "/org/freedesktop/Notifications";
constexpr const char* kInterface = "org.freedesktop.Notifications";
constexpr int kCallTimeoutMs = 5000;  // a desktop that has not answered by then has no service
// Notifications whose activation is still awaited; the oldest are forgotten beyond this.
constexpr size_t kMaxWaiting = 32;

// Speaks to the desktop's notification service; one per program, made on first use.
class DesktopService : public QObject, public NotificationProvider {
    Q_OBJECT
  public:
    void Show(const std::string& summary, const std::string& body, std::function<void()> activated) override {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;  // no session bus: there is nobody to tell
        if (!listening_) {
            listening_ = bus.connect(kService, kPath, kInterface, "ActionInvoked", this,
                                     SLOT(ActionInvoked(uint, QString))) &&
                         bus.connect(kService, kPath, kInterface, "NotificationClosed", this,
                                     SLOT(NotificationClosed(uint, uint)));
        }
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Notify");
        const QString app = QGuiApplication::desktopFileName();
        QVariantMap hints;
        if (!app.isEmpty()) hints.insert("desktop-entry", app);
        hints.insert("urgency", QVariant::fromValue<uchar>(1));
        call << QStringLiteral("Quillory") << 0u << app << QString::fromStdString(summary)
             << QString::fromStdString(body) << QStringList{"default", "Show"} << hints << -1;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this, activated = std::move(activated)](QDBusPendingCallWatcher* w) {
                    w->deleteLater();
                    const QDBusPendingReply<uint32_t> reply = *w;
                    if (reply.isError()) {  // no notification service: not an error of ours
                        DebugLog("notification: %s", reply.error().message().toUtf8().constData());
                        return;
                    }
                    if (waiting_.size() >= kMaxWaiting) waiting_.erase(waiting_.begin());
                    waiting_[reply.value()] = activated;
                });
    }

  private slots:
    void ActionInvoked(uint id, const QString& action) {
        auto it = waiting_.find(id);
        if (it == waiting_.end() || action != "default") return;
        std::function<void()> activated = it->second;
        waiting_.erase(it);
        if (activated) activated();
    }
    void NotificationClosed(uint id, uint) { waiting_.erase(id); }

  private:
    bool listening_ = false;
    std::map<uint32_t, std::function<void()>> waiting_;
};

std::shared_ptr<NotificationProvider>& Installed() {
    static std::shared_ptr<NotificationProvider> provider;
    return provider;
}

int64_t gLongWorkMs = kLongWorkMs;

// Brings the window (or the modal dialog over it) to the front.
void Raise(QWidget* window) {
    QWidget* target = QApplication::activeModalWidget();
    if (!target) target = window;
    if (!target) return;
    QWidget* top = target->window();
    if (top->isMinimized()) top->showNormal();
    top->raise();
    top->activateWindow();
}

}  // namespace

std::shared_ptr<NotificationProvider> DesktopNotifications() {
    static std::shared_ptr<DesktopService> service;
    if (!service && QCoreApplication::instance()) {
        service = std::make_shared<DesktopService>();
        // The service's object goes with the application, before Qt's D-Bus threads do.
        QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [] { service.reset(); });
    }
    return service;
}

std::shared_ptr<NotificationProvider> SetNotificationProvider(
    std::shared_ptr<NotificationProvider> provider) {
    std::shared_ptr<NotificationProvider> previous = Installed();
    Installed() = std::move(provider);
    return previous;
}

void SetLongWorkMs(int64_t ms) {
    gLongWorkMs = ms;
}

bool NotifyWhenUnattended(QWidget* window, int64_t elapsedMs, const std::string& summary,
                          const std::string& body) {
    if (elapsedMs <= gLongWorkMs || !qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    if (QApplication::activeWindow()) return false;  // the user is looking
    std::shared_ptr<NotificationProvider> provider = Installed() ? Installed() : DesktopNotifications();
    if (!provider) return false;
    QPointer<QWidget> target(window);
    provider->Show(summary, body, [target] { Raise(target.data()); });
    return true;
}

#include "notify.moc"
