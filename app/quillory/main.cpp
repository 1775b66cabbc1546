// Quillory, the desktop studio.
#include "media/fileio.h"
#include "quillory/startup.h"

int main(int argc, char** argv) {
    RaiseOpenFileLimit();
    return QuilloryMain(argc, argv);
}
