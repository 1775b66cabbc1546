// The Qt providers of the core seams. In the desktop program a window handle (HWND) carries a
// QWidget* and a device context (HDC) a QPainter*; null means none.
#pragma once

#include <QObject>
#include <memory>

#include "core/diag.h"
#include "core/dialogs.h"
#include "core/pump.h"

class QEvent;
class QPainter;
class QWidget;

inline HWND HWNDFromWidget(QWidget* w) {
    return static_cast<HWND>(w);
}
// The widget behind a handle, or null when the handle names no live widget (a closed window).
QWidget* LiveWidget(HWND h);
inline HDC HDCFromPainter(QPainter* p) {
    return static_cast<HDC>(p);
}
inline QPainter* PainterFromHDC(HDC dc) {
    return static_cast<QPainter*>(dc);
}

// QMessageBox with the caption, icon and buttons of the style, owned by the given window.
class QtMessageBoxProvider : public MessageBoxProvider {
  public:
    int Show(HWND owner, const std::string& text, const std::string& caption, unsigned style) override;
    // A Yes / No question with a drop-down list (object name "choice") between the text and the buttons.
    int ShowWithChoice(HWND owner, const std::string& text, const std::string& caption, unsigned style,
                       const BoxChoice& choice, int* selected) override;
    // The style's buttons with the extra one between the first and the last.
    int ShowWithButton(HWND owner, const std::string& text, const std::string& caption, unsigned style,
                       const std::string& label) override;

  private:
    int ShowBox(HWND owner, const std::string& text, const std::string& caption, unsigned style,
                const std::string* extra);
};

// processEvents with an application event filter: the first Escape key press of a pass is taken
// as the stop request, and every input event after it in that pass is dropped undelivered.
class QtPumpProvider : public QObject, public PumpProvider {
    Q_OBJECT
  public:
    QtPumpProvider();
    ~QtPumpProvider() override;
    bool PumpUntilEscape() override;
    void PumpAll() override;
    bool PumpWait(int32_t ms) override;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    struct Pass {
        bool watching = false;
        bool escapeSeen = false;
        QObject* loop = nullptr;  // a waiting event loop to end on Escape
    };
    Pass pass_;
};

// QFileDialog (Qt's own widgets, so it behaves the same on every desktop and headless).
class QtFileDialogProvider : public FileDialogProvider {
  public:
    bool Choose(const FileDialogRequest& request, std::string& chosen) override;
};

// QFontMetrics of the painter's font, or of the application font without a painter.
class QtTextExtentProvider : public TextExtentProvider {
  public:
    uint32_t Extent(HDC dc, const char* text, int count) override;
};

// The Qt filter text for a request's (description, pattern) pairs; "*.*" means every file.
QString QtFilterText(const FileDialogRequest& request);

// Installs all four providers (a QApplication must exist).
void InstallQtProviders();
