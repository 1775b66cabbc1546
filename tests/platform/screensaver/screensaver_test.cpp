// The screen saver held off through org.freedesktop.ScreenSaver, against a stand-in service on a
// private session bus.
#include "platform/screensaver/screensaver.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QTest>
#include <QWidget>
#include <string>
#include <vector>

#include "support/qtapp.h"
#include "support/sessionbus.h"

namespace {

// Answers Inhibit with the cookies 7, 8, ... and notes every call.
class FakeScreenSaver : public QDBusVirtualObject {
  public:
    std::vector<std::string> calls;
    uint32_t next = 7;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        const bool inhibit = m.member() == "Inhibit";
        calls.push_back(m.member().toStdString() + " " + m.arguments().value(0).toString().toStdString());
        bus.send(inhibit ? m.createReply(QVariant::fromValue(next++)) : m.createReply());
        return true;
    }
};

void Activate(QWidget& w, bool active, int settleMs = 50) {
    QEvent e(active ? QEvent::WindowActivate : QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&w, &e);
    if (settleMs) QTest::qWait(settleMs);
}

}  // namespace

TEST(ScreenSaver, HeldOffWhileAnAskingWindowIsActive) {
    TestApp();
    PrivateSessionBus bus;
    ASSERT_FALSE(bus.address.isEmpty());
    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "screensaver-service");
    FakeScreenSaver fake;
    ASSERT_TRUE(service.registerService("org.freedesktop.ScreenSaver"));
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/ScreenSaver", &fake));
    auto calls = [&](size_t n) { return QTest::qWaitFor([&] { return fake.calls.size() >= n; }, 10000); };

    // While the user's setting says no, an active window asks nothing.
    static bool wanted = false;
    const auto setting = [] { return wanted; };
    QWidget a, b;
    HoldOffScreenSaverWhileActive(&a, setting);
    HoldOffScreenSaverWhileActive(&b, setting);
    Activate(a, true);
    Activate(a, false);
    EXPECT_TRUE(fake.calls.empty());

    // Focus passing between two asking windows keeps the one inhibition; the last to let go
    // releases it with its cookie.
    wanted = true;
    Activate(b, true);
    ASSERT_TRUE(calls(1));
    EXPECT_TRUE(ScreenSaverHeldOff());
    Activate(b, false, 0);
    Activate(a, true);
    Activate(a, false);
    ASSERT_TRUE(calls(2));
    EXPECT_EQ(fake.calls, (std::vector<std::string>{"Inhibit Quillory", "UnInhibit 7"}));
    EXPECT_FALSE(ScreenSaverHeldOff());

    // A window destroyed while active lets go too.
    {
        QWidget c;
        HoldOffScreenSaverWhileActive(&c, setting);
        Activate(c, true);
        ASSERT_TRUE(calls(3));
    }
    ASSERT_TRUE(calls(4));
    EXPECT_EQ(fake.calls[3], "UnInhibit 8");
}
