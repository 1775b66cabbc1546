// ChooseFontA on Qt: one dialog holding Qt's font chooser and a colour choice. The chosen font is
// handed back as the LOGFONT fields the GDI stand-in draws titles with.
#pragma once

#include <QFont>
#include <memory>

#include "core/dialogs.h"

// The font as LOGFONT fields at the 96 dots per inch every stencil is drawn at: a negative height of
// the character height in pixels, the weight on the 100-900 scale, italic and underline 0 or 1, the
// point size in tenths; face names longer than 31 bytes are cut.
FontChoice FontChoiceFromQFont(const QFont& font, uint32_t colour, int32_t quality);
// The chooser's starting font for a choice: its face, the point size its height stands for (the
// kept point size when the height is not a character height), weight, italic and underline.
QFont QFontFromFontChoice(const FontChoice& choice);

class QtFontDialogProvider : public FontDialogProvider {
  public:
    bool Choose(const FontDialogRequest& request, FontChoice& chosen) override;
};

// Makes ChooseFontA show the Qt dialog.
void InstallQtFontChooser();
