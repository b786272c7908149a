#include "service/Program.h"

int main(int argc, char **argv)
{
    return lumacast::ServiceMain(std::vector<std::string>(argv + 1, argv + argc));
}
