#include <cstdio>

int main()
{
    std::fputs("torvo: the program is not built yet; only its libraries and tests exist.\n", stderr);
    return 0;
}
