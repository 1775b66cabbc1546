// Notifications when long work ends unattended, against a stand-in notification service on a
// private session bus.
#include "platform/notify/notify.h"

#include <gtest/gtest.h>

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTest>
#include <QWidget>
#include <string>
#include <vector>

#include "support/notifications.h"
#include "support/qtapp.h"
#include "support/scripted.h"
#include "support/sessionbus.h"

namespace {

// Answers Notify with the ids 40, 41, ... and notes what each call asked for.
class FakeNotifications : public QDBusVirtualObject {
  public:
    struct Call {
        std::string app, icon, summary, body;
        QStringList actions;
        QVariantMap hints;
    };
    std::vector<Call> calls;
    uint32_t next = 40;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        const QList<QVariant> a = m.arguments();
        if (m.member() != "Notify" || a.size() != 8) return false;
        calls.push_back({a[0].toString().toStdString(), a[2].toString().toStdString(),
                         a[3].toString().toStdString(), a[4].toString().toStdString(), a[5].toStringList(),
                         qdbus_cast<QVariantMap>(a[6])});
        bus.send(m.createReply(QVariant::fromValue(next++)));
        return true;
    }
};

void Signal(QDBusConnection& bus, const char* name, uint32_t id, const QVariant& second) {
    QDBusMessage s =
        QDBusMessage::createSignal("/org/freedesktop/Notifications", "org.freedesktop.Notifications", name);
    s << id << second;
    bus.send(s);
}

}  // namespace

TEST(Notifications, OnlyLongWorkEndingUnattendedIsTold) {
    TestApp();
    ScopedNotifications recorder;
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
    // The user is looking at the program: nothing, however long it took.
    EXPECT_FALSE(NotifyWhenUnattended(&window, kLongWorkMs + 5000, "Render finished: a.mp4, 1.0 MB"));
    QApplication::setActiveWindow(nullptr);
    // Short work is not worth it; long work is.
    EXPECT_FALSE(NotifyWhenUnattended(&window, kLongWorkMs, "Render finished: a.mp4, 1.0 MB"));
    EXPECT_TRUE(NotifyWhenUnattended(&window, kLongWorkMs + 1, "Render failed: a.mp4", "No space left"));
    EXPECT_EQ(std::pair(recorder->summaries, recorder->bodies),
              std::pair(std::vector<std::string>{"Render failed: a.mp4"},
                        std::vector<std::string>{"No space left"}));
}

TEST(Notifications, SentToTheDesktopServiceAndActivationRaisesTheWindow) {
    TestApp();
    QGuiApplication::setDesktopFileName("org.brellmont.Quillory");
    PrivateSessionBus bus;
    ASSERT_FALSE(bus.address.isEmpty());
    QWidget window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));

    // No notification service on the bus: nothing happens, and nothing is said.
    ScopedBoxes boxes;
    QApplication::setActiveWindow(nullptr);
    EXPECT_TRUE(NotifyWhenUnattended(&window, kLongWorkMs + 1, "Import finished: clip.avi"));
    QTest::qWait(200);
    EXPECT_TRUE(boxes->shown.empty());

    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "notification-service");
    FakeNotifications fake;
    ASSERT_TRUE(service.registerService("org.freedesktop.Notifications"));
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/Notifications", &fake));
    auto calls = [&](size_t n) { return QTest::qWaitFor([&] { return fake.calls.size() >= n; }, 10000); };

    ASSERT_TRUE(NotifyWhenUnattended(&window, kLongWorkMs + 1, "Render finished: message.mp4, 12.4 MB"));
    ASSERT_TRUE(calls(1));
    const FakeNotifications::Call& c = fake.calls[0];
    EXPECT_EQ(c.app, "Quillory");
    EXPECT_EQ(c.icon, "org.brellmont.Quillory");
    EXPECT_EQ(c.summary, "Render finished: message.mp4, 12.4 MB");
    EXPECT_EQ(c.actions, (QStringList{"default", "Show"}));
    EXPECT_EQ(c.hints.value("desktop-entry").toString(), "org.brellmont.Quillory");

    // Another program's notification, or one the user closed, raises nothing; ours does.
    QTest::qWait(100);  // the service's answer comes in
    Signal(service, "ActionInvoked", 7, QString("default"));
    QTest::qWait(100);
    EXPECT_EQ(QApplication::activeWindow(), nullptr);
    ASSERT_TRUE(NotifyWhenUnattended(&window, kLongWorkMs + 1, "Capture stopped: capture.avi"));
    ASSERT_TRUE(calls(2));
    QTest::qWait(100);
    Signal(service, "NotificationClosed", 41, 2u);
    Signal(service, "ActionInvoked", 41, QString("default"));
    QTest::qWait(100);
    EXPECT_EQ(QApplication::activeWindow(), nullptr);
    Signal(service, "ActionInvoked", 40, QString("default"));
    EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
}
