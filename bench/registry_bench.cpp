// Costs of the registration table on the paths of a REGISTER (Update, Save, WriteAll) and of
// forwarding (FindByName, FindByVia), at small and large table sizes.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "registry/reg_users.hpp"

namespace {

std::string nameOf(int i) {
    return "user" + std::to_string(1000000 + i);
}
std::string viaOf(int i) {
    return "10.1." + std::to_string(i / 250 % 250) + "." + std::to_string(i % 250 + 1);
}

void fill(TagRegUsers& table, int count) {
    for (int i = 0; i < count; ++i) {
        table.Update(nameOf(i), viaOf(i), 5060 + i % 7, viaOf(i), 5060 + i % 7,
                     "\"User " + std::to_string(i) + "\" <sip:" + nameOf(i) + "@lan>", 3600);
    }
}

class TempDir {
  public:
    TempDir() {
        char pattern[] = "/tmp/siprelay-regbench-XXXXXX";
        if (::mkdtemp(pattern) != nullptr) path = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};

void FindByName(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TagRegUsers table("unused-RegUsers.txt", false);
    fill(table, count);
    const std::string name = nameOf(count / 2);
    std::string address;
    int port = 0;
    for (auto _ : state) benchmark::DoNotOptimize(table.FindByName(name, address, port));
}

void FindByVia(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TagRegUsers table("unused-RegUsers.txt", false);
    fill(table, count);
    const int i = count / 2;
    const std::string via = viaOf(i);
    std::string address;
    int port = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(table.FindByVia(via, 5060 + i % 7, address, port));
}

void UpdateRefresh(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TagRegUsers table("unused-RegUsers.txt", false);
    fill(table, count);
    const int i = count / 2;
    const std::string name = nameOf(i);
    const std::string via = viaOf(i);
    const std::string to = "\"User " + std::to_string(i) + "\" <sip:" + name + "@lan>";
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            table.Update(name, via, 5060 + i % 7, via, 5060 + i % 7, to, 3600));
    }
}

// A new name is stored and removed again, so the table keeps its size across iterations.
void UpdateNewNameAndRemove(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    TagRegUsers table("unused-RegUsers.txt", false);
    fill(table, count);
    const std::string name = "newcomer";
    for (auto _ : state) {
        table.Update(name, "127.0.9.9", 5060, "127.0.9.9", 5060, "<sip:newcomer@lan>", 3600);
        table.Update(name, "127.0.9.9", 5060, "127.0.9.9", 5060, "<sip:newcomer@lan>", 0);
    }
}

void WriteAllUnchanged(benchmark::State& state) {
    TagRegUsers table("unused-RegUsers.txt", false);
    fill(table, static_cast<int>(state.range(0)));
    std::FILE* devNull = std::fopen("/dev/null", "w");
    if (devNull == nullptr) {
        state.SkipWithError("cannot open /dev/null");
        return;
    }
    for (auto _ : state) table.WriteAll(devNull);
    std::fclose(devNull);
}

void SaveUnchanged(benchmark::State& state) {
    TempDir dir;
    TagRegUsers table(dir.path + "/RegUsers.txt", false);
    fill(table, static_cast<int>(state.range(0)));
    if (table.Save() != 0) {
        state.SkipWithError("first Save failed");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(table.Save());
}

// For comparison: a REGISTER that changes the table pays the re-format, the write and the
// flush to disk.
void SaveAfterChange(benchmark::State& state) {
    TempDir dir;
    TagRegUsers table(dir.path + "/RegUsers.txt", false);
    fill(table, static_cast<int>(state.range(0)));
    int expires = 1;
    for (auto _ : state) {
        table.Update(nameOf(0), viaOf(0), 5060, viaOf(0), 5060, "<sip:x@lan>", expires++);
        benchmark::DoNotOptimize(table.Save());
    }
}

}  // namespace

BENCHMARK(FindByName)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(FindByVia)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(UpdateRefresh)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(UpdateNewNameAndRemove)->Arg(10)->Arg(1000)->Arg(100000);
BENCHMARK(WriteAllUnchanged)->Arg(1000);
BENCHMARK(SaveUnchanged)->Arg(1000);
BENCHMARK(SaveAfterChange)->Arg(1000)->Iterations(200);
