// What the built program carries in its headers: the mitigations it is linked with, and imports
// that leave no library to be found by a search that could reach the program's own folder.
#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

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
                                          "comctl32.dll", "ole32.dll",  "msvcrt.dll"};
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
    for (const char* searching : {"LoadLibraryW", "LoadLibraryA", "LoadLibraryExA"}) {
        EXPECT_FALSE(functions.count(searching)) << searching;
    }
    FreeLibrary(image);
}
