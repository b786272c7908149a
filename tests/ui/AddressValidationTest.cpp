#include "ui/AddressValidation.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <QString>

#include <chrono>
#include <string>

using namespace lumacast;

namespace {

struct Verdict : test::Row {
    std::u16string text;
    bool dotted; // ReadDottedAddress
    bool ipv6; // ReadIPv6Address
};

class AddressVerdict : public testing::TestWithParam<Verdict> { };

TEST_P(AddressVerdict, BothReadingsAndTheVerdict)
{
    const Verdict &v = GetParam();
    EXPECT_EQ(ReadDottedAddress(v.text), v.dotted);
    EXPECT_EQ(ReadIPv6Address(v.text), v.ipv6);
    EXPECT_EQ(IsValidAddress(v.text), v.dotted || v.ipv6);
}

const std::u16string TwentyNines = u"99999999999999999999";

// The reference table of sample texts: which reading decides, or why both fail.
INSTANTIATE_TEST_SUITE_P(
    Samples, AddressVerdict,
    testing::Values(
        Verdict{"FourDecimalParts", u"192.168.0.10", true, false}, Verdict{"Empty", u"", true, false},
        Verdict{"OnePart", u"10", true, false}, Verdict{"ThreeParts", u"10.0.0", true, false},
        Verdict{"FiveParts", u"1.2.3.4.5", true, false},
        Verdict{"NoRangeCheck", u"256.300.999.1", true, false},
        Verdict{"FinalFullStop", u"1.2.3.4.", true, false}, Verdict{"StopsAtEmptyPart", u"1..x", true, false},
        Verdict{"LeadingFullStop", u".abc", true, false},
        Verdict{"LeadingZeros", u"010.001.002.003", true, false},
        Verdict{"HexPart", u"0x7F.0.0.1", true, false}, Verdict{"DollarHexPart", u"$7f.1", true, false},
        Verdict{"SignedParts", u"+1.-2.3.4", true, false}, Verdict{"SpaceBefore", u" 1.2.3.4", true, false},
        Verdict{"SpaceAfter", u"1.2.3.4 ", false, false}, Verdict{"SingleSpace", u" ", false, false},
        Verdict{"LargestDecimal", u"9223372036854775807", true, false},
        Verdict{"BeyondInt64", u"9223372036854775808", false, false},
        Verdict{"SecondPartBeyondInt64", u"1.99999999999999999999", false, false},
        Verdict{"ZeroXWithoutDigits", u"0x.1", false, false}, Verdict{"NoHexDigitG", u"0x1g", false, false},
        Verdict{"LetterPart", u"1.2.3.a", false, false}, Verdict{"Port", u"1.2.3.4:80", false, false},
        Verdict{"TwoColons", u"::", false, true}, Verdict{"Loopback6", u"::1", false, true},
        Verdict{"Documentation6", u"2001:db8::1", false, true},
        Verdict{"EightGroups", u"FE80:0:0:0:1234:5678:9ABC:DEF0", false, true},
        Verdict{"ThreeGroups", u"1:2:3", false, true},
        Verdict{"LeadingColon", u":1:2:3:4:5:6:7", false, true},
        Verdict{"GroupLeadingZeros", u"00000001::", false, true},
        Verdict{"MappedTail", u"::ffff:10.0.0.1", false, true},
        Verdict{"LastRunReadForThree", u"::1.2.3.2555", false, true},
        Verdict{"OneColon", u"1:2", false, false}, Verdict{"TwoEmptyGroupPlaces", u"1::2::3", false, false},
        Verdict{"ThreeColonsAlone", u":::", false, false},
        Verdict{"GroupAboveFFFF", u"12345::", false, false},
        Verdict{"TailAbove255", u"::1.2.3.256", false, false},
        Verdict{"TailTwoFullStops", u"::1.2.3", false, false},
        Verdict{"TailLetter", u"::1.2.3.4a", false, false},
        Verdict{"SevenColonsWithTail", u"1:2:3:4:5:6::1.2.3.4", false, false},
        Verdict{"Zone", u"fe80::1%4", false, false}, Verdict{"Brackets", u"[::1]", false, false}),
    test::RowName());

INSTANTIATE_TEST_SUITE_P(
    DottedParts, AddressVerdict,
    testing::Values(
        Verdict{"PlusLargest", u"+9223372036854775807", true, false},
        Verdict{"PlusBeyond", u"+9223372036854775808", false, false},
        Verdict{"SmallestNegative", u"-9223372036854775808", true, false},
        Verdict{"BelowSmallest", u"-9223372036854775809", false, false},
        Verdict{"LargestWithZeros", u"0009223372036854775807", true, false},
        Verdict{"SmallestWithZeros", u"-0009223372036854775808", true, false},
        Verdict{"TwentyNines", TwentyNines, false, false},
        Verdict{"TwentyNinesLater", u"1.2.3.4." + TwentyNines, false, false},
        Verdict{"TwentyNinesNeverRead", u"1.." + TwentyNines, true, false},
        Verdict{"SixteenHexDigits", u"$FFFFFFFFFFFFFFFF", true, false},
        Verdict{"SeventeenHexDigits", u"$10000000000000000", false, false},
        Verdict{"SixteenAfterZeros", u"$0000FFFFFFFFFFFFFFFF", true, false},
        Verdict{"SeventeenAfterZeros", u"x000010000000000000000", false, false},
        Verdict{"NegativeHexWraps", u"-$FFFFFFFFFFFFFFFF", true, false},
        Verdict{"SpacedZeroXSeventeen", u" 0x10000000000000000", false, false},
        Verdict{"ZeroXAnyLength", u"0x10000000000000000", true, false},
        Verdict{"ZeroXHundredDigits", u"0x" + std::u16string(100, u'f') + u".1", true, false},
        Verdict{"LowerX", u"x1f", true, false}, Verdict{"UpperX", u"X1F", true, false},
        Verdict{"UpperZeroX", u"0X1F", true, false}, Verdict{"SignedZeroX", u"-0x1", true, false},
        Verdict{"DollarAlone", u"$", false, false}, Verdict{"XAlone", u"x", false, false},
        Verdict{"ZeroXAlone", u"0x", false, false}, Verdict{"SignedZeroXAlone", u"-0x", false, false},
        Verdict{"DollarThenSign", u"$-1", false, false}, Verdict{"ZeroXThenSign", u"0x+1", false, false},
        Verdict{"XThenSign", u"x-1", false, false}, Verdict{"TwoSigns", u"+-1", false, false},
        Verdict{"SignAlone", u"-", false, false}, Verdict{"SpaceAfterSign", u"- 1", false, false},
        Verdict{"SpacesBeforeSign", u"  -1", true, false}, Verdict{"SpaceAfterDigits", u"1 .2", false, false},
        Verdict{"SpaceBetweenDigits", u"1 2", false, false}, Verdict{"Tab", u"\t1", false, false},
        Verdict{"ZeroThenX", u"00x1", false, false}, Verdict{"NegativeZero", u"-0", true, false},
        Verdict{"FullStopAlone", u".", true, false}, Verdict{"FullWidthDigit", u"\uFF11.2", false, false},
        Verdict{"ArabicDigit", u"\u0661", false, false}),
    test::RowName());

INSTANTIATE_TEST_SUITE_P(IPv6Readings, AddressVerdict,
                         testing::Values(Verdict{"SevenColons", u"1:2:3:4:5:6:7:8", false, true},
                                         Verdict{"EighthColon", u"1:2:3:4:5:6:7:8:9", false, false},
                                         Verdict{"SevenColonsOneEmpty", u"1::2:3:4:5:6:7", false, true},
                                         Verdict{"EighthColonWithEmpty", u"1::2:3:4:5:6:7:8", false, false},
                                         Verdict{"TrailingTwoColons", u"1:2:3:4:5:6::", false, true},
                                         Verdict{"EmptyGroupAmongEight", u"::1:2:3:4:5:6", false, true},
                                         Verdict{"ThreeColonsInARow", u"1:::2", false, false},
                                         Verdict{"SingleColon", u":", false, false},
                                         Verdict{"TrailingSingleColon", u"1:2:", false, true},
                                         Verdict{"OneColonPadded", u"1:", false, false},
                                         Verdict{"GroupFFFF", u"ffff::FFFF", false, true},
                                         Verdict{"GroupFFFFWithZeros", u"0000ffff::", false, true},
                                         Verdict{"GroupFiveDigitsAfterZeros", u"00010000::", false, false},
                                         Verdict{"NoHexLetter", u"1:g:3", false, false},
                                         Verdict{"LeadingBlank", u" ::1", false, false},
                                         Verdict{"TrailingBlank", u"::1 ", false, false},
                                         Verdict{"Accent", u"::\u00e9", false, false},
                                         Verdict{"FourthFullStop", u"::1.2.3.4.5", false, false},
                                         Verdict{"SixColonsWithTail", u"1:2:3:4:5:6:1.2.3.4", false, true},
                                         Verdict{"OneColonWithTail", u"1:1.2.3.4", false, false},
                                         Verdict{"TailInsideGroups", u"1::2:3.4.5.6", false, true},
                                         Verdict{"ColonAfterTail", u"::1.2.3.4:5", false, false},
                                         Verdict{"TailAll255", u"::255.255.255.255", false, true},
                                         Verdict{"TailFirst256", u"::256.1.1.1", false, false},
                                         Verdict{"TailSecond256", u"::1.256.1.1", false, false},
                                         Verdict{"TailThird256", u"::1.1.256.1", false, false},
                                         Verdict{"TailLast256FourDigits", u"::1.2.3.2565", false, false},
                                         Verdict{"TailLastFourDigitsZero", u"::1.2.3.0255", false, true},
                                         Verdict{"TailLastThousand", u"::1.2.3.1000", false, true},
                                         Verdict{"TailRunLeadingZeros", u"::0001.2.3.4", false, true},
                                         Verdict{"TailFirstRunLetter", u"::a1.2.3.4", false, false},
                                         Verdict{"TailFirstRunEmpty", u"::.1.2.3", false, false},
                                         Verdict{"TailMiddleRunEmpty", u"::1..2.3", false, false},
                                         Verdict{"TailLastRunEmpty", u"::1.2.3.", false, false}),
                         test::RowName());

TEST(AddressVerdictQString, JudgesTheFieldText)
{
    EXPECT_TRUE(IsValidAddress(QString()));
    EXPECT_TRUE(IsValidAddress(QStringLiteral("2001:db8::1")));
    EXPECT_FALSE(IsValidAddress(QStringLiteral("1.2.3.4 ")));
}

// The verdict takes time linear in the text: each text of a million
// characters, in shapes that read far or fail late, is judged in milliseconds.
TEST(AddressVerdictTime, MegabyteTextsAreJudgedQuickly)
{
    constexpr std::size_t Mb = 1 << 20;
    std::u16string repeatedParts;
    for (std::size_t i = 0; repeatedParts.size() < Mb; ++i)
        repeatedParts += u"255.";
    std::u16string colonRuns;
    while (colonRuns.size() < Mb)
        colonRuns += u"1:";
    const struct {
        std::u16string text;
        bool valid;
    } cases[] = {
        {repeatedParts, true},
        {repeatedParts + u"x", false},
        {u"0x" + std::u16string(Mb, u'f'), true},
        {std::u16string(Mb, u'0'), true},
        {std::u16string(Mb, u' '), false},
        {std::u16string(Mb, u'9'), false},
        {std::u16string(Mb, u':'), false},
        {colonRuns, false},
        {std::u16string(Mb, u'0') + u"1::", true},
        {u"::1.2.3." + std::u16string(Mb, u'2'), true},
        {u"." + std::u16string(Mb, u'z'), true},
        {std::u16string(Mb, u'a'), false},
    };
    for (const auto &c : cases) {
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(IsValidAddress(c.text), c.valid) << c.text.size();
        const auto elapsed = std::chrono::steady_clock::now() - start;
        EXPECT_LT(elapsed, std::chrono::seconds(1));
    }
}

} // namespace
