#include <cstdio>
#include <cstring>

int main(int argc, char** argv)
{
    std::fprintf(stderr, "usage: varnika-db COMMAND FILE ...\n");
    return 1;
}
