// Simulated message boxes: recorded for tests, handed to a presenter (the Linux
// main shows them on the terminal), answered with OK.
#include "platform/simulated/sim.h"
#include "platform/simulated/state.h"

namespace sim {
namespace {

struct UiState {
    std::vector<MessageBoxRecord> boxes;
};

UiState& Ui() {
    static UiState state;
    return state;
}

std::function<void(const MessageBoxRecord&)>& Presenter() {
    static std::function<void(const MessageBoxRecord&)> presenter;
    return presenter;
}

void ResetUi() { Ui() = UiState{}; }
detail::ResetRegistration resetUi(&ResetUi);
detail::FailableRegistration registerMessageBoxW("MessageBoxW");

}  // namespace

const std::vector<MessageBoxRecord>& MessageBoxes() { return Ui().boxes; }

void ClearMessageBoxes() { Ui().boxes.clear(); }

void SetMessageBoxPresenter(std::function<void(const MessageBoxRecord&)> presenter) {
    Presenter() = std::move(presenter);
}

}  // namespace sim

namespace win {

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    std::uint32_t error = 0;
    if (sim::detail::ShouldFail("MessageBoxW", ERROR_INVALID_PARAMETER, &error)) {
        SetLastError(error);
        return 0;
    }
    sim::MessageBoxRecord record;
    record.owner = owner;
    record.text = text == nullptr ? u"" : text;
    // A box without a caption is titled "Error", as the real one is.
    record.caption = caption == nullptr ? u"Error" : caption;
    record.style = type;
    record.threadLocale = GetThreadLocale();
    sim::Ui().boxes.push_back(record);
    if (sim::Presenter()) {
        sim::Presenter()(record);
    }
    return IDOK;
}

}  // namespace win
