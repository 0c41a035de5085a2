#include "app/app.h"
#include "runtime/gui/gui.h"
#include "runtime/process/process.h"

namespace {

constexpr int64_t kMainWindow = 0;
constexpr int64_t kLegacyButton = 0;
constexpr int64_t kStandardButton = 1;
// A captioned window with a close box, without a sizing frame or minimise and maximise boxes,
// centred on the screen once it is made (the position asked for is never seen).
constexpr uint32_t kMainWindowFlags = WS_CAPTION | WS_SYSMENU | WINDOW_CENTER_ON_SCREEN;
constexpr int32_t kWindowX = 100;
constexpr int32_t kWindowY = 100;
constexpr int32_t kClientWidth = 250;
constexpr int32_t kClientHeight = 70;
// The two buttons fill the client area's width, one above the other.
constexpr int32_t kButtonX = 1;
constexpr int32_t kButtonWidth = 248;
constexpr int32_t kButtonHeight = 30;
constexpr int32_t kLegacyButtonY = 1;
constexpr int32_t kStandardButtonY = 35;

constexpr wchar_t kTitle[] = L"Kestrevel";
constexpr wchar_t kLegacyText[] = L"Activer le mode classique F8";
constexpr wchar_t kStandardText[] = L"Désactiver le mode classique F8";
constexpr wchar_t kEnabledVerdict[] = L"L'activation du menu du mode sans echec via F8 est activé";
constexpr wchar_t kDisabledVerdict[] =
    L"L'activation du menu du mode sans echec via F8 est désactivé";
constexpr wchar_t kFailureVerdict[] =
    L"Opération impossible, vous devez avoir les droits administrateurs";
constexpr wchar_t kCredit[] = L"Kestrevel, par l'équipe Kestrevel. Merci de l'avoir utilisé !";
constexpr uint32_t kPlainBox = MB_OK;

// Runs one switch and shows its verdict while the window is out of the way.
void SwitchAndReport(int64_t policy, const wchar_t* success_text) {
    AppState& state = App_State();
    const int64_t result = PolicySwitch(policy);
    String_Free(state.message_text);
    state.message_text = String_Copy(result == 1 ? success_text : kFailureVerdict);

    Window_Hide(kMainWindow, 1);
    Requester_Message(kInfoTitle, state.message_text, kPlainBox);
    Window_Hide(kMainWindow, 0);
    // The tool's handles go after every verdict; a launch that started nothing left 0.
    if (Program_IsValid(state.program)) {
        Program_Release(state.program);
    }
    state.program = 0;
}

} // namespace

void MainWindow_Run() {
    AppState& state = App_State();
    const int64_t window = Window_Open(kMainWindow, kWindowX, kWindowY, kClientWidth, kClientHeight,
                                       kTitle, kMainWindowFlags);
    Window_SetTopmost(kMainWindow, 1);
    Button_Create(kLegacyButton, kButtonX, kLegacyButtonY, kButtonWidth, kButtonHeight,
                  kLegacyText);
    Button_Create(kStandardButton, kButtonX, kStandardButtonY, kButtonWidth, kButtonHeight,
                  kStandardText);

    // Without a window no close event could ever come: go straight to the credit.
    if (window) {
        do {
            state.current_event = Event_Wait();
            state.current_gadget = Event_Gadget();
            // Only a click is a choice. A button also reports focus changes and double clicks
            // once it has BS_NOTIFY, which another program can set, and hiding and showing the
            // window around a verdict moves the focus: none of that may run a switch.
            const bool clicked = Event_Type() == BN_CLICKED;
            if (state.current_event == EVENT_GADGET && clicked) {
                if (state.current_gadget == kLegacyButton) {
                    SwitchAndReport(POLICY_LEGACY, kEnabledVerdict);
                } else if (state.current_gadget == kStandardButton) {
                    SwitchAndReport(POLICY_STANDARD, kDisabledVerdict);
                }
            }
        } while (state.current_event != EVENT_CLOSE_WINDOW);
    }
    Requester_Message(kInfoTitle, kCredit, kInformationBox);
}
