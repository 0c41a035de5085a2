#include "app/app.h"
#include "process_helpers.h"
#include "runtime/process/internal/test_seams.h"
#include "support/scoped_seam.h"

#include <gtest/gtest.h>

#include <string>

using process_test::ScopedVariable;
using process_test::StandinPath;
using process_test::TempFile;
using process_test::ToolPath;
using process_test::Utf8;

namespace {

BOOL WINAPI NoPipe(PHANDLE, PHANDLE, LPSECURITY_ATTRIBUTES, DWORD) {
    SetLastError(ERROR_NO_SYSTEM_RESOURCES);
    return FALSE;
}

// Points the tool path at the stand-in for one test and puts the program's own back afterwards.
class PolicySwitchTest : public testing::Test {
  protected:
    void TearDown() override { ReleaseProgram(); }

    void ReleaseProgram() {
        AppState& state = App_State();
        if (Program_IsValid(state.program)) {
            Program_Release(state.program);
        }
        state.program = 0;
    }
    // One switch with the stand-in writing `output` (stand-in escapes); the program object is
    // checked and released.
    int64_t SwitchWith(const wchar_t* output, int64_t policy = POLICY_LEGACY) {
        ScopedVariable text(L"KV_STANDIN_OUTPUT", output);
        ScopedVariable mode(L"KV_STANDIN_MODE", L"silent");
        return SwitchAndRelease(policy);
    }
    int64_t SwitchInMode(const wchar_t* mode, int64_t policy = POLICY_LEGACY) {
        ScopedVariable setting(L"KV_STANDIN_MODE", mode);
        return SwitchAndRelease(policy);
    }
    int64_t SwitchAndRelease(int64_t policy) {
        int64_t result = 0;
        {
            process_test::Watchdog watchdog(&App_State().program, 20000);
            result = PolicySwitch(policy);
            if (const char* fault = watchdog.fault()) {
                ADD_FAILURE() << fault;
            }
        }
        const intptr_t program = App_State().program;
        EXPECT_NE(program, 0);
        EXPECT_EQ(Program_IsValid(program), program) << "the object is left live";
        EXPECT_EQ(Program_IsRunning(program), 0) << "the tool has ended and was read to the end";
        ReleaseProgram();
        return result;
    }

    ToolPath tool_{StandinPath()};
    TempFile log_{L"kvp"};
    ScopedVariable log_setting_{L"KV_STANDIN_LOG", log_.path().c_str()};
};

} // namespace

TEST_F(PolicySwitchTest, VerdictFollowsTheSuccessMarker) {
    // The tool's own reports: a French success (in its OEM code page), a refusal, an English
    // success (no "ussi" in it), nothing at all.
    EXPECT_EQ(SwitchInMode(L"success-fr"), 1);
    EXPECT_EQ(SwitchInMode(L"success-fr", POLICY_STANDARD), 1);
    EXPECT_EQ(SwitchInMode(L"denied"), 0);
    EXPECT_EQ(SwitchInMode(L"success-en"), 0);
    EXPECT_EQ(SwitchInMode(L"silent"), 0);
    // Inside any word, on any line, also on a last line without a line feed or after 9000
    // characters.
    EXPECT_EQ(SwitchWith(L"Discussion en cours"), 1);
    EXPECT_EQ(SwitchWith(L"ussi\\r\\n"), 1) << "the marker is looked for from the first letter";
    EXPECT_EQ(SwitchWith(L"Ligne 1\\r\\nLigne 2\\r\\nop\\xC3\\xA9ration r\\xC3\\xA9ussie\\r\\n"),
              1);
    EXPECT_EQ(SwitchInMode(L"no-final-newline"), 1);
    EXPECT_EQ(SwitchInMode(L"long-line"), 1);
    EXPECT_EQ(SwitchInMode(L"invalid-utf8"), 1);
    // Case matters, and a line break between the letters hides the marker.
    EXPECT_EQ(SwitchWith(L"L'OP\\x90RATION A R\\x90USSI.\\r\\n"), 0);
    EXPECT_EQ(SwitchWith(L"rUssi\\r\\nUSSI\\nussI\\n"), 0);
    EXPECT_EQ(SwitchWith(L"r\\x82us\\r\\nsi.\\r\\n"), 0);
    EXPECT_EQ(SwitchWith(L"r\\x82us\\nsi."), 0);
    // Only the text counts, not the exit code.
    {
        ScopedVariable failing(L"KV_STANDIN_EXIT", L"5");
        EXPECT_EQ(SwitchInMode(L"success-fr"), 1);
    }
}

TEST_F(PolicySwitchTest, ReadsOutputThatArrivesSlowly) {
    ScopedVariable delay(L"KV_STANDIN_DELAY_MS", L"40");
    EXPECT_EQ(SwitchWith(L"Un\\r\\nDeux\\r\\nr\\x82ussi\\r\\nTrois\\r\\nQuatre"), 1);
    EXPECT_EQ(SwitchWith(L"Un\\r\\nDeux\\r\\n"), 0);
}

TEST_F(PolicySwitchTest, RunsTheToolWithThePolicyWord) {
    TempFile state_file(L"kvs");
    ScopedVariable state(L"KV_STANDIN_STATE", state_file.path().c_str());
    TempFile info(L"kvi");
    ScopedVariable info_setting(L"KV_STANDIN_INFO", info.path().c_str());
    const std::string tool = '"' + Utf8(StandinPath()) + '"';

    EXPECT_EQ(SwitchInMode(L"success-fr", POLICY_LEGACY), 1);
    EXPECT_EQ(state_file.Read(), "legacy");
    EXPECT_EQ(SwitchInMode(L"success-fr", POLICY_STANDARD), 1);
    EXPECT_EQ(state_file.Read(), "standard");
    // Any other argument gives the prefix alone, final blank included; the reply decides.
    EXPECT_EQ(SwitchInMode(L"success-fr", 7), 1);
    EXPECT_EQ(SwitchInMode(L"denied", -1), 0);

    EXPECT_EQ(log_.Read(), tool + " /set {Default} bootmenupolicy legacy\n" + tool +
                               " /set {Default} bootmenupolicy standard\n" + tool +
                               " /set {Default} bootmenupolicy \n" + tool +
                               " /set {Default} bootmenupolicy \n");
    // Hidden, its output in a pipe, in our console (no new one), and in the system folder rather
    // than the program's current folder.
    wchar_t system_folder[MAX_PATH] = {};
    GetSystemDirectoryW(system_folder, MAX_PATH);
    const std::string start = "show=0 std=1 console=shared cwd=" + Utf8(system_folder) + "\n";
    EXPECT_EQ(info.Read(), start + start + start + start);
}

TEST_F(PolicySwitchTest, ToolThatCannotStartGivesZeroAndNoObject) {
    // A system folder without the tool.
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    tool_.Use((std::wstring(temp) + L"bcdedit.exe").c_str());
    App_State().program = 12345; // overwritten by the launch result
    EXPECT_EQ(PolicySwitch(POLICY_LEGACY), 0);
    EXPECT_EQ(App_State().program, 0);

    // No system folder to be had: nothing is started, not even from the current folder.
    tool_.Use(L"");
    App_State().program = 12345;
    EXPECT_EQ(PolicySwitch(POLICY_STANDARD), 0);
    EXPECT_EQ(App_State().program, 0);

    // The tool is there, but its report could not be read: it is not run at all, so that the
    // verdict (a failure) is true.
    tool_.Use(StandinPath().c_str());
    {
        const ScopedSeam pipes(Program_PipeMakerSeam(), NoPipe);
        App_State().program = 12345;
        EXPECT_EQ(PolicySwitch(POLICY_LEGACY), 0);
    }
    EXPECT_EQ(App_State().program, 0);
    EXPECT_EQ(log_.Read(), "") << "the stand-in never ran";
}
