#include "platform/HandOff.h"
#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    lumacast::handoff::Install();
    return RUN_ALL_TESTS();
}
