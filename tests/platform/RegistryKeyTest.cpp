// The registry store as the utility and the card driver's side use it: a real file in a
// private folder, opened, queried, set and closed.

#include "platform/RegistryFile.h"
#include "platform/RegistryKey.h"
#include "support/TestEnvironment.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>

using namespace platform;

namespace {

constexpr std::u16string_view kParms = u"Comm\\VQ731\\Parms";
const std::string kHeader = "Windows Registry Editor Version 5.00\n\n";
const std::string kParmsSection = "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n";

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

struct Stored {
    uint32_t type = 0;
    std::vector<uint8_t> data;
    bool operator==(const Stored&) const = default;
};

std::optional<Stored> Query(const RegistryKey& key, std::u16string_view name)
{
    Stored stored;
    uint32_t size = 0;
    if (key.QueryValue(name, nullptr, &size, &stored.type) != ERROR_SUCCESS)
        return std::nullopt;
    stored.data.resize(size);
    if (key.QueryValue(name, stored.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    return stored;
}

std::optional<Stored> QueryParms(std::u16string_view name)
{
    auto key = RegistryKey::Open(kParms, Access::Query);
    return key ? Query(*key, name) : std::nullopt;
}

std::vector<std::string> Entries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

mode_t ModeOf(const std::filesystem::path& path)
{
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st.st_mode & 07777;
}

ino_t InodeOf(const std::filesystem::path& path)
{
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_ino;
}

class RegistryKeyTest : public ::testing::Test {
protected:
    void Write(const std::string& bytes) { testenv::WriteFile(file, bytes); }
    std::string Read() const { return testenv::ReadFile(file); }

    testenv::TempDir dir;
    std::filesystem::path file = dir / "registry.reg";
    testenv::ScopedEnv env{"WLAN_REGISTRY_FILE", file.string()};
};

} // namespace

TEST_F(RegistryKeyTest, OpensOnlyAnExistingKeyAndNeverCreatesOne)
{
    int32_t status = -1;
    EXPECT_FALSE(RegistryKey::Open(kParms, Access::Query, &status));
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(RegistryKey::Open(kParms, Access::Set, &status));
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_TRUE(Entries(dir.path()).empty());

    const std::string other = kHeader + "[HKEY_LOCAL_MACHINE\\Comm\\Other]\n\"A\"=dword:00000001\n\n";
    Write(other);
    EXPECT_FALSE(RegistryKey::Open(kParms, Access::Set, &status));
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_FALSE(RegistryKey::Open(u"Comm\\Other\\Sub", Access::Query));
    EXPECT_EQ(Read(), other);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"registry.reg"});

    // Path and case as the caller spells them; the key keeps the case of the file.
    Write(kHeader + kParmsSection + "\"SSID\"=\"x\"\n");
    auto key = RegistryKey::Open(u"comm\\vq731\\PARMS", Access::Set, &status);
    ASSERT_TRUE(key);
    EXPECT_EQ(status, ERROR_SUCCESS);
    EXPECT_EQ(key->SetValue(u"ssid", REG_SZ, Utf16Data(u"y").data(), 4), ERROR_SUCCESS);
    EXPECT_EQ(key->Close(), ERROR_SUCCESS);
    EXPECT_EQ(Read(), kHeader + kParmsSection + "\"SSID\"=\"y\"\n");
}

TEST_F(RegistryKeyTest, AKeyWithOnlySubkeysExistsAndGetsItsOwnSectionBeforeThem)
{
    Write(kHeader + "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms\\Tcpip]\n\"A\"=dword:00000001\n");
    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    const uint32_t rate = 15;
    key->SetValue(u"TxRate", REG_DWORD, &rate, 4);
    ASSERT_EQ(key->Close(), ERROR_SUCCESS);
    EXPECT_EQ(Read(), kHeader + kParmsSection + "\"TxRate\"=dword:0000000f\n\n" +
                          "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms\\Tcpip]\n\"A\"=dword:00000001\n");
}

TEST_F(RegistryKeyTest, QueryHonoursTheCapacityAndLeavesTheBufferAloneWhenTooSmall)
{
    Write(kHeader + kParmsSection + "\"SSID\"=\"office\"\n\"NetworkType\"=hex(1):03,00\n");
    auto key = RegistryKey::Open(kParms, Access::Query);
    ASSERT_TRUE(key);

    std::vector<uint8_t> buffer(14, 0xcc);
    uint32_t size = 13;
    uint32_t type = 0;
    EXPECT_EQ(key->QueryValue(u"SSID", buffer.data(), &size, &type), ERROR_MORE_DATA);
    EXPECT_EQ(size, 14u);
    EXPECT_EQ(buffer, std::vector<uint8_t>(14, 0xcc));

    size = 14;
    EXPECT_EQ(key->QueryValue(u"ssid", buffer.data(), &size, &type), ERROR_SUCCESS);
    EXPECT_EQ(size, 14u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(buffer, Utf16Data(u"office"));

    // A value shorter than the capacity fills only its own bytes.
    std::vector<uint8_t> number{0xaa, 0xbb, 0xcc, 0xdd};
    size = 4;
    EXPECT_EQ(key->QueryValue(u"NetworkType", number.data(), &size, &type), ERROR_SUCCESS);
    EXPECT_EQ(size, 2u);
    EXPECT_EQ(type, REG_SZ);
    EXPECT_EQ(number, (std::vector<uint8_t>{0x03, 0x00, 0xcc, 0xdd}));

    size = 4;
    EXPECT_EQ(key->QueryValue(u"Missing", number.data(), &size), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key->SetValue(u"SSID", REG_SZ, buffer.data(), 14), ERROR_ACCESS_DENIED);
    EXPECT_EQ(key->Close(), ERROR_SUCCESS);
    EXPECT_NE(key->QueryValue(u"SSID", buffer.data(), &size), ERROR_SUCCESS);

    auto setter = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(setter);
    EXPECT_EQ(setter->QueryValue(u"SSID", buffer.data(), &size), ERROR_ACCESS_DENIED);
}

TEST_F(RegistryKeyTest, WritesLandTogetherAtCloseWithTheirExactBytes)
{
    const std::string before = kHeader + kParmsSection + "\"TxRate\"=dword:00000001\n";
    Write(before);
    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    const std::u16string lone = u"n\xDC00t";
    const std::vector<uint8_t> odd{0x41, 0x00, 0x42};
    const uint32_t rate = 0x0b;
    EXPECT_EQ(key->SetValue(u"TxRate", REG_DWORD, &rate, 4), ERROR_SUCCESS);
    EXPECT_EQ(key->SetValue(u"SSID", REG_SZ, Utf16Data(lone).data(), 8), ERROR_SUCCESS);
    EXPECT_EQ(key->SetValue(u"Odd", REG_SZ, odd.data(), 3), ERROR_SUCCESS);
    EXPECT_EQ(key->SetValue(u"Empty", REG_BINARY, nullptr, 0), ERROR_SUCCESS);

    // Nothing reaches the file, nor a reader, before the close.
    EXPECT_EQ(Read(), before);
    EXPECT_EQ(QueryParms(u"TxRate"), (Stored{REG_DWORD, {1, 0, 0, 0}}));
    EXPECT_EQ(key->Close(), ERROR_SUCCESS);

    EXPECT_EQ(Read(), kHeader + kParmsSection +
                          "\"TxRate\"=dword:0000000b\n"
                          "\"SSID\"=hex(1):6e,00,00,dc,74,00,00,00\n"
                          "\"Odd\"=hex(1):41,00,42\n"
                          "\"Empty\"=hex:\n");
    EXPECT_EQ(QueryParms(u"TxRate"), (Stored{REG_DWORD, {0x0b, 0, 0, 0}}));
    EXPECT_EQ(QueryParms(u"SSID"), (Stored{REG_SZ, Utf16Data(lone)}));
    EXPECT_EQ(QueryParms(u"Odd"), (Stored{REG_SZ, odd}));
    EXPECT_EQ(QueryParms(u"Empty"), (Stored{REG_BINARY, {}}));
}

TEST_F(RegistryKeyTest, RefusesNamesTheFileCannotCarry)
{
    Write(kHeader + kParmsSection);
    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    const uint32_t one = 1;
    EXPECT_EQ(key->SetValue(std::u16string_view(u"a\0b", 3), REG_DWORD, &one, 4), ERROR_INVALID_DATA);
    EXPECT_EQ(key->SetValue(u"line\nbreak", REG_DWORD, &one, 4), ERROR_INVALID_DATA);
    EXPECT_EQ(key->SetValue(u"\xD800", REG_DWORD, &one, 4), ERROR_INVALID_DATA);
    EXPECT_EQ(key->SetValue(u"NoData", REG_DWORD, nullptr, 4), ERROR_INVALID_DATA);
    EXPECT_EQ(key->Close(), ERROR_SUCCESS);
    EXPECT_EQ(Read(), kHeader + kParmsSection);
}

// A save changes the lines of the values it writes and nothing else: every other line stays
// byte for byte as the person or the registry editor wrote it, in the file's own encoding,
// byte-order mark and line ends. A value the key did not have goes at the end of its section.
class RegistryRoundTripTest : public RegistryKeyTest, public ::testing::WithParamInterface<const char*> {
protected:
    // The file's bytes for `text`, whose "\n" stands for the line end of the case.
    std::string Encode(const std::string& text) const
    {
        std::string lines;
        for (char c : text)
            lines += c == '\n' ? std::string(Has("crlf") ? "\r\n" : "\n") : std::string(1, c);
        if (!Has("utf16"))
            return std::string(Has("bom") ? "\xEF\xBB\xBF" : "") + lines;
        // Widened from UTF-8; the texts below hold only two-byte sequences besides ASCII.
        std::string out = "\xFF\xFE";
        for (size_t i = 0; i < lines.size(); ++i) {
            const auto c = static_cast<unsigned char>(lines[i]);
            unsigned unit = c;
            if (c >= 0xC0) {
                unit = ((c & 0x1Fu) << 6) | (static_cast<unsigned char>(lines[i + 1]) & 0x3Fu);
                ++i;
            }
            out += static_cast<char>(unit & 0xFF);
            out += static_cast<char>(unit >> 8);
        }
        return out;
    }
    bool Has(const char* word) const { return std::string(GetParam()).find(word) != std::string::npos; }
};

TEST_P(RegistryRoundTripTest, ASaveChangesOnlyTheLinesOfTheValuesItWrites)
{
    // A long s and a dotless i match s and i only under full case folding, which the registry
    // does not use: Parm<long s> is another key and <dotless i>D another name than ID.
    const std::string common =
        "Windows Registry Editor Version 5.00\n"
        "\n"
        "; exported from the handheld, keep the comments\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731]\n"
        "\"DisplayName\"=\"VQ731 \\\"b\\\" card\"\n"
        "\"Dll\"=hex(2):76,00,71,00,37,00,33,00,31,00,2e,00,64,00,6c,00,6c,00,00,00,00,00,\\\n"
        "   ff,ee\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\n";
    const std::string firstRest =
        "  \"TxRate\"=DWORD:0000000F\n"
        "; the card's own\n"
        "\"Unknown\"=hex(b):01,02,\\\n"
        "    03,04,05,06,07,08\n"
        "\"\xC4\xB1" "D\"=dword:00000001\n"
        "@=\"default\"\n"
        "\n"
        "[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parm\xC5\xBF]\n"
        "\"PSMode\"=dword:00000002\n"
        "\n"
        "[hkey_local_machine\\comm\\vq731\\parms]\n";
    const std::string ending =
        "\"WepReq\"=dword:00000001\n"
        "; end of the second section\n"
        "\n"
        "[HKEY_CURRENT_USER\\Software\\Other]\n"
        "\"Blob\"=hex:00,01,\\\n"
        "  02,03";
    Write(Encode(common + "\"SSID\"=\"old\"\n" + firstRest + "\"PSMode\"=dword:00000002\n" + ending));
    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    const uint32_t rate = 15;
    const uint32_t psMode = 1;
    const uint32_t id = 3;
    key->SetValue(u"SSID", REG_SZ, Utf16Data(u"new").data(), 8);
    key->SetValue(u"TxRate", REG_DWORD, &rate, 4);  // what it holds already
    key->SetValue(u"PSMode", REG_DWORD, &psMode, 4);
    key->SetValue(u"ID", REG_DWORD, &id, 4);
    ASSERT_EQ(key->Close(), ERROR_SUCCESS);

    EXPECT_EQ(Read(), Encode(common + "\"SSID\"=\"new\"\n" + firstRest + "\"PSMode\"=dword:00000001\n" +
                             "\"WepReq\"=dword:00000001\n" + "\"ID\"=dword:00000003\n" +
                             ending.substr(ending.find("; end"))));
    EXPECT_EQ(QueryParms(u"\u0131D"), (Stored{REG_DWORD, {1, 0, 0, 0}}));
    EXPECT_EQ(QueryParms(u"ID"), (Stored{REG_DWORD, {3, 0, 0, 0}}));
    auto other = RegistryKey::Open(u"Comm\\VQ731\\Parm\u017F", Access::Query);
    ASSERT_TRUE(other);
    EXPECT_EQ(Query(*other, u"PSMode"), (Stored{REG_DWORD, {2, 0, 0, 0}}));
}

INSTANTIATE_TEST_SUITE_P(RegeditAndHandWritten, RegistryRoundTripTest,
                         ::testing::Values("utf16_bom_crlf", "utf8_lf", "utf8_bom_crlf"));

// A save into a regedit 4 export writes its line in 8-bit text after the deletions that stand
// in the key, so the file reads back as saved; a character 8-bit text lacks fails the save
// instead of changing. A key the file deletes after its lines is not there to open.
TEST_F(RegistryKeyTest, ASaveReadsBackAsSavedWhatTheFileDeletesAfterItsLines)
{
    const std::string head = "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms]\r\n\"SSID\"=\"old\"\r\n";
    const std::string deletions = "\"SSID\"=-\r\n\"Gone\"=-\r\n";
    const std::string tail = "\r\n[-HKEY_LOCAL_MACHINE\\Comm\\VQ731\\Parms\\Sub]\r\n";
    Write(head + "\"PSMode\"=dword:00000001\r\n" + deletions + tail);
    const auto save = [](std::u16string_view ssid) {
        auto key = RegistryKey::Open(kParms, Access::Set);
        const uint32_t psMode = 2;
        key->SetValue(u"PSMode", REG_DWORD, &psMode, 4);
        key->SetValue(u"SSID", REG_SZ, Utf16Data(ssid).data(), static_cast<uint32_t>(ssid.size() + 1) * 2);
        return key->Close();
    };
    ASSERT_EQ(save(u"Caf\u00e9"), ERROR_SUCCESS);
    const std::string saved = head + "\"PSMode\"=dword:00000002\r\n" + deletions + "\"SSID\"=\"Caf\xe9\"\r\n" + tail;
    EXPECT_EQ(Read(), saved);
    EXPECT_EQ(QueryParms(u"SSID"), (Stored{REG_SZ, Utf16Data(u"Caf\u00e9")}));
    EXPECT_EQ(save(u"\u4e2d"), ERROR_INVALID_DATA);
    EXPECT_EQ(Read(), saved);

    const std::string deleted = head + "[-HKEY_LOCAL_MACHINE\\Comm\\VQ731]\r\n";
    Write(deleted);
    int32_t status = -1;
    EXPECT_FALSE(RegistryKey::Open(kParms, Access::Set, &status));
    EXPECT_EQ(status, ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Read(), deleted);
    // The driver's side makes the key anew, after the deletion.
    auto created = RegistryKey::Create(kParms);
    ASSERT_TRUE(created);
    created->SetValue(u"SSID", REG_SZ, Utf16Data(u"new").data(), 8);
    ASSERT_EQ(created->Close(), ERROR_SUCCESS);
    EXPECT_EQ(QueryParms(u"SSID"), (Stored{REG_SZ, Utf16Data(u"new")}));
    EXPECT_TRUE(Read().starts_with(deleted));
}

TEST_F(RegistryKeyTest, AnUnparsableFileIsNeverTouchedAndNamedOnceWithItsLine)
{
    const std::string bad = kHeader + kParmsSection + "\"SSID\"=\"ok\"\n\"Keys\"=hex:01,zz\n";
    Write(bad);
    ::testing::internal::CaptureStderr();
    int32_t status = 0;
    EXPECT_FALSE(RegistryKey::Open(kParms, Access::Query, &status));
    EXPECT_EQ(status, ERROR_INVALID_DATA);
    EXPECT_FALSE(RegistryKey::Open(kParms, Access::Set));
    EXPECT_FALSE(RegistryKey::Create(kParms));
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, file.string() + ":5: bad hex byte\n");
    EXPECT_EQ(Read(), bad);
    EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"registry.reg"});
}

TEST_F(RegistryKeyTest, AFileDamagedAfterTheOpenIsNotOverwrittenAtTheClose)
{
    Write(kHeader + kParmsSection + "\"SSID\"=\"ok\"\n");
    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    key->SetValue(u"SSID", REG_SZ, Utf16Data(u"new").data(), 8);
    const std::string damaged = kHeader + kParmsSection + "\"SSID\"=\"ok\"\n\"x\"=dword:zz\n";
    Write(damaged);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(key->Close(), ERROR_INVALID_DATA);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("registry.reg:5: bad dword"), std::string::npos);
    EXPECT_EQ(Read(), damaged);
}

TEST_F(RegistryKeyTest, AKeyRemovedSinceTheOpenIsNotBroughtBack)
{
    Write(kHeader + kParmsSection + "\"SSID\"=\"ok\"\n");
    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    key->SetValue(u"SSID", REG_SZ, Utf16Data(u"new").data(), 8);
    const std::string without = kHeader + "[HKEY_LOCAL_MACHINE\\Comm]\n";
    Write(without);
    EXPECT_EQ(key->Close(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(Read(), without);
}

TEST_F(RegistryKeyTest, RefusesFilesOverSixteenMebibytes)
{
    Write(kHeader + kParmsSection);
    ASSERT_EQ(::truncate(file.c_str(), (17 << 20)), 0);
    ::testing::internal::CaptureStderr();
    int32_t status = 0;
    EXPECT_FALSE(RegistryKey::Open(kParms, Access::Query, &status));
    EXPECT_EQ(status, ERROR_INVALID_DATA);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), file.string() + ": larger than 16 MiB, not read\n");
}

// Nothing is written that this store would then refuse to read: here a value whose hex
// text takes the file past its size limit.
TEST_F(RegistryKeyTest, NeverWritesAFileItWouldRefuseToRead)
{
    const std::string before = kHeader + kParmsSection + "\"SSID\"=\"ok\"\n";
    Write(before);
    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    const std::vector<uint8_t> big(6 << 20, 0x5a);
    EXPECT_EQ(key->SetValue(u"Big", REG_BINARY, big.data(), static_cast<uint32_t>(big.size())),
              ERROR_SUCCESS);
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(key->Close(), ERROR_INVALID_DATA);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              file.string() + ": nothing written, the result would be unreadable: larger than 16 MiB\n");
    EXPECT_EQ(Read(), before);
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryKeyTest, TheDriverSideCreatesFolderAndFileForItsOwnerOnly)
{
    const std::filesystem::path nested = dir / "config" / "wlan-utility" / "registry.reg";
    testenv::ScopedEnv here("WLAN_REGISTRY_FILE", nested.string());
    // A umask neither widens nor narrows what the store creates.
    const mode_t oldMask = ::umask(0277);
    auto key = RegistryKey::Create(kParms);
    ASSERT_TRUE(key);
    EXPECT_EQ(key->Close(), ERROR_SUCCESS);
    ::umask(oldMask);

    EXPECT_EQ(ModeOf(dir / "config"), 0700u);
    EXPECT_EQ(ModeOf(nested.parent_path()), 0700u);
    EXPECT_EQ(ModeOf(nested), 0600u);
    EXPECT_EQ(ModeOf(nested.string() + ".lock"), 0600u);
    EXPECT_EQ(testenv::ReadFile(nested), kHeader + kParmsSection + "\n");

    // Creating a key that is there already writes nothing.
    const ino_t inode = InodeOf(nested);
    auto again = RegistryKey::Create(kParms);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->Close(), ERROR_SUCCESS);
    EXPECT_EQ(InodeOf(nested), inode);
}

// The file carries the WEP keys: whatever mode the old file had, or the file a planted link
// pointed at, the rewritten one is the user's own and only the user's to read.
TEST_F(RegistryKeyTest, ARewriteIsTheUsersOwnFileForTheUserOnly)
{
    const uint32_t one = 1;
    Write(kHeader + kParmsSection);
    ASSERT_EQ(::chmod(file.c_str(), 0666), 0);
    const ino_t inode = InodeOf(file);
    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    key->SetValue(u"PSMode", REG_DWORD, &one, 4);
    ASSERT_EQ(key->Close(), ERROR_SUCCESS);
    EXPECT_NE(InodeOf(file), inode);
    EXPECT_EQ(ModeOf(file), 0600u);

    const std::filesystem::path target = dir / "elsewhere.reg";
    testenv::WriteFile(target, kHeader + kParmsSection);
    ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
    std::filesystem::remove(file);
    std::filesystem::create_symlink(target, file);
    key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    key->SetValue(u"WepReq", REG_DWORD, &one, 4);
    ASSERT_EQ(key->Close(), ERROR_SUCCESS);
    struct stat st {};
    ASSERT_EQ(::lstat(file.c_str(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    EXPECT_EQ(st.st_uid, ::geteuid());
    EXPECT_EQ(testenv::ReadFile(target), kHeader + kParmsSection);
    EXPECT_EQ(QueryParms(u"WepReq"), (Stored{REG_DWORD, {1, 0, 0, 0}}));
}

// A folder that another user owns, or that others may write without the sticky bit, is not
// used at all: one line says so, nothing is read from it and nothing lands in it.
TEST_F(RegistryKeyTest, AFolderOthersCanWriteIsNeitherReadNorWritten)
{
    const std::string text = kHeader + kParmsSection + "\"SSID\"=\"theirs\"\n";
    Write(text);
    const auto refused = [&](const std::string& why) {
        SCOPED_TRACE(why);
        ::testing::internal::CaptureStderr();
        int32_t status = 0;
        EXPECT_FALSE(RegistryKey::Open(kParms, Access::Query, &status));
        EXPECT_EQ(status, ERROR_ACCESS_DENIED);
        auto created = RegistryKey::Create(kParms, &status);
        EXPECT_FALSE(created);
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(said, file.string() + ": not used: its folder " + dir.path().string() + " " + why + "\n");
        EXPECT_EQ(Read(), text);
        EXPECT_EQ(Entries(dir.path()), std::vector<std::string>{"registry.reg"});
    };
    ASSERT_EQ(::chmod(dir.path().c_str(), 0777), 0);
    refused("is writable by others");
    ASSERT_EQ(::chmod(dir.path().c_str(), 0770), 0);
    refused("is writable by its group");
    // Only the owner can take the file away from a sticky folder such as /tmp.
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);
    EXPECT_EQ(QueryParms(u"SSID"), (Stored{REG_SZ, Utf16Data(u"theirs")}));
    ASSERT_EQ(::chmod(dir.path().c_str(), 0700), 0);
    if (::geteuid() == 0) {
        // Only root can give a folder away; a folder of root's own is trusted like the system.
        ASSERT_EQ(::chown(dir.path().c_str(), 65534, 65534), 0);
        refused("belongs to uid 65534");
        ASSERT_EQ(::chown(dir.path().c_str(), 0, 0), 0);
    }
}

// Another process (another user's, in a shared folder) that keeps the writers' lock does not
// freeze a save: it fails after 2 s, and says so every time.
TEST_F(RegistryKeyTest, TheWritersLockIsWaitedForTwoSecondsAtMost)
{
    const std::string text = kHeader + kParmsSection;
    Write(text);
    const std::string lockPath = file.string() + ".lock";
    const int holder = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_GE(holder, 0);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    ::testing::internal::CaptureStderr();
    for (int attempt = 0; attempt < 2; ++attempt) {
        auto key = RegistryKey::Open(kParms, Access::Set);
        ASSERT_TRUE(key);
        const uint32_t two = 2;
        key->SetValue(u"WepReq", REG_DWORD, &two, 4);
        EXPECT_NE(key->Close(), ERROR_SUCCESS);
    }
    const std::string line = lockPath + ": another process has held the lock for more than 2 s\n";
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), line + line);
    ::close(holder);
    EXPECT_EQ(Read(), text);
}

TEST_F(RegistryKeyTest, TheTemporaryFileNeverFollowsALinkAndStaleOnesAreRemoved)
{
    Write(kHeader + kParmsSection);
    // Links planted under every name a writer of this process could pick, pointing where a
    // followed link would create or overwrite a file; and leftovers of a killed writer.
    const std::filesystem::path victim = dir / "victim";
    const std::filesystem::path existing = dir / "existing";
    testenv::WriteFile(existing, "precious");
    const std::string prefix = "registry.reg.tmp-" + std::to_string(::getpid()) + "-";
    for (int n = 0; n < 500; ++n)
        std::filesystem::create_symlink(n % 2 ? victim : existing, dir / (prefix + std::to_string(n)));
    testenv::WriteFile(dir / "registry.reg.tmp-1-0", "left by a killed writer");

    auto key = RegistryKey::Open(kParms, Access::Set);
    ASSERT_TRUE(key);
    const uint32_t two = 2;
    key->SetValue(u"WepReq", REG_DWORD, &two, 4);
    ASSERT_EQ(key->Close(), ERROR_SUCCESS);

    EXPECT_EQ(QueryParms(u"WepReq"), (Stored{REG_DWORD, {2, 0, 0, 0}}));
    EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(victim)));
    EXPECT_EQ(testenv::ReadFile(existing), "precious");
    EXPECT_EQ(Entries(dir.path()), (std::vector<std::string>{"existing", "registry.reg", "registry.reg.lock"}));
}

TEST_F(RegistryKeyTest, TheLocationFollowsTheEnvironment)
{
    EXPECT_EQ(RegistryFile(), file);
    testenv::ScopedEnv noFile("WLAN_REGISTRY_FILE", "");
    testenv::ScopedEnv home("HOME", "/home/someone");
    {
        testenv::ScopedEnv config("XDG_CONFIG_HOME", "/xdg");
        EXPECT_EQ(RegistryFile(), "/xdg/wlan-utility/registry.reg");
    }
    {
        testenv::ScopedEnv relative("XDG_CONFIG_HOME", "relative");
        EXPECT_EQ(RegistryFile(), "/home/someone/.config/wlan-utility/registry.reg");
    }
    testenv::ScopedEnv unset("XDG_CONFIG_HOME", "");
    EXPECT_EQ(RegistryFile(), "/home/someone/.config/wlan-utility/registry.reg");
}

// Two processes write at once, each its own values, many times: the lock and the re-read
// under it mean that neither loses what the other wrote.
TEST_F(RegistryKeyTest, ConcurrentWritersKeepEachOthersChanges)
{
    Write(kHeader + kParmsSection + "\"SSID\"=\"kept\"\n");
    constexpr int kWrites = 25;
    std::vector<pid_t> children;
    for (char16_t writer : {u'A', u'B'}) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            int failures = 0;
            for (uint32_t i = 0; i < kWrites; ++i) {
                auto key = RegistryKey::Open(kParms, Access::Set);
                const std::u16string name = std::u16string(1, writer) + char16_t(u'a' + i);
                failures += !key || key->SetValue(name, REG_DWORD, &i, 4) != ERROR_SUCCESS ||
                            key->Close() != ERROR_SUCCESS;
            }
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(pid);
    }
    for (pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    auto key = RegistryKey::Open(kParms, Access::Query);
    ASSERT_TRUE(key);
    for (char16_t writer : {u'A', u'B'}) {
        for (uint32_t i = 0; i < kWrites; ++i) {
            const std::u16string name = std::u16string(1, writer) + char16_t(u'a' + i);
            EXPECT_EQ(Query(*key, name), (Stored{REG_DWORD, {static_cast<uint8_t>(i), 0, 0, 0}}));
        }
    }
    EXPECT_EQ(Query(*key, u"SSID"), (Stored{REG_SZ, Utf16Data(u"kept")}));
}
