#include "proc/child_text_decoder.hpp"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <optional>
#include <string>
#include <vector>

namespace korvane {
namespace {

const std::string FFFD = "\xEF\xBF\xBD";

std::string Feed(ChildTextDecoder& decoder, const std::string& bytes) {
    return decoder.Decode({bytes.data(), bytes.size()});
}

// One, two, three and four-byte characters.
const std::string MIXED = "ping é 中文 € \xF0\x9D\x84\x9E end";

TEST(ChildTextDecoder, Utf8SplitAtAnyByteComesOutWhole) {
    for (std::size_t cut = 0; cut <= MIXED.size(); ++cut) {
        SCOPED_TRACE(cut);
        ChildTextDecoder decoder("UTF-8");
        const std::string first = Feed(decoder, MIXED.substr(0, cut));
        const std::string second = Feed(decoder, MIXED.substr(cut));
        EXPECT_EQ(first + second, MIXED);
        // A piece never ends inside a character.
        EXPECT_EQ(first, MIXED.substr(0, first.size()));
        EXPECT_EQ(decoder.Flush(), "");
    }
}

TEST(ChildTextDecoder, Utf8ByteByByte) {
    ChildTextDecoder decoder("UTF-8");
    std::string text;
    for (const char c : MIXED) {
        text += Feed(decoder, std::string(1, c));
    }
    EXPECT_EQ(text, MIXED);
}

struct BadCase {
    std::string bytes;
    std::string text;
};

TEST(ChildTextDecoder, BytesThatFormNoCharacterBecomeReplacements) {
    const std::vector<BadCase> cases = {
        {"a\x80z", "a" + FFFD + "z"},
        {"\xC0\xAF", FFFD + FFFD},                        // overlong
        {"\xE2\x82z", FFFD + "z"},                        // cut short: one for the valid start
        {"\xED\xA0\x80", FFFD + FFFD + FFFD},             // surrogate
        {"\xF4\x90\x80\x80", FFFD + FFFD + FFFD + FFFD},  // past U+10FFFF
        {"\xFF\xFE", FFFD + FFFD},
        {"\xE4\xB8\xADz\xE4", "中z"},  // the last byte waits for more
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        ChildTextDecoder decoder("UTF-8");
        EXPECT_EQ(Feed(decoder, c.bytes), c.text);
    }
}

TEST(ChildTextDecoder, FlushTurnsAnUnfinishedCharacterIntoOneReplacement) {
    ChildTextDecoder decoder("UTF-8");
    EXPECT_EQ(Feed(decoder, "ab\xF0\x9D\x84"), "ab");
    EXPECT_EQ(decoder.Flush(), FFFD);
    EXPECT_EQ(decoder.Flush(), "");
    EXPECT_EQ(Feed(decoder, "x"), "x");
}

TEST(ChildTextDecoder, CLocaleTextPassesThroughAsUtf8) {
    ChildTextDecoder decoder("ANSI_X3.4-1968");
    EXPECT_FALSE(decoder.Converts());
    EXPECT_EQ(Feed(decoder, MIXED), MIXED);
}

TEST(ChildTextDecoder, OtherCodesetsAreConvertedAndSplitsRejoined) {
    const std::string gb = "\xD6\xD0\xCE\xC4 ok";  // "中文 ok" in GB18030
    for (std::size_t cut = 0; cut <= gb.size(); ++cut) {
        SCOPED_TRACE(cut);
        ChildTextDecoder decoder("GB18030");
        ASSERT_TRUE(decoder.Converts());
        std::string text = Feed(decoder, gb.substr(0, cut));
        text += Feed(decoder, gb.substr(cut));
        text += decoder.Flush();
        EXPECT_EQ(text, "中文 ok");
    }
    ChildTextDecoder latin("ISO-8859-1");
    EXPECT_EQ(Feed(latin, "caf\xE9"), "café");
}

TEST(ChildTextDecoder, ConversionReplacesWhatTheCodesetLacks) {
    ChildTextDecoder decoder("GB18030");
    EXPECT_EQ(Feed(decoder,
                   "a\xFF"
                   "b"),
              "a" + FFFD + "b");
    EXPECT_EQ(Feed(decoder, "\xD6"), "");
    EXPECT_EQ(decoder.Flush(), FFFD);
}

// Sets LC_ALL for one test and puts the old value back.
class LcAll {
public:
    explicit LcAll(const char* value) {
        if (const char* old = ::getenv("LC_ALL"))
            old_ = old;
        ::setenv("LC_ALL", value, 1);
    }
    ~LcAll() {
        if (old_) {
            ::setenv("LC_ALL", old_->c_str(), 1);
        } else {
            ::unsetenv("LC_ALL");
        }
    }
    LcAll(const LcAll&) = delete;
    LcAll& operator=(const LcAll&) = delete;

private:
    std::optional<std::string> old_;
};

TEST(ChildOutputCodeset, FollowsTheEnvironmentNotTheProcessLocale) {
    {
        const LcAll utf8("C.UTF-8");
        EXPECT_EQ(ChildOutputCodeset(), "UTF-8");
    }
    {
        const LcAll plain("C");
        EXPECT_EQ(ChildOutputCodeset(), "ANSI_X3.4-1968");
    }
    {
        const LcAll missing("xx_NOWHERE.KORVANE");
        EXPECT_EQ(ChildOutputCodeset(), "ANSI_X3.4-1968");
    }
}

}  // namespace
}  // namespace korvane
