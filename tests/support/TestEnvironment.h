#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>

namespace testenv {

// A fresh folder under $TMPDIR, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

// Sets an environment variable for the life of the object, then restores the old value.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const std::string& value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// A shared-memory name no other test process uses: "/wlan-test-<pid>-<n>".
std::string UniqueBlockName();

// Reads a whole file as bytes; empty when it cannot be read.
std::string ReadFile(const std::filesystem::path& path);
void WriteFile(const std::filesystem::path& path, const std::string& bytes);

// Whether CI runs us: there a check that cannot run on this machine fails instead of
// skipping, so that a green run never hides a check that did not happen.
bool InCi();

} // namespace testenv

// Skips the current test with the reason given, or fails it when CI is set. Like GTEST_SKIP,
// it returns from the function it is used in.
#define WLAN_SKIP_UNLESS_CI(why)                                                   \
    do {                                                                           \
        if (testenv::InCi())                                                       \
            FAIL() << (why) << "; CI is set, so this check may not be skipped";    \
        GTEST_SKIP() << (why);                                                     \
    } while (false)
