// The screen saver held off through org.freedesktop.ScreenSaver, against a stand-in service on a
// private session bus.
#include "platform/screensaver/screensaver.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QProcess>
#include <QTest>
#include <QWidget>
#include <string>
#include <vector>

#include "core/diag.h"
#include "core/settings.h"
#include "support/qtapp.h"

namespace {

// Answers Inhibit with cookies 7, 8, ... and notes every call.
class FakeScreenSaver : public QDBusVirtualObject {
  public:
    std::vector<std::string> calls;
    uint32_t next = 7;

    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.member() == "Inhibit") {
            calls.push_back("Inhibit " + m.arguments().value(0).toString().toStdString());
            bus.send(m.createReply(QVariant::fromValue(next++)));
        } else if (m.member() == "UnInhibit") {
            calls.push_back("UnInhibit " + std::to_string(m.arguments().value(0).toUInt()));
            bus.send(m.createReply());
        } else {
            return false;
        }
        return true;
    }
};

void Activate(QWidget& w, bool active) {
    QEvent e(active ? QEvent::WindowActivate : QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&w, &e);
}

}  // namespace

TEST(ScreenSaver, HeldOffWhileAnAskingWindowIsActive) {
    TestApp();
    QProcess daemon;
    daemon.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
    ASSERT_TRUE(daemon.waitForReadyRead(10000));
    const QString address = QString::fromUtf8(daemon.readLine()).trimmed();
    qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    std::vector<std::string> log;
    SetDebugLogSink([&log](const std::string& line) { log.push_back(line); });

    QWidget a, b;
    HoldOffScreenSaverWhileActive(&a);
    HoldOffScreenSaverWhileActive(&b);
    gSettings.SSdisable = 1;

    // No screen-saver service yet: the request fails quietly and nothing is held.
    Activate(a, true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !log.empty(); }, 10000));
    EXPECT_EQ(log[0].rfind("screen saver: ", 0), 0u) << log[0];
    EXPECT_FALSE(ScreenSaverHeldOff());
    Activate(a, false);

    QDBusConnection service = QDBusConnection::connectToBus(address, "screensaver-service");
    FakeScreenSaver fake;
    ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/ScreenSaver", &fake));

    // With SSdisable 0 an active window asks nothing (calls arrive in order: the first one seen
    // is the next window's).
    gSettings.SSdisable = 0;
    Activate(a, true);
    QTest::qWait(50);
    EXPECT_FALSE(ScreenSaverHeldOff());
    Activate(a, false);
    QTest::qWait(50);
    gSettings.SSdisable = 1;
    Activate(b, true);
    ASSERT_TRUE(QTest::qWaitFor([] { return ScreenSaverHeldOff(); }, 10000));
    EXPECT_EQ(fake.calls, std::vector<std::string>{"Inhibit Quillory"});

    // Focus passing between two asking windows keeps the one inhibition; the last to let go
    // releases it with its cookie.
    Activate(b, false);
    Activate(a, true);
    QTest::qWait(50);
    Activate(a, false);
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() == 2; }, 10000));
    EXPECT_EQ(fake.calls[1], "UnInhibit 7");
    EXPECT_FALSE(ScreenSaverHeldOff());

    // A window destroyed while active lets go too.
    {
        QWidget c;
        HoldOffScreenSaverWhileActive(&c);
        Activate(c, true);
        ASSERT_TRUE(QTest::qWaitFor([] { return ScreenSaverHeldOff(); }, 10000));
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return fake.calls.size() == 4; }, 10000));
    EXPECT_EQ(fake.calls[3], "UnInhibit 8");

    SetDebugLogSink(nullptr);
    service.unregisterService("org.freedesktop.ScreenSaver");
    daemon.kill();
    daemon.waitForFinished();
}
