// File search: FindFirstFileW / FindNextFileW / FindClose over a temporary device.
#include <windows.h>

#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "device/device_folder.h"
#include "device/paths.h"
#include "base/text.h"
#include "support/temp_device.h"

namespace fs = std::filesystem;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace files {
// The longest name a search returns: cFileName less its terminating NUL.
bool NameFitsFindData(size_t units);
}  // namespace files

namespace {

struct Listing {
    std::vector<std::string> names;  // UTF-8, invalid bytes as they are on the host
    DWORD error = 0;                 // of the call that ended the search
};

Listing FindAll(const std::u16string& pattern) {
    Listing result;
    WIN32_FIND_DATAW data;
    SetLastError(0);
    const HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) {
        result.error = GetLastError();
        return result;
    }
    do {
        result.names.push_back(text::ToUtf8(data.cFileName));
    } while (FindNextFileW(search, &data));
    result.error = GetLastError();
    EXPECT_TRUE(FindClose(search));
    return result;
}

std::vector<std::string> Names(const std::u16string& pattern) {
    const Listing listing = FindAll(pattern);
    EXPECT_EQ(listing.error, static_cast<DWORD>(ERROR_NO_MORE_FILES)) << text::ToUtf8(pattern);
    return listing.names;
}

DWORD ErrorOf(const std::u16string& pattern) {
    const Listing listing = FindAll(pattern);
    EXPECT_THAT(listing.names, IsEmpty()) << text::ToUtf8(pattern);
    return listing.error;
}

class FilesTest : public DeviceTest {
  protected:
    void SetUp() override {
        root = device::FileSystemRoot();
        fs::create_directories(root);
    }
    void Touch(const fs::path& relative, const std::string& content = "x") {
        fs::create_directories((root / relative).parent_path());
        std::ofstream(root / relative, std::ios::binary) << content;
    }
    fs::path root;
};

TEST_F(FilesTest, StarDotWavTakesEveryNameEndingInDotWavInAnyCase) {
    for (const char* name :
         {"ring.wav", "X.WAV", ".wav", "a.b.wav", "wav", "awav", "a.wave", "a.wav.mid", "b.Wav"})
        Touch(fs::path("Tones") / name);
    EXPECT_THAT(Names(u"\\Tones\\*.wav"),
                ElementsAre(".wav", "a.b.wav", "b.Wav", "ring.wav", "X.WAV"));
    EXPECT_THAT(Names(u"\\Tones\\*.MID"), ElementsAre("a.wav.mid"));
}

TEST_F(FilesTest, QuestionMarkTakesExactlyOneCharacter) {
    for (const char* name : {"a.wav", "ab.wav", ".wav", "é.wav", "abc.wav"})
        Touch(fs::path("T") / name);
    EXPECT_THAT(Names(u"\\T\\?.wav"), ElementsAre("a.wav", "é.wav"));
    EXPECT_THAT(Names(u"\\T\\a?.WAV"), ElementsAre("ab.wav"));
    EXPECT_THAT(Names(u"\\T\\a*?c.wav"), ElementsAre("abc.wav"));
    EXPECT_THAT(Names(u"\\T\\??.wav"), ElementsAre("ab.wav"));
}

TEST_F(FilesTest, StarDotStarTakesNamesWithAndWithoutADot) {
    for (const char* name : {"README", "a.b", ".hidden", "tune.mid"})
        Touch(fs::path("T") / name);
    EXPECT_THAT(Names(u"\\T\\*.*"), ElementsAre(".hidden", "a.b", "README", "tune.mid"));
    EXPECT_THAT(Names(u"\\T\\*"), ElementsAre(".hidden", "a.b", "README", "tune.mid"));
    EXPECT_THAT(Names(u"\\T\\readme.*"), ElementsAre("README"));
    EXPECT_THAT(Names(u"\\T\\tune.*"), ElementsAre("tune.mid"));
}

TEST_F(FilesTest, FoldersAndNamesMatchInAnyCaseAccentsIncluded) {
    Touch("Mélodies/Été.WAV");
    Touch("Mélodies/hiver.wav");
    EXPECT_THAT(Names(u"\\MÉLODIES\\*.wav"), ElementsAre("hiver.wav", "Été.WAV"));
    EXPECT_THAT(Names(u"\\mélodies\\éTÉ*"), ElementsAre("Été.WAV"));
    EXPECT_THAT(Names(u"/mélodies/ÉTÉ.wav"), ElementsAre("Été.WAV"));
}

TEST_F(FilesTest, FoldersWhoseNamesMatchComeLikeFiles) {
    Touch("T/song.wav", "12345");
    fs::create_directories(root / "T" / "Folder.WAV");
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(u"\\T\\*.wav", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(text::ToUtf8(data.cFileName), "Folder.WAV");
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_EQ(data.nFileSizeLow, 0u);
    ASSERT_TRUE(FindNextFileW(search, &data));
    EXPECT_EQ(text::ToUtf8(data.cFileName), "song.wav");
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_TRUE(FindClose(search));
}

TEST_F(FilesTest, OrderIsByNameWithoutRegardToCaseThenByRawName) {
    // Long names too: some part within their first eight letters, whose last letters would order
    // them the other way; others only after them, in case and accent too.
    for (const char* name :
         {"b.wav", "a.wav", "C.wav", "A.wav", "Éa.wav", "aa.wav", "B.wav", "Bip-bipA.wav",
          "Alarme-Z.wav", "Sonnerie longue 2.wav", "sonnerie longue 10.wav",
          "Sonnerie longue é.wav", "Sonnerie longuE 1.wav", "SONNERIE LONGUE 1.wav"})
        Touch(fs::path("T") / name);
    const std::vector<std::string> expected = {"A.wav",
                                               "a.wav",
                                               "aa.wav",
                                               "Alarme-Z.wav",
                                               "B.wav",
                                               "b.wav",
                                               "Bip-bipA.wav",
                                               "C.wav",
                                               "SONNERIE LONGUE 1.wav",
                                               "Sonnerie longuE 1.wav",
                                               "sonnerie longue 10.wav",
                                               "Sonnerie longue 2.wav",
                                               "Sonnerie longue é.wav",
                                               "Éa.wav"};
    EXPECT_EQ(Names(u"\\T\\*.wav"), expected);
    EXPECT_EQ(Names(u"\\t\\*.WAV"), expected);
}

TEST_F(FilesTest, RootIsSearchedWithOrWithoutLeadingBackslash) {
    Touch("top.wav");
    Touch("Storage/Alarm1.mid");
    EXPECT_THAT(Names(u"*.wav"), ElementsAre("top.wav"));
    EXPECT_THAT(Names(u"\\*.wav"), ElementsAre("top.wav"));
    EXPECT_THAT(Names(u"/*.wav"), ElementsAre("top.wav"));
    EXPECT_THAT(Names(u"storage\\*.mid"), ElementsAre("Alarm1.mid"));
}

TEST_F(FilesTest, AFreshDeviceHasThePhonesFolders) {
    EXPECT_THAT(Names(u"\\*"), ElementsAre("IPSM", "Windows"));
    EXPECT_THAT(Names(u"\\IPSM\\Application Data\\*"), ElementsAre("Sounds"));
}

TEST_F(FilesTest, DotDotNeverLeadsOutsideTheRoot) {
    // The device folder itself holds the file-system root; nothing beside it may be reached.
    fs::create_directories(device::Folder() / "etc");
    std::ofstream(device::Folder() / "etc" / "secret") << "x";
    EXPECT_EQ(ErrorOf(u"\\..\\..\\etc\\*"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    Touch("etc/inside");
    EXPECT_THAT(Names(u"\\..\\..\\etc\\*"), ElementsAre("inside"));
    EXPECT_THAT(Names(u"..\\*"), ElementsAre("etc", "IPSM", "Windows"));
}

TEST_F(FilesTest, DotAndDotDotAreNeverReturned) {
    Touch("T/a.wav");
    EXPECT_THAT(Names(u"\\T\\*"), ElementsAre("a.wav"));
    EXPECT_EQ(ErrorOf(u"\\T\\.*"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\T\\.."), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\T\\."), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, NoMatchAndMissingFolderGiveTheirOwnErrors) {
    Touch("T/a.wav");
    EXPECT_EQ(ErrorOf(u"\\T\\*.mid"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\T\\b.wav"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\T\\"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\Missing\\*.wav"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\Missing\\a.wav"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\T\\a.wav\\*"), static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\T*\\a.wav"), static_cast<DWORD>(ERROR_INVALID_NAME));
    EXPECT_EQ(ErrorOf(u"\\?\\*.wav"), static_cast<DWORD>(ERROR_INVALID_NAME));
}

TEST_F(FilesTest, FolderWithoutFinalBackslashSearchesItsParent) {
    Touch("Storage/Tones/inside.wav");
    Touch("Storage/Tones1.wav");
    Touch("Storage/tonesX.WAV");
    EXPECT_THAT(Names(u"\\Storage\\Tones*.wav"), ElementsAre("Tones1.wav", "tonesX.WAV"));
}

TEST_F(FilesTest, PatternWithoutWildcardsReturnsThatOneEntry) {
    Touch("T/Ring.wav");
    Touch("T/ring.wav");
    Touch("T/Other.wav");
    EXPECT_THAT(Names(u"\\T\\ring.wav"), ElementsAre("ring.wav"));
    EXPECT_THAT(Names(u"\\T\\Ring.wav"), ElementsAre("Ring.wav"));
    EXPECT_THAT(Names(u"\\t\\OTHER.WAV"), ElementsAre("Other.wav"));
    fs::create_directories(root / "T" / "Sub");
    EXPECT_THAT(Names(u"\\T\\sub"), ElementsAre("Sub"));
}

TEST_F(FilesTest, InvalidUtf8NamesAreFoundAndLeadBackToTheSameFile) {
    const std::string bad = "bad\xff\xc3.wav";  // a stray byte and a cut-off sequence
    Touch("T/a.wav");
    Touch(fs::path("T") / bad, "1234567");
    Touch("T/z.wav");
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(u"\\T\\*.wav", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(FindNextFileW(search, &data));
    const std::u16string name = data.cFileName;
    EXPECT_EQ(name, u"bad\xDCFF\xDCC3.wav");
    EXPECT_EQ(data.nFileSizeLow, 7u);
    ASSERT_TRUE(FindNextFileW(search, &data));
    EXPECT_EQ(std::u16string(data.cFileName), u"z.wav");
    EXPECT_TRUE(FindClose(search));

    EXPECT_EQ(device::HostPath(u"\\T\\" + name), root / "T" / bad);
    EXPECT_THAT(Names(u"\\T\\" + name), ElementsAre(bad));
}

TEST_F(FilesTest, NamesNoPhoneCanHoldAreNotReturned) {
    // A backslash would make the name a path to another file; a tab or a line feed would break
    // the lines that show it.
    Touch("T/a.wav");
    Touch("T/back\\slash.wav");
    Touch("T/tab\tname.wav");
    Touch("T/line\nfeed.wav");
    Touch("T/bell\x07.wav");
    Touch("T/z.wav");
    EXPECT_THAT(Names(u"\\T\\*.wav"), ElementsAre("a.wav", "z.wav"));
    EXPECT_THAT(Names(u"\\T\\*"), ElementsAre("a.wav", "z.wav"));
    EXPECT_EQ(ErrorOf(u"\\T\\tab\tname.wav"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(ErrorOf(u"\\T\\line*"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
}

TEST_F(FilesTest, LongestHostNameComesWholeAndLongerNamesWouldBeSkipped) {
    const std::string longest(255, 'n');  // NAME_MAX: the host allows no longer name
    Touch(fs::path("T") / longest);
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(u"\\T\\n*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(text::Length(data.cFileName), 255u);
    EXPECT_EQ(text::ToUtf8(data.cFileName), longest);
    EXPECT_TRUE(FindClose(search));

    EXPECT_TRUE(files::NameFitsFindData(MAX_PATH - 1));
    EXPECT_FALSE(files::NameFitsFindData(MAX_PATH));
}

TEST_F(FilesTest, FindDataCarriesSizeTimesAndAttributes) {
    Touch("T/plain.wav", "abc");
    Touch("T/locked.wav");
    Touch("T/.secret.wav");
    fs::permissions(root / "T" / "locked.wav", fs::perms::owner_read | fs::perms::group_read);
    // A sparse file past 4 GiB fills the high size word.
    fs::resize_file(root / "T" / "plain.wav", (uint64_t{1} << 32) + 3);
    // Unix time 0 is FILETIME 116444736000000000 (100 ns steps since 1601).
    const timespec times[2] = {{1, 0}, {0, 1234500}};  // access, write
    ASSERT_EQ(utimensat(AT_FDCWD, (root / "T" / "plain.wav").c_str(), times, 0), 0);

    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(u"\\T\\*.wav", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    EXPECT_EQ(std::u16string(data.cFileName), u".secret.wav");
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(FindNextFileW(search, &data));
    EXPECT_EQ(std::u16string(data.cFileName), u"locked.wav");
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(FindNextFileW(search, &data));
    EXPECT_EQ(std::u16string(data.cFileName), u"plain.wav");
    EXPECT_EQ(data.dwFileAttributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(data.nFileSizeHigh, 1u);
    EXPECT_EQ(data.nFileSizeLow, 3u);
    const auto ticks = [](const FILETIME& t) {
        return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime;
    };
    EXPECT_EQ(ticks(data.ftLastWriteTime), 116444736000000000u + 12345u);
    EXPECT_EQ(ticks(data.ftLastAccessTime), 116444736000000000u + 10000000u);
    EXPECT_NE(ticks(data.ftCreationTime), 0u);
    EXPECT_TRUE(FindClose(search));
}

TEST_F(FilesTest, FindNextAfterTheEndKeepsSayingNoMoreFiles) {
    Touch("T/a.wav");
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(u"\\T\\*.wav", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    for (int i = 0; i < 2; ++i) {
        SetLastError(0);
        EXPECT_FALSE(FindNextFileW(search, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NO_MORE_FILES));
    }
    EXPECT_TRUE(FindClose(search));
}

TEST_F(FilesTest, SearchReportsTheFolderAsItWasWhenItStarted) {
    Touch("T/a.wav");
    Touch("T/b.wav", "1234");
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(u"\\T\\*.wav", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    fs::remove(root / "T" / "b.wav");
    Touch("T/c.wav");
    ASSERT_TRUE(FindNextFileW(search, &data));
    EXPECT_EQ(std::u16string(data.cFileName), u"b.wav");
    EXPECT_EQ(data.nFileSizeLow, 4u);
    EXPECT_FALSE(FindNextFileW(search, &data));
    EXPECT_TRUE(FindClose(search));
    EXPECT_THAT(Names(u"\\T\\*.wav"), ElementsAre("a.wav", "c.wav"));
}

// Size, times and attributes of one name, as a new search reports them.
struct Reported {
    DWORD attributes = 0;
    uint64_t size = 0;
    uint64_t written = 0;
};

Reported Report(const std::u16string& pattern, const std::u16string& name) {
    Reported reported;
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(pattern.c_str(), &data);
    EXPECT_NE(search, INVALID_HANDLE_VALUE);
    if (search == INVALID_HANDLE_VALUE)
        return reported;
    bool found = false;
    do {
        if (std::u16string(data.cFileName) == name) {
            found = true;
            reported.attributes = data.dwFileAttributes;
            reported.size = (uint64_t{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
            reported.written = (uint64_t{data.ftLastWriteTime.dwHighDateTime} << 32) |
                               data.ftLastWriteTime.dwLowDateTime;
        }
    } while (FindNextFileW(search, &data));
    EXPECT_TRUE(found) << text::ToUtf8(name);
    FindClose(search);
    return reported;
}

void SetWriteTime(const fs::path& path, time_t seconds) {
    const timespec times[2] = {{seconds, 0}, {seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST_F(FilesTest, ASecondSearchSeesEveryChangeToTheFiles) {
    Touch("T/song.wav", "ab");
    Touch("T/other.wav", "abcdef");
    EXPECT_EQ(Report(u"\\T\\*.wav", u"song.wav").size, 2u);

    std::ofstream(root / "T" / "song.wav", std::ios::app) << "cde";
    EXPECT_EQ(Report(u"\\T\\*.wav", u"song.wav").size, 5u);

    fs::permissions(root / "T" / "song.wav", fs::perms::owner_read);
    EXPECT_EQ(Report(u"\\T\\*.wav", u"song.wav").attributes,
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

    SetWriteTime(root / "T" / "song.wav", 0);
    EXPECT_EQ(Report(u"\\T\\*.wav", u"song.wav").written, 116444736000000000u);

    fs::rename(root / "T" / "other.wav", root / "T" / "song.wav");
    const Reported replaced = Report(u"\\T\\*.wav", u"song.wav");
    EXPECT_EQ(replaced.size, 6u);
    EXPECT_EQ(replaced.attributes, static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL));

    fs::remove(root / "T" / "song.wav");
    Touch("T/song.wav", "x");
    EXPECT_EQ(Report(u"\\T\\*.wav", u"song.wav").size, 1u);

    fs::resize_file(root / "T" / "song.wav", 9);
    EXPECT_EQ(Report(u"\\T\\*.wav", u"song.wav").size, 9u);
}

// A search may take the names that the search before it read in the same folder, but only
// while the folder is unchanged: names added, removed or renamed since are seen.
TEST_F(FilesTest, NamesChangedSinceTheLastSearchOfTheFolderAreSeen) {
    using Names = std::vector<std::string>;
    Touch("T/a.wav");
    Touch("T/b.mid");
    const auto settled = [&] { SetWriteTime(root / "T", 0); };  // unchanged for long
    settled();
    EXPECT_EQ(::Names(u"\\T\\*.wav"), Names{"a.wav"});
    EXPECT_EQ(::Names(u"\\T\\*.mid"), Names{"b.mid"});
    Touch("T/c.mid");
    EXPECT_EQ(::Names(u"\\T\\*.mid"), (Names{"b.mid", "c.mid"}));
    settled();
    EXPECT_EQ(::Names(u"\\T\\*.wav"), Names{"a.wav"});
    fs::rename(root / "T" / "b.mid", root / "T" / "d.mid");
    EXPECT_EQ(::Names(u"\\T\\*.mid"), (Names{"c.mid", "d.mid"}));
    settled();
    EXPECT_EQ(::Names(u"\\T\\*.mid"), (Names{"c.mid", "d.mid"}));
    fs::remove(root / "T" / "c.mid");
    EXPECT_EQ(::Names(u"\\T\\*.*"), (Names{"a.wav", "d.mid"}));
}

TEST_F(FilesTest, FolderEntriesShowTheirCurrentTimes) {
    fs::create_directories(root / "T" / "Sub.wav");
    SetWriteTime(root / "T" / "Sub.wav", 0);
    EXPECT_EQ(Report(u"\\T\\*.wav", u"Sub.wav").written, 116444736000000000u);
    // A name added inside changes the folder's own time, with no event on its parent.
    Touch("T/Sub.wav/inside");
    EXPECT_NE(Report(u"\\T\\*.wav", u"Sub.wav").written, 116444736000000000u);
}

TEST_F(FilesTest, ChangesAreSeenAfterManyOtherFoldersWereSearched) {
    Touch("F0/song.wav", "a");
    EXPECT_EQ(Report(u"\\F0\\*.wav", u"song.wav").size, 1u);
    for (int i = 1; i < 8; ++i) {
        Touch(fs::path("F" + std::to_string(i)) / "song.wav");
        EXPECT_EQ(FindAll(text::FromUtf8("\\F" + std::to_string(i) + "\\*.wav")).names.size(), 1u);
    }
    std::ofstream(root / "F0" / "song.wav", std::ios::app) << "bc";
    EXPECT_EQ(Report(u"\\F0\\*.wav", u"song.wav").size, 3u);
}

TEST_F(FilesTest, LinksShowTheirTargetAndDanglingLinksStillCount) {
    Touch("T/target.bin", "123456");
    fs::create_symlink("target.bin", root / "T" / "link.wav");
    fs::create_symlink("nowhere.bin", root / "T" / "broken.wav");
    EXPECT_THAT(Names(u"\\T\\*.wav"), ElementsAre("broken.wav", "link.wav"));
    EXPECT_EQ(Report(u"\\T\\*.wav", u"link.wav").size, 6u);
    std::ofstream(root / "T" / "target.bin", std::ios::app) << "78";
    EXPECT_EQ(Report(u"\\T\\*.wav", u"link.wav").size, 8u);
}

TEST_F(FilesTest, StaleClosedAndMadeUpHandlesAreRefused) {
    Touch("T/a.wav");
    Touch("T/b.wav");
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(u"\\T\\*.wav", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(FindClose(search));
    const HANDLE other = FindFirstFileW(u"\\T\\*.wav", &data);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    EXPECT_NE(other, search) << "a closed handle's value is never given out again";

    for (const HANDLE bad :
         {search, INVALID_HANDLE_VALUE, static_cast<HANDLE>(nullptr),
          reinterpret_cast<HANDLE>(uintptr_t{0x1234}), reinterpret_cast<HANDLE>(&data)}) {
        SetLastError(0);
        EXPECT_FALSE(FindNextFileW(bad, &data));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
        SetLastError(0);
        EXPECT_FALSE(FindClose(bad));
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_HANDLE));
    }
    ASSERT_TRUE(FindNextFileW(other, &data));
    EXPECT_EQ(std::u16string(data.cFileName), u"b.wav");
    EXPECT_TRUE(FindClose(other));
}

TEST_F(FilesTest, NullArgumentsAreRefused) {
    Touch("T/a.wav");
    WIN32_FIND_DATAW data;
    SetLastError(0);
    EXPECT_EQ(FindFirstFileW(nullptr, &data), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    SetLastError(0);
    EXPECT_EQ(FindFirstFileW(u"\\T\\*", nullptr), INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));

    const HANDLE search = FindFirstFileW(u"\\T\\*", &data);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    SetLastError(0);
    EXPECT_FALSE(FindNextFileW(search, nullptr));
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_PARAMETER));
    EXPECT_TRUE(FindClose(search));
}

}  // namespace
