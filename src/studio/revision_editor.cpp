#include "studio/revision_editor.h"

#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <utility>
#include <vector>

#include "core/diag.h"
#include "core/format.h"
#include "platform/help/help.h"
#include "platform/qtui/qtui.h"
#include "playback/playwindows.h"
#include "project/project.h"
#include "project/revision_text.h"
#include "render/title_dialog.h"
#include "render/titles.h"
#include "settings/settings.h"
#include "studio/storyboard.h"
#include "studio/storyboard_overlays.h"
#include "ui/controls.h"
#include "ui/windows.h"

namespace {

Revision* RevisionOf(const QListWidgetItem* item) {
    return item ? reinterpret_cast<Revision*>(item->data(Qt::UserRole).value<quintptr>()) : nullptr;
}

void RepaintStoryboard() {
    if (auto& repaint = GetProjectCallbacks().repaint) repaint();
}

class RevisionEditor : public QDialog {
  public:
    explicit RevisionEditor(QWidget* owner) : QDialog(owner) {
        setObjectName("editRevisions");
        setWindowTitle("Edit Revision List");
        SetControlId(this, kRevisionEditorId);
        list_ = new QListWidget(this);
        SetControlId(list_, kRevisionList);
        list_->setMinimumSize(420, 180);
        auto* group = new QGroupBox("Selected Item", this);
        auto* items = new QVBoxLayout(group);
        editRange_ = AddButton("Edit Range...", kRevisionEditRange, items);
        remove_ = AddButton("Remove Item...", kRevisionRemove, items);
        editText_ = AddButton("Edit Text...", kRevisionEditText, items);
        chromakey_ = AddButton("Edit Chromakey for Underlay...", kRevisionChromakey, items);
        auto* side = new QVBoxLayout;
        AddButton("OK", IDOK, side)->setDefault(true);
        AddButton("Cancel", IDCANCEL, side);
        AddButton("HELP...", 9, side);
        side->addSpacing(8);
        side->addWidget(group);
        side->addStretch(1);
        auto* outer = new QHBoxLayout(this);
        outer->addWidget(list_, 1);
        outer->addLayout(side);
        connect(list_, &QListWidget::itemSelectionChanged, this, [this] { SelectionChanged(); });

        // Which backup record was copied from which revision, so that Cancel keeps the key colours
        // picked meanwhile even into an underlay that had none.
        for (Revision *r = gProject.revisions, *b = gProject.backup; r && b; r = r->next, b = b->next)
            copiedFrom_.emplace_back(b, r);
        FillRevisionList(HWNDFromWidget(this));
        EnableItemButtons(nullptr);
        adjustSize();
        CenterOnDesktop(HWNDFromWidget(this));
    }

    QListWidget* list() const { return list_; }
    bool filling = false;

    void reject() override {
        for (auto& [backup, original] : copiedFrom_) {
            UnderlayRecord* kept = UnderlayOf(backup);
            const UnderlayRecord* picked = IsProjectRevision(original) ? UnderlayOf(original) : nullptr;
            if (kept && picked) kept->ranges = picked->ranges;
        }
        ClearRevisions();
        gProject.revisions = gProject.backup;
        gProject.backup = nullptr;
        QDialog::reject();
    }

  private:
    QPushButton* AddButton(const char* text, int32_t id, QVBoxLayout* column) {
        auto* b = new QPushButton(text, this);
        SetControlId(b, id);
        b->setAutoDefault(false);
        column->addWidget(b);
        connect(b, &QPushButton::clicked, this, [this, id] { Command(id); });
        return b;
    }

    // The selected line's revision while it is still in the project's list.
    Revision* Selected() const {
        const QList<QListWidgetItem*> selected = list_->selectedItems();
        Revision* r = selected.isEmpty() ? nullptr : RevisionOf(selected.first());
        return r && IsProjectRevision(r) ? r : nullptr;
    }

    void EnableItemButtons(const Revision* r) {
        const bool underlay = r && r->type == kRevUnderlay;
        editText_->setText(underlay ? "Edit Underlay File..." : "Edit Text...");
        editText_->setEnabled(r && (r->type == kRevTitle || underlay));
        chromakey_->setEnabled(underlay);
        editRange_->setEnabled(r != nullptr);
        remove_->setEnabled(r != nullptr);
    }

    void SelectionChanged() {
        if (filling) return;
        Revision* r = Selected();
        EnableItemButtons(r);
        if (r) DrawSelection(r->start - 1, r->end - 1, true);
    }

    // The list again, with the same revision selected when it is still there.
    void Refill(const Revision* keep) {
        FillRevisionList(HWNDFromWidget(this));
        for (int row = 0; keep && row < list_->count(); row++)
            if (RevisionOf(list_->item(row)) == keep) list_->setCurrentRow(row);
        EnableItemButtons(Selected());
        RepaintStoryboard();
    }

    void Command(int32_t id) {
        const HWND self = HWNDFromWidget(this);
        if (id == IDOK) {
            Revision* backup = gProject.backup;
            gProject.backup = nullptr;
            FreeRevisionList(backup);
            ReleaseUnusedColourRanges();
            if (gProject.head) PrepareOverlays(self, gProject.head->width, gProject.head->height);
            accept();
            return;
        }
        if (id == IDCANCEL) {
            reject();
            return;
        }
        if (id == 9) {
            WinHelpA(self, gSettings.HelpFile, HELP_CONTEXT, kRevisionHelpContext);
            return;
        }
        Revision* r = Selected();
        if (!r) return;
        switch (id) {
            case kRevisionEditRange: {
                if (!gProject.head || PlayWindowBusy()) return;
                int32_t start = r->start - 1, end = r->end - 1;
                PrepareOverlays(self, gProject.head->width, gProject.head->height);
                DoPlayProjectRange(self, &start, &end, 0);
                if (start > end) std::swap(start, end);
                r->start = start + 1;
                r->end = end + 1;
                Refill(r);
                return;
            }
            case kRevisionRemove:
                if (!NotifyYesNo("Remove this item from the list??")) return;
                std::erase_if(copiedFrom_, [r](const auto& pair) { return pair.second == r; });
                RemoveRevision(r);
                Refill(nullptr);
                return;
            case kRevisionEditText:
                if (r->type == kRevTitle)
                    EditTitleDialog(self, TitleOf(r));
                else if (r->type == kRevUnderlay)
                    ReviseUnderlayFile(self, r);
                Refill(r);
                return;
            case kRevisionChromakey:
                PickUnderlayColours(self, r);
                return;
            default:
                return;
        }
    }

    QListWidget* list_;
    QPushButton* editRange_;
    QPushButton* remove_;
    QPushButton* editText_;
    QPushButton* chromakey_;
    std::vector<std::pair<Revision*, Revision*>> copiedFrom_;  // (backup record, project revision)
};

}  // namespace

void FillRevisionList(HWND dialog) {
    auto* editor = dynamic_cast<RevisionEditor*>(LiveWidget(dialog));
    if (!editor) return;
    editor->filling = true;
    editor->list()->clear();
    for (Revision* r = gProject.revisions; r; r = r->next) {
        auto* item = new QListWidgetItem(QString::fromUtf8(RevisionText(r)), editor->list());
        item->setData(Qt::UserRole, QVariant::fromValue(reinterpret_cast<quintptr>(r)));
    }
    editor->filling = false;
}

bool EditRevisionList(HWND owner) {
    if (!gProject.revisions || !qobject_cast<QApplication*>(QCoreApplication::instance())) return false;
    CopyRevisionList();
    RevisionEditor dialog(LiveWidget(owner));
    const HWND previous = SetMessageOwner(HWNDFromWidget(&dialog));
    dialog.exec();
    SetMessageOwner(previous);
    return true;
}
