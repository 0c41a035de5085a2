// The command line handed to CreateProcessW and the folder handed to the shell.
#include "runtime/process/internal/process.h"

#include <cwchar>

namespace {

// Two quotes around the path, one blank before the parameters and the terminator, at most.
constexpr size_t kCommandLineExtraUnits = 4;

} // namespace

wchar_t* Program_BuildCommandLine(const wchar_t* program_path, const wchar_t* parameters) {
    const wchar_t* path = program_path ? program_path : L"";
    const wchar_t* params = parameters ? parameters : L"";
    const size_t path_length = std::wcslen(path);
    const size_t params_length = std::wcslen(params);
    const size_t units = path_length + params_length + kCommandLineExtraUnits;
    auto* line = static_cast<wchar_t*>(Runtime_Alloc(units * sizeof(wchar_t)));
    if (!line) {
        return nullptr;
    }
    wchar_t* end = line;
    // A path that is already quoted is the caller's to get right; any other one is quoted so
    // that blanks in it do not split it.
    if (path[0] == L'"') {
        end = std::wmemcpy(end, path, path_length) + path_length;
    } else {
        *end++ = L'"';
        end = std::wmemcpy(end, path, path_length) + path_length;
        *end++ = L'"';
    }
    if (params_length) {
        *end++ = L' ';
        end = std::wmemcpy(end, params, params_length) + params_length;
    }
    *end = L'\0';
    return line;
}

const wchar_t* Program_ShellFolder(const wchar_t* program_path, wchar_t* buffer) {
    const wchar_t* path = program_path ? program_path : L"";
    // The first character is not looked at, so "\file" gives no folder rather than "\".
    for (size_t index = std::wcslen(path); index > 1; --index) {
        if (path[index - 1] == L'\\') {
            std::wmemcpy(buffer, path, index);
            buffer[index] = L'\0';
            return buffer;
        }
    }
    return nullptr;
}
