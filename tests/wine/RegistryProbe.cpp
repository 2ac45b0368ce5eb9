// Reads registry values through the lookup's Windows side and checks what it gives. Built for
// Windows alone (no Qt) and run under Wine by tests/wine/run-registry-test, which writes the
// values under HKEY_LOCAL_MACHINE\SOFTWARE\VoreltaProbe first. Exits non-zero on any mismatch.
#include <windows.h>

#include <cstdio>
#include <optional>
#include <string>

#include "windows/about/SysInfoRegistry.h"

namespace {

using namespace vorelta::sysinfo;

constexpr const char* kProbeKey = "SOFTWARE\\VoreltaProbe";
constexpr unsigned kSimplifiedChinese = 936;
// "C:\系统工具\msinfo32.exe" in code page 936: each Chinese character is two bytes.
const std::string kChinesePath = "C:\\\xCF\xB5\xCD\xB3\xB9\xA4\xBE\xDF\\msinfo32.exe";

enum class Expect { Found, NotFound, InvalidCall, OnlyShown };

struct Case {
    std::string key;
    std::string value;
    std::string onEntry;  // what the output holds before the call
    Expect expect;
    std::string text;  // the output expected after the call
};

// Printable text: non-printing bytes as \xNN, long texts cut with their length.
std::string Shown(const std::string& text) {
    std::string shown;
    for (unsigned char c : text.substr(0, 60)) {
        char escaped[5];
        std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
        shown += (c >= 0x20 && c < 0x7F) ? std::string(1, static_cast<char>(c)) : escaped;
    }
    if (text.size() > 60) {
        shown += "... (" + std::to_string(text.size()) + " bytes)";
    }
    return "\"" + shown + "\"";
}

bool KeyOpens(const std::string& key) {
    RegistryKey handle = 0;
    const bool opens =
        PlatformRegistry().OpenKey(kHkeyLocalMachine, key, 0, kKeyAccess, handle) == 0;
    PlatformRegistry().CloseKey(handle);
    return opens;
}

std::string Outcome(Expect expect, const std::string& text) {
    switch (expect) {
        case Expect::Found:
            return "true  " + Shown(text);
        case Expect::NotFound:
            return "false " + Shown(text);
        case Expect::InvalidCall:
            return "InvalidCall";
        case Expect::OnlyShown:
            break;
    }
    return "";
}

bool Check(const Case& check) {
    std::string keyVal = check.onEntry;
    Expect got = Expect::InvalidCall;
    try {
        got = GetKeyValue(PlatformRegistry(), kHkeyLocalMachine, check.key, check.value, keyVal)
                  ? Expect::Found
                  : Expect::NotFound;
    } catch (const InvalidCall&) {
        keyVal = check.onEntry;
    }
    const bool onlyShown = check.expect == Expect::OnlyShown;
    const bool matches = onlyShown || (got == check.expect && keyVal == check.text);
    std::printf("[%s] HKLM\\%s : %s -> %s\n",
                onlyShown ? "info"
                : matches ? " ok "
                          : "FAIL",
                check.key.c_str(), check.value.c_str(), Outcome(got, keyVal).c_str());
    if (!matches) {
        std::printf("       expected %s\n", Outcome(check.expect, check.text).c_str());
    }
    if (onlyShown) {
        std::printf("       the key itself %s\n", KeyOpens(check.key) ? "opens" : "does not open");
    }
    return matches;
}

Case Probe(const std::string& value, std::string onEntry, Expect expect, std::string text = "") {
    return {kProbeKey, value, std::move(onEntry), expect, std::move(text)};
}

}  // namespace

int main() {
    const unsigned codePage = GetACP();
    std::printf("ANSI code page %u, pointer size %u bits\n", codePage,
                static_cast<unsigned>(sizeof(void*) * 8));
    const Expect chinese = codePage == kSimplifiedChinese ? Expect::Found : Expect::OnlyShown;
    const Case cases[] = {
        Probe("ToolPath", "old", Expect::Found, "C:\\Program Files\\Vorelta Probe\\msinfo32.exe"),
        Probe("ChinesePath", "old", chinese, kChinesePath),
        Probe("Plain", "old", Expect::Found, "no path here"),
        Probe("Empty", "old", Expect::Found, ""),
        Probe("Number", "", Expect::Found, "291"),     // 0x00010203: &h123
        Probe("Big", "", Expect::Found, "305419896"),  // 0x12345678
        Probe("Zero", "", Expect::Found, "0"),
        Probe("Binary", "old", Expect::Found, "old"),  // another type: the output stays
        Probe("Fits", "old", Expect::Found, std::string(1023, 'y')),  // 1024 bytes with its NUL
        Probe("JustTooLong", "old", Expect::NotFound),                // 1025 bytes
        Probe("TooLong", "old", Expect::NotFound),                    // 1101 bytes
        Probe("NoBytes", "old", Expect::InvalidCall, "old"),          // a value of size 0
        Probe("Absent", "old", Expect::NotFound),
        {"SOFTWARE\\VoreltaProbe\\Missing", "PATH", "old", Expect::NotFound, ""},
        {kMsinfoKey, kMsinfoValue, "", Expect::OnlyShown, ""},
        {kLocationKey, kLocationValue, "", Expect::OnlyShown, ""},
    };
    int mismatches = 0;
    for (const Case& check : cases) {
        mismatches += Check(check) ? 0 : 1;
    }
    std::printf("%d mismatch(es)\n", mismatches);
    return mismatches == 0 ? 0 : 1;
}
