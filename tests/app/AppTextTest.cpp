#include "app/AppText.h"
#include "app/DisplayCheck.h"
#include "app/ErrorBox.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace lumacast;

namespace {

struct TextCase {
    const char *input;
    const char *expected;
};

void PrintTo(const TextCase &c, std::ostream *os)
{
    *os << c.input;
}

class TitleTest : public testing::TestWithParam<TextCase> { };

TEST_P(TitleTest, ComesFromTheProgramFileName)
{
    EXPECT_EQ(ApplicationTitle(QString::fromUtf8(GetParam().input)), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Names, TitleTest,
                         testing::Values(TextCase{"CONTROL.EXE", "Control"},
                                         TextCase{"lumacast2", "lumacast2"},
                                         TextCase{"LUMACAST2", "Lumacast2"},
                                         TextCase{"/usr/bin/lumacast2", "lumacast2"},
                                         TextCase{"./Lumacast2.app.bin", "Lumacast2"},
                                         TextCase{"some.dir/PROG", "Prog"}, // dots of the folder do not count
                                         TextCase{"lUMA.CAST", "luma"}, TextCase{"ÄRGER.X", "Ärger"},
                                         TextCase{"\xF0\x9D\x90\x80"
                                                  "BC",
                                                  "\xF0\x9D\x90\x80"
                                                  "bc"}, // first character outside the BMP
                                         TextCase{"A", "A"}, TextCase{".hidden", ""}, TextCase{"", ""}));

class FullStopTest : public testing::TestWithParam<TextCase> { };

TEST_P(FullStopTest, IsAddedAfterCharactersAboveIt)
{
    EXPECT_EQ(ErrorBoxText(QString::fromUtf8(GetParam().input)), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(LastCharacters, FullStopTest,
                         testing::Values(TextCase{"Address already in use", "Address already in use."},
                                         TextCase{"Ends with a stop.", "Ends with a stop."},
                                         TextCase{"Minus-", "Minus-"}, // 45
                                         TextCase{"Slash/", "Slash/."}, // 47
                                         TextCase{"Code 0", "Code 0."}, // 48
                                         TextCase{"Bang!", "Bang!"}, // 33
                                         TextCase{"Comma,", "Comma,"}, // 44
                                         TextCase{"Space ", "Space "}, // 32
                                         TextCase{"Line\n", "Line\n"},
                                         TextCase{"使用中です。", "使用中です。."}, // U+3002 is far above 46
                                         TextCase{"Smile \xF0\x9F\x98\x80", "Smile \xF0\x9F\x98\x80."},
                                         TextCase{"", ""}));

TEST(ErrorMessageTest, ReadsWhatAsUtf8AndNamesOtherErrors)
{
    const struct {
        std::exception_ptr error;
        QString expected;
    } cases[] = {
        {std::make_exception_ptr(std::runtime_error("Socket Error # 10048")), "Socket Error # 10048"},
        {std::make_exception_ptr(std::runtime_error("アドレスは使用中です")),
         QStringLiteral("アドレスは使用中です")},
        {std::make_exception_ptr(std::logic_error("")), ""},
        {std::make_exception_ptr(42), "An error of an unknown kind occurred"},
        {nullptr, "An error of an unknown kind occurred"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ErrorMessage(c.error), c.expected);
}

// The toolkit's own words for the cases the program's test cannot start here.
TEST(NoDisplayReason, SaysWhatIsMissing)
{
    const auto none = [](const char *) -> const char * { return nullptr; };
    const auto wayland = [](const char *name) -> const char * {
        return std::string_view(name) == "WAYLAND_DISPLAY" ? "wayland-3" : nullptr;
    };
    EXPECT_EQ(NoDisplayReason({"Failed to create wl_display (No such file or directory)"}, wayland),
              "the Wayland display wayland-3 cannot be reached");
    EXPECT_EQ(NoDisplayReason({"Failed to create wl_display (No such file or directory)"}, none),
              "the Wayland display wayland-0 cannot be reached");
    EXPECT_EQ(NoDisplayReason({"Could not find the Qt platform plugin \"wayland\" in \"\"",
                               "could not connect to display "},
                              none),
              "DISPLAY is not set");
    EXPECT_EQ(NoDisplayReason({"something else broke\nand more"}, none), "something else broke");
    EXPECT_EQ(NoDisplayReason({}, none), "the toolkit gave no reason");
}

} // namespace
