// What the built program carries in its headers: the mitigations it is linked with, and imports
// that leave no library to be found by a search that could reach the program's own folder.
#include "support/window_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>

namespace {

// The program's file and its headers, with RVAs turned into file offsets.
class PortableExecutable {
  public:
    explicit PortableExecutable(const std::wstring& path) : bytes_(driver::FileBytes(path)) {
        const auto* dos = At<IMAGE_DOS_HEADER>(0);
        if (!dos || dos->e_magic != IMAGE_DOS_SIGNATURE) {
            return;
        }
        headers_ = At<IMAGE_NT_HEADERS64>(static_cast<size_t>(dos->e_lfanew));
        if (headers_ && headers_->Signature != IMAGE_NT_SIGNATURE) {
            headers_ = nullptr;
        }
    }
    const IMAGE_NT_HEADERS64* headers() const { return headers_; }

    template <typename T> const T* At(size_t offset) const {
        return offset + sizeof(T) <= bytes_.size()
                   ? reinterpret_cast<const T*>(bytes_.data() + offset)
                   : nullptr;
    }
    template <typename T> const T* AtRva(DWORD rva) const {
        const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(headers_);
        for (WORD i = 0; i < headers_->FileHeader.NumberOfSections; ++i, ++section) {
            if (rva >= section->VirtualAddress &&
                rva < section->VirtualAddress + section->Misc.VirtualSize) {
                return At<T>(rva - section->VirtualAddress + section->PointerToRawData);
            }
        }
        return nullptr;
    }
    std::string NameAt(DWORD rva) const {
        const char* name = AtRva<char>(rva);
        return name ? std::string(name, strnlen(name, bytes_.size() - (name - bytes_.data())))
                    : std::string();
    }

  private:
    std::string bytes_;
    const IMAGE_NT_HEADERS64* headers_ = nullptr;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

} // namespace

TEST(Executable, KeepsItsMitigationsAndImportsOnlyLibrariesTheSystemPins) {
    const PortableExecutable program(driver::ProgramFile());
    const IMAGE_NT_HEADERS64* headers = program.headers();
    ASSERT_NE(headers, nullptr);
    // High-entropy ASLR, ASLR and NX; no link time stamp, so that a build can be repeated.
    EXPECT_EQ(headers->OptionalHeader.DllCharacteristics & 0x160, 0x160);
    EXPECT_EQ(headers->FileHeader.TimeDateStamp, 0u);

    // Libraries the system always takes from its own folder (known DLLs, and the common
    // controls, which the manifest names); any other library imported here would first be looked
    // for beside the program, where anyone may have put one. Libraries loaded at run time go
    // through LoadLibraryExW, never a plain search.
    const std::set<std::string> pinned = {"kernel32.dll", "user32.dll", "gdi32.dll",
                                          "comctl32.dll", "ole32.dll",  "msvcrt.dll"};
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    const auto* library = program.AtRva<IMAGE_IMPORT_DESCRIPTOR>(imports.VirtualAddress);
    ASSERT_NE(library, nullptr);
    std::set<std::string> functions;
    for (; library && library->Name; ++library) {
        EXPECT_TRUE(pinned.count(Lower(program.NameAt(library->Name))))
            << program.NameAt(library->Name);
        for (const auto* thunk = program.AtRva<IMAGE_THUNK_DATA64>(library->OriginalFirstThunk);
             thunk && thunk->u1.AddressOfData; ++thunk) {
            if (!IMAGE_SNAP_BY_ORDINAL64(thunk->u1.Ordinal)) {
                functions.insert(program.NameAt(static_cast<DWORD>(thunk->u1.AddressOfData) + 2));
            }
        }
    }
    EXPECT_TRUE(functions.count("LoadLibraryExW"));
    for (const char* searching : {"LoadLibraryW", "LoadLibraryA", "LoadLibraryExA"}) {
        EXPECT_FALSE(functions.count(searching)) << searching;
    }
}
