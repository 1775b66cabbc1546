// Quillory, the desktop studio.
#include "core/startup.h"

int main(int argc, char** argv) {
    return QuilloryMain(argc, argv);
}
