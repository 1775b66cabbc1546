#include "studio/compressor_choice.h"

#include "render/compressor.h"

std::shared_ptr<void> ScriptCompressorChoice(const std::string& code, int quality) {
    auto previous = SetCompressorDialogProvider(std::make_shared<ScriptedCompressorChoice>(code, quality));
    return std::shared_ptr<void>(nullptr, [previous](void*) { SetCompressorDialogProvider(previous); });
}
