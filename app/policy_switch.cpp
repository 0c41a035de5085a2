// The program's one piece of work: run the boot-configuration tool hidden and read its verdict
// from what it writes.
#include "app/app.h"
#include "runtime/process/process.h"

namespace {

// Hidden, with a program object and its standard output in a pipe.
constexpr uint32_t kToolLaunchFlags = LAUNCH_HIDE | LAUNCH_OBJECT | LAUNCH_READ_OUTPUT;
constexpr wchar_t kSuccessMarker[] = L"ussi";
constexpr wchar_t kLineSeparator[] = L"\r";

const wchar_t* PolicyWord(int64_t policy) {
    switch (policy) {
    case POLICY_LEGACY:
        return L"legacy";
    case POLICY_STANDARD:
        return L"standard";
    default:
        return L"";
    }
}

// Collects every output line followed by a carriage return until the tool has ended and its
// output is drained. The text grows in place in the string workspace (each line is read at
// the position, then appended there), so long output costs no repeated copying.
RtString CollectOutput(intptr_t program) {
    const size_t mark = String_Position();
    while (Program_IsRunning(program)) {
        if (Program_AvailableOutput(program)) {
            RtStringOwner line(Program_ReadLine(program));
            String_Append(line.get(), String_Length(line.get()));
            String_Append(kLineSeparator, 1);
        }
    }
    return String_Finish(mark);
}

} // namespace

int64_t PolicySwitch(int64_t policy) {
    AppState& state = App_State();
    // Without the system folder there is no tool to run, and nothing else may stand in for it.
    if (!String_Length(state.tool_path)) {
        state.program = 0;
        return 0;
    }
    RtStringOwner parameters(String_Concat(state.argument_prefix, PolicyWord(policy)));
    // The tool starts in the system folder: the program's current folder is usually a download
    // folder, and nothing of it has any business with the boot configuration.
    state.program =
        Program_Launch(state.tool_path, parameters.get(), state.tool_folder, kToolLaunchFlags);
    if (!state.program) {
        return 0;
    }
    RtStringOwner collected(CollectOutput(state.program));
    // Case matters and the whole text is searched; the object stays for the caller to release.
    return String_Find(collected.get(), kSuccessMarker, 0) > 0 ? 1 : 0;
}
