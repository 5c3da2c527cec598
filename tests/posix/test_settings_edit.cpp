// Setting one entry of the settings file's text: the entry the reader takes
// changes, every other byte stays.
#include <gtest/gtest.h>

#include "platform/posix/settings_edit.h"
#include "platform/posix/settings_file.h"
#include "platform/text.h"

namespace quellora::posix {
namespace {

struct EditCase {
    const char* what;
    std::string before;
    const char* name;
    const char* value;
    std::string after;
};

TEST(SettingsEdit, SetsTheEntryTheReaderTakesAndKeepsEveryOtherByte) {
    const EditCase cases[] = {
        {"no text at all", "", "Scale", "2", "[ScreenSaverSample]\nScale=2\n"},
        {"section missing", "; mine\n[Other]\nA=1\n", "Scale", "2",
         "; mine\n[Other]\nA=1\n[ScreenSaverSample]\nScale=2\n"},
        {"section missing, no break at the end", "[Other]\nA=1", "Scale", "2",
         "[Other]\nA=1\n[ScreenSaverSample]\nScale=2\n"},
        {"entry missing: after the section's last entry, before the comment of the next",
         "[ScreenSaverSample]\nDispStr=x\n\n; next\n[Other]\n", "Monitors", "primary",
         "[ScreenSaverSample]\nDispStr=x\nMonitors=primary\n\n; next\n[Other]\n"},
        {"entry missing in an empty section", "[ScreenSaverSample]\n[Other]\n", "Scale", "3",
         "[ScreenSaverSample]\nScale=3\n[Other]\n"},
        {"entry missing, no break at the end", "[ScreenSaverSample]\nDispStr=x", "Scale", "3",
         "[ScreenSaverSample]\nDispStr=x\nScale=3"},
        {"entry present with CRLF", "[ScreenSaverSample]\r\nScale=2\r\nMonitors=all\r\n", "Scale", "auto",
         "[ScreenSaverSample]\r\nScale=auto\r\nMonitors=all\r\n"},
        {"entry missing with CRLF", "[ScreenSaverSample]\r\nScale=2\r\n", "IdleTimeout", "300",
         "[ScreenSaverSample]\r\nScale=2\r\nIdleTimeout=300\r\n"},
        {"name in any case and blanks kept", "[ screensaversample ]\n  SCALE =  \"2\"  \n", "Scale", "4",
         "[ screensaversample ]\n  SCALE =  4\n"},
        {"comments that look like entries stay", "[ScreenSaverSample]\n; Scale=5\n# Scale=6\nScale=2\n", "Scale",
         "7", "[ScreenSaverSample]\n; Scale=5\n# Scale=6\nScale=7\n"},
        {"duplicate entries: the last one, which the reader takes",
         "[ScreenSaverSample]\nScale=1\nScale=2\n[ScreenSaverSample]\nScale=3\n[Other]\nScale=9\n", "Scale", "8",
         "[ScreenSaverSample]\nScale=1\nScale=2\n[ScreenSaverSample]\nScale=8\n[Other]\nScale=9\n"},
        {"entry present, no break at the end", "[ScreenSaverSample]\nScale=2", "Scale", "5",
         "[ScreenSaverSample]\nScale=5"},
        {"an empty value", "[ScreenSaverSample]\nScale=\n", "Scale", "1", "[ScreenSaverSample]\nScale=1\n"},
        {"a byte order mark and lines the reader skips stay", "\xEF\xBB\xBF[ScreenSaverSample]\nnonsense\n[broken\n",
         "Scale", "2", "\xEF\xBB\xBF[ScreenSaverSample]\nScale=2\nnonsense\n[broken\n"},
        {"an entry of the same name in another section is not it", "[Other]\nScale=2\n", "Scale", "3",
         "[Other]\nScale=2\n[ScreenSaverSample]\nScale=3\n"},
    };
    for (const EditCase& c : cases) {
        const std::string after = SetIniEntry(c.before, "ScreenSaverSample", c.name, c.value);
        EXPECT_EQ(after, c.after) << c.what;
        // Set again to the same value: nothing changes.
        EXPECT_EQ(SetIniEntry(after, "ScreenSaverSample", c.name, c.value), after) << c.what;
        // And the reader finds it, where it read every line of the text.
        if (ParseIni(c.before).skipped.empty()) {
            const IniText read = ParseIni(after);
            ASSERT_TRUE(read.skipped.empty()) << c.what;
            EXPECT_EQ(read.sections.at("screensaversample").at(ToLowerAscii(c.name)), c.value) << c.what;
        }
    }
}

}  // namespace
}  // namespace quellora::posix
