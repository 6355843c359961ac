// Times whole Windows processes under Wine, from CreateProcess to the exit that a blocking wait
// sees, on the performance counter: no poll rounds a figure up to its period.
//
//   benchrunner.exe PLAN RESULTS
//
// PLAN is a text file of lines:
//   rounds N                  how many rounds
//   reset SOURCE TARGET       copies SOURCE over TARGET before every run, outside the timing
//   settle MS                 waits MS milliseconds before every run, outside the timing, so that
//                             what the last run left behind (its end, the copy) is done
//   run NAME COMMAND-LINE     a contender; each round runs every contender once
// Round r starts with contender r modulo their number and goes on in the file's order, so that
// each contender takes every place of a round in turn. RESULTS gets one JSON line a run:
//   {"round": R, "name": "NAME", "ms": T, "exit_code": C}
// Exit code 0 when every reset and every start worked, 1 otherwise; it stops at the first that
// failed. A program's own exit code is only recorded.
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

struct Contender {
    std::string name;
    std::string commandLine;
};

struct Plan {
    int rounds = 0;
    DWORD settleMs = 0;
    std::vector<std::pair<std::string, std::string>> resets;
    std::vector<Contender> contenders;
};

// The rest of the line after its first word and the blanks that follow it.
std::string Rest(std::istringstream& line) {
    std::string rest;
    std::getline(line >> std::ws, rest);
    if (!rest.empty() && rest.back() == '\r') {
        rest.pop_back();
    }
    return rest;
}

bool ReadPlan(const char* fileName, Plan& plan) {
    std::ifstream file(fileName);
    std::string text;
    while (std::getline(file, text)) {
        std::istringstream line(text);
        std::string word;
        line >> word;
        if (word == "rounds") {
            line >> plan.rounds;
        } else if (word == "settle") {
            line >> plan.settleMs;
        } else if (word == "reset") {
            std::string source;
            line >> source;
            plan.resets.emplace_back(source, Rest(line));
        } else if (word == "run") {
            Contender contender;
            line >> contender.name;
            contender.commandLine = Rest(line);
            plan.contenders.push_back(contender);
        } else if (!word.empty()) {
            return false;
        }
    }
    return plan.rounds > 0 && !plan.contenders.empty();
}

// Milliseconds from the start of the process to its end, or a negative value when it could not
// be started.
double TimeRun(std::string commandLine, DWORD& exitCode) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    LARGE_INTEGER frequency;
    LARGE_INTEGER started;
    LARGE_INTEGER ended;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&started);
    if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        return -1;
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    QueryPerformanceCounter(&ended);
    GetExitCodeProcess(process.hProcess, &exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return static_cast<double>(ended.QuadPart - started.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

} // namespace

int main(int argc, char** argv) {
    Plan plan;
    if (argc != 3 || !ReadPlan(argv[1], plan)) {
        std::fprintf(stderr, "usage: benchrunner.exe PLAN RESULTS (see BenchRunner.cpp)\n");
        return 1;
    }
    std::FILE* results = std::fopen(argv[2], "w");
    if (results == nullptr) {
        return 1;
    }
    const std::size_t count = plan.contenders.size();
    bool ok = true;
    for (int round = 0; round < plan.rounds && ok; ++round) {
        for (std::size_t i = 0; i < count && ok; ++i) {
            const Contender& contender =
                plan.contenders[(static_cast<std::size_t>(round) + i) % count];
            for (const auto& reset : plan.resets) {
                ok = ok && CopyFileA(reset.first.c_str(), reset.second.c_str(), FALSE) != 0;
            }
            Sleep(plan.settleMs);
            DWORD exitCode = 0;
            const double ms = ok ? TimeRun(contender.commandLine, exitCode) : -1;
            ok = ms >= 0;
            if (ok) {
                std::fprintf(results,
                             "{\"round\": %d, \"name\": \"%s\", \"ms\": %.3f, "
                             "\"exit_code\": %lu}\n",
                             round, contender.name.c_str(), ms, exitCode);
                std::fflush(results);
            }
        }
    }
    std::fclose(results);
    return ok ? 0 : 1;
}
