// The registry-read command over the runtime's own value store: roots by prefix, slashes as
// separators, names without case, byte-exact values, and the cleared target on a miss.
#include <cstdlib>
#include <string>

#include <gtest/gtest.h>

#include "app/engine.h"
#include "tests/support/script_fixture.h"

namespace {

class RegistryTest : public ScriptTest {
 protected:
  void SetUp() override {
    ScriptTest::SetUp();
    const char* old = getenv("XDG_CONFIG_HOME");
    hadConfig_ = old != nullptr;
    if (old) oldConfig_ = old;
    setenv("XDG_CONFIG_HOME", config_.path().c_str(), 1);
    config_.Write("kivor/registry/HKEY_CURRENT_USER.txt",
                  "# values of the tests\n"
                  "Software\\Maker\\Game\tInstallDir\tC:\\Games\\Game\n"
                  "Software\\Maker\\Game\t\tdefault value\r\n"
                  "Software\\Maker\\Game\tTabbed\tone%09two%25%0Athree\n"
                  "Software\\Maker\\Game\tDword\t%2A%00%00%00\n"
                  "Software\\Maker\\Game\tHuge\t" + std::string(1025, 'h') + "\n"
                  "broken line without tabs\n");
    config_.Write("kivor/registry/HKEY_LOCAL_MACHINE.txt", "Software\\Maker\\Game\tInstallDir\tmachine\n");
  }
  void TearDown() override {
    if (hadConfig_) setenv("XDG_CONFIG_HOME", oldConfig_.c_str(), 1);
    else unsetenv("XDG_CONFIG_HOME");
    ScriptTest::TearDown();
  }
  std::string Read(const std::string& args) {
    ResetScriptSet();
    EXPECT_TRUE(Boot("global str s = \"untouched\"\nfile main.txt\n*SYSTEM_START\nregistryread " + args +
                     " out=s\nwait frames=1\n"));
    RunPasses(1);
    return Text("s");
  }
  TempFolder config_;
  std::string oldConfig_;
  bool hadConfig_ = false;
};

TEST_F(RegistryTest, ValuesAreReadByRootSubKeyAndNameAsStored) {
  struct Case {
    const char* args;
    std::string expected;
  };
  const Case cases[] = {
      {R"(key="HKEY_CURRENT_USER/Software/Maker/Game" value="InstallDir")", "C:\\Games\\Game"},
      {R"(key="HKEY_LOCAL_MACHINE/software/MAKER/game" value="installdir")", "machine"},
      {R"(key="HKEY_CURRENT_USER/Software/Maker/Game" value="")", "default value"},
      {R"(key="HKEY_CURRENT_USER/Software/Maker/Game" value="Tabbed")", "one\ttwo%\nthree"},
      // A double-word value's bytes are taken as text up to its first zero byte.
      {R"(key="HKEY_CURRENT_USER/Software/Maker/Game" value="Dword")", "*"},
      // Misses clear the target.
      {R"(key="HKEY_CURRENT_USER/Software/Maker/Game" value="Missing")", ""},
      {R"(key="HKEY_CURRENT_USER/Software/Other" value="InstallDir")", ""},
      {R"(key="HKEY_USERS/Software/Maker/Game" value="InstallDir")", ""},
      {R"(value="InstallDir")", ""},
      // A value larger than the 1024-byte buffer does not fit and is a miss.
      {R"(key="HKEY_CURRENT_USER/Software/Maker/Game" value="Huge")", ""},
      // A root in another case is no root at all: nothing happens.
      {R"(key="hkey_current_user/Software/Maker/Game" value="InstallDir")", "untouched"},
      {R"(key="HKEY_CURRENT_USERSoftware" value="InstallDir")", "untouched"},
  };
  for (const Case& c : cases) EXPECT_EQ(Read(c.args), c.expected) << c.args;
}

TEST_F(RegistryTest, BackslashesAndSlashesNameTheSameKey) {
  EXPECT_EQ(Read(R"(key="HKEY_CURRENT_USER\\Software\\Maker/Game" value="InstallDir")"), "C:\\Games\\Game");
}

TEST_F(RegistryTest, MissesClearNumbersAndFoundValuesLeaveThemAlone) {
  ASSERT_TRUE(Boot(R"(global int i = 7
global real r = 2.5
global int j = 9
file main.txt
*SYSTEM_START
registryread key="HKEY_CURRENT_USER/Nothing" value="x" out=i
registryread key="HKEY_CURRENT_USER/Nothing" value="x" out=r
registryread key="HKEY_CURRENT_USER/Software/Maker/Game" value="InstallDir" out=j
wait frames=1
)"));
  RunPasses(1);
  EXPECT_EQ(Int("i"), 0);
  EXPECT_DOUBLE_EQ(Real("r"), 0.0);
  EXPECT_EQ(Int("j"), 9);
}

}  // namespace
