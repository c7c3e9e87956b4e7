// x86 CALL translation: relative call targets become absolute ones so that
// repeated calls to one function look alike. Decoders undo it per frame.
#pragma once

#include <cstdint>

namespace kp::cab::lzx {

// Translates one frame in place. frameOffset is the frame's position in the
// folder's stream; frames at or past the decoders' frame limit, and frames of
// ten bytes or less, stay as they are.
void e8Translate(std::uint8_t* frame, std::uint32_t size, std::uint32_t frameOffset,
                 std::int32_t translationSize);

} // namespace kp::cab::lzx
