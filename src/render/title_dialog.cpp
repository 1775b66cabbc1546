#include "render/title_dialog.h"

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cstring>
#include <string>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/format.h"
#include "core/memory.h"
#include "platform/help/help.h"
#include "platform/qtui/qtui.h"
#include "render/frameview.h"
#include "settings/settings.h"
#include "ui/controls.h"
#include "ui/tooltips.h"
#include "ui/windows.h"

namespace {

// What the dialog works on while it is open.
struct DialogState {
    TitleRecord* current = nullptr;  // created by the first committed line of a new title
    int32_t lineStart = -1;          // the line loaded into the edit box; -1 when none
    int32_t lineEnd = -1;
    int32_t vertical = 0;  // the codes a title created here gets
    int32_t horizontal = 0;
    bool listActive = false;  // selection changes count once the list has had the focus
};
DialogState gState;

struct PositionButton {
    int32_t id;
    const char* text;
    int32_t vertical;
    int32_t horizontal;
};
constexpr PositionButton kPositions[] = {
    {2092, "UL", 1, 1}, {2093, "UC", 1, 0}, {2094, "UR", 1, 2}, {2095, "CL", 0, 1}, {1596, "CC", 0, 0},
    {1597, "CR", 0, 2}, {2096, "LL", 2, 1}, {2097, "LC", 2, 0}, {2098, "LR", 2, 2},
};

const TooltipEntry kTitleTips[] = {
    {kTitleLineList, "List of text objects, in order rendered"},
    {kTitleLineEdit, "Edit Line of Text"},
    {kTitleFont, "Invoke font selection dialog"},
    {kTitleRemove, "Remove selected object(s)"},
    {2092, "Put text in upper left"},
    {2093, "Put text in upper center"},
    {2094, "Put text in upper right"},
    {2095, "Put text in center left"},
    {1596, "Put text in center center"},
    {1597, "Put text in center right"},
    {2096, "Put text in lower left"},
    {2097, "Put text in lower center"},
    {2098, "Put text in lower right"},
    {IDCANCEL, "Exit this dialog"},
    {9, "Help for this dialog"},
    {0, nullptr},
};

char* CopyText(const std::string& s) {
    auto* copy = static_cast<char*>(MyCalloc(static_cast<uint32_t>(s.size() + 1), 1));
    if (copy) std::memcpy(copy, s.data(), s.size());
    return copy;
}

void ReleaseTitle(TitleRecord* t) {
    if (!t) return;
    MyFree(t->text);
    MyFree(t->stencil);
    MyFree(t);
}

void CopyFontToSettings(const TitleRecord& t) {
    CopyCut(gSettings.FontName, sizeof gSettings.FontName,
            std::string(t.faceName, strnlen(t.faceName, sizeof t.faceName)));
    gSettings.Italic = t.italic;
    gSettings.Size = t.height;
    gSettings.Weight = t.weight;
    gSettings.Underline = t.underline;
    gSettings.Quality = t.quality;
    gSettings.Points = t.points;
    gSettings.Color = static_cast<int32_t>(t.colour);
}

void CopyFontFromSettings(TitleRecord& t) {
    CopyCut(t.faceName, sizeof t.faceName, gSettings.FontName);
    t.italic = gSettings.Italic;
    t.height = gSettings.Size;
    t.weight = gSettings.Weight;
    t.underline = gSettings.Underline;
    t.quality = gSettings.Quality;
    t.points = gSettings.Points;
    t.colour = static_cast<uint32_t>(gSettings.Color);
}

FontChoice FontOf(const TitleRecord& t) {
    FontChoice f;
    std::memcpy(f.faceName, t.faceName, sizeof f.faceName);
    f.height = t.height;
    f.weight = t.weight;
    f.italic = t.italic;
    f.underline = t.underline;
    f.quality = t.quality;
    f.points = t.points;
    f.colour = t.colour;
    return f;
}

void SetFont(TitleRecord& t, const FontChoice& f) {
    std::memcpy(t.faceName, f.faceName, sizeof t.faceName);
    t.height = f.height;
    t.weight = f.weight;
    t.italic = f.italic;
    t.underline = f.underline;
    t.quality = f.quality;
    t.points = f.points;
    t.colour = f.colour;
}

// Control characters would cut the line when a project file is read back.
std::string PlainLine(const QString& s) {
    std::string line = s.left(kMaxTitleLine).toStdString();
    for (char& c : line)
        if (static_cast<unsigned char>(c) < ' ') c = ' ';
    return line;
}

// The text with line committed: replacing the loaded line [start, end), appended when none is
// loaded or the loaded line is an empty last line, else after the loaded empty line.
std::string CommittedText(const std::string& text, int32_t start, int32_t end, const std::string& line) {
    if (text.empty()) return line;
    const auto n = static_cast<int32_t>(text.size());
    start = std::min(start, n);
    end = std::clamp(end, start, n);
    if (start >= 0 && start != end)
        return text.substr(0, static_cast<size_t>(start)) + line + text.substr(end);
    if (start < 0 || start == n) return text + "\n" + line;
    if (start == 0) return line + text;
    return text.substr(0, static_cast<size_t>(start)) + "\n" + line + text.substr(static_cast<size_t>(end));
}

// The text without the line that starts at offset; a line feed left at the end goes too.
std::string TextWithoutLine(const std::string& text, int32_t offset) {
    const size_t at = std::min(static_cast<size_t>(std::max(offset, 0)), text.size());
    const size_t lf = text.find('\n', at);
    std::string out = text.substr(0, at);
    if (lf != std::string::npos) out += text.substr(lf + 1);
    if (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

void Preview(HWND dialog) {
    if (gState.current) RefreshFrameView(dialog, gState.current);
}

class TitleDialog : public QDialog {
  public:
    explicit TitleDialog(QWidget* owner) : QDialog(owner) {
        setObjectName("addTitle");
        setWindowTitle("Add Title To Frames");
        SetControlId(this, kTitleDialogId);
        QFont f = font();
        f.setFamily("MS Sans Serif");
        setFont(f);

        auto* linesBox = new QGroupBox("Text Lines", this);
        list_ = new QListWidget(linesBox);
        SetControlId(list_, kTitleLineList);
        list_->setMinimumSize(260, 120);
        list_->installEventFilter(this);
        (new QVBoxLayout(linesBox))->addWidget(list_);
        auto* lineBox = new QGroupBox("Current Line", this);
        edit_ = new QLineEdit(lineBox);
        SetControlId(edit_, kTitleLineEdit);
        edit_->setMaxLength(kMaxTitleLine);
        (new QVBoxLayout(lineBox))->addWidget(edit_);
        auto* newLine = AddButton("New", kTitleNewLine);
        newLine->hide();

        auto* fontButton = AddButton("Font...", kTitleFont);
        fontLabel_ = new QLabel(this);
        SetControlId(fontLabel_, kTitleFontLabel);
        auto* remove = AddButton("Remove", kTitleRemove);
        auto* grid = new QGridLayout;
        for (size_t i = 0; i < std::size(kPositions); i++) {
            QPushButton* b = AddButton(kPositions[i].text, kPositions[i].id);
            b->setFixedWidth(36);
            grid->addWidget(b, static_cast<int>(i / 3), static_cast<int>(i % 3));
        }
        auto* ok = AddButton("OK", IDOK);
        auto* cancel = AddButton("Cancel", IDCANCEL);
        auto* help = AddButton("Help...", 9);

        auto* side = new QVBoxLayout;
        side->addWidget(fontButton);
        side->addWidget(fontLabel_);
        side->addWidget(remove);
        side->addSpacing(8);
        side->addLayout(grid);
        side->addStretch(1);
        side->addWidget(ok);
        side->addWidget(cancel);
        side->addWidget(help);
        auto* left = new QVBoxLayout;
        left->addWidget(linesBox, 1);
        left->addWidget(lineBox);
        auto* outer = new QHBoxLayout(this);
        outer->addLayout(left, 1);
        outer->addLayout(side);
        InstallTooltipTable(this, kTitleTips);

        connect(list_, &QListWidget::itemSelectionChanged, this, [this] { LoadSelectedLine(); });
        for (QPushButton* b : findChildren<QPushButton*>()) {
            const int32_t id = GetDlgCtrlID(HWNDFromWidget(b));
            connect(b, &QPushButton::clicked, this, [this, id] { Command(id); });
        }

        if (gState.current) {
            FillTitleLineList(HWNDFromWidget(this), gState.current->text);
            CopyFontToSettings(*gState.current);
        }
        ShowFontLabel();
        adjustSize();
        if (HWND view = FrameViewHandle())
            PlaceRightOf(HWNDFromWidget(this), view);
        else
            CenterOnDesktop(HWNDFromWidget(this));
        edit_->setFocus();
    }

    QListWidget* list() const { return list_; }
    QLineEdit* edit() const { return edit_; }
    bool filling = false;  // the list is being refilled: its selection changes mean nothing

    void Command(int32_t id) {
        const HWND self = HWNDFromWidget(this);
        switch (id) {
            case kTitleNewLine:
                CommitTitleLine(self, true);
                return;
            case kTitleRemove:
                RemoveSelectedLine();
                return;
            case kTitleFont:
                ChooseTitleFont();
                return;
            case 9:
                WinHelpA(self, gSettings.HelpFile, HELP_CONTEXT, kTitleHelpContext);
                return;
            case IDOK:
                CommitTitleLine(self, false);
                accept();
                return;
            case IDCANCEL:
                reject();
                return;
            default:
                break;
        }
        for (const PositionButton& p : kPositions) {
            if (p.id != id) continue;
            CommitTitleLine(self, false);
            gState.vertical = p.vertical;
            gState.horizontal = p.horizontal;
            if (gState.current) {
                gState.current->vertical = p.vertical;
                gState.current->horizontal = p.horizontal;
                Preview(self);
            }
        }
    }

    // Cancel, Escape and the close box: the title made or edited here is dropped, and the picture
    // view shows the frame without it again.
    void reject() override {
        ReleaseTitle(gState.current);
        gState.current = nullptr;
        RefreshFrameView(HWNDFromWidget(this), nullptr);
        QDialog::reject();
    }

  protected:
    // Enter presses the focused button, else the hidden "New".
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            if (auto* b = qobject_cast<QPushButton*>(focusWidget()))
                b->click();
            else
                Command(kTitleNewLine);
            return;
        }
        QDialog::keyPressEvent(event);
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched == list_ && event->type() == QEvent::FocusIn) {
            CommitTitleLine(HWNDFromWidget(this), true);
            gState.listActive = true;
        }
        return QDialog::eventFilter(watched, event);
    }

  private:
    QPushButton* AddButton(const char* text, int32_t id) {
        auto* b = new QPushButton(text, this);
        SetControlId(b, id);
        b->setAutoDefault(false);
        return b;
    }

    QListWidgetItem* SelectedItem() const {
        const QList<QListWidgetItem*> selected = list_->selectedItems();
        return selected.isEmpty() ? nullptr : selected.first();
    }

    void ShowFontLabel() {
        fontLabel_->setText(QString::fromStdString(
            FormatMessageText("%s %d", gSettings.FontName, static_cast<int>(gSettings.Points / 10))));
    }

    void LoadSelectedLine() {
        const TitleRecord* t = gState.current;
        QListWidgetItem* item = SelectedItem();
        if (filling || !gState.listActive || !t || !t->text || !item) return;
        const std::string text = t->text;
        const auto start =
            std::min(static_cast<size_t>(std::max(item->data(Qt::UserRole).toInt(), 0)), text.size());
        const size_t lf = text.find('\n', start);
        const size_t end = lf == std::string::npos ? text.size() : lf;
        edit_->setText(QString::fromUtf8(text.data() + start, static_cast<qsizetype>(end - start)));
        edit_->setModified(false);
        gState.lineStart = static_cast<int32_t>(start);
        gState.lineEnd = static_cast<int32_t>(end);
        edit_->setFocus();
    }

    void RemoveSelectedLine() {
        TitleRecord* t = gState.current;
        QListWidgetItem* item = SelectedItem();
        if (!t || !item) return;
        char* text = CopyText(TextWithoutLine(t->text ? t->text : "", item->data(Qt::UserRole).toInt()));
        if (!text) return;
        MyFree(t->text);
        t->text = text;
        // The offsets of a loaded line no longer fit the text.
        gState.lineStart = gState.lineEnd = -1;
        FillTitleLineList(HWNDFromWidget(this), t->text);
        edit_->clear();
        Preview(HWNDFromWidget(this));
    }

    void ChooseTitleFont() {
        const HWND self = HWNDFromWidget(this);
        CommitTitleLine(self, true);
        FontDialogRequest request;
        request.owner = self;
        request.flags = CF_SCREENFONTS | CF_INITTOLOGFONTSTRUCT | CF_EFFECTS | CF_SCALABLEONLY;
        request.fontType = SCREEN_FONTTYPE;
        TitleRecord font{};
        CopyFontFromSettings(font);
        request.font = FontOf(font);
        FontChoice chosen;
        if (!ChooseFontA(request, chosen)) return;
        SetFont(font, chosen);
        if (TitleRecord* t = gState.current) {
            SetFont(*t, chosen);
            Preview(self);
        }
        CopyFontToSettings(font);
        ShowFontLabel();
    }

    QListWidget* list_;
    QLineEdit* edit_;
    QLabel* fontLabel_;
};

TitleDialog* TitleDialogOf(HWND dialog) {
    return dynamic_cast<TitleDialog*>(LiveWidget(dialog));
}

// False when no dialog can be shown (no application with widgets).
bool RunTitleDialog(HWND owner) {
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    TitleDialog dialog(LiveWidget(owner));
    const HWND previous = SetMessageOwner(HWNDFromWidget(&dialog));
    dialog.exec();
    SetMessageOwner(previous);
    return true;
}

}  // namespace

int CommitTitleLine(HWND dialog, bool preview) {
    TitleDialog* d = TitleDialogOf(dialog);
    if (!d) return 0;
    const std::string line = PlainLine(d->edit()->text());
    if (line.empty()) return 0;
    TitleRecord* created = nullptr;
    if (!gState.current) {
        created = NewTitleRecord();
        if (!created) return 0;
        created->vertical = gState.vertical;
        created->horizontal = gState.horizontal;
        CopyFontFromSettings(*created);
    }
    TitleRecord* t = created ? created : gState.current;
    const std::string text = t->text ? t->text : "";
    // A loaded line that was not edited stays as it is, even when the edit box could not hold it.
    const bool untouched = gState.lineStart >= 0 && !d->edit()->isModified();
    char* next = CopyText(untouched ? text : CommittedText(text, gState.lineStart, gState.lineEnd, line));
    if (!next) {
        MyFree(created);
        return 0;
    }
    gState.current = t;
    MyFree(t->text);
    t->text = next;
    FillTitleLineList(dialog, t->text);
    d->edit()->clear();
    if (preview) Preview(dialog);
    gState.lineStart = gState.lineEnd = -1;
    return 1;
}

void FillTitleLineList(HWND dialog, const char* text) {
    TitleDialog* d = TitleDialogOf(dialog);
    if (!d) return;
    d->filling = true;
    d->list()->clear();
    const std::string s = text ? text : "";
    for (size_t start = 0; !s.empty() && start <= s.size();) {
        size_t lf = s.find('\n', start);
        if (lf == std::string::npos) lf = s.size();
        QString shown =
            QString::fromUtf8(s.data() + start, static_cast<qsizetype>(lf - start)).left(kMaxTitleLine);
        auto* item = new QListWidgetItem(shown, d->list());
        item->setData(Qt::UserRole, static_cast<int>(start));
        start = lf + 1;
    }
    d->filling = false;
}

TitleRecord* NewTitleDialog(HWND owner) {
    gState = DialogState{};
    RunTitleDialog(owner);
    TitleRecord* result = gState.current;
    gState.current = nullptr;
    return result;
}

int EditTitleDialog(HWND owner, TitleRecord* title) {
    if (!title || !title->text) return 0;
    TitleRecord* copy = NewTitleRecord();
    if (!copy) return 0;
    *copy = *title;
    copy->stencil = nullptr;
    copy->text = CopyText(title->text);
    if (!copy->text) {
        MyFree(copy);
        return 0;
    }
    gState = DialogState{};
    gState.current = copy;
    gState.vertical = copy->vertical;
    gState.horizontal = copy->horizontal;
    Preview(owner);
    if (!RunTitleDialog(owner)) {
        ReleaseTitle(gState.current);
        gState.current = nullptr;
        return 0;
    }
    if (TitleRecord* edited = gState.current) {
        // OK: the working copy's text and stencil now belong to the edited record.
        MyFree(title->stencil);
        MyFree(title->text);
        *title = *edited;
        MyFree(edited);
    }
    gState.current = nullptr;
    return 1;
}
