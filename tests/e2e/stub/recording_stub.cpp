// A stand-in for an outside program in end-to-end tests. Started under the
// name of the program it replaces (a symbolic link in the stub folder), it
// appends {"args":[...],"input":"..."} to <stub dir>/<name>.log and answers
// as <stub dir>/<name>.reply says: {"out","err","exit_code","delay_seconds"}.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <thread>

#include <nlohmann/json.hpp>

namespace fs = std::filesystem;

int main(int argc, char** argv) {
    const char* dir = std::getenv("VELMORA_STUB_DIR");
    if (!dir) {
        std::cerr << "recording stub: VELMORA_STUB_DIR is not set\n";
        return 127;
    }
    const std::string name = fs::path(argv[0]).filename().string();
    nlohmann::json reply = nlohmann::json::object();
    if (std::ifstream in(fs::path(dir) / (name + ".reply")); in) reply = nlohmann::json::parse(in, nullptr, false);

    std::string input;
    if (!isatty(0)) input.assign(std::istreambuf_iterator<char>(std::cin), {});
    nlohmann::json call = {{"args", nlohmann::json::array()}, {"input", input}};
    for (int i = 1; i < argc; ++i) call["args"].push_back(argv[i]);
    {
        std::ofstream log(fs::path(dir) / (name + ".log"), std::ios::app);
        log << call.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << "\n";
    }

    const double delay = reply.value("delay_seconds", 0.0);
    if (delay > 0) std::this_thread::sleep_for(std::chrono::duration<double>(delay));
    std::cout << reply.value("out", std::string());
    std::cerr << reply.value("err", std::string());
    return reply.value("exit_code", 0);
}
