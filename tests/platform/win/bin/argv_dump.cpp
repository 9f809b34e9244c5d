// Writes its arguments, one per line, to the file named by ARGV_DUMP_FILE; "--exit=N" sets the exit
// code and "--sleep=MS" waits first. The file appears complete (renamed into place), so a test may
// read it as soon as it exists.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv)
{
    int code = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--exit=", 7) == 0)
            code = std::atoi(argv[i] + 7);
        if (std::strncmp(argv[i], "--sleep=", 8) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[i] + 8)));
        }
    }
    if (const char* out = std::getenv("ARGV_DUMP_FILE")) {
        const std::string part = std::string(out) + ".part";
        {
            std::ofstream file(part);
            for (int i = 1; i < argc; ++i)
                file << argv[i] << '\n';
        }
        std::rename(part.c_str(), out);
    }
    return code;
}
