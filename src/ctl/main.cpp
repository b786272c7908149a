#include "ctl/Program.h"

int main(int argc, char **argv)
{
    return lumacast::ctl::Main(std::vector<std::string>(argv + 1, argv + argc));
}
