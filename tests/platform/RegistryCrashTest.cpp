// Crash consistency of the registry file: a writer killed at random moments while a reader
// (the card driver's side) reads all the while. Real processes, the real file.

#include "platform/RegistryFile.h"
#include "platform/RegistryKey.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdlib>
#include <iostream>
#include <random>

using namespace platform;

namespace {

constexpr std::u16string_view kParms = u"Comm\\VQ731\\Parms";
constexpr std::array<std::u16string_view, 6> kNumbers = {u"NetworkType", u"TxRate",  u"PSMode",
                                                         u"DSChannel",   u"WepReq", u"DefaultKeyId"};
constexpr std::array<std::u16string_view, 2> kStrings = {u"SSID", u"DefaultKeys"};

// Long enough that a write takes a while, so many kills land in the middle of one.
std::u16string StringFor(std::u16string_view name, uint32_t generation)
{
    std::u16string text(name);
    for (char c : std::to_string(generation))
        text += static_cast<char16_t>(c);
    text.resize(1500, u'.');
    return text;
}

std::vector<uint8_t> Utf16Data(std::u16string_view text)
{
    std::vector<uint8_t> data;
    for (char16_t u : text) {
        data.push_back(static_cast<uint8_t>(u));
        data.push_back(static_cast<uint8_t>(u >> 8));
    }
    data.insert(data.end(), {0, 0});
    return data;
}

// The eight values of one save, as the settings store writes them.
bool SaveGeneration(uint32_t generation)
{
    auto key = RegistryKey::Open(kParms, Access::Set);
    if (!key)
        return false;
    for (std::u16string_view name : kNumbers)
        key->SetValue(name, REG_DWORD, &generation, 4);
    for (std::u16string_view name : kStrings) {
        const std::vector<uint8_t> data = Utf16Data(StringFor(name, generation));
        key->SetValue(name, REG_SZ, data.data(), static_cast<uint32_t>(data.size()));
    }
    return key->Close() == ERROR_SUCCESS;
}

// The generation that all eight values agree on; nothing when the key cannot be opened or
// the values are a mix.
std::optional<uint32_t> ReadGeneration()
{
    auto key = RegistryKey::Open(kParms, Access::Query);
    if (!key)
        return std::nullopt;
    uint32_t generation = 0;
    uint32_t size = 4;
    if (key->QueryValue(kNumbers[0], &generation, &size) != ERROR_SUCCESS)
        return std::nullopt;
    for (std::u16string_view name : kNumbers) {
        uint32_t number = 0;
        size = 4;
        if (key->QueryValue(name, &number, &size) != ERROR_SUCCESS || number != generation)
            return std::nullopt;
    }
    for (std::u16string_view name : kStrings) {
        const std::vector<uint8_t> expected = Utf16Data(StringFor(name, generation));
        std::vector<uint8_t> data(expected.size());
        size = static_cast<uint32_t>(data.size());
        if (key->QueryValue(name, data.data(), &size) != ERROR_SUCCESS || data != expected)
            return std::nullopt;
    }
    return generation;
}

const std::string kOtherKeys =
    "[HKEY_LOCAL_MACHINE\\Comm\\VQ731]\n"
    "\"DisplayName\"=\"VQ731 Wireless LAN Card\"\n"
    "\"Raw\"=hex(1):61,00,00,d8,00,00\n\n"
    "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms\\Tcpip]\n"
    "\"EnableDHCP\"=dword:00000001\n\n";

bool OtherKeysUntouched(const std::string& bytes)
{
    auto now = regfile::Document::Parse(bytes);
    auto original = regfile::Document::Parse("Windows Registry Editor Version 5.00\n\n" + kOtherKeys);
    if (!std::holds_alternative<regfile::Document>(now))
        return false;
    for (const regfile::Key& key : std::get<regfile::Document>(original).Keys()) {
        const regfile::Key* found = std::get<regfile::Document>(now).FindKey(key.path);
        if (!found || !(*found == key))
            return false;
    }
    return true;
}

size_t CountTemporaries(const std::filesystem::path& folder)
{
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        count += entry.path().filename().string().starts_with("registry.reg.tmp-");
    return count;
}

// Reads until `stop` reaches end of file; answers how many reads it made, or -1 after the
// first read that found no file, an unparsable one or a mix of two saves.
[[noreturn]] void RunReader(int stop, int result)
{
    long reads = 0;
    uint32_t last = 0;
    for (;;) {
        pollfd p{stop, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0)
            break;
        const std::optional<uint32_t> generation = ReadGeneration();
        if (!generation || *generation < last) {
            reads = -1;
            break;
        }
        last = *generation;
        ++reads;
        ::usleep(200);
    }
    const std::string answer = std::to_string(reads);
    [[maybe_unused]] ssize_t n = ::write(result, answer.data(), answer.size());
    ::_exit(0);
}

[[noreturn]] void RunWriter(int progress)
{
    uint32_t generation = ReadGeneration().value_or(0);
    for (int i = 0; i < 100000; ++i) {
        if (!SaveGeneration(++generation))
            ::_exit(2);
        [[maybe_unused]] ssize_t n = ::write(progress, "x", 1);
    }
    ::_exit(0);
}

bool WaitReadable(int fd, int milliseconds)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, milliseconds) > 0;
}

size_t Drain(int fd)
{
    size_t total = 0;
    char buffer[4096];
    ssize_t n;
    while (WaitReadable(fd, 0) && (n = ::read(fd, buffer, sizeof buffer)) > 0)
        total += static_cast<size_t>(n);
    return total;
}

int Rounds()
{
    const char* rounds = std::getenv("WLAN_REGISTRY_CRASH_ROUNDS");
    return rounds && std::atoi(rounds) > 0 ? std::atoi(rounds) : 50;
}

} // namespace

TEST(RegistryCrashTest, AKilledWriterLeavesTheOldOrTheNewSaveAndTheReaderNeverSeesAMix)
{
    testenv::TempDir dir;
    const std::filesystem::path file = dir / "registry.reg";
    testenv::ScopedEnv env("WLAN_REGISTRY_FILE", file.string());
    testenv::WriteFile(file, "Windows Registry Editor Version 5.00\n\n" + kOtherKeys +
                                 "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n\n");
    // Kills are spread over a few saves' time, measured here on this machine's disk.
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t generation = 0; generation < 4; ++generation)
        ASSERT_TRUE(SaveGeneration(generation));
    const auto saveMicros = std::max<long>(
        1, std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count() / 4);

    int stopPipe[2];
    int resultPipe[2];
    ASSERT_EQ(::pipe(stopPipe), 0);
    ASSERT_EQ(::pipe(resultPipe), 0);
    const pid_t reader = ::fork();
    ASSERT_GE(reader, 0);
    if (reader == 0) {
        ::close(stopPipe[1]);
        ::close(resultPipe[0]);
        RunReader(stopPipe[0], resultPipe[1]);
    }
    ::close(stopPipe[0]);
    ::close(resultPipe[1]);

    // A fixed seed, so a failing run can be repeated with the same kill times.
    constexpr uint32_t kSeed = 20261208;
    std::cout << "[ seed     ] " << kSeed << "\n";
    std::mt19937 random(kSeed);
    const int rounds = Rounds();
    size_t saves = 0;
    int killedMidWrite = 0;
    uint32_t last = 3;
    for (int round = 0; round < rounds; ++round) {
        int progress[2];
        ASSERT_EQ(::pipe(progress), 0);
        const pid_t writer = ::fork();
        ASSERT_GE(writer, 0);
        if (writer == 0) {
            ::close(progress[0]);
            RunWriter(progress[1]);
        }
        ::close(progress[1]);
        // Somewhere within its first few saves: before, during or after a rename.
        ::usleep(static_cast<useconds_t>(random() % (5 * saveMicros / 2)));
        ::kill(writer, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(writer, &status, 0), writer);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the writer failed before the kill";
        saves += Drain(progress[0]);
        ::close(progress[0]);

        killedMidWrite += CountTemporaries(dir.path()) > 0;
        const std::optional<uint32_t> generation = ReadGeneration();
        ASSERT_TRUE(generation.has_value()) << "round " << round << ": a mix or an unreadable file";
        EXPECT_GE(*generation, last);
        last = *generation;
        ASSERT_TRUE(OtherKeysUntouched(testenv::ReadFile(file))) << "round " << round;
    }

    ::close(stopPipe[1]);
    ASSERT_TRUE(WaitReadable(resultPipe[0], -1));  // ctest's timeout is the clock
    char answer[32] = {};
    ASSERT_GT(::read(resultPipe[0], answer, sizeof answer - 1), 0);
    ::close(resultPipe[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(reader, &status, 0), reader);
    const long reads = std::atol(answer);
    EXPECT_GT(reads, 0) << "the reader saw a missing, partial or mixed file";
    // The test is only as good as its kills: some must have hit a writer in mid-write.
    EXPECT_GT(killedMidWrite, 0) << "no kill landed while a temporary file was being written";

    // A killed writer's temporary is removed by the next writer, so none pile up.
    ASSERT_TRUE(SaveGeneration(last + 1));
    EXPECT_EQ(CountTemporaries(dir.path()), 0u);

    std::cout << "[ figures  ] kills " << rounds << ", completed saves " << saves
              << ", kills that left a temporary " << killedMidWrite << ", reader reads " << reads
              << ", last generation " << last << ", one save " << saveMicros << " us\n";
    RecordProperty("kills", rounds);
    RecordProperty("saves", static_cast<int>(saves));
    RecordProperty("killedMidWrite", killedMidWrite);
    RecordProperty("reads", static_cast<int>(reads));
}
