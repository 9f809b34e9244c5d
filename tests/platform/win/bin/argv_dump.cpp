// Writes its arguments, one per line, to the file named by ARGV_DUMP_FILE; "--exit=N" sets the exit
// code and "--sleep=MS" waits first.
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <thread>

int main(int argc, char** argv)
{
    int code = 0;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--exit=", 7) == 0) code = std::atoi(argv[i] + 7);
        if (std::strncmp(argv[i], "--sleep=", 8) == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[i] + 8)));
        }
    }
    if (const char* out = std::getenv("ARGV_DUMP_FILE")) {
        std::ofstream file(out);
        for (int i = 1; i < argc; ++i) file << argv[i] << '\n';
    }
    return code;
}
