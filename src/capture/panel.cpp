#include "capture/panel.h"

#include <algorithm>

#include "capture/capfile.h"
#include "capture/capsettings.h"
#include "capture/session.h"
#include "core/diag.h"
#include "core/format.h"
#include "settings/settings.h"

std::atomic<int32_t>& gCapturing = CaptureSession::Get().capturing;
char (&gLastCapturedFile)[200] = CaptureSession::Get().lastCapturedFile;
PanelRect& gPictureRect = CaptureSession::Get().pictureRect;
PanelRect& gLastPlacement = CaptureSession::Get().lastPlacement;

int32_t LitSegments(int32_t level) {
    if (level < 1) return 0;
    return std::min(level / 10, kLevelSegments - 1) + 1;
}

int32_t SegmentX(bool left, int32_t segment) {
    return left ? 170 - 12 * segment : 190 + 12 * segment;
}

uint32_t SegmentColour(int32_t segment, bool lit) {
    if (segment >= 8) return lit ? 0x0000FF : 0x000088;
    return lit ? 0x00FF00 : 0x008800;
}

bool CaptureFileNamed() {
    if (gSettings.CapFile[0] && gSettings.CapFile[0] != ' ') return true;
    NotifyBox("No capture file specified\nOne must be specified before capturing");
    return false;
}

void PanelStartCapture(HWND panel, HWND video) {
    gCapturing = 1;
    CurrentCaptureUi().ShowLine(panel, 0, "STREAMING CAPTURE", kLcdBanner);
    CaptureSession::Get().secondDisplayTarget = panel;
    MyCapVideo(panel, video);
}

void PanelStopCapture(HWND panel, HWND video) {
    CaptureSession::Get().secondDisplayTarget = nullptr;
    gCapturing = 0;
    SendCap(WM_CAP_STOP);
    EndCap(panel, video);
    CopyCut(gLastCapturedFile, sizeof gLastCapturedFile, gSettings.CapFile);
    ShowPanelSettingsLine(panel);
    ApplyDisplayMode();
    CurrentCaptureUi().Repaint(video);
}

void RefreshPanelLines(HWND panel) {
    ShowPanelCapFileLines(panel);
    CurrentCaptureUi().ShowLine(panel, 5, CapFileContentText(ReadCapFileContent(), true), kLcdGreen);
    ShowPanelSettingsLine(panel);
}

void PanelSetUp(HWND panel) {
    MySetCapSettings(panel, true);
    if (ghWndCap) {
        RefreshCaptureStatus();
        if (gCapStatus.fAudioHardware && SendCap(WM_CAP_GET_AUDIOFORMAT) > 0)
            SetAudioFormatFromSettings();
        else
            gSettings.Arate = 0;
    }
    RefreshPanelLines(panel);
}
