#include <gtest/gtest.h>

#include <string>

#include "archive/ArchiveMessages.h"
#include "archive/EntryNames.h"

namespace {

TEST(EntryNames, PlainNamesCannotLeadOutOfTheFolder) {
    for (const char* ok : {"a.las", "survey 2020.LAS", "...", ".hidden.las", "\xc3\xa9.las", "Makefile"}) {
        EXPECT_TRUE(IsPlainEntryName(ok)) << ok;
    }
    for (const char* bad : {"", ".", "..", "../a.las", "a/b.las", "/etc/passwd", "..\\a.las",
                            "a\\b.las", "sub/"}) {
        EXPECT_FALSE(IsPlainEntryName(bad)) << bad;
    }
    EXPECT_FALSE(IsPlainEntryName(std::string("a\0b", 3)));
    EXPECT_TRUE(IsPlainEntryName(std::string(255, 'n')));
    EXPECT_FALSE(IsPlainEntryName(std::string(256, 'n')));
}

TEST(EntryNames, OnlyPlainLasNamesWithoutControlsOrALeadingDotMayBecomeFiles) {
    const std::pair<std::string, const char*> cases[] = {
        {"a.las", nullptr},
        {"A.LAS", nullptr},
        {"x.LaS", nullptr},
        {"\xc3\xa9t\xc3\xa9.las", nullptr},
        {"nbsp\xc2\xa0.las", nullptr},  // U+00A0, just past the C1 controls
        {"a.las.", archmsg::kNameNotLas.text},
        {"a.lasx", archmsg::kNameNotLas.text},
        {"las", archmsg::kNameNotLas.text},
        {"Makefile", archmsg::kNameNotLas.text},
        {"b.vmra", archmsg::kNameNotLas.text},
        {"b.vmra-journal", archmsg::kNameNotLas.text},
        {".bashrc", archmsg::kNameHidden.text},
        {".las", archmsg::kNameHidden.text},
        {".x.las", archmsg::kNameHidden.text},
        {"a\x1f.las", archmsg::kNameHasControl.text},
        {"\ta.las", archmsg::kNameHasControl.text},
        {"a\x7f.las", archmsg::kNameHasControl.text},
        {"a\xc2\x80.las", archmsg::kNameHasControl.text},
        {"a\xc2\x9f.las", archmsg::kNameHasControl.text},
        {"../a.las", archmsg::kUnsafeEntryName.text},
        {"a\\b.las", archmsg::kUnsafeEntryName.text},
        {std::string(252, 'n') + ".las", archmsg::kUnsafeEntryName.text},
    };
    for (const auto& [name, why] : cases) {
        const Failure* found = WhyNotExtractable(name);
        EXPECT_EQ(std::string(found ? found->text : "-"), std::string(why ? why : "-")) << name;
        EXPECT_EQ(IsExtractableName(name), why == nullptr) << name;
    }
    EXPECT_TRUE(IsExtractableName(std::string(251, 'n') + ".las"));
}

TEST(EntryNames, EscapingShowsEveryByteThatCouldSteerATerminal) {
    const std::pair<std::string, std::string> cases[] = {
        {"plain.las", "plain.las"},
        {"\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80.las", "\xc3\xa9\xe6\x97\xa5\xf0\x9f\x98\x80.las"},
        {"a\x1b[2Jb", "a\\x1b[2Jb"},
        {"\r\n\t\x01", "\\x0d\\x0a\\x09\\x01"},
        {"\x1f \x7f", "\\x1f \\x7f"},
        {"back\\slash", "back\\\\slash"},
        {"\\x1b", "\\\\x1b"},
        // C1 controls, and the characters on either side of them.
        {"\xc2\x80|\xc2\x9b|\xc2\x9f|\xc2\xa0|\x7e", "\\u0080|\\u009b|\\u009f|\xc2\xa0|~"},
        // The bidirectional controls, and their neighbours that pass.
        {"\xe2\x80\xa9|\xe2\x80\xaa|\xe2\x80\xae|\xe2\x80\xaf",
         "\xe2\x80\xa9|\\u202a|\\u202e|\xe2\x80\xaf"},
        {"\xe2\x81\xa5|\xe2\x81\xa6|\xe2\x81\xa9|\xe2\x81\xaa",
         "\xe2\x81\xa5|\\u2066|\\u2069|\xe2\x81\xaa"},
        // Bytes that are no UTF-8: a lone continuation, a cut sequence, an
        // overlong form, a surrogate, past U+10FFFF, a byte that never leads.
        {"a\x80z", "a\\x80z"},
        {"a\xe2\x80", "a\\xe2\\x80"},
        {"\xc0\xaf", "\\xc0\\xaf"},
        {"\xe0\x80\xaf", "\\xe0\\x80\\xaf"},
        {"\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"\xf4\x90\x80\x80", "\\xf4\\x90\\x80\\x80"},
        {"\xf5\xff", "\\xf5\\xff"},
        // A good sequence right after a bad byte is kept.
        {"\xe2\xc3\xa9", "\\xe2\xc3\xa9"},
    };
    for (const auto& [name, shown] : cases) EXPECT_EQ(EscapeName(name), shown) << shown;
    EXPECT_EQ(EscapeName(std::string("a\0b", 3)), "a\\x00b");
}

}  // namespace
