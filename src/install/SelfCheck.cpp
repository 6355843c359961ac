#include "install/SelfCheck.h"

#include "base/BriefLock.h"
#include "install/ImageDigest.h"
#include "lang/LangUnit.h"
#include "os/os.h"

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr os::DWORD kReadBlockSize = 1U << 20;
constexpr os::DWORD kLongestPath = 32768; // what the wide-character API allows

// The stamp area: the marker by which the stamper finds this array in the linked image, then the
// slot it writes the digest into. Volatile so that the compiler neither copies the marker bytes
// into code (a second occurrence in the image) nor drops the array.
[[gnu::used]] const volatile std::uint8_t kStampArea[kStampMarkerSize + kStampSlotSize] = {
    kStampMarker[0],  kStampMarker[1],  kStampMarker[2],  kStampMarker[3],
    kStampMarker[4],  kStampMarker[5],  kStampMarker[6],  kStampMarker[7],
    kStampMarker[8],  kStampMarker[9],  kStampMarker[10], kStampMarker[11],
    kStampMarker[12], kStampMarker[13], kStampMarker[14], kStampMarker[15]};

StampMarker OwnMarker() {
    StampMarker marker;
    for (std::size_t i = 0; i < marker.size(); ++i) {
        marker[i] = kStampArea[i];
    }
    return marker;
}

using WideString = std::basic_string<os::WCHAR>;

// The path this process was started from, however long; empty when Windows cannot tell. Wide,
// because a folder named in another script than the ANSI code page's (a user's name, say) has
// no ANSI spelling that opens it.
WideString OwnModulePath() {
    for (os::DWORD capacity = os::MAX_PATH; capacity <= 2 * kLongestPath; capacity *= 2) {
        WideString path(capacity, os::WCHAR{});
        const os::DWORD length = os::GetModuleFileNameW(nullptr, path.data(), capacity);
        if (length == 0) {
            return {};
        }
        if (length < capacity) { // a cut path comes back filling the whole buffer
            path.resize(length);
            return path;
        }
    }
    return {};
}

bool DigestFile(os::HANDLE file, ImageDigester& digester) {
    std::vector<std::uint8_t> block(kReadBlockSize);
    for (;;) {
        os::DWORD bytesRead = 0;
        if (!os::ReadFile(file, block.data(), kReadBlockSize, &bytesRead, nullptr)) {
            return false;
        }
        if (bytesRead == 0) {
            return true;
        }
        digester.Update(block.data(), bytesRead);
    }
}

// The digest of the own executable; nothing when the file cannot be opened or read.
std::optional<ImageDigestResult> DigestOwnImage() {
    const WideString path = OwnModulePath();
    if (path.empty()) {
        return std::nullopt;
    }
    // A scanner may hold the freshly downloaded file for a moment without sharing reading.
    const os::ScopedFileHandle file = RetryWhileBrieflyLocked([&] {
        return os::ScopedFileHandle(os::CreateFileW(
            path.c_str(), os::GENERIC_READ, os::FILE_SHARE_READ | os::FILE_SHARE_WRITE, nullptr,
            os::OPEN_EXISTING, os::FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    });
    if (!file) {
        return std::nullopt;
    }
    ImageDigester digester(OwnMarker());
    if (!DigestFile(file.get(), digester)) {
        return std::nullopt;
    }
    return digester.Finish();
}

} // namespace

bool VerifyInstaller() {
    const std::optional<ImageDigestResult> result = DigestOwnImage();
    if (!result) {
        ShowLangError(GetLangLongText("verificationfail"));
        return false;
    }
    if (!IsIntact(*result)) {
        ShowLangError(GetLangLongText("badinstaller"));
        return false;
    }
    return true;
}
