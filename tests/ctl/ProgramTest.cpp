#include "ctl/Program.h"
#include "platform/AbortSignal.h"
#include "support/Device.h"
#include "support/Rows.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sstream>

using namespace lumacast;
using namespace lumacast::ctl;

namespace {

// Output that fails every write as the system's would, with its errno.
class FailingOutput : public std::streambuf {
public:
    explicit FailingOutput(int errorNumber) : errorNumber_(errorNumber) { }

protected:
    int_type overflow(int_type) override
    {
        errno = errorNumber_;
        return traits_type::eof();
    }

private:
    int errorNumber_;
};

struct Lost : test::Row {
    std::vector<std::string> args;
    int errorNumber;
    const char *told;
};

class LostOutput : public testing::TestWithParam<Lost> { };

TEST_P(LostOutput, IsAFailureToldOnce)
{
    const Lost &l = GetParam();
    test::Device device;
    const Parsed parsed = ParseCommandLine(l.args);
    ASSERT_EQ(parsed.kind, Parsed::Kind::Run) << parsed.text;
    Ports ports;
    ports.device = device.Port();
    FailingOutput failing(l.errorNumber);
    std::ostream out(&failing);
    std::ostringstream err;
    AbortSignal stop;
    EXPECT_EQ(ctl::Run(parsed.options, ports, out, err, false, stop), ExitFailed);
    EXPECT_EQ(err.str(), std::string("lumacast2-ctl: cannot write the output: ") + l.told + "\n");
    EXPECT_EQ(device.Record().frames.size(), 1u) << "the device was still asked";
}

INSTANTIATE_TEST_SUITE_P(
    Table, LostOutput,
    testing::Values(
        Lost{{"TableToAFullDisk"}, {"status", "127.0.0.1"}, ENOSPC, "No space left on device"},
        Lost{{"JsonToAClosedStream"}, {"status", "127.0.0.1", "--json"}, EBADF, "Bad file descriptor"}),
    test::RowName());

} // namespace
