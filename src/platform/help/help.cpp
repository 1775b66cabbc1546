#include "platform/help/help.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPointer>
#include <QScreen>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <map>

#include "core/datadir.h"
#include "core/diag.h"
#include "platform/qtui/qtui.h"

namespace {

// The program's own help file, in the working folder or the installed data folder.
constexpr const char* kProgramHelpFile = "Quillory.hlp";
// The help window shrinks to this height, no further, to stay clear of a menu bar.
constexpr int kMinimumHeight = 240;

// Reads at most kMaxHelpFileBytes; false for a missing, unreadable or larger file.
bool ReadCapped(const QString& path, QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    bytes = f.read(static_cast<qint64>(kMaxHelpFileBytes) + 1);
    return bytes.size() <= static_cast<qsizetype>(kMaxHelpFileBytes);
}

QStringList AnchorsOf(const QTextDocument* doc) {
    QStringList names;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) {
        names += b.charFormat().anchorNames();
        for (auto it = b.begin(); !it.atEnd(); ++it) names += it.fragment().charFormat().anchorNames();
    }
    names.removeDuplicates();
    return names;
}

// A text browser that reads its documents through the size cap.
class HelpBrowser : public QTextBrowser {
  public:
    using QTextBrowser::QTextBrowser;
    QVariant loadResource(int type, const QUrl& name) override {
        if (!name.isLocalFile()) return QVariant();
        QByteArray bytes;
        if (!ReadCapped(name.toLocalFile(), bytes)) return QVariant();
        if (type == QTextDocument::HtmlResource) return QString::fromUtf8(bytes);
        return bytes;
    }
};

class HelpWindow : public QWidget {
  public:
    explicit HelpWindow(const QString& name) {
        setAttribute(Qt::WA_DeleteOnClose);
        setObjectName(name.isEmpty() ? QString("help") : "help>" + name);
        auto* bar = new QHBoxLayout;
        auto addButton = [&](const QString& text, auto slot) {
            auto* b = new QToolButton(this);
            b->setText(text);
            connect(b, &QToolButton::clicked, this, slot);
            bar->addWidget(b);
            return b;
        };
        addButton("Contents", [this] { Go("contents"); });
        addButton("Index", [this] { Go("finder"); });
        back_ = addButton("Back", [this] { browser_->backward(); });
        forward_ = addButton("Forward", [this] { browser_->forward(); });
        search_ = new QLineEdit(this);
        search_->setPlaceholderText("Search the help");
        search_->setClearButtonEnabled(true);
        bar->addWidget(search_, 1);
        addButton("Find", [this] { Find(); });
        status_ = new QLabel(this);
        bar->addWidget(status_);
        connect(search_, &QLineEdit::returnPressed, this, [this] { Find(); });
        browser_ = new HelpBrowser(this);
        browser_->setOpenExternalLinks(false);
        browser_->setOpenLinks(true);
        connect(browser_, &QTextBrowser::backwardAvailable, back_, &QWidget::setEnabled);
        connect(browser_, &QTextBrowser::forwardAvailable, forward_, &QWidget::setEnabled);
        connect(browser_, &QTextBrowser::sourceChanged, this,
                [this](const QUrl& url) { anchor_ = url.fragment(); });
        back_->setEnabled(false);
        forward_->setEnabled(false);
        auto* layout = new QVBoxLayout(this);
        layout->setContentsMargins(4, 4, 4, 4);
        layout->addLayout(bar);
        layout->addWidget(browser_, 1);
        resize(640, 560);
    }

    // Loads path when it is not the file shown; false when it cannot be read.
    bool Load(const QString& path) {
        if (path == file_ && !browser_->document()->isEmpty()) return true;
        QByteArray bytes;
        if (!ReadCapped(path, bytes)) return false;
        file_ = path;
        browser_->setSearchPaths({QFileInfo(path).absolutePath()});
        browser_->setSource(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()),
                            QTextDocument::HtmlResource);
        anchors_ = AnchorsOf(browser_->document());
        QString title = browser_->documentTitle();
        setWindowTitle(title.isEmpty() ? QString("Help") : title);
        return !browser_->document()->isEmpty();
    }

    bool Go(const QString& anchor) {
        if (!anchors_.contains(anchor)) return false;
        QUrl url = QUrl::fromLocalFile(QFileInfo(file_).absoluteFilePath());
        url.setFragment(anchor);
        browser_->setSource(url, QTextDocument::HtmlResource);
        browser_->scrollToAnchor(anchor);
        anchor_ = anchor;
        return true;
    }

    void Search(const QString& text) {
        search_->setText(text);
        Find();
    }

    void Find() {
        QString text = search_->text().trimmed();
        if (text.isEmpty()) return;
        bool found = browser_->find(text);
        if (!found) {  // wrap round to the top once
            QTextCursor c = browser_->textCursor();
            c.movePosition(QTextCursor::Start);
            browser_->setTextCursor(c);
            found = browser_->find(text);
        }
        status_->setText(found ? QString() : QString("Not found"));
    }

    // Makes the help window the own window of the window it was asked from: a modal window (the
    // storyboard runs as one) blocks the input of every window but its own. When that window
    // closes, the help window passes to the window under it and stays open.
    void Attach(QWidget* from) {
        QWidget* to = from ? from->window() : nullptr;
        if (to == this || to == parentWidget()) return;
        const bool shown = isVisible();
        const QPoint at = pos();
        if (parentWidget()) parentWidget()->removeEventFilter(this);
        setParent(to, Qt::Window);
        if (to) to->installEventFilter(this);
        if (shown) {
            move(at);
            show();
        }
    }

    // A help window that is not open yet is placed beside the window it was asked from, on the side
    // with room; without room on either side it keeps clear of that window's menu bar.
    void Present() {
        if (!isVisible()) Place();
        show();
        raise();
        activateWindow();
    }

    HelpWindowState State() const {
        HelpWindowState s;
        s.open = isVisible();
        s.file = file_.toStdString();
        s.anchor = anchor_.toStdString();
        s.title = windowTitle().toStdString();
        s.search = search_->text().toStdString();
        return s;
    }

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == parentWidget() && event->type() == QEvent::Hide && !event->spontaneous()) {
            QWidget* under = parentWidget()->parentWidget();
            Attach(under);
        }
        return QWidget::eventFilter(watched, event);
    }

  private:
    void Place() {
        QWidget* from = parentWidget();
        if (!from || !from->isVisible() || !from->screen()) return;
        const QRect room = from->screen()->availableGeometry();
        const QRect owner = from->frameGeometry();
        // The frame the window manager adds, taken to be the same as the owner's.
        QSize outer = size() + (owner.size() - from->geometry().size());
        const auto clamped = [&](QPoint at) {
            return QPoint(
                std::clamp(at.x(), room.left(), std::max(room.left(), room.right() + 1 - outer.width())),
                std::clamp(at.y(), room.top(), std::max(room.top(), room.bottom() + 1 - outer.height())));
        };
        // Right of it, left of it, below it, above it: the first place where it is whole on the screen.
        const QPoint beside[] = {{owner.right() + 1, owner.top()},
                                 {owner.left() - outer.width(), owner.top()},
                                 {owner.left(), owner.bottom() + 1},
                                 {owner.left(), owner.top() - outer.height()}};
        for (int i = 0; i < 4; i++) {
            const QPoint at = i < 2 ? QPoint(beside[i].x(), clamped(beside[i]).y())
                                    : QPoint(clamped(beside[i]).x(), beside[i].y());
            if (room.contains(QRect(at, outer))) {
                move(at);
                return;
            }
        }
        // No room: over its right side, below its menu bar.
        int top = from->geometry().top();
        if (const QMenuBar* bar = from->findChild<QMenuBar*>(); bar && bar->isVisible())
            top = bar->mapToGlobal(QPoint(0, bar->height())).y();
        const int spare = room.bottom() + 1 - top;
        if (outer.height() > spare && spare >= kMinimumHeight) {
            resize(width(), height() - (outer.height() - spare));
            outer.setHeight(spare);
        }
        move(clamped(QPoint(room.right() + 1 - outer.width(), top)));
    }

    HelpBrowser* browser_ = nullptr;
    QLineEdit* search_ = nullptr;
    QLabel* status_ = nullptr;
    QToolButton* back_ = nullptr;
    QToolButton* forward_ = nullptr;
    QString file_;
    QString anchor_;
    QStringList anchors_;
};

std::map<std::string, QPointer<HelpWindow>>& Windows() {
    static std::map<std::string, QPointer<HelpWindow>> windows;
    return windows;
}

}  // namespace

std::string HelpAnchorForContext(uint32_t context) {
    return "context-" + std::to_string(context);
}

int WinHelpA(HWND owner, const char* helpFile, uint32_t command, uintptr_t data) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
    if (command == HELP_QUIT) {
        for (auto& [name, window] : Windows())
            if (window) window->close();
        Windows().clear();
        return 1;
    }
    if (!helpFile) return 0;
    // "FILE>name": the secondary window "name".
    QString path = QString::fromUtf8(helpFile);
    QString windowName;
    int gt = path.lastIndexOf('>');
    if (gt > path.lastIndexOf('/')) {
        windowName = path.mid(gt + 1);
        path.truncate(gt);
    }
    // No help path yet (a first run keeps the setting empty): the program's own help file in the
    // working folder, where the program runs.
    if (path.isEmpty()) path = QString::fromUtf8(kProgramHelpFile);
    // A path that names no file (a first run outside the data folder, an installation moved since
    // the settings were saved): the installed program's own help file, when there is one.
    if (!QFileInfo(path).isFile())
        if (std::string installed = InstalledDataFile(kProgramHelpFile); !installed.empty())
            path = QString::fromStdString(installed);
    QPointer<HelpWindow>& window = Windows()[windowName.toStdString()];
    if (!window) window = new HelpWindow(windowName);
    QWidget* from = LiveWidget(owner);
    window->Attach(from ? from : QApplication::activeModalWidget());
    if (!window->Load(path)) {
        DebugLog("WinHelpA: cannot read %s", path.toUtf8().constData());
        MessageBoxA(owner, FormatMessageText("Cannot open the help file\n%s", path.toUtf8().constData()),
                    "Help", MB_OK | MB_ICONEXCLAMATION);
        window->deleteLater();
        window = nullptr;
        return 0;
    }
    window->Present();
    switch (command) {
        case HELP_CONTEXT: {
            std::string anchor = HelpAnchorForContext(static_cast<uint32_t>(data));
            if (window->Go(QString::fromStdString(anchor))) {
                DebugLog("WinHelpA: %s#%s", path.toUtf8().constData(), anchor.c_str());
                return 1;
            }
            DebugLog("WinHelpA: no topic for context %ld", static_cast<long>(data));
            window->Go("finder");
            return 0;
        }
        case HELP_CONTENTS:
            return window->Go("contents") ? 1 : 0;
        case HELP_FINDER:
            return window->Go("finder") ? 1 : 0;
        case HELP_KEY:
        case HELP_PARTIALKEY: {
            window->Go("finder");
            const char* key = reinterpret_cast<const char*>(data);
            if (key) window->Search(QString::fromUtf8(key, static_cast<qsizetype>(strnlen(key, 200))));
            return 1;
        }
        default:
            return window->Go("finder") ? 1 : 0;
    }
}

HelpWindowState HelpWindowStateOf(const std::string& windowName) {
    auto it = Windows().find(windowName);
    if (it == Windows().end() || !it->second) return HelpWindowState{};
    return it->second->State();
}

std::vector<std::string> HelpFileAnchors(const std::string& path) {
    QByteArray bytes;
    if (!ReadCapped(QString::fromStdString(path), bytes)) return {};
    QTextDocument doc;
    doc.setHtml(QString::fromUtf8(bytes));
    std::vector<std::string> out;
    for (const QString& a : AnchorsOf(&doc)) out.push_back(a.toStdString());
    return out;
}
