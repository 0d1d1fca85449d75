#pragma once
// Reading and replacing the registry file as a whole. Readers take no lock: the file is only
// ever replaced by a rename, so a reader sees the old file or the new one. Writers serialise
// on an advisory lock on a separate file next to it ("registry.reg.lock"), which the rename
// cannot break, and re-read the file under that lock so that no writer's change is lost.

#include "platform/RegistryFile.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>

namespace platform {

enum class FolderCreation { Never, WhenMissing };

class RegistryStore {
public:
    struct Snapshot {
        // ERROR_SUCCESS; ERROR_FILE_NOT_FOUND when there is no file; another failure when
        // it cannot be read or parsed (already said on stderr).
        int32_t status = 0;
        regfile::Document document;
    };

    // What an update's change answers when the file already holds what it wanted.
    static constexpr int32_t kUnchanged = -1;

    static Snapshot Load(const std::filesystem::path& file);

    // Under the writers' lock: reads the file again (an empty document when it is missing
    // and `creation` allows creating it), lets `change` edit it, and replaces the file with
    // the result. `change` answers ERROR_SUCCESS to write, kUnchanged or a failure to leave
    // the file as it is. A file that cannot be read or parsed is never replaced. The lock is
    // waited for 2 s at most. The new file is the user's own with mode 0600. A file whose
    // folder belongs to another user, or that others may write without the sticky bit, is
    // neither loaded nor written.
    static int32_t Update(const std::filesystem::path& file, FolderCreation creation,
                          const std::function<int32_t(regfile::Document&)>& change);

    // One line on stderr, said once per process for each distinct line. Failures of an
    // update are said every time instead: a failed save is never silent.
    static void Report(const std::string& line);
    // The line that says why this thread's last load or update failed; empty when it did not
    // fail or failed for want of the file.
    static std::string LastFailure();
};

} // namespace platform
