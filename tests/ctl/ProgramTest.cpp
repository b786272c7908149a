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

// Fails every write as the system's would, with its errno.
struct FailingOutput : std::streambuf {
    int errorNumber;
    explicit FailingOutput(int e) : errorNumber(e) { }
    int_type overflow(int_type) override
    {
        errno = errorNumber;
        return traits_type::eof();
    }
};

struct Lost : test::Row {
    std::vector<std::string> args;
    int errorNumber;
    const char *told;
};

class LostOutput : public testing::TestWithParam<Lost> { };

TEST_P(LostOutput, IsAFailureToldOnce)
{
    test::Device device;
    const Parsed parsed = ParseCommandLine(GetParam().args);
    Ports ports;
    ports.device = device.Port();
    FailingOutput failing(GetParam().errorNumber);
    std::ostream out(&failing);
    std::ostringstream err;
    AbortSignal stop;
    EXPECT_EQ(ctl::Run(parsed.options, ports, out, err, false, stop), ExitFailed);
    EXPECT_EQ(err.str(), std::string("lumacast2-ctl: cannot write the output: ") + GetParam().told + "\n");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LostOutput,
    testing::Values(
        Lost{{"TableToAFullDisk"}, {"status", "127.0.0.1"}, ENOSPC, "No space left on device"},
        Lost{{"JsonToAClosedStream"}, {"status", "127.0.0.1", "--json"}, EBADF, "Bad file descriptor"},
        // A watch that cannot tell what it sees ends instead of watching for ever.
        Lost{{"WatchToAFullDisk"}, {"watch", "127.0.0.1"}, ENOSPC, "No space left on device"}),
    test::RowName());

} // namespace
