// "Show in Folder" against a stand-in file manager on a private session bus, and the folder opened
// instead when no file manager answers.
#include "platform/filemanager/filemanager.h"

#include <gtest/gtest.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QDesktopServices>
#include <QTest>
#include <QUrl>

#include "support/qtapp.h"
#include "support/sessionbus.h"

namespace {

class FakeFileManager : public QDBusVirtualObject {
  public:
    QList<QStringList> shown;
    QString introspect(const QString&) const override { return {}; }
    bool handleMessage(const QDBusMessage& m, const QDBusConnection& bus) override {
        if (m.member() != "ShowItems") return false;
        shown.append(m.arguments().value(0).toStringList());
        bus.send(m.createReply());
        return true;
    }
};

// Takes the urls QDesktopServices would hand to the desktop.
class Opened : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> urls;
  public slots:
    void open(const QUrl& url) { urls.append(url); }
};

}  // namespace

TEST(ShowInFolder, TheFileManagerShowsTheFileOrTheFolderOpens) {
    TestApp();
    Opened opened;
    QDesktopServices::setUrlHandler("file", &opened, "open");
    PrivateSessionBus bus;
    ASSERT_FALSE(bus.address.isEmpty());

    // No file manager on the bus: the folder opens.
    ShowInFolder("/tmp/renders/my message.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !opened.urls.isEmpty(); }, 10000));
    EXPECT_EQ(opened.urls, QList<QUrl>{QUrl::fromLocalFile("/tmp/renders")});

    QDBusConnection service = QDBusConnection::connectToBus(bus.address, "file-manager");
    FakeFileManager fake;
    ASSERT_TRUE(service.registerService("org.freedesktop.FileManager1"));
    ASSERT_TRUE(service.registerVirtualObject("/org/freedesktop/FileManager1", &fake));
    ShowInFolder("/tmp/renders/my message.mp4");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fake.shown.isEmpty(); }, 10000));
    EXPECT_EQ(fake.shown.value(0), QStringList{"file:///tmp/renders/my%20message.mp4"});
    QTest::qWait(100);
    EXPECT_EQ(opened.urls.size(), 1);
    QDesktopServices::unsetUrlHandler("file");
}

#include "filemanager_test.moc"
