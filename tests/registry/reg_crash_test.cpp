#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <string>
#include <thread>

#include "reg_test_support.hpp"
#include "registry/reg_users.hpp"

namespace {

constexpr int kBindings = 5000;

std::string nameOf(int i) {
    return "user" + std::to_string(100000 + i);
}

std::string toOf(int i, long generation) {
    return "\"User " + std::to_string(i) + "\" <sip:" + nameOf(i) +
           "@lan>;gen=" + std::to_string(generation);
}

// Saves a full table again and again until it is killed; before each Save one binding takes a
// new To value, so every Save writes the whole file anew. One byte on readyFd tells the parent
// that the Saves have begun.
[[noreturn]] void saveForever(const std::string& path, long firstGeneration, int readyFd) {
    TagRegUsers table(path, false);
    for (int i = 0; i < kBindings; ++i) {
        table.Update(nameOf(i), "192.168.1.20", 5060 + i % 1000, "192.168.1.20", 5060 + i % 1000,
                     toOf(i, firstGeneration), 3600);
    }
    for (long generation = firstGeneration;; ++generation) {
        int i = static_cast<int>(generation % kBindings);
        table.Update(nameOf(i), "192.168.1.20", 5060 + i % 1000, "192.168.1.20", 5060 + i % 1000,
                     toOf(i, generation), 3600);
        table.Save();
        if (readyFd >= 0 && ::write(readyFd, "s", 1) == 1) {
            ::close(readyFd);
            readyFd = -1;
        }
    }
}

// True when the loaded table holds every binding, each as some generation saved it.
bool isWholeTable(TagRegUsers& table) {
    if (table.users.size() != static_cast<std::size_t>(kBindings)) return false;
    for (int i = 0; i < kBindings; ++i) {
        auto it = table.users.find(nameOf(i));
        if (it == table.users.end()) return false;
        const std::string& to = it->second.toAcc;
        std::size_t mark = to.rfind(";gen=");
        if (mark == std::string::npos) return false;
        if (to != toOf(i, std::stol("0" + to.substr(mark + 5)))) return false;
        if (it->second.expires != 3600) return false;
    }
    return true;
}

TEST(RegistryCrashSafety, KilledSaveLeavesWholeTable) {
    RegTempDir dir;
    ASSERT_FALSE(dir.path.empty());
    const std::string path = dir.File();
    std::random_device seedSource;
    const unsigned seed = seedSource();
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> pauseMs(0, 60);

    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        int ready[2];
        ASSERT_EQ(::pipe(ready), 0);
        std::fflush(nullptr);  // the child must not repeat buffered output
        pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(ready[0]);
            saveForever(path, round * 1000000L, ready[1]);
        }
        ::close(ready[1]);

        // The kill falls among the child's Saves, not while it builds its table. Should the
        // child die early, the read sees the pipe closed instead of waiting.
        char byte = 0;
        EXPECT_EQ(::read(ready[0], &byte, 1), 1);
        ::close(ready[0]);
        std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs(random)));
        ASSERT_EQ(::kill(child, SIGKILL), 0);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));

        const std::string bytes = ReadBytes(path);
        testing::internal::CaptureStdout();
        TagRegUsers loaded(path, false);
        int result = loaded.Load();
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(result, 0);
        EXPECT_TRUE(isWholeTable(loaded)) << "file is not one whole saved table";
        // Every line complete: the file is exactly the table's own listing.
        EXPECT_EQ(bytes, WithCrLf(ListingOf(loaded)));
    }
}

}  // namespace
