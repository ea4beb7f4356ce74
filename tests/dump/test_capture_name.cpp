// File-name rules, text conversion and time formats.
#include "capture_name.h"
#include "cp1252.h"
#include "local_time.h"

#include <gtest/gtest.h>

namespace veldar {
namespace {

TEST(CaptureName, BlanksAreSpaceAndEveryControlCharacter) {
    EXPECT_EQ(TrimBlanks("  mesure  "), "mesure");
    EXPECT_EQ(TrimBlanks(std::string("\0\t\r\nmesure\x1f ", 12)), "mesure");
    EXPECT_EQ(TrimBlanks(" \t "), "");
    EXPECT_EQ(TrimBlanks("a b"), "a b");
}

TEST(CaptureName, OrdinaryNamesAreUnchanged) {
    EXPECT_EQ(SafeFileName("mesure.txt"), "mesure.txt");
    EXPECT_EQ(SafeFileName("Relev\xE9 2026-12-07 (1)"), "Relev\xE9 2026-12-07 (1)");
    EXPECT_EQ(SafeFileName("COM10"), "COM10");
    EXPECT_EQ(SafeFileName("CONSOLE"), "CONSOLE");
}

TEST(CaptureName, NothingLeavesTheFolderOrNamesADevice) {
    EXPECT_EQ(SafeFileName("../../etc/passwd"), ".._.._etc_passwd");
    EXPECT_EQ(SafeFileName("C:\\Windows\\x"), "C__Windows_x");
    EXPECT_EQ(SafeFileName("a*b?c\"d<e>f|g"), "a_b_c_d_e_f_g");
    EXPECT_EQ(SafeFileName("tab\there"), "tab_here");
    EXPECT_EQ(SafeFileName(".."), "");
    EXPECT_EQ(SafeFileName(" . "), "");
    EXPECT_EQ(SafeFileName("con"), "_con");
    EXPECT_EQ(SafeFileName("NUL.txt"), "_NUL.txt");
    EXPECT_EQ(SafeFileName("Com3"), "_Com3");
    EXPECT_EQ(SafeFileName("lpt9.log"), "_lpt9.log");
    EXPECT_EQ(SafeFileName("COM\xB9"), "_COM\xB9");
    EXPECT_EQ(SafeFileName("lpt\xB2.txt"), "_lpt\xB2.txt");
    EXPECT_EQ(SafeFileName("COM\xB3"), "_COM\xB3");
    EXPECT_EQ(SafeFileName("CON .x"), "_CON .x");
    EXPECT_EQ(SafeFileName("nul  ..txt"), "_nul  ..txt");
    EXPECT_EQ(SafeFileName("COM\xB4"), "COM\xB4");
    EXPECT_EQ(SafeFileName("C ON.x"), "C ON.x");
    EXPECT_EQ(SafeFileName("  \t"), "");
}

TEST(Cp1252, LatinLettersAndTheWindowsRangeRoundTrip) {
    EXPECT_EQ(Cp1252ToUtf8("Relev\xE9s"), "Relevés");
    EXPECT_EQ(Cp1252ToUtf8("\x80"), "€");
    EXPECT_EQ(Utf8ToCp1252("Dévidage terminé à"), "D\xE9vidage termin\xE9 \xE0");
    EXPECT_EQ(Utf8ToCp1252("€Œ"), "\x80\x8C");
    EXPECT_EQ(Utf8ToCp1252("日本"), "??");
    EXPECT_EQ(Utf8ToCp1252("\xC3"), "?");
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(LocalTimeFormat, PatternsOfTheStatusAndTheAutomaticName) {
    LocalTime t{2026, 3, 4, 5, 6, 7, 0};
    EXPECT_EQ(FormatHmmss(t), "5:06:07");
    EXPECT_EQ(FormatAutoName(t), "20260304050607");
    EXPECT_EQ(FormatElapsed(61'000), "0:01:01");
    EXPECT_EQ(FormatElapsed(3'723'000), "1:02:03");
    EXPECT_EQ(LocalTime::FromMillisecondsSinceEpoch(t.MillisecondsSinceEpoch()), t);
    LocalTime leap{2028, 2, 29, 23, 59, 59, 999};
    EXPECT_EQ(LocalTime::FromMillisecondsSinceEpoch(leap.MillisecondsSinceEpoch() + 1),
              (LocalTime{2028, 3, 1, 0, 0, 0, 0}));
}

} // namespace
} // namespace veldar
