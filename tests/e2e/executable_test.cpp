// What the built program carries in its headers: the mitigations it is linked with, and imports
// that leave no library to be found by a search that could reach the program's own folder.
#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <string_view>
#include <vector>

TEST(Executable, KeepsItsMitigationsAndImportsOnlyLibrariesTheSystemPins) {
    // Mapped as an image, so that its tables sit at their addresses; nothing of it runs.
    HMODULE image = LoadLibraryExW(driver::ProgramFile().c_str(), nullptr,
                                   LOAD_LIBRARY_AS_IMAGE_RESOURCE | LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(image, nullptr);
    const auto* base = reinterpret_cast<const BYTE*>(reinterpret_cast<ULONG_PTR>(image) & ~3ull);
    const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS64*>(
        base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
    // High-entropy ASLR, ASLR and NX; no link time stamp, so that a build can be repeated.
    EXPECT_EQ(headers->OptionalHeader.DllCharacteristics & 0x160, 0x160);
    EXPECT_EQ(headers->FileHeader.TimeDateStamp, 0u);

    // Libraries the system always takes from its own folder (known DLLs, and the common
    // controls, which the manifest names); any other library imported here would first be looked
    // for beside the program, where anyone may have put one. Libraries loaded at run time go
    // through LoadLibraryExW, never a plain search.
    const std::set<std::string> pinned = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                          "comctl32.dll", "ole32.dll",  "msvcrt.dll",
                                          "advapi32.dll"};
    const DWORD imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
    std::set<std::string> functions;
    for (const auto* library = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports);
         library->Name; ++library) {
        std::string name = reinterpret_cast<const char*>(base + library->Name);
        CharLowerA(name.data());
        EXPECT_TRUE(pinned.count(name)) << name;
        for (const auto* thunk =
                 reinterpret_cast<const IMAGE_THUNK_DATA64*>(base + library->OriginalFirstThunk);
             thunk->u1.AddressOfData; ++thunk) {
            if (!IMAGE_SNAP_BY_ORDINAL64(thunk->u1.Ordinal)) {
                functions.insert(
                    reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + thunk->u1.AddressOfData)
                        ->Name);
            }
        }
    }
    EXPECT_TRUE(functions.count("LoadLibraryExW"));
    // The stack cookies' guard comes from the system's random source, looked up by name; no
    // cryptographic provider is loaded for it.
    EXPECT_FALSE(functions.count("CryptAcquireContextA") || functions.count("CryptGenRandom"));
    const std::string_view mapped(reinterpret_cast<const char*>(base),
                                  headers->OptionalHeader.SizeOfImage);
    EXPECT_NE(mapped.find("SystemFunction036"), mapped.npos) << "built without stack cookies";
    for (const char* searching : {"LoadLibraryW", "LoadLibraryA", "LoadLibraryExA"}) {
        EXPECT_FALSE(functions.count(searching)) << searching;
    }

    // The version is the project's, in the manifest and in both forms of the version resource.
    const std::string version = KESTREVEL_VERSION ".0";
    HRSRC manifest = FindResourceW(image, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(manifest, nullptr);
    const std::string xml(static_cast<const char*>(LockResource(LoadResource(image, manifest))),
                          SizeofResource(image, manifest));
    EXPECT_NE(xml.find("name=\"Kestrevel.BootMenuSwitch\""), std::string::npos);
    EXPECT_NE(xml.find("version=\"" + version + "\""), std::string::npos) << xml;
    FreeLibrary(image);
    std::vector<BYTE> info(GetFileVersionInfoSizeW(driver::ProgramFile().c_str(), nullptr));
    ASSERT_TRUE(GetFileVersionInfoW(driver::ProgramFile().c_str(), 0,
                                    static_cast<DWORD>(info.size()), info.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    wchar_t* text = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    const auto quad = [](DWORD high, DWORD low) {
        return std::to_string(HIWORD(high)) + "." + std::to_string(LOWORD(high)) + "." +
               std::to_string(HIWORD(low)) + "." + std::to_string(LOWORD(low));
    };
    EXPECT_EQ(quad(fixed->dwFileVersionMS, fixed->dwFileVersionLS), version);
    EXPECT_EQ(quad(fixed->dwProductVersionMS, fixed->dwProductVersionLS), version);
    for (const wchar_t* name : {L"FileVersion", L"ProductVersion"}) {
        const std::wstring path = std::wstring(L"\\StringFileInfo\\000004b0\\") + name;
        ASSERT_TRUE(
            VerQueryValueW(info.data(), path.c_str(), reinterpret_cast<void**>(&text), &length));
        EXPECT_EQ(driver::Utf8(text), version);
    }
}

TEST(Executable, NoLibraryBesideTheProgramEverLoads) {
    if (!driver::RunningUnderWine()) {
        GTEST_SKIP() << "starts the elevated program, which only Wine does without asking";
    }
    // The library leaves its trace when it is loaded, or its absence would prove nothing.
    const std::wstring folder = driver::OwnFolder() + L"planted\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    const std::wstring probe = folder + L"probe.dll";
    ASSERT_TRUE(CopyFileW(driver::PlantedLibraryFile().c_str(), probe.c_str(), FALSE));
    FreeLibrary(LoadLibraryW(probe.c_str()));
    EXPECT_TRUE(DeleteFileW((probe + L".loaded").c_str())) << "no trace of a load";

    // A copy of the program in a folder of its own, as a download is, with the library beside
    // it under the name of the theme library, which the system loads while a program with
    // common controls starts; Wine keeps its own theme library whatever lies there, and looks
    // for it before the program's first instruction. So each window that a process makes also
    // looks for "kv_planted.dll" by a plain search, through a hook: the program's first window
    // (the post-event window) is made early in its start-up, and the search must be locked by
    // then. The stack cookies' random source is drawn even earlier, from a library of the system
    // folder that is not a known one.
    const std::wstring program = folder + L"Kestrevel.exe";
    const std::wstring traces[] = {folder + L"uxtheme.dll.loaded",
                                   folder + L"kv_planted.dll.loaded",
                                   folder + L"cryptbase.dll.loaded"};
    ASSERT_TRUE(CopyFileW(driver::ProgramFile().c_str(), program.c_str(), FALSE));
    for (const wchar_t* name : {L"uxtheme.dll", L"kv_planted.dll", L"cryptbase.dll"}) {
        ASSERT_TRUE(
            CopyFileW(driver::PlantedLibraryFile().c_str(), (folder + name).c_str(), FALSE));
    }
    HMODULE hook_library = LoadLibraryW(driver::PlantedLibraryFile().c_str());
    const auto search = reinterpret_cast<HOOKPROC>(
        reinterpret_cast<void*>(GetProcAddress(hook_library, "SearchOnWindowCreation")));
    HHOOK hook = SetWindowsHookExW(WH_CBT, search, hook_library, 0);
    ASSERT_NE(hook, nullptr);
    {
        driver::ChildProcess kestrevel;
        ASSERT_TRUE(kestrevel.Start(L"\"" + program + L"\"", folder.c_str()));
        HWND main = driver::WaitForWindow(kestrevel.id(), nullptr, L"Kestrevel", 20000);
        EXPECT_NE(main, nullptr);
        EXPECT_EQ(driver::WaitForChildren(main, L"Button", 2, 20000).size(), 2u);
        PostMessageW(main, WM_CLOSE, 0, 0);
        HWND credit = driver::WaitForWindow(kestrevel.id(), L"#32770", L"Info", 20000);
        EXPECT_NE(credit, nullptr);
        driver::Acknowledge(credit, 20000);
        EXPECT_EQ(kestrevel.WaitForExit(20000), 0);
    }
    UnhookWindowsHookEx(hook);
    FreeLibrary(hook_library);
    DeleteFileW((driver::PlantedLibraryFile() + L".loaded").c_str()); // the hook's own trace
    for (const std::wstring& trace : traces) {
        EXPECT_EQ(GetFileAttributesW(trace.c_str()), INVALID_FILE_ATTRIBUTES)
            << "a library beside the program was loaded: " << driver::Utf8(trace);
        DeleteFileW(trace.c_str());
    }
    for (const wchar_t* name :
         {L"Kestrevel.exe", L"uxtheme.dll", L"kv_planted.dll", L"cryptbase.dll", L"probe.dll"}) {
        DeleteFileW((folder + name).c_str());
    }
    RemoveDirectoryW(folder.c_str());
}
