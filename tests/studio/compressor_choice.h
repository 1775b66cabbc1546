// Scripts the "Choose Compressor" answer for storyboard tests (kept apart from the project headers,
// whose index flags the codec header also names).
#pragma once

#include <memory>
#include <string>

// Picks the compressor with that handler code and quality until the returned object goes.
std::shared_ptr<void> ScriptCompressorChoice(const std::string& code, int quality);
