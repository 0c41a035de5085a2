#include "app/app.h"

#include <gtest/gtest.h>

#include <string>

TEST(Startup, VersionGateRefusesWindowsSevenAndOlder) {
    for (int64_t refused : {5, 10, 20, 30, 40, 50, 60, 65, 70, 75, 80}) {
        EXPECT_FALSE(App_VersionGatePasses(refused)) << refused;
    }
    for (int64_t passes : {85, 90, 95, 100, 105, 110, 200}) {
        EXPECT_TRUE(App_VersionGatePasses(passes)) << passes;
    }
}

TEST(Startup, ToolPathComesFromSystemRoot) {
    AppState& state = App_State();
    RtStringOwner saved(Env_Get(L"SystemRoot"));

    Env_Set(L"SYSTEMROOT", L"D:\\Win dows");
    App_BuildStrings();
    EXPECT_STREQ(state.tool_path, L"D:\\Win dows\\system32\\bcdedit.exe");
    EXPECT_STREQ(state.argument_prefix, L"/set {Default} bootmenupolicy ");
    EXPECT_EQ(String_Length(state.argument_prefix), 30u);

    Env_Unset(L"systemroot");
    App_BuildStrings();
    EXPECT_STREQ(state.tool_path, L"\\system32\\bcdedit.exe");

    Env_Set(L"systemroot", saved.get());
}
