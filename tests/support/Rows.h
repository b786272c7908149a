#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace lumacast::test {

// The base of a table row: its name shows in test listings and failure
// messages. Derived rows keep aggregate initialisation ({"Name", ...}).
struct Row {
    const char *name;
};

inline std::ostream &operator<<(std::ostream &os, const Row &row)
{
    return os << row.name;
}

// Names parameterised cases after their rows.
struct RowName {
    template <typename P> std::string operator()(const testing::TestParamInfo<P> &info) const
    {
        return info.param.name;
    }
};

} // namespace lumacast::test
