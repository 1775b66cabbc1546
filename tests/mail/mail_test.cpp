// Sending a Clipgram: the Send command's steps and messages against stand-in providers (the
// record-first render included), and the program's own provider with its dialogs delivering to a
// real SMTP server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>
#include <deque>
#include <filesystem>
#include <sstream>

#include "core/dialogs.h"
#include "core/memory.h"
#include "mail/mail.h"
#include "mail/smtp_server.h"
#include "media/fileinfo.h"
#include "platform/mapi/loader.h"
#include "platform/mapi/mapi.h"
#include "project/project.h"
#include "render/compressor.h"
#include "settings/settings.h"
#include "support/gui_test.h"
#include "support/scripted.h"

namespace {

std::string Summary(const std::string& file) {
    char* text = DescribeAVI(file.c_str());
    std::string s = text ? text : "";
    if (text) MyMallocFree(text);
    return s;
}

class SendCommand : public GuiTest {
  protected:
    void SetUp() override {
        GuiTest::SetUp();
        previousConfig = std::getenv("XDG_CONFIG_HOME");
        setenv("XDG_CONFIG_HOME", dir.file("config").c_str(), 1);
        unsetenv("QUILLORY_REGISTRY");
        setenv("FAKE_MAPI_LOG", log.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("QUILLORY_MAPI");
        setenv("XDG_CONFIG_HOME", previousConfig.c_str(), 1);
        ResetCompressorState();  // the last compressor chosen is kept for the next render
        GuiTest::TearDown();
    }
    // The Send command with this provider, the file dialog answering file.
    void Send(const std::string& provider, const std::string& file) {
        setenv("QUILLORY_MAPI", provider.c_str(), 1);
        dialogs->answers.push_back(file);
        std::remove(log.c_str());
        SendAVIByMail(nullptr);
    }
    std::vector<std::string> Calls() {
        std::vector<std::string> lines;
        std::istringstream in(ReadWholeFile(log));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    std::string log = dir.file("provider.log");
    std::string previousConfig;
};

// Plays the user at the provider's windows: each handler takes the next modal window that opens;
// a window left without one (an unexpected error box) is recorded and closed.
class WindowUser {
  public:
    WindowUser() {
        QObject::connect(&timer_, &QTimer::timeout, [this] { Poll(); });
        timer_.start(10);
    }
    void Then(std::function<void(QWidget*)> handler) { handlers_.push_back(std::move(handler)); }
    std::vector<std::string> unexpected;

  private:
    void Poll() {
        QWidget* w = QApplication::activeModalWidget();
        if (!w || !w->isVisible() || w->property("handled").toBool()) return;
        w->setProperty("handled", true);
        if (handlers_.empty()) {
            auto* box = qobject_cast<QMessageBox*>(w);
            unexpected.push_back(box ? box->text().toStdString() : w->windowTitle().toStdString());
            w->close();
        } else {
            handlers_.front()(w);
            handlers_.pop_front();
        }
    }
    QTimer timer_;
    std::deque<std::function<void(QWidget*)>> handlers_;
};

template <class T>
T* Field(QWidget* window, const char* name) {
    return window->findChild<T*>(name);
}

void Press(QWidget* window, QDialogButtonBox::StandardButton which) {
    window->findChild<QDialogButtonBox*>()->button(which)->click();
}

}  // namespace

TEST_F(SendCommand, StepsAndMessagesWithStandInProviders) {
    const std::string clip = MediaPath("proj_a.avi");
    const std::string summary = Summary(clip);
    ASSERT_FALSE(summary.empty());
    const std::string sizeQuestion = "The file " + clip + " is " +
                                     std::to_string(std::filesystem::file_size(clip)) +
                                     " bytes in length\nDo you wish to continue?";

    // Without a project the file is chosen in the dialog; Cancel there ends the command.
    std::strcpy(gSettings.LastSaveAVIfileName, "/clips/last.avi");
    SendAVIByMail(nullptr);
    ASSERT_EQ(dialogs->requests.size(), 1u);
    EXPECT_EQ(dialogs->requests[0].title + "|" + dialogs->requests[0].initialName,
              "Select AVI File To Mail|/clips/last.avi");
    EXPECT_TRUE(boxes->shown.empty());

    // A file that is not an AVI file is named, and nothing is loaded.
    Send(FAKE_CANCEL_PROVIDER, MediaPath("media_pal8.bmp"));
    EXPECT_EQ(boxes->texts().back(), MediaPath("media_pal8.bmp") + " is not a valid AVI file");
    EXPECT_TRUE(Calls().empty());

    // Cancel at the size question loads nothing.
    boxes->answers = {IDCANCEL};
    Send(FAKE_CANCEL_PROVIDER, clip);
    EXPECT_EQ(boxes->texts().back(), sizeQuestion);
    EXPECT_TRUE(Calls().empty());

    // A provider that cannot be loaded; one without MAPILogon, which is unloaded again.
    Send(dir.file("missing.so"), clip);
    EXPECT_EQ(boxes->texts().back(), "LoadLibrary failed");
    Send(FAKE_NO_LOGON_PROVIDER, clip);
    EXPECT_EQ(boxes->texts().back(), "GetProcAddress failed");
    EXPECT_EQ(Calls(), (std::vector<std::string>{"load", "unload"}));

    // The user cancels in the provider's send dialog: its code is shown, no logoff follows.
    Send(FAKE_CANCEL_PROVIDER, clip);
    EXPECT_EQ(boxes->texts().back(), "MAPISendMail failed 00000001");
    const std::vector<std::string> expected = {
        "load",
        "logon flags=1 profile=null password=null",
        "send session=42 flags=8 subject=You Have Clipgram recipients=0 files=1 name=Cgram.avi "
        "position=ffffffff path=" +
            clip,
        "note=" + summary.substr(0, summary.find('\n')),
    };
    std::vector<std::string> calls = Calls();
    ASSERT_GE(calls.size(), 4u);
    EXPECT_EQ(std::vector<std::string>(calls.begin(), calls.begin() + 4), expected);
    EXPECT_TRUE(calls.back() == "unload" && std::count(calls.begin(), calls.end(), "logoff") == 0);

    // With a project the render comes first, as MP4 or AVI, and its new file is the one sent under
    // the name of its kind. The name box offers the chosen kind; the choice is remembered.
    ASSERT_TRUE(AppendAVIToProject(nullptr, clip.c_str()));
    auto previous = SetCompressorDialogProvider(std::make_shared<ScriptedCompressorChoice>("MJPG", 50));
    for (const std::string kind : {"mp4", "avi"}) {
        const std::string out = dir.file("for mail." + kind);
        boxes->shown.clear();
        boxes->choices = {kind == "mp4" ? 0 : 1};
        boxes->answers = {IDYES, IDNO, IDOK};  // record first; do not view it; go on at its size
        Send(FAKE_CANCEL_PROVIDER, out);
        EXPECT_EQ(boxes->texts().front(), "Record Project To AVI File First?");
        EXPECT_EQ(boxes->choicesShown.back().label + " " + boxes->choicesShown.back().options[0],
                  "Send as: MP4, plays everywhere (recommended)");
        EXPECT_EQ(dialogs->requests.back().initialName, "/clips/last." + kind);
        EXPECT_EQ(std::string(gSettings.LastSaveAVIfileName), out);
        EXPECT_STRCASEEQ(gSettings.SendAs, kind.c_str());
        calls = Calls();
        ASSERT_GE(calls.size(), 3u);
        EXPECT_NE(calls[2].find("name=Cgram." + kind + " position=ffffffff path=" + out), std::string::npos)
            << calls[2];
        EXPECT_TRUE(std::filesystem::exists(out));  // the render stays whatever the mail did
        std::strcpy(gSettings.LastSaveAVIfileName, "/clips/last.avi");
    }
    SetCompressorDialogProvider(previous);
}

TEST_F(SendCommand, OwnProviderAsksForTheAccountAndDeliversOverSmtp) {
    const std::string clip = MediaPath("proj_a.avi");
    SmtpServer server(dir.path());
    ASSERT_NE(server.port(), 0);
    const std::string password = "pw-never-in-a-file-7d41";

    // First send: the account dialog (plain is offered for a server on this computer), then the
    // user cancels in the send dialog.
    WindowUser user;
    user.Then([&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Mail Account");
        Field<QLineEdit>(w, "server")->setText("127.0.0.1");
        Field<QComboBox>(w, "security")->setCurrentIndex(2);
        Field<QSpinBox>(w, "port")->setValue(server.port());
        Field<QLineEdit>(w, "user")->setText("jane");
        Field<QLineEdit>(w, "sender")->setText("jane@example.org");
        Field<QLineEdit>(w, "displayName")->setText("Jane Doe");
        Press(w, QDialogButtonBox::Ok);
    });
    user.Then([&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Send Mail");
        Press(w, QDialogButtonBox::Cancel);
    });
    Send(PROVIDER, clip);
    EXPECT_EQ(boxes->texts().back(), "MAPISendMail failed 00000001");

    // Second send: the account is remembered; the user addresses the mail, sends, and gives the
    // password when asked.
    user.Then([&](QWidget* w) {
        EXPECT_EQ(Field<QLineEdit>(w, "subject")->text(), "You Have Clipgram");
        EXPECT_EQ(Field<QPlainTextEdit>(w, "note")->toPlainText().toStdString(), Summary(clip));
        EXPECT_TRUE(Field<QLabel>(w, "attachment")->text().startsWith("Cgram.avi"));
        Field<QLineEdit>(w, "to")->setText("Bob <bob@example.org>");
        QTest::keyClick(Field<QLineEdit>(w, "to"), Qt::Key_Return);  // Enter sends
    });
    user.Then([&](QWidget* w) {
        EXPECT_EQ(w->windowTitle(), "Mail Password");
        Field<QLineEdit>(w, "password")->setText(QString::fromStdString(password));
        Field<QCheckBox>(w, "remember")->setChecked(false);
        Press(w, QDialogButtonBox::Ok);
    });
    const size_t shown = boxes->shown.size();
    Send(PROVIDER, clip);
    EXPECT_EQ(boxes->shown.size(), shown + 1) << boxes->texts().back();  // the size question only
    EXPECT_TRUE(user.unexpected.empty()) << user.unexpected.front();
    std::string expected =
        "Subject: You Have Clipgram\nFrom: Jane Doe <jane@example.org>\nTo: bob@example.org\n";
    std::istringstream note(Summary(clip));
    for (std::string line; std::getline(note, line);) expected += "Note: " + line + "\n";
    expected += "Attachment: Cgram.avi video/x-msvideo base64 same\n";
    EXPECT_EQ(MailSummary(server.Message(1), clip), expected);
    EXPECT_FALSE(std::filesystem::exists(server.Message(2)));

    // The account is kept; the password is in no file of the configuration.
    EXPECT_NE(ReadWholeFile(dir.file("config/Brellmont/Quillory/mail-account.ini")).find("jane@example.org"),
              std::string::npos);
    for (const auto& entry : std::filesystem::recursive_directory_iterator(dir.file("config"))) {
        if (!entry.is_regular_file()) continue;
        EXPECT_EQ(ReadWholeFile(entry.path().string()).find(password), std::string::npos) << entry.path();
    }
}

// A send without dialogs through the program's provider to the scripted server; the provider's
// failure box and the command's message as the user sees them.
struct Failure {
    std::string shown, code;
};
Failure SendTo(const ServerProcess& server, const std::string& file, ScopedBoxes& boxes) {
    setenv("QUILLORY_MAPI", PROVIDER, 1);
    DirectMail mail;
    mail.file = file;
    mail.to = {"jane@example.org", "joe@example.org"};
    mail.from = "me@example.org";
    mail.profile = SmtpProfileName("smtp://127.0.0.1:" + std::to_string(server.port()), "", "");
    WindowUser user;
    boxes->shown.clear();
    EXPECT_EQ(SendAVIWithoutDialogs(mail), 0);
    Failure f;
    if (!user.unexpected.empty()) f.shown = user.unexpected.back();
    if (!boxes->texts().empty()) f.code = boxes->texts().back();
    return f;
}

TEST_F(SendCommand, FailuresShowTheServersOwnReply) {
    const std::string clip = MediaPath("proj_a.avi");

    // A recipient refused in a reply of several lines, each repeating its status code.
    Failure f =
        SendTo(ScriptedSmtpServer("rcpt",
                                  "550-5.1.1 The account does not exist. Please try\\r\\n"
                                  "550-5.1.1 double-checking it.\\r\\n550 5.1.1  https://example.org/x"),
               clip, boxes);
    EXPECT_EQ(f.shown,
              "The mail was not sent: 550 5.1.1 The account does not exist. Please try double-checking it. "
              "https://example.org/x");
    EXPECT_EQ(f.code, "MAPISendMail failed 00000002");

    // The message refused once the server has read it.
    f = SendTo(ScriptedSmtpServer("end", "554 5.7.1 Message rejected"), clip, boxes);
    EXPECT_EQ(f.shown, "The mail was not sent: 554 5.7.1 Message rejected");

    // A hostile reply: its control characters are blanked, its length bounded.
    f = SendTo(ScriptedSmtpServer("mail", "451 4.3.0 \\x1b[2JTry\\tlater" + std::string(5000, 'x')), clip,
               boxes);
    EXPECT_EQ(f.shown.rfind("The mail was not sent: 451 4.3.0  [2JTry later", 0), 0u) << f.shown;
    EXPECT_LT(f.shown.size(), 600u);

    // No reply at all: libcurl's words.
    f = SendTo(ServerProcess("echo 1 0"), clip, boxes);  // port 1, where nobody listens
    EXPECT_EQ(f.shown.rfind("The mail was not sent: Failed to connect to 127.0.0.1 port 1", 0), 0u)
        << f.shown;
    EXPECT_EQ(f.code, "MAPISendMail failed 00000017");
}

TEST_F(SendCommand, SilentServersAreGivenUp) {
    // The wait for a silent server made short; the server itself would hang up after 20 s.
    setenv("QUILLORY_SMTP_STALL_SECONDS", "1", 1);
    const Failure f = SendTo(ScriptedSmtpServer("end", "stall", 20), MediaPath("proj_a.avi"), boxes);
    unsetenv("QUILLORY_SMTP_STALL_SECONDS");
    EXPECT_EQ(f.shown, "The mail was not sent: server response timeout");
    EXPECT_EQ(f.code, "MAPISendMail failed 00000017");
}

TEST(MailProvider, SessionsLeftOpenNeverBlockNewOnes) {
    HMODULE provider = LoadLibraryA(PROVIDER);
    ASSERT_NE(provider, nullptr);
    auto logon = reinterpret_cast<LPMAPILOGON>(GetProcAddress(provider, "MAPILogon"));
    auto logoff = reinterpret_cast<LPMAPILOGOFF>(GetProcAddress(provider, "MAPILogoff"));
    char profile[] = "smtp://127.0.0.1:1";
    LHANDLE first = 0, last = 0;
    for (int i = 0; i < 40; ++i)  // as many failed sends, each leaving its session open
        ASSERT_EQ(logon(0, profile, nullptr, 0, 0, i == 0 ? &first : &last), SUCCESS_SUCCESS) << i;
    EXPECT_EQ(logoff(last, 0, 0, 0), SUCCESS_SUCCESS);
    EXPECT_EQ(logoff(last, 0, 0, 0), static_cast<ULONG>(MAPI_E_INVALID_SESSION));
    EXPECT_EQ(logoff(first, 0, 0, 0), static_cast<ULONG>(MAPI_E_INVALID_SESSION));  // ended to make room
    FreeLibrary(provider);
}
