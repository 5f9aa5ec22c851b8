#include "messages/report.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "app/entry.h"
#include "app/options.h"
#include "common/text.h"

std::u16string CurrentProductName;

namespace {

// Room the composed text has beyond its format, terminator included.
constexpr std::size_t kComposedExtraChars = 512;

constexpr win::UINT kErrorStyle = win::MB_OK | win::MB_ICONERROR | win::MB_SETFOREGROUND | win::MB_TOPMOST;
constexpr win::UINT kInformationStyle =
    win::MB_OK | win::MB_ICONINFORMATION | win::MB_SETFOREGROUND | win::MB_TOPMOST;

struct MessageLayout {
    unsigned captionId;
    win::UINT style;
    // The format's one placeholder ("%d" or "%s"), empty when the message takes no value.
    std::u16string_view placeholder;
};

MessageLayout LayoutOf(unsigned id) {
    switch (id) {
        case kMessageInstallProblem:
            return {kCaptionError, kErrorStyle, u"%d"};
        case kMessageInstalled:
            return {kCaptionSuccess, kInformationStyle, u"%s"};
        case kMessageUpToDate:
            return {kCaptionUnnecessary, kErrorStyle, u"%s"};
        case kMessageWrongVersion:
            return {kCaptionError, kErrorStyle, u"%s"};
        default:
            // 307, 309, 310 and anything else: the format alone, as an error.
            return {kCaptionError, kErrorStyle, u""};
    }
}

// The format with its first placeholder replaced by value, cut to maxChars
// units. The value is copied as it is: a "%" in it is never read as a format.
std::u16string Compose(const std::u16string& format, std::u16string_view placeholder,
                       std::u16string_view value, std::size_t maxChars) {
    std::u16string text;
    const std::size_t at = placeholder.empty() ? std::u16string::npos : format.find(placeholder);
    if (at == std::u16string::npos) {
        text = format;
    } else {
        text.append(format, 0, at);
        // No unit past maxChars survives the cut, so a longer value need not be copied.
        text.append(value.substr(0, maxChars));
        text.append(format, at + placeholder.size());
    }
    return std::u16string(CutWithoutSplittingPair(text, maxChars));
}

}  // namespace

int LoadResourceString(win::HINSTANCE module, unsigned id, std::u16string& text, int maxChars) {
    text.clear();
    // A buffer size of 0 would ask LoadStringW for a pointer instead of a copy.
    if (maxChars < 1) {
        return 0;
    }
    std::vector<char16_t> buffer(static_cast<std::size_t>(maxChars), u'\0');
    const int loaded = win::LoadStringW(module, id, buffer.data(), maxChars);
    if (loaded <= 0) {
        return 0;
    }
    const std::size_t length = std::min(static_cast<std::size_t>(loaded), buffer.size() - 1);
    text.assign(buffer.data(), length);
    return static_cast<int>(length);
}

void ReportMessage(unsigned id) {
    if (RunOptions.quiet) {
        return;
    }
    // Read first: the string loads below may change the last-error code.
    const win::DWORD lastError = win::GetLastError();
    const MessageLayout layout = LayoutOf(id);

    std::u16string format;
    LoadResourceString(InstanceHandle, id, format, kStringLoadChars);
    const std::size_t maxChars = format.size() + kComposedExtraChars - 1;
    std::u16string value;
    if (layout.placeholder == u"%d") {
        value = DecimalText(static_cast<win::LONG>(lastError));
    } else if (layout.placeholder == u"%s") {
        value = CurrentProductName;
    }
    const std::u16string text = Compose(format, layout.placeholder, value, maxChars);

    std::u16string caption;
    LoadResourceString(InstanceHandle, layout.captionId, caption, kStringLoadChars);
    win::MessageBoxW(nullptr, text.c_str(), caption.c_str(), layout.style);
}
