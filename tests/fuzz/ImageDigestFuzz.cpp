// Arbitrary files through the integrity stamp's digest: no crash, the same answer whatever the
// read size, and a file stamped with its digest then verifies.
#include "install/ImageDigest.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t piece = 1 + static_cast<std::size_t>(data[0]) * 37;
    const std::uint8_t* image = data + 1;
    const std::size_t length = size - 1;

    const ImageDigestResult whole = DigestImage(image, length, kStampMarker);
    ImageDigester streamed(kStampMarker);
    for (std::size_t at = 0; at < length; at += piece) {
        streamed.Update(image + at, std::min(piece, length - at));
    }
    const ImageDigestResult parts = streamed.Finish();
    if (whole.status != parts.status || whole.isPe != parts.isPe || whole.digest != parts.digest ||
        whole.storedDigest != parts.storedDigest) {
        std::abort();
    }

    if (whole.status == ImageStatus::Ok) {
        std::vector<std::uint8_t> stamped(image, image + length);
        std::memcpy(stamped.data() + whole.slotOffset, whole.digest.data(), kStampSlotSize);
        if (!IsIntact(DigestImage(stamped.data(), stamped.size(), kStampMarker))) {
            std::abort();
        }
    }
    return 0;
}
