#include "player/link_parser.h"
#include "player/player_control.h"
#include "player/value_convert.h"

#include <gtest/gtest.h>

#include <random>
#include <set>

namespace zuvo {
namespace {

// The value of the single assignment named `name`; fails the test when it is not there exactly once.
PropertyValue ValueOf(const ParsedLink& link, const std::string& name) {
    const PropertyValue* found = nullptr;
    int count = 0;
    for (const auto& a : link.assignments) {
        if (a.name == name) {
            found = &a.value;
            ++count;
        }
    }
    EXPECT_EQ(count, 1) << name;
    return found ? *found : PropertyValue(std::string("<missing>"));
}

std::string Text(const PropertyValue& v) {
    const std::string* s = std::get_if<std::string>(&v);
    return s ? *s : "<not text>";
}

ParsedLink Parse(const std::string& commandLine) {
    const auto parsed = ParseCommandLine(commandLine);
    EXPECT_TRUE(parsed.has_value()) << commandLine;
    return parsed.value_or(ParsedLink{});
}

TEST(ParameterMap, HasTheFortyThreeParametersWithTheirKinds) {
    const auto& params = LinkParameters();
    ASSERT_EQ(params.size(), 43u);
    std::set<std::string> names;
    int kinds[4] = {};
    for (std::size_t i = 0; i < params.size(); ++i) {
        EXPECT_EQ(params[i].number, static_cast<int>(i));
        names.insert(params[i].name);
        ++kinds[static_cast<int>(params[i].kind)];
        EXPECT_EQ(FindLinkParameter(params[i].name), &params[i]);
    }
    EXPECT_EQ(names.size(), 43u);
    EXPECT_EQ(kinds[static_cast<int>(PropertyKind::Flag)], 16);
    EXPECT_EQ(kinds[static_cast<int>(PropertyKind::Text)], 12);
    EXPECT_EQ(kinds[static_cast<int>(PropertyKind::CountedText)], 3);
    EXPECT_EQ(kinds[static_cast<int>(PropertyKind::Number)], 12);
    EXPECT_EQ(FindLinkParameter("nat")->kind, PropertyKind::CountedText);
    EXPECT_EQ(FindLinkParameter("cgi")->kind, PropertyKind::CountedText);
    EXPECT_EQ(FindLinkParameter("action")->kind, PropertyKind::CountedText);
    EXPECT_EQ(FindLinkParameter("buffertime")->number, 22);
    EXPECT_EQ(FindLinkParameter("enableshowabout")->kind, PropertyKind::Flag);
    EXPECT_EQ(FindLinkParameter("memorysize")->kind, PropertyKind::Number);
    EXPECT_EQ(FindLinkParameter("Volume"), nullptr);  // the map holds lower-case names only
    EXPECT_EQ(FindLinkParameter(""), nullptr);
    EXPECT_EQ(FindLinkParameter("volumes"), nullptr);
}

TEST(ExtractLink, TakesTheTextAfterTheFirstSwitchWithItsBlank) {
    EXPECT_EQ(ExtractLink("-zuvopurl zuvop2p://a=1"), "zuvop2p://a=1");
    EXPECT_EQ(ExtractLink("x -zuvopurl a -zuvopurl b"), "a -zuvopurl b");
    EXPECT_EQ(ExtractLink("-zuvopurl "), "");
    EXPECT_FALSE(ExtractLink("-zuvopurl"));            // no blank after it
    EXPECT_FALSE(ExtractLink("-ZUVOPURL zuvop2p://"));  // case-sensitive
    EXPECT_FALSE(ExtractLink(""));
}

TEST(ParseLink, NothingWithoutSwitchOrScheme) {
    EXPECT_FALSE(ParseCommandLine("zuvop2p://volume=3"));
    EXPECT_FALSE(ParseCommandLine("-zuvopurl http://volume=3"));
    EXPECT_FALSE(ParseCommandLine("-zuvopurl zuvop2p:/volume=3"));
    // The scheme is found in the lower-case copy, anywhere in the link.
    EXPECT_EQ(Parse("-zuvopurl ZuvoP2P://volume=3").assignments.size(), 1u);
    EXPECT_EQ(Parse("-zuvopurl junk zuvop2p://volume=3").assignments.size(), 1u);
    EXPECT_TRUE(Parse("-zuvopurl zuvop2p://").assignments.empty());
}

TEST(ParseLink, QuotedCommandLineKeepsTheClosingQuoteInTheLastValue) {
    const ParsedLink link = Parse("-zuvopurl \"zuvop2p://playmode=Live|stun=stun.example.com:3478\"");
    EXPECT_EQ(Text(ValueOf(link, "playmode")), "Live");
    EXPECT_EQ(Text(ValueOf(link, "stun")), "stun.example.com:3478\"");
    // A link closed by "|" has no quote in its values; the quote after it is trailing junk.
    const ParsedLink closed = Parse("-zuvopurl \"zuvop2p://stun=s|\"");
    EXPECT_EQ(Text(ValueOf(closed, "stun")), "s");
    EXPECT_EQ(closed.assignments.size(), 1u);
}

TEST(ParseLink, NamesAreLowerCaseValuesKeepTheirCase) {
    const ParsedLink link = Parse("-zuvopurl zuvop2p://Volume=30|PLAYMODE=Live|InfoString=AbC");
    ASSERT_EQ(link.assignments.size(), 3u);
    EXPECT_EQ(link.assignments[0].name, "volume");
    EXPECT_EQ(std::get<std::uint32_t>(link.assignments[0].value), 30u);
    EXPECT_EQ(link.assignments[1].name, "playmode");
    EXPECT_EQ(Text(link.assignments[1].value), "Live");
    EXPECT_EQ(Text(link.assignments[2].value), "AbC");
}

TEST(ParseLink, ConvertsByKind) {
    const ParsedLink link = Parse(
        "-zuvopurl zuvop2p://position=12abc|duration=abc|mute=T|autoplay=0|fullscreen=|autosize=-1|"
        "orgsize=yes|buffertime= 15|memorysize=4294967296|cgi=X=Y");
    EXPECT_EQ(std::get<std::uint32_t>(ValueOf(link, "position")), 12u);
    EXPECT_EQ(std::get<std::uint32_t>(ValueOf(link, "duration")), 0u);
    EXPECT_TRUE(std::get<bool>(ValueOf(link, "mute")));
    EXPECT_FALSE(std::get<bool>(ValueOf(link, "autoplay")));
    EXPECT_TRUE(std::get<bool>(ValueOf(link, "fullscreen")));  // the empty value is true
    EXPECT_TRUE(std::get<bool>(ValueOf(link, "autosize")));
    EXPECT_FALSE(std::get<bool>(ValueOf(link, "orgsize")));
    EXPECT_EQ(std::get<std::uint32_t>(ValueOf(link, "buffertime")), 15u);
    EXPECT_EQ(std::get<std::uint32_t>(ValueOf(link, "memorysize")), 4294967295u);  // saturated
    EXPECT_EQ(Text(ValueOf(link, "cgi")), "X=Y");  // only the first "=" splits
}

TEST(ParseLink, UnknownNamesAndTrailingTextAreSkipped) {
    const ParsedLink link = Parse("-zuvopurl zuvop2p://foo=1|volume=5|=7|mute|autoplay=1|tail");
    // "mute" has no "=" before its "|": it is skipped alone and "autoplay=1" still counts.
    ASSERT_EQ(link.assignments.size(), 2u);
    EXPECT_EQ(link.assignments[0].name, "volume");
    EXPECT_EQ(link.assignments[1].name, "autoplay");
    const ParsedLink first = Parse("-zuvopurl zuvop2p://junk|volume=7|mute|");
    ASSERT_EQ(first.assignments.size(), 1u);
    EXPECT_EQ(first.assignments[0].name, "volume");
    const ParsedLink spaced = Parse("-zuvopurl zuvop2p:// volume=5|volume =6");
    EXPECT_TRUE(spaced.assignments.empty());  // names are not trimmed
}

TEST(ParseLink, OrEscapeAndPercentSeven) {
    const ParsedLink link = Parse("-zuvopurl zuvop2p://statestring=a<or>b<OR>c|stun=x%7Cvolume=9|adappend=1%7c2");
    EXPECT_EQ(Text(ValueOf(link, "statestring")), "a|b<OR>c");  // "<or>" is case-sensitive
    EXPECT_EQ(Text(ValueOf(link, "stun")), "x");                 // %7C splits like "|"
    EXPECT_EQ(std::get<std::uint32_t>(ValueOf(link, "volume")), 9u);
    EXPECT_EQ(Text(ValueOf(link, "adappend")), "1");
    // A "<or>" produced by decoding is replaced too, since decoding comes first.
    EXPECT_EQ(Text(ValueOf(Parse("-zuvopurl zuvop2p://stun=%3Cor%3E"), "stun")), "|");
}

TEST(ParseLink, PercentEncodedUtf8ReachesTheControlDecoded) {
    const ParsedLink link =
        Parse("-zuvopurl zuvop2p://infostring=%E4%B8%AD%E6%96%87%E8%A7%86%E9%A2%91|playmode=live%20show");
    EXPECT_EQ(Text(ValueOf(link, "infostring")), "中文视频");
    EXPECT_EQ(Text(ValueOf(link, "playmode")), "live show");
    // Names may be escaped as well, and a link without escapes is used unchanged.
    EXPECT_EQ(std::get<std::uint32_t>(ValueOf(Parse("-zuvopurl zuvop2p://%56olume=4"), "volume")), 4u);
    EXPECT_EQ(Text(ValueOf(Parse("-zuvopurl zuvop2p://infostring=中文+x"), "infostring")), "中文+x");
}

TEST(ParseLink, CountedParametersCallTheMethodFromThreeOn) {
    EXPECT_TRUE(Parse("-zuvopurl zuvop2p://nat=a|cgi=b|action=c").callStart());
    EXPECT_TRUE(Parse("-zuvopurl zuvop2p://action=c|volume=1|NAT=a|mute=0|cgi=b").callStart());
    EXPECT_TRUE(Parse("-zuvopurl zuvop2p://nat=a|nat=b|nat=c").callStart());  // occurrences count
    EXPECT_FALSE(Parse("-zuvopurl zuvop2p://nat=a|cgi=b").callStart());
    EXPECT_FALSE(Parse("-zuvopurl zuvop2p://cgi=b|action=c|stun=x").callStart());
    EXPECT_EQ(Parse("-zuvopurl zuvop2p://nat=|cgi=|action=|nat=").countedParameters, 4);
}

TEST(PercentDecode, DecodesValidEscapes) {
    EXPECT_EQ(PercentDecodeLink("a%41%62%7c"), "aAb|");
    EXPECT_EQ(PercentDecodeLink("%25"), "%");
    EXPECT_EQ(PercentDecodeLink("%2541"), "%41");  // decoded once only
    EXPECT_EQ(PercentDecodeLink("no escapes"), "no escapes");
    EXPECT_EQ(PercentDecodeLink(""), "");
}

TEST(PercentDecode, BadEscapesStayAsWrittenAndTheRestIsStillDecoded) {
    EXPECT_EQ(PercentDecodeLink("%zz%41"), "%zzA");
    EXPECT_EQ(PercentDecodeLink("%g1%1g"), "%g1%1g");
    EXPECT_EQ(PercentDecodeLink("%%41"), "%A");
    EXPECT_EQ(PercentDecodeLink("%4z%41"), "%4zA");
}

TEST(PercentDecode, APercentTooCloseToTheEndLeavesTheWholeLinkAsReceived) {
    EXPECT_EQ(PercentDecodeLink("%4"), "%4");
    EXPECT_EQ(PercentDecodeLink("%"), "%");
    EXPECT_EQ(PercentDecodeLink("%41%"), "%41%");
    EXPECT_EQ(PercentDecodeLink("%E4%B8%AD|x%7"), "%E4%B8%AD|x%7");
    EXPECT_EQ(PercentDecodeLink("%41%4"), "%41%4");
    EXPECT_EQ(PercentDecodeLink("%41%%"), "%41%%");
    EXPECT_EQ(PercentDecodeLink("%2%41"), "%2A");  // "%2%" is no escape; "%41" is, and ends in time
    // Nothing is read past the end and nothing is lost: the pairs still split on "|".
    const ParsedLink link = Parse("-zuvopurl zuvop2p://infostring=%E4%B8%AD|volume=5%");
    EXPECT_EQ(Text(ValueOf(link, "infostring")), "%E4%B8%AD");
    EXPECT_EQ(std::get<std::uint32_t>(ValueOf(link, "volume")), 5u);
}

TEST(PercentDecode, NulNeverCutsTheLink) {
    const std::string decoded = PercentDecodeLink("a%00b%20c");
    EXPECT_EQ(decoded, "a%00b c");
    EXPECT_EQ(decoded.find('\0'), std::string::npos);
    const ParsedLink link = Parse("-zuvopurl zuvop2p://stun=x%00y|volume=3");
    EXPECT_EQ(Text(ValueOf(link, "stun")), "x%00y");
    EXPECT_EQ(std::get<std::uint32_t>(ValueOf(link, "volume")), 3u);
}

TEST(PercentDecode, EscapedBytesThatAreNotUtf8StayAsWritten) {
    EXPECT_EQ(PercentDecodeLink("%FF"), "%FF");
    EXPECT_EQ(PercentDecodeLink("%C4%E3%BA%C3|%41"), "%C4%E3%BA%C3|A");  // GBK text is not mangled
    EXPECT_EQ(PercentDecodeLink("%E4%B8"), "%E4%B8");                    // cut-short sequence
    EXPECT_EQ(PercentDecodeLink("%E4%B8%AD%E4"), "中%E4");
    EXPECT_EQ(PercentDecodeLink("%C0%AF"), "%C0%AF");                    // overlong "/"
    EXPECT_EQ(PercentDecodeLink("%ED%A0%80"), "%ED%A0%80");              // surrogate
    // Raw UTF-8 mixed with escaped continuation bytes forms one character when valid.
    EXPECT_EQ(PercentDecodeLink("\xE4%B8%AD"), "中");
    // An escaped continuation byte after a complete raw character stays escaped.
    EXPECT_EQ(PercentDecodeLink("中%AD"), "中%AD");
}

TEST(PercentDecode, ArbitraryInputAlwaysGivesValidUtf8WithoutNul) {
    std::mt19937 rng(20261209);
    const std::string alphabet = "%%%0123456789abcdefABCDEFxz|=<>\xE4\xB8\xAD";
    for (int round = 0; round < 20000; ++round) {
        std::string in;
        const int len = static_cast<int>(rng() % 24);
        for (int i = 0; i < len; ++i) in += alphabet[rng() % alphabet.size()];
        const std::string out = PercentDecodeLink(in);
        ASSERT_TRUE(IsValidUtf8(out)) << in;
        ASSERT_EQ(out.find('\0'), std::string::npos) << in;
        // Parsing copes with whatever the decoding gives.
        const auto parsed = ParseCommandLine("-zuvopurl zuvop2p://" + in);
        ASSERT_TRUE(parsed.has_value());
        ASSERT_LE(parsed->assignments.size(), in.size());
    }
}

// A control that records what it receives and rejects the names it is told to.
class RecordingControl : public PlayerControl {
public:
    std::set<std::string> rejected;
    std::vector<std::pair<std::string, PropertyValue>> received;
    int starts = 0;
    void SetProperty(const std::string& name, const PropertyValue& value) override {
        if (rejected.count(name)) throw PlayerControlError("rejected " + name);
        received.emplace_back(name, value);
    }
    void Start() override { ++starts; }
};

TEST(OpenLink, OneFailingPropertyIsSkippedAndTheRestApplies) {
    RecordingControl control;
    control.rejected = {"cgi", "volume"};
    const LinkOutcome outcome =
        OpenLink("-zuvopurl zuvop2p://nat=a|volume=30|cgi=b|playmode=Live|action=c", &control);
    EXPECT_TRUE(outcome.opened);
    EXPECT_EQ(outcome.propertiesSet, 3);
    EXPECT_EQ(outcome.propertiesFailed, 2);
    ASSERT_EQ(control.received.size(), 3u);
    EXPECT_EQ(control.received[0].first, "nat");
    EXPECT_EQ(control.received[1].first, "playmode");
    EXPECT_EQ(control.received[2].first, "action");
    // cgi was counted before its failed assignment, so the method is still called.
    EXPECT_EQ(control.starts, 1);
    EXPECT_TRUE(outcome.startCalled);
}

TEST(OpenLink, WithoutControlOrLinkNothingHappens) {
    EXPECT_FALSE(OpenLink("-zuvopurl zuvop2p://nat=a|cgi=b|action=c", nullptr).opened);
    RecordingControl control;
    EXPECT_FALSE(OpenLink("zuvop2p://volume=3", &control).opened);
    EXPECT_TRUE(control.received.empty());
    EXPECT_EQ(control.starts, 0);
    const LinkOutcome two = OpenLink("-zuvopurl zuvop2p://nat=a|cgi=b", &control);
    EXPECT_TRUE(two.opened);
    EXPECT_FALSE(two.startCalled);
    EXPECT_EQ(control.starts, 0);
}

}  // namespace
}  // namespace zuvo
