#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>

#include "tests/support/MemoryRegistry.h"
#include "windows/about/DesktopRegistry.h"
#include "windows/about/SysInfoRegistry.h"

namespace vorelta::sysinfo {
namespace {

using test::MemoryRegistry;
using namespace std::string_literals;

// The buffer as a query leaves it: the value's bytes, then the NULs it started with.
std::string Buffer(const std::string& bytes) {
    return bytes + std::string(kValueBufferSize - bytes.size(), '\0');
}

TEST(ValueTextTest, DropsOneTerminatingNulCountedInBytes) {
    const struct {
        std::string bytes;
        std::uint32_t size;
        std::string text;
    } rows[] = {
        {"C:\\x.exe\0"s, 9, "C:\\x.exe"},
        {"no nul", 6, "no nul"},                         // stored without one: taken whole
        {"ab\0\0"s, 4, "ab\0"s},                         // only one is dropped
        {"\0"s, 1, ""},                                  // an empty text
        {"\xCF\xB5\xCD\xB3\0"s, 5, "\xCF\xB5\xCD\xB3"},  // GBK "系统": 2 characters, 4 bytes
        {"\xCF\xB5\xCD\xB3"s, 4, "\xCF\xB5\xCD\xB3"},
        {std::string(1024, 'x'), 1024, std::string(1024, 'x')},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ValueText(Buffer(row.bytes), row.size), row.text) << row.bytes;
    }
    EXPECT_THROW(ValueText(Buffer(""), 0), InvalidCall);
}

TEST(DwordTextTest, DigitsFromTheLastCharacterGiveTheirDecimalValue) {
    const struct {
        std::string valueText;
        std::string onEntry;
        std::string text;
    } rows[] = {
        {"\x03\x02\x01", "", "291"},             // 0x00010203 less its NUL: &h123
        {"\x78\x56\x34\x12", "", "305419896"},   // 0x12345678
        {"\0\0\0"s, "", "0"},                    // 0 less its NUL: &h000
        {"\xFF\xFF\xFF\xFF", "", "4294967295"},  // bytes count as unsigned
        {"\x0A\x01", "", "26"},                  // no leading zeros: &h1A
        {"\x02", "1", "18"},                     // appended to what the output held: &h12
        {"\x02", "x", "&hx2"},                   // no number: left as text
        {"", "", "&h"},
        {std::string(9, '\xFF'), "", "&h" + std::string(18, 'F')},  // beyond 64 bits
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DwordText(row.valueText, row.onEntry), row.text) << row.text;
    }
}

constexpr const char* kKey = "SOFTWARE\\VoreltaTest";

TEST(GetKeyValueTest, ReadsEachTypeAndClosesTheKey) {
    const struct {
        const char* what;
        MemoryRegistry::Value value;
        std::string onEntry;
        bool found;
        std::string keyVal;
    } rows[] = {
        {"text",
         {kRegSz, "C:\\Windows\\msinfo32.exe\0"s},
         "old",
         true,
         "C:\\Windows\\msinfo32.exe"},
        {"text without NUL", {kRegSz, "abc"}, "old", true, "abc"},
        {"double-byte text", {kRegSz, "\xCF\xB5\xCD\xB3\0"s}, "old", true, "\xCF\xB5\xCD\xB3"},
        {"empty text", {kRegSz, "\0"s}, "old", true, ""},
        {"dword", {kRegDword, MemoryRegistry::Dword(0x00010203)}, "", true, "291"},
        {"dword 0", {kRegDword, MemoryRegistry::Dword(0)}, "", true, "0"},
        {"dword after digits",
         {kRegDword, MemoryRegistry::Dword(0x0A)},
         "1",
         true,
         "4106"},  // &h100A
        {"binary", {3, "\x01\x02"}, "old", true, "old"},
        {"expandable text", {2, "%WINDIR%\0"s}, "old", true, "old"},
        {"exactly the buffer",
         {kRegSz, std::string(1024, 'x')},
         "old",
         true,
         std::string(1024, 'x')},
        {"longer than the buffer", {kRegSz, std::string(1025, 'x')}, "old", false, ""},
        {"claims more than the buffer", {kRegSz, "x\0"s, 2000}, "old", false, ""},
    };
    for (const auto& row : rows) {
        MemoryRegistry registry;
        registry.SetValue(kHkeyLocalMachine, kKey, "Value", row.value);
        std::string keyVal = row.onEntry;
        EXPECT_EQ(GetKeyValue(registry, kHkeyLocalMachine, kKey, "VALUE", keyVal), row.found)
            << row.what;
        EXPECT_EQ(keyVal, row.keyVal) << row.what;
        ASSERT_EQ(registry.openings.size(), 1u);
        EXPECT_EQ(registry.openings[0].root, 0x80000002u);
        EXPECT_EQ(registry.openings[0].subKey, kKey);
        EXPECT_EQ(registry.openings[0].options, 0u);
        EXPECT_EQ(registry.openings[0].access, 0x2003Fu);
        EXPECT_EQ(registry.closed, std::vector<RegistryKey>{0x100}) << row.what;
        EXPECT_EQ(registry.openKeys(), 0u) << row.what;
    }
}

TEST(GetKeyValueTest, AKeyThatDoesNotOpenGivesNothingAndIsStillClosed) {
    MemoryRegistry registry;
    registry.AddKey(kHkeyLocalMachine, "SOFTWARE\\Locked", kErrorAccessDenied);
    registry.SetText("SOFTWARE\\Empty", "Other", "x");
    const struct {
        const char* key;
        const char* value;
    } rows[] = {
        {"SOFTWARE\\Missing", "PATH"}, {"SOFTWARE\\Locked", "PATH"}, {"SOFTWARE\\Empty", "PATH"}};
    for (const auto& row : rows) {
        std::string keyVal = "stale";
        EXPECT_FALSE(GetKeyValue(registry, kHkeyLocalMachine, row.key, row.value, keyVal));
        EXPECT_EQ(keyVal, "") << row.key;
    }
    // A failed open closes the handle as it stands, 0.
    EXPECT_EQ(registry.closed, (std::vector<RegistryKey>{0, 0, 0x100}));
}

TEST(GetKeyValueTest, AValueOfSizeZeroIsAnInvalidCallAfterClosingTheKey) {
    MemoryRegistry registry;
    registry.SetValue(kHkeyLocalMachine, kKey, "PATH", {kRegSz, "", 0});
    std::string keyVal = "kept";
    EXPECT_THROW(GetKeyValue(registry, kHkeyLocalMachine, kKey, "PATH", keyVal), InvalidCall);
    EXPECT_EQ(keyVal, "kept");
    EXPECT_EQ(registry.closed, std::vector<RegistryKey>{0x100});
}

// A folder of fake programs: each is a regular file, executable unless said otherwise.
class DesktopRegistryTest : public ::testing::Test {
protected:
    void SetUp() override {
        char folder[] = "/tmp/vorelta-sysinfo-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        root_ = folder;
    }
    void TearDown() override { std::filesystem::remove_all(root_); }

    std::string Program(const std::string& folder, const std::string& name,
                        bool executable = true) {
        const auto path = root_ / folder / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "#!/bin/sh\n";
        std::filesystem::permissions(path, executable ? std::filesystem::perms::owner_all
                                                      : std::filesystem::perms::owner_read);
        return path;
    }
    std::string Folder(const std::string& name) const { return root_ / name; }

    std::filesystem::path root_;
};

TEST_F(DesktopRegistryTest, FindsTheMostCompleteInstalledProgram) {
    const std::string gnome = Program("a", "gnome-system-monitor");
    const std::string kde = Program("b", "kinfocenter");
    const std::string hardinfo = Program("c", "hardinfo");
    Program("a", "kinfocenter", false);
    std::filesystem::create_directories(root_ / "a" / "hardinfo");  // a folder, not a program
    const std::string a = Folder("a"), b = Folder("b"), c = Folder("c");
    const struct {
        std::string searchPath;
        std::string program;
    } rows[] = {
        {a + ":" + b + ":" + c, hardinfo},  // the preferred program, wherever it comes
        {a + ":" + b, kde},                 // past one that cannot be run
        {a, gnome},
        {b + "/:" + a, kde},
        {"::a:./b:" + c, hardinfo},  // relative folders are never searched
        {"a:b", ""},
        {"", ""},
        {Folder("nowhere"), ""},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(FindSysInfoProgram(row.searchPath), row.program) << row.searchPath;
    }
}

TEST_F(DesktopRegistryTest, OnlyTheToolPathIsThereAndOnlyWhileAProgramIsInstalled) {
    const std::string kde = Program("bin", "kinfocenter");
    DesktopRegistry desktop(Folder("bin"));
    std::string toolPath;
    EXPECT_TRUE(GetKeyValue(desktop, kHkeyLocalMachine, kMsinfoKey, kMsinfoValue, toolPath));
    EXPECT_EQ(toolPath, kde);
    EXPECT_FALSE(GetKeyValue(desktop, kHkeyLocalMachine, kLocationKey, kLocationValue, toolPath));
    EXPECT_FALSE(GetKeyValue(desktop, kHkeyLocalMachine, kMsinfoKey, "Other", toolPath));

    std::filesystem::remove(kde);
    EXPECT_FALSE(GetKeyValue(desktop, kHkeyLocalMachine, kMsinfoKey, kMsinfoValue, toolPath));
    EXPECT_EQ(toolPath, "");
}

TEST_F(DesktopRegistryTest, ThePlatformRegistryReadsPathWhenAsked) {
    const std::string saved = getenv("PATH") ? getenv("PATH") : "";
    const std::string hardinfo = Program("bin", "hardinfo");
    std::string toolPath;
    setenv("PATH", Folder("bin").c_str(), 1);
    const bool found =
        GetKeyValue(PlatformRegistry(), kHkeyLocalMachine, kMsinfoKey, kMsinfoValue, toolPath);
    setenv("PATH", Folder("none").c_str(), 1);
    const bool foundWithout =
        GetKeyValue(PlatformRegistry(), kHkeyLocalMachine, kMsinfoKey, kMsinfoValue, toolPath);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_TRUE(found);
    EXPECT_FALSE(foundWithout);
}

}  // namespace
}  // namespace vorelta::sysinfo
