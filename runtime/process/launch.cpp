// Starting a child: directly with CreateProcessW on a command line of our own, or through the
// shell when that fails and no stream was asked for.
#include "runtime/core/internal/owners.h"
#include "runtime/process/internal/test_seams.h"

#include <shellapi.h>

#include <algorithm>
#include <initializer_list>
#include <utility>

namespace {

// The two ends of one anonymous pipe; our end is the one the program object keeps.
struct PipeEnds {
    UniqueHandle read;
    UniqueHandle write;
};

// A program object that goes back to the heap unless the launch hands it out.
class ReservedObject {
  public:
    explicit ReservedObject(bool wanted) : object_(wanted ? Program_NewObject() : nullptr) {}
    ~ReservedObject() {
        if (object_) {
            Program_DropObject(object_);
        }
    }
    ReservedObject(const ReservedObject&) = delete;
    ReservedObject& operator=(const ReservedObject&) = delete;
    ProgramObject* get() const { return object_; }
    ProgramObject* release() { return std::exchange(object_, nullptr); }

  private:
    ProgramObject* object_;
};

constexpr DWORD kShellMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_NOASYNC | SEE_MASK_FLAG_NO_UI;

bool Has(uint32_t flags, uint32_t flag) {
    return (flags & flag) != 0;
}

// The child's standard streams and how CreateProcessW is asked to start it.
struct ChildSetup {
    STARTUPINFOEXW startup;
    DWORD creation_flags;
    BOOL inherit_handles;

    STARTUPINFOW& info() { return startup.StartupInfo; }
    // A redirected stream needs inheritable handles, and a new console would not see them.
    void Redirect() {
        info().dwFlags |= STARTF_USESTDHANDLES;
        inherit_handles = TRUE;
        creation_flags &= ~static_cast<DWORD>(CREATE_NEW_CONSOLE);
    }
};

bool IsInheritable(HANDLE handle) {
    DWORD flags = 0;
    return handle && handle != INVALID_HANDLE_VALUE && GetHandleInformation(handle, &flags) &&
           (flags & HANDLE_FLAG_INHERIT);
}

// The handles a child may inherit: its standard streams and nothing else, so that no other
// inheritable handle of this process (another child's pipe, a file, an event) reaches it.
class InheritList {
  public:
    InheritList() = default;
    ~InheritList() {
        if (attributes_) {
            DeleteProcThreadAttributeList(attributes_);
            Runtime_Free(attributes_);
        }
    }
    InheritList(const InheritList&) = delete;
    InheritList& operator=(const InheritList&) = delete;

    // Lists the inheritable ones among the child's standard handles and puts the list into the
    // start-up information. False when the list cannot be made.
    bool Apply(ChildSetup& child) {
        const STARTUPINFOW& info = child.info();
        for (HANDLE handle : {info.hStdInput, info.hStdOutput, info.hStdError}) {
            if (IsInheritable(handle) &&
                std::find(handles_, handles_ + count_, handle) == handles_ + count_) {
                handles_[count_++] = handle;
            }
        }
        if (!count_) {
            child.inherit_handles = FALSE; // nothing the child needs is inheritable
            return true;
        }
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        attributes_ = static_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(Runtime_Alloc(size));
        if (!attributes_ || !InitializeProcThreadAttributeList(attributes_, 1, 0, &size)) {
            Runtime_Free(attributes_);
            attributes_ = nullptr;
            return false;
        }
        if (!UpdateProcThreadAttribute(attributes_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_,
                                       count_ * sizeof(HANDLE), nullptr, nullptr)) {
            return false;
        }
        child.info().cb = sizeof(STARTUPINFOEXW);
        child.startup.lpAttributeList = attributes_;
        child.creation_flags |= EXTENDED_STARTUPINFO_PRESENT;
        return true;
    }

  private:
    LPPROC_THREAD_ATTRIBUTE_LIST attributes_ = nullptr;
    HANDLE handles_[3] = {};
    size_t count_ = 0;
};

PipeMaker pipe_maker = CreatePipe;

// Redirects one of the child's streams to a new pipe. The end the program object keeps is
// protected so that later children do not inherit it, or EOF would never reach us; the other end
// is the child's. False when the pipe cannot be made.
bool RedirectToPipe(ChildSetup& child, PipeEnds& pipe, bool we_write, HANDLE* child_end) {
    SECURITY_ATTRIBUTES inheritable{.nLength = sizeof(SECURITY_ATTRIBUTES),
                                    .lpSecurityDescriptor = nullptr,
                                    .bInheritHandle = TRUE};
    if (!pipe_maker(pipe.read.put(), pipe.write.put(), &inheritable, 0)) {
        return false;
    }
    Program_ProtectHandle(we_write ? pipe.write.address() : pipe.read.address());
    *child_end = we_write ? pipe.read.get() : pipe.write.get();
    child.Redirect();
    return true;
}

// Hands the child the output pipe of an earlier program. Our end of that pipe is not
// inheritable, so the child gets an inheritable duplicate of it, which we close once it has
// started; the sender keeps its own handle.
HANDLE ChainedInput(intptr_t sender_program, UniqueHandle& duplicate) {
    const ProgramObject* sender = Program_Find(sender_program);
    if (!sender || !sender->output_pipe) {
        return nullptr;
    }
    if (DuplicateHandle(GetCurrentProcess(), sender->output_pipe, GetCurrentProcess(),
                        duplicate.put(), 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return duplicate.get();
    }
    return sender->output_pipe;
}

void FillObject(ProgramObject* object, HANDLE process, DWORD process_id, HANDLE input,
                HANDLE output, HANDLE errors, uint32_t flags) {
    object->process = process;
    object->process_id = process_id;
    object->input_pipe = input;
    object->output_pipe = output;
    object->error_pipe = errors;
    object->flags = flags;
}

// The pipes of one launch and the duplicate of a chained sender's output.
struct ChildStreams {
    PipeEnds input;
    PipeEnds output;
    PipeEnds errors;
    UniqueHandle chained_input;

    // The child's ends go once it has started, so that its exit brings EOF to our read ends.
    void CloseChildEnds() {
        output.write.reset();
        input.read.reset();
        errors.write.reset();
        chained_input.reset();
    }
};

// Connects the child's standard streams as the flags ask. False when a pipe that was asked for
// cannot be made: the child would then run with output that nobody reads, and its work would be
// reported as a failure.
bool ConnectStreams(ChildSetup& child, ChildStreams& streams, uint32_t flags,
                    intptr_t sender_program) {
    STARTUPINFOW& info = child.info();
    const bool keep_object = Has(flags, LAUNCH_OBJECT);
    HANDLE sender_output =
        Has(flags, LAUNCH_CHAIN) ? ChainedInput(sender_program, streams.chained_input) : nullptr;
    if (sender_output) {
        info.hStdInput = sender_output;
        child.Redirect();
    } else if (keep_object && Has(flags, LAUNCH_WRITE_INPUT) &&
               !RedirectToPipe(child, streams.input, true, &info.hStdInput)) {
        return false;
    }
    if (keep_object && Has(flags, LAUNCH_READ_OUTPUT) &&
        !RedirectToPipe(child, streams.output, false, &info.hStdOutput)) {
        return false;
    }
    if (keep_object && Has(flags, LAUNCH_READ_ERRORS) &&
        !RedirectToPipe(child, streams.errors, false, &info.hStdError)) {
        return false;
    }
    // The streams that are not redirected stay the caller's own.
    if (info.dwFlags & STARTF_USESTDHANDLES) {
        info.hStdInput = info.hStdInput ? info.hStdInput : GetStdHandle(STD_INPUT_HANDLE);
        info.hStdOutput = info.hStdOutput ? info.hStdOutput : GetStdHandle(STD_OUTPUT_HANDLE);
        info.hStdError = info.hStdError ? info.hStdError : GetStdHandle(STD_ERROR_HANDLE);
    }
    return true;
}

// A started child: its ends of the pipes and its thread handle go, and the program object (when
// one is wanted) takes its process handle and our ends.
intptr_t HandOver(const PROCESS_INFORMATION& started, ChildStreams& streams, uint32_t flags,
                  ReservedObject& object) {
    UniqueHandle process(started.hProcess);
    streams.CloseChildEnds();
    CloseHandle(started.hThread);
    if (Has(flags, LAUNCH_WAIT)) {
        WaitForSingleObject(process.get(), INFINITE);
    }
    if (!Has(flags, LAUNCH_OBJECT)) {
        return 1;
    }
    FillObject(object.get(), process.release(), started.dwProcessId, streams.input.write.release(),
               streams.output.read.release(), streams.errors.read.release(), flags);
    return reinterpret_cast<intptr_t>(object.release());
}

// The shell is loaded only when a launch falls back to it: it is a large library that the
// program's own launches never need, and loading it with the program would slow every start.
using ShellExecuteProc = BOOL(WINAPI*)(SHELLEXECUTEINFOW*);
ShellExecuteProc shell_execute = nullptr;

BOOL ShellExecute(SHELLEXECUTEINFOW* shell) {
    if (!shell_execute) {
        shell_execute = Runtime_Proc<ShellExecuteProc>(Runtime_LoadSystemLibrary(L"shell32.dll"),
                                                       "ShellExecuteExW");
    }
    return shell_execute ? shell_execute(shell) : FALSE;
}

intptr_t LaunchThroughShell(const wchar_t* path, const wchar_t* parameters, const wchar_t* folder,
                            wchar_t* folder_buffer, int show, uint32_t flags,
                            ReservedObject& object) {
    if (!folder) {
        folder = Program_ShellFolder(path, folder_buffer);
    }
    SHELLEXECUTEINFOW shell{.cbSize = sizeof(SHELLEXECUTEINFOW),
                            .fMask = kShellMask,
                            .hwnd = nullptr,
                            .lpVerb = nullptr,
                            .lpFile = path,
                            .lpParameters = parameters,
                            .lpDirectory = folder,
                            .nShow = show};
    if (!ShellExecute(&shell)) {
        return 0;
    }
    // The shell may hand the document to a program that was already running and give no
    // process handle; the object then reports a child that has ended.
    UniqueHandle process(shell.hProcess);
    if (Has(flags, LAUNCH_WAIT) && process.get()) {
        WaitForSingleObject(process.get(), INFINITE);
    }
    if (!Has(flags, LAUNCH_OBJECT)) {
        return 1;
    }
    FillObject(object.get(), process.release(), PROGRAM_SHELL_PROCESS_ID, nullptr, nullptr, nullptr,
               flags);
    return reinterpret_cast<intptr_t>(object.release());
}

} // namespace

void Program_ProtectHandle(HANDLE* handle) {
    HANDLE duplicate = nullptr;
    if (DuplicateHandle(GetCurrentProcess(), *handle, GetCurrentProcess(), &duplicate, 0, FALSE,
                        DUPLICATE_SAME_ACCESS)) {
        CloseHandle(*handle);
        *handle = duplicate;
    }
}

PipeMaker& Program_PipeMakerSeam() {
    return pipe_maker;
}

intptr_t Program_Launch(const wchar_t* program_path, const wchar_t* parameters,
                        const wchar_t* working_folder, uint32_t flags, intptr_t sender_program) {
    const wchar_t* path = program_path ? program_path : L"";
    const wchar_t* params = parameters ? parameters : L"";
    const wchar_t* folder = working_folder && working_folder[0] ? working_folder : nullptr;
    const bool keep_object = Has(flags, LAUNCH_OBJECT);

    const int show = Has(flags, LAUNCH_HIDE) ? SW_HIDE : SW_SHOWNORMAL;
    ChildSetup child{.startup = {.StartupInfo = {.cb = sizeof(STARTUPINFOW),
                                                 .dwFlags = STARTF_USESHOWWINDOW,
                                                 .wShowWindow = static_cast<WORD>(show)}},
                     .creation_flags = Has(flags, LAUNCH_HIDE)
                                           ? DWORD{NORMAL_PRIORITY_CLASS | CREATE_NEW_CONSOLE}
                                           : DWORD{NORMAL_PRIORITY_CLASS},
                     .inherit_handles = FALSE};
    // Every handle made from here on closes on return unless it is handed out.
    ChildStreams streams;
    if (!ConnectStreams(child, streams, flags, sender_program)) {
        return 0;
    }

    // Both records are had before anything starts, so that a heap that cannot give them never
    // leaves a child running that nobody tracks.
    const RuntimeBlock<wchar_t> command_line(Program_BuildCommandLine(path, params));
    ReservedObject object(keep_object);
    InheritList inherit_list;
    if (!command_line.get() || (keep_object && !object.get()) ||
        (child.inherit_handles && !inherit_list.Apply(child))) {
        return 0;
    }

    PROCESS_INFORMATION started{};
    if (CreateProcessW(nullptr, command_line.get(), nullptr, nullptr, child.inherit_handles,
                       child.creation_flags, nullptr, folder, &child.info(), &started)) {
        return HandOver(started, streams, flags, object);
    }
    // Nothing started: the pipes made for it close on return (never the sender's handle), and
    // the shell, which cannot give streams, is tried only when none was asked for.
    if (flags & LAUNCH_STREAM_MASK) {
        return 0;
    }
    return LaunchThroughShell(path, params, folder, command_line.get(), show, flags, object);
}
