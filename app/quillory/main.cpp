// Quillory, the desktop studio.
#include "capture/capture_gui.h"
#include "core/startup.h"

int main(int argc, char** argv) {
    // Cameras and microphones are capture drivers 1-9 beside the built-in test pattern.
    InstallCameraDrivers();
    return QuilloryMain(argc, argv);
}
