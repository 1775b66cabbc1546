// Quillory, the desktop studio.
#include "quillory/startup.h"

int main(int argc, char** argv) {
    return QuilloryMain(argc, argv);
}
