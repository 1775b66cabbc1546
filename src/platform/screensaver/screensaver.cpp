#include "platform/screensaver/screensaver.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <set>

#include "core/diag.h"

namespace {

constexpr const char* kService = "org.freedesktop.ScreenSaver";
constexpr const char* kPath = "/org/freedesktop/ScreenSaver";
constexpr const char* kInterface = "org.freedesktop.ScreenSaver";
constexpr int kCallTimeoutMs = 5000;  // a desktop that has not answered by then is taken to have no service

// One inhibition for the whole program, held while any window wants it. Changes are gathered
// until the event loop runs again, so focus passing from one asking window to another costs no
// calls; the calls never block.
class Inhibitor : public QObject {
  public:
    using QObject::QObject;

    void Want(const QObject* holder, bool wanted) {
        if (wanted)
            holders_.insert(holder);
        else
            holders_.erase(holder);
        if (scheduled_) return;
        scheduled_ = true;
        QTimer::singleShot(0, this, [this] {
            scheduled_ = false;
            Update();
        });
    }
    // A window going away lets go at once.
    void Forget(const QObject* holder) {
        holders_.erase(holder);
        Update();
    }
    bool Held() const { return state_ == State::Held; }

  private:
    enum class State { Free, Asking, Held };

    void Update() {
        const bool wanted = !holders_.empty();
        if (wanted && state_ == State::Free)
            Ask();
        else if (!wanted && state_ == State::Held)
            Release();
        // While asking, the answer decides.
    }

    void Ask() {
        QDBusConnection bus = QDBusConnection::sessionBus();
        if (!bus.isConnected()) return;  // no session bus: there is nobody to ask
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "Inhibit");
        call << QStringLiteral("Quillory") << QStringLiteral("Working on a video message");
        state_ = State::Asking;
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, kCallTimeoutMs), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
            w->deleteLater();
            const QDBusPendingReply<uint32_t> reply = *w;
            state_ = State::Free;
            if (reply.isError()) {  // no screen-saver service: asked again at the next activation
                DebugLog("screen saver: %s", reply.error().message().toUtf8().constData());
                return;
            }
            cookie_ = reply.value();
            state_ = State::Held;
            Update();  // every window may have let go meanwhile
        });
    }

    void Release() {
        QDBusMessage call = QDBusMessage::createMethodCall(kService, kPath, kInterface, "UnInhibit");
        call << cookie_;
        QDBusConnection::sessionBus().send(call);
        state_ = State::Free;
    }

    std::set<const QObject*> holders_;
    State state_ = State::Free;
    uint32_t cookie_ = 0;
    bool scheduled_ = false;
};

Inhibitor* TheInhibitor() {
    static QPointer<Inhibitor> inhibitor;
    if (!inhibitor) inhibitor = new Inhibitor(QCoreApplication::instance());
    return inhibitor;
}

// Follows one window's activation.
class WindowWatch : public QObject {
  public:
    WindowWatch(QObject* window, bool (*wanted)()) : QObject(window), wanted_(wanted) {}

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        switch (event->type()) {
            case QEvent::WindowActivate:
                TheInhibitor()->Want(watched, wanted_());
                break;
            case QEvent::WindowDeactivate:
            case QEvent::Hide:
                TheInhibitor()->Want(watched, false);
                break;
            default:
                break;
        }
        return false;
    }

  private:
    bool (*wanted_)();
};

}  // namespace

void HoldOffScreenSaverWhileActive(QWidget* window, bool (*wanted)()) {
    if (!window || !wanted || !QCoreApplication::instance()) return;
    window->installEventFilter(new WindowWatch(window, wanted));
    Inhibitor* inhibitor = TheInhibitor();
    QObject::connect(window, &QObject::destroyed, inhibitor,
                     [inhibitor](QObject* w) { inhibitor->Forget(w); });
    if (window->isActiveWindow()) inhibitor->Want(window, wanted());
}

bool ScreenSaverHeldOff() {
    return QCoreApplication::instance() && TheInhibitor()->Held();
}
