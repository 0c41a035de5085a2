#include "runtime/core/internal/core.h"

#include <gtest/gtest.h>

#include <string>

namespace {

bool VariableExists(const wchar_t* name) {
    SetLastError(0);
    wchar_t buffer[4];
    const DWORD size = GetEnvironmentVariableW(name, buffer, 4);
    return size != 0 || GetLastError() != ERROR_ENVVAR_NOT_FOUND;
}

} // namespace

TEST(Environment, GetSetAndUnset) {
    const wchar_t* name = L"KESTREVEL_TEST_VARIABLE";
    Env_Unset(name);
    RtStringOwner missing(Env_Get(name));
    EXPECT_STREQ(missing.get(), L"");
    EXPECT_FALSE(VariableExists(name));

    const std::wstring long_value(300, L'é');
    EXPECT_TRUE(Env_Set(name, long_value.c_str()));
    const size_t before = String_Position();
    RtStringOwner value(Env_Get(name));
    EXPECT_EQ(std::wstring(value.get()), long_value);
    EXPECT_EQ(String_Position(), before) << "a string result gives the workspace back";

    // Names are matched regardless of case.
    RtStringOwner other_case(Env_Get(L"kestrevel_test_variable"));
    EXPECT_EQ(std::wstring(other_case.get()), long_value);

    EXPECT_TRUE(Env_Set(name, nullptr));
    EXPECT_TRUE(VariableExists(name)) << "a null value leaves the variable present";
    RtStringOwner empty(Env_Get(name));
    EXPECT_STREQ(empty.get(), L"");

    Env_Unset(name);
    EXPECT_FALSE(VariableExists(name));
    RtStringOwner gone(Env_Get(name));
    EXPECT_STREQ(gone.get(), L"");

    EXPECT_FALSE(Env_Set(nullptr, L"x"));
    Env_Unset(nullptr);
}
