// Stands in for the mail program in tests: writes its arguments, one a line, to the file named by
// $TORVO_FAKE_DASTEL_LOG and ends.
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    const char* path = std::getenv("TORVO_FAKE_DASTEL_LOG");
    if (path == nullptr)
        return 2;
    FILE* f = std::fopen(path, "ab");
    if (f == nullptr)
        return 1;
    for (int i = 1; i < argc; ++i)
        std::fprintf(f, "%s\n", argv[i]);
    std::fclose(f);
    return 0;
}
