#include "app/Application.h"
#include "platform/HandOff.h"

#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    testing::InitGoogleTest(&argc, argv);
    lumacast::Application app(argc, argv);
    return RUN_ALL_TESTS();
}
