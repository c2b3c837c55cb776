// The tone catalogue built into the main screen's two lists from the folders and the built-in
// tones: order, display names, full paths and the current entries.
#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "base/text.h"
#include "catalogue/catalogue.h"
#include "device/paths.h"
#include "device/provision.h"
#include "platform/kernel32/resources.h"
#include "platform/testing/testing.h"
#include "platform/user32/window_manager.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "support/temp_device.h"

namespace {

const std::u16string SoundsFolder = u"\\IPSM\\Application Data\\Sounds\\";

INT_PTR CALLBACK PlainScreenProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG ? TRUE : FALSE;
}

class Catalogue : public DeviceTest {
  protected:
    Catalogue() {
        wm::ResetForTesting();
        SearchFolders[0].clear();
        SearchFolders[1].clear();
        HINSTANCE module = resources::ModuleNamed("tavonne");
        HRSRC found = FindResourceW(module, MAKEINTRESOURCE(IDD_MAIN), RT_DIALOG);
        auto dialog = static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(module, found)));
        screen = CreateDialogIndirectParamW(module, dialog, nullptr, PlainScreenProc, 0);
        EXPECT_NE(screen, nullptr);
        // The phone comes with sample tones; most tests want the sounds folder to themselves.
        EXPECT_TRUE(device::EnsureProvisioned());
        std::filesystem::remove_all(device::HostPath(SoundsFolder));
        std::filesystem::create_directories(device::HostPath(SoundsFolder));
    }
    ~Catalogue() override { wm::ResetForTesting(); }

    static void PutFile(const std::u16string& devicePath) {
        std::filesystem::path host = device::HostPath(devicePath);
        std::filesystem::create_directories(host.parent_path());
        std::ofstream(host) << "tone";
    }

    std::vector<std::u16string> Entries(int listId) const {
        std::vector<std::u16string> entries;
        int count = static_cast<int>(SendDlgItemMessageW(screen, listId, LB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            std::u16string entry(
                SendDlgItemMessageW(screen, listId, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0),
                u'\0');
            SendDlgItemMessageW(screen, listId, LB_GETTEXT, static_cast<WPARAM>(i),
                                reinterpret_cast<LPARAM>(entry.data()));
            entries.push_back(entry);
        }
        return entries;
    }

    int Current(int listId) const {
        return static_cast<int>(SendDlgItemMessageW(screen, listId, LB_GETCURSEL, 0, 0));
    }

    // The entries before the built-in tones, as (display name, full path), checking on the way
    // that both lists and the path table agree and that the built-in tones close the catalogue.
    std::vector<std::pair<std::u16string, std::u16string>> ScannedEntries() const {
        std::vector<std::u16string> ring = Entries(IDC_RING_LIST);
        EXPECT_EQ(ring, Entries(IDC_SMS_LIST));
        EXPECT_EQ(static_cast<size_t>(TonePathCount), ring.size());
        EXPECT_EQ(TonePathTable.size(), ring.size());
        std::vector<std::pair<std::u16string, std::u16string>> scanned;
        const size_t builtInStart = ring.size() - 27;
        for (size_t i = 0; i < builtInStart; ++i)
            scanned.emplace_back(ring[i], TonePathTable[i]);
        for (size_t i = 0; i < 27; ++i) {
            EXPECT_EQ(ring[builtInStart + i], BuiltInTones[i].name);
            EXPECT_EQ(TonePathTable[builtInStart + i], BuiltInTones[i].path);
        }
        return scanned;
    }

    HWND screen = nullptr;
};

using Entry = std::pair<std::u16string, std::u16string>;

TEST_F(Catalogue, BuiltInTonesAreTheTwentySevenOfThePhoneInOrder) {
    EXPECT_EQ(BuiltInTones[0].name, std::u16string(u"Alarm1"));
    EXPECT_EQ(BuiltInTones[11].name, std::u16string(u"Début enregistrement"));
    EXPECT_EQ(BuiltInTones[19].path, std::u16string(u"\\Windows\\NewTune7.mid"));
    EXPECT_EQ(BuiltInTones[21].name, std::u16string(u"Mouvement perpétuel"));
    EXPECT_EQ(BuiltInTones[21].path, std::u16string(u"\\Windows\\NewTune7.mid"));
    EXPECT_EQ(BuiltInTones[23].name, std::u16string(u"Robotica"));
    EXPECT_EQ(BuiltInTones[23].path, std::u16string(u"\\Windows\\Robatica.mid"));
    EXPECT_EQ(BuiltInTones[26].path, std::u16string(u"\\Windows\\genericRing2.mid"));
    FillToneLists(screen);
    EXPECT_TRUE(ScannedEntries().empty());
}

TEST_F(Catalogue, UserFolderComesFirstWavBeforeMidThenSoundsFolder) {
    PutFile(u"\\Storage\\Tones\\b.mid");
    PutFile(u"\\Storage\\Tones\\a.wav");
    PutFile(u"\\Storage\\Tones\\notes.txt");
    PutFile(SoundsFolder + u"Petite valse.mid");
    PutFile(SoundsFolder + u"Carillon.wav");
    SearchFolders[0] = u"\\Storage\\Tones\\";
    EXPECT_TRUE(FillToneLists(screen));
    EXPECT_EQ(SearchFolders[1], SoundsFolder);
    EXPECT_EQ(ScannedEntries(), (std::vector<Entry>{
                                    {u"a", u"\\Storage\\Tones\\a.wav"},
                                    {u"b", u"\\Storage\\Tones\\b.mid"},
                                    {u"Carillon", SoundsFolder + u"Carillon.wav"},
                                    {u"Petite valse", SoundsFolder + u"Petite valse.mid"},
                                }));
}

// The folder is a prefix of the patterns, typed without its final backslash or not; a full path
// is where the search found the file: the pattern's folder, up to its last separator, and the
// name found.
TEST_F(Catalogue, FullPathsNameTheFilesFoundWhateverTheFolderEndsWith) {
    PutFile(u"\\Storage\\Tones\\inside.wav");
    PutFile(u"\\Storage\\TonesJazz.wav");
    PutFile(u"\\Storage\\Other.mid");
    PutFile(u"\\TonesRoot.mid");
    const struct {
        std::u16string folder;
        std::vector<Entry> scanned;
    } cases[] = {
        {u"\\Storage\\Tones", {{u"TonesJazz", u"\\Storage\\TonesJazz.wav"}}},
        {u"\\Storage\\Tones\\", {{u"inside", u"\\Storage\\Tones\\inside.wav"}}},
        {u"\\Storage/Tones/", {{u"inside", u"\\Storage/Tones/inside.wav"}}},
        {u"\\Storage/Tones", {{u"TonesJazz", u"\\Storage/TonesJazz.wav"}}},
        {u"\\Storage\\O", {{u"Other", u"\\Storage\\Other.mid"}}},
        // Without any backslash the pattern names no folder: the search looks at the root, where
        // the phone finds a path that names none either.
        {u"Tones", {{u"TonesRoot", u"TonesRoot.mid"}}},
    };
    for (const auto& c : cases) {
        SearchFolders[0] = c.folder;
        FillToneLists(screen);
        EXPECT_EQ(ScannedEntries(), c.scanned) << text::ToUtf8(c.folder);
        EXPECT_EQ(SearchFolders[0], c.folder);
    }
}

TEST_F(Catalogue, EmptyOrNeverLoadedFolderSearchesThePatternsAsTheyAre) {
    PutFile(u"\\root.mid");
    PutFile(u"\\Storage\\deep.wav");
    FillToneLists(screen);  // never loaded
    EXPECT_EQ(ScannedEntries(), (std::vector<Entry>{{u"root", u"root.mid"}}));
    SearchFolders[0] = u"";
    FillToneLists(screen);
    EXPECT_EQ(ScannedEntries(), (std::vector<Entry>{{u"root", u"root.mid"}}));
}

TEST_F(Catalogue, NamesLoseTheirLastFourCharactersWhateverTheirCase) {
    PutFile(u"\\T\\.wav");
    PutFile(u"\\T\\RING.WAV");
    PutFile(u"\\T\\Été.Mid");
    PutFile(u"\\T\\a.b.wav");
    PutFile(u"\\T\\wav");
    std::filesystem::create_directories(device::HostPath(u"\\T\\dossier.wav"));
    SearchFolders[0] = u"\\T\\";
    FillToneLists(screen);
    EXPECT_EQ(ScannedEntries(), (std::vector<Entry>{
                                    {u"", u"\\T\\.wav"},
                                    {u"a.b", u"\\T\\a.b.wav"},
                                    {u"dossier", u"\\T\\dossier.wav"},
                                    {u"RING", u"\\T\\RING.WAV"},
                                    {u"Été", u"\\T\\Été.Mid"},
                                }));
}

TEST_F(Catalogue, SameFolderTwiceListsItsTonesTwiceAndSelectsTheFirst) {
    PutFile(SoundsFolder + u"Carillon.wav");
    PutFile(SoundsFolder + u"Valse.mid");
    SearchFolders[0] = SoundsFolder;
    WriteSmsSound(SoundsFolder + u"Valse.mid");
    WriteRingSound(SoundsFolder + u"Carillon.wav");
    RefreshToneLists(screen);
    EXPECT_EQ(ScannedEntries(), (std::vector<Entry>{
                                    {u"Carillon", SoundsFolder + u"Carillon.wav"},
                                    {u"Valse", SoundsFolder + u"Valse.mid"},
                                    {u"Carillon", SoundsFolder + u"Carillon.wav"},
                                    {u"Valse", SoundsFolder + u"Valse.mid"},
                                }));
    EXPECT_EQ(Current(IDC_RING_LIST), 0);
    EXPECT_EQ(Current(IDC_SMS_LIST), 1);
}

TEST_F(Catalogue, SharedPathSelectsItsFirstEntry) {
    WriteRingSound(u"\\Windows\\NewTune7.mid");
    WriteSmsSound(u"\\Windows\\Robatica.mid");
    RefreshToneLists(screen);
    std::vector<std::u16string> entries = Entries(IDC_RING_LIST);
    EXPECT_EQ(entries[Current(IDC_RING_LIST)], u"Les principes de Bach");
    EXPECT_EQ(entries[Current(IDC_SMS_LIST)], u"Robotica");
}

TEST_F(Catalogue, UnknownCurrentToneLeavesEntryZero) {
    PutFile(u"\\T\\zz.wav");
    WriteRingSound(u"\\WINDOWS\\ALARM4.MID");  // other letter case: no match
    WriteSmsSound(u"\\Elsewhere\\x.wav");
    RefreshToneLists(screen);
    EXPECT_EQ(Current(IDC_RING_LIST), 0);
    EXPECT_EQ(Current(IDC_SMS_LIST), 0);
    EXPECT_EQ(Entries(IDC_RING_LIST)[0], u"Alarm1");

    SearchFolders[0] = u"\\T\\";
    RefreshToneLists(screen);
    EXPECT_EQ(Current(IDC_RING_LIST), 0);
    EXPECT_EQ(Entries(IDC_RING_LIST)[0], u"zz");
}

TEST_F(Catalogue, CurrentTonesAreReadBeforeTheRebuild) {
    PutFile(u"\\T\\a.wav");
    PutFile(u"\\T\\b.wav");
    SearchFolders[0] = u"\\T\\";
    WriteRingSound(u"\\T\\b.wav");
    WriteSmsSound(u"\\Windows\\Standard.wav");
    RefreshToneLists(screen);
    EXPECT_EQ(Current(IDC_RING_LIST), 1);
    EXPECT_EQ(Entries(IDC_SMS_LIST)[Current(IDC_SMS_LIST)], u"Standard");
}

TEST_F(Catalogue, RefreshingTwiceListsEachEntryOnce) {
    PutFile(u"\\T\\a.wav");
    SearchFolders[0] = u"\\T\\";
    RefreshToneLists(screen);
    std::vector<std::u16string> first = Entries(IDC_RING_LIST);
    RefreshToneLists(screen);
    EXPECT_EQ(Entries(IDC_RING_LIST), first);
    EXPECT_EQ(Entries(IDC_SMS_LIST), first);
    EXPECT_EQ(first.size(), 28u);
    EXPECT_EQ(TonePathCount, 28);
}

TEST_F(Catalogue, EveryFileIsListedPastThreeHundred) {
    const int files = 450;
    for (int i = 0; i < files; ++i) {
        std::string digits = std::to_string(1000 + i);
        PutFile(u"\\Many\\tone" + std::u16string(digits.begin(), digits.end()) + u".wav");
    }
    SearchFolders[0] = u"\\Many\\";
    WriteRingSound(u"\\Many\\tone1449.wav");
    WriteSmsSound(u"\\Windows\\genericRing2.mid");
    RefreshToneLists(screen);
    std::vector<Entry> scanned = ScannedEntries();
    ASSERT_EQ(scanned.size(), static_cast<size_t>(files));
    EXPECT_EQ(scanned.back(), (Entry{u"tone1449", u"\\Many\\tone1449.wav"}));
    EXPECT_EQ(TonePathCount, files + 27);
    EXPECT_EQ(Current(IDC_RING_LIST), files - 1);
    EXPECT_EQ(Current(IDC_SMS_LIST), files + 26);
}

}  // namespace
