#include "platform/qtui/qtui.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QFontMetrics>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QStandardItemModel>
#include <QStyle>
#include <QTimer>
#include <algorithm>
#include <cstring>

namespace {

// MessageBoxA button sets beyond the three the core names.
constexpr unsigned kAbortRetryIgnore = 0x2;
constexpr unsigned kYesNoCancel = 0x3;
constexpr unsigned kRetryCancel = 0x5;
constexpr unsigned kIconHand = 0x10;
constexpr int kIdAbort = 3;
constexpr int kIdRetry = 4;
constexpr int kIdIgnore = 5;

bool IsInputEvent(QEvent::Type t) {
    switch (t) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::MouseMove:
        case QEvent::NonClientAreaMouseButtonPress:
        case QEvent::NonClientAreaMouseButtonRelease:
        case QEvent::NonClientAreaMouseButtonDblClick:
        case QEvent::NonClientAreaMouseMove:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::Shortcut:
        case QEvent::ShortcutOverride:
        case QEvent::Wheel:
        case QEvent::ContextMenu:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TouchCancel:
        case QEvent::TabletPress:
        case QEvent::TabletMove:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
    }
}

QString FromLocal(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

}  // namespace

QWidget* LiveWidget(HWND h) {
    if (!h || !QApplication::instance()) return nullptr;
    const QWidgetList all = QApplication::allWidgets();
    auto* w = static_cast<QWidget*>(h);
    return all.contains(w) ? w : nullptr;
}

int QtMessageBoxProvider::Show(HWND owner, const std::string& text, const std::string& caption,
                               unsigned style) {
    return ShowBox(owner, text, caption, style, nullptr);
}

int QtMessageBoxProvider::ShowWithButton(HWND owner, const std::string& text, const std::string& caption,
                                         unsigned style, const std::string& label) {
    return ShowBox(owner, text, caption, style, &label);
}

int QtMessageBoxProvider::ShowBox(HWND owner, const std::string& text, const std::string& caption,
                                  unsigned style, const std::string* extra) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
    QMessageBox box(LiveWidget(owner));
    box.setWindowTitle(FromLocal(caption));
    box.setTextFormat(Qt::PlainText);  // "Edit <%s>" and the like are not markup
    box.setText(FromLocal(text));
    switch (style & MB_ICONMASK) {
        case kIconHand:
            box.setIcon(QMessageBox::Critical);
            break;
        case MB_ICONQUESTION:
            box.setIcon(QMessageBox::Question);
            break;
        case MB_ICONEXCLAMATION:
            box.setIcon(QMessageBox::Warning);
            break;
        case MB_ICONINFORMATION:
            box.setIcon(QMessageBox::Information);
            break;
        default:
            box.setIcon(QMessageBox::NoIcon);
            break;
    }
    struct Choice {
        QMessageBox::StandardButton button;
        int result;
    };
    std::vector<Choice> choices;
    switch (style & MB_TYPEMASK) {
        case MB_OKCANCEL:
            choices = {{QMessageBox::Ok, IDOK}, {QMessageBox::Cancel, IDCANCEL}};
            break;
        case kAbortRetryIgnore:
            choices = {{QMessageBox::Abort, kIdAbort},
                       {QMessageBox::Retry, kIdRetry},
                       {QMessageBox::Ignore, kIdIgnore}};
            break;
        case kYesNoCancel:
            choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}, {QMessageBox::Cancel, IDCANCEL}};
            break;
        case MB_YESNO:
            choices = {{QMessageBox::Yes, IDYES}, {QMessageBox::No, IDNO}};
            break;
        case kRetryCancel:
            choices = {{QMessageBox::Retry, kIdRetry}, {QMessageBox::Cancel, IDCANCEL}};
            break;
        default:
            choices = {{QMessageBox::Ok, IDOK}};
            break;
    }
    QMessageBox::StandardButtons buttons;
    for (const Choice& c : choices) buttons |= c.button;
    box.setStandardButtons(buttons);
    box.setDefaultButton(choices.front().button);
    if (choices.size() == 1) box.setEscapeButton(choices.front().button);
    QPushButton* own = extra ? box.addButton(FromLocal(*extra), QMessageBox::ActionRole) : nullptr;
    box.exec();
    QAbstractButton* clicked = box.clickedButton();
    if (own && clicked == own) return kIdBoxButton;
    for (const Choice& c : choices)
        if (clicked && clicked == box.button(c.button)) return c.result;
    // Closed without a button (Escape, the close box): the answer that changes nothing.
    for (const Choice& c : choices)
        if (c.result == IDCANCEL || c.result == IDNO) return c.result;
    return choices.front().result;
}

int QtMessageBoxProvider::ShowWithChoice(HWND owner, const std::string& text, const std::string& caption,
                                         unsigned style, const BoxChoice& choice, int* selected) {
    if ((style & MB_TYPEMASK) != MB_YESNO || !selected || choice.options.empty())
        return Show(owner, text, caption, style);
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return 0;
    QDialog box(LiveWidget(owner));
    box.setWindowTitle(FromLocal(caption));
    auto* icon = new QLabel(&box);
    const int side = box.style()->pixelMetric(QStyle::PM_MessageBoxIconSize, nullptr, &box);
    icon->setPixmap(
        box.style()->standardIcon(QStyle::SP_MessageBoxQuestion, nullptr, &box).pixmap(side, side));
    auto* message = new QLabel(FromLocal(text), &box);
    message->setTextFormat(Qt::PlainText);
    auto* list = new QComboBox(&box);
    list->setObjectName("choice");
    auto* items = qobject_cast<QStandardItemModel*>(list->model());
    for (size_t i = 0; i < choice.options.size(); ++i) {
        list->addItem(FromLocal(choice.options[i]));
        if (i < choice.enabled.size() && !choice.enabled[i] && items)
            items->item(static_cast<int>(i))->setEnabled(false);  // greyed: cannot be chosen here
    }
    list->setCurrentIndex(std::clamp(*selected, 0, static_cast<int>(choice.options.size()) - 1));
    auto* label = new QLabel(FromLocal(choice.label), &box);
    label->setBuddy(list);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Yes | QDialogButtonBox::No, &box);
    buttons->button(QDialogButtonBox::Yes)->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &box, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &box, &QDialog::reject);
    auto* grid = new QGridLayout(&box);
    grid->addWidget(icon, 0, 0, 2, 1, Qt::AlignTop);
    grid->addWidget(message, 0, 1, 1, 2);
    grid->addWidget(label, 1, 1);
    grid->addWidget(list, 1, 2);
    grid->addWidget(buttons, 2, 0, 1, 3);
    grid->setColumnStretch(2, 1);
    grid->setSizeConstraint(QLayout::SetFixedSize);
    const bool yes = box.exec() == QDialog::Accepted;
    *selected = list->currentIndex();
    return yes ? IDYES : IDNO;  // closed without a button: No, which changes nothing
}

QtPumpProvider::QtPumpProvider() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->installEventFilter(this);
}

QtPumpProvider::~QtPumpProvider() {
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeEventFilter(this);
}

bool QtPumpProvider::eventFilter(QObject* watched, QEvent* event) {
    if (!pass_.watching || !IsInputEvent(event->type())) return QObject::eventFilter(watched, event);
    if (pass_.escapeSeen) {
        event->accept();  // an accepted ShortcutOverride keeps the shortcut from firing
        return true;
    }
    if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        pass_.escapeSeen = true;
        if (auto* loop = qobject_cast<QEventLoop*>(pass_.loop)) loop->quit();
        return true;
    }
    return false;
}

bool QtPumpProvider::PumpUntilEscape() {
    if (!QCoreApplication::instance()) return false;
    Pass outer = pass_;  // a handler dispatched here may pump again
    pass_ = Pass{true, false, nullptr};
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    bool escaped = pass_.escapeSeen;
    pass_ = outer;
    return escaped;
}

void QtPumpProvider::PumpAll() {
    if (!QCoreApplication::instance()) return;
    Pass outer = pass_;
    pass_ = Pass{};
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    pass_ = outer;
}

bool QtPumpProvider::PumpWait(int32_t ms) {
    if (!QCoreApplication::instance()) return PumpProvider::PumpWait(ms);
    if (PumpUntilEscape()) return true;
    if (ms <= 0) return false;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    Pass outer = pass_;
    pass_ = Pass{true, false, &loop};
    deadline.start(ms);
    loop.exec();  // blocks in the event loop until the deadline or an Escape
    bool escaped = pass_.escapeSeen;
    pass_ = outer;
    return escaped;
}

QString QtFilterText(const FileDialogRequest& request) {
    QStringList parts;
    for (const auto& [description, pattern] : request.filters) {
        QStringList patterns = FromLocal(pattern).split(';', Qt::SkipEmptyParts);
        for (QString& p : patterns) {
            p = p.trimmed();
            if (p == "*.*") p = "*";
        }
        parts << QString("%1 (%2)").arg(FromLocal(description), patterns.join(' '));
    }
    return parts.join(";;");
}

bool QtFileDialogProvider::Choose(const FileDialogRequest& request, std::string& chosen) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    QFileDialog dialog(LiveWidget(request.owner), FromLocal(request.title));
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (request.save)
        dialog.setFileMode(QFileDialog::AnyFile);
    else
        dialog.setFileMode((request.flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile
                                                               : QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !(request.flags & OFN_OVERWRITEPROMPT));
    // The dialog adds the extension itself, so its overwrite question names the final file.
    if (!request.defaultExtension.empty()) dialog.setDefaultSuffix(FromLocal(request.defaultExtension));
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);  // "*.avi" also shows CLIP.AVI
    QString filters = QtFilterText(request);
    if (!filters.isEmpty()) {
        QStringList list = filters.split(";;");
        dialog.setNameFilters(list);
        int index = std::clamp(request.filterIndex, 1, static_cast<int>(list.size()));
        dialog.selectNameFilter(list.at(index - 1));
        // A name typed without an extension takes the one of the filter picked ("MP4 Files" -> .mp4).
        if (!request.defaultExtension.empty())
            QObject::connect(
                &dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &request](const QString& f) {
                    const qsizetype open = f.indexOf("(*."), close = f.indexOf(')', open);
                    const QString ext =
                        open >= 0 && close > open ? f.mid(open + 3, close - open - 3) : QString();
                    dialog.setDefaultSuffix(ext.isEmpty() || ext.contains(' ') || ext.contains('*')
                                                ? FromLocal(request.defaultExtension)
                                                : ext);
                });
    }
    // The initial name may carry its folder, as the last file names kept in the settings do.
    QString dir = FromLocal(request.initialDir);
    QString name = FromLocal(request.initialName);
    if (name.contains('/')) {
        QFileInfo info(name);
        if (dir.isEmpty()) dir = info.path();
        name = info.fileName();
    }
    if (!dir.isEmpty() && QFileInfo(dir).isDir()) dialog.setDirectory(dir);
    if (!name.isEmpty()) dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList files = dialog.selectedFiles();
    if (files.isEmpty()) return false;
    chosen = files.first().toStdString();
    return !chosen.empty();
}

uint32_t QtTextExtentProvider::Extent(HDC dc, const char* text, int count) {
    if (!text || count < 0) count = 0;
    if (text) count = static_cast<int>(strnlen(text, static_cast<size_t>(count)));
    QPainter* painter = PainterFromHDC(dc);
    QFont font = (painter && painter->isActive()) ? painter->font() : QGuiApplication::font();
    QFontMetrics metrics(font);
    QString s = QString::fromUtf8(text ? text : "", count);
    int width = std::clamp(metrics.horizontalAdvance(s), 0, 0xFFFF);
    int height = std::clamp(metrics.height(), 0, 0xFFFF);
    return (static_cast<uint32_t>(height) << 16) | static_cast<uint32_t>(width);
}

void InstallQtProviders() {
    SetMessageBoxProvider(std::make_shared<QtMessageBoxProvider>());
    SetPumpProvider(std::make_shared<QtPumpProvider>());
    SetFileDialogProvider(std::make_shared<QtFileDialogProvider>());
    SetTextExtentProvider(std::make_shared<QtTextExtentProvider>());
}
