// libFuzzer target: any bytes as an animation clip. The reader must refuse them or
// play every frame without stepping outside the bytes or the picture.
#include "AviClip.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::optional<kp::AviClip> clip = kp::AviClip::Parse({data, size});
    if (!clip) {
        return 0;
    }
    kp::AviCanvas canvas(*clip);
    canvas.ShowFrame(clip->FrameCount() - 1);
    canvas.ShowFrame(0);
    if (clip->FrameCount() > 1) {
        canvas.ShowFrame(1);
    }
    const auto pixels =
        static_cast<std::size_t>(clip->Width()) * static_cast<std::size_t>(clip->Height());
    if (canvas.Pixels().size() != pixels || clip->Palette().size() != 256) {
        std::abort();
    }
    return 0;
}
