// Resources and dialog templates: finding and loading compiled resources by number and name,
// the string table, several embedded modules, and dialogs built from classic and extended
// templates (or refused when a template cannot be built).
#include "window_fixture.h"

#include <cstring>

#include "platform/user32/window_classes.h"

namespace {

using WindowResourcesTest = WindowTest;

// A .res file of one record, as the resource compiler writes it: the empty first record, then
// a header (sizes, type and name as numbers, DWORD fields) and the data.
std::vector<unsigned char> ResFile(WORD type, WORD name, const std::vector<unsigned char>& data) {
    std::vector<unsigned char> bytes(32, 0);
    bytes[4] = 32;
    bytes[8] = bytes[9] = bytes[12] = bytes[13] = 0xFF;
    auto put16 = [&](unsigned value) {
        bytes.push_back(value & 0xFF);
        bytes.push_back((value >> 8) & 0xFF);
    };
    auto put32 = [&](unsigned value) {
        put16(value & 0xFFFF);
        put16(value >> 16);
    };
    put32(static_cast<unsigned>(data.size()));
    put32(32);
    put16(0xFFFF);
    put16(type);
    put16(0xFFFF);
    put16(name);
    put32(0);
    put16(0x1030);
    put16(0x040C);
    put32(0);
    put32(0);
    bytes.insert(bytes.end(), data.begin(), data.end());
    while (bytes.size() % 4 != 0)
        bytes.push_back(0);
    return bytes;
}

std::vector<unsigned char> Bytes(const void* data, std::size_t size) {
    auto* p = static_cast<const unsigned char*>(data);
    return std::vector<unsigned char>(p, p + size);
}

// ---- Finding resources ----

TEST_F(WindowResourcesTest, ResourcesAreFoundByNumberByNameAndByHashNumber) {
    ASSERT_NE(module, nullptr);
    HRSRC dialog = FindResourceW(module, MAKEINTRESOURCE(IDD_SPINNERS), RT_DIALOG);
    ASSERT_NE(dialog, nullptr);
    EXPECT_GT(SizeofResource(module, dialog), 18u);
    EXPECT_EQ(FindResourceW(module, u"#100", RT_DIALOG), dialog);

    HRSRC named = FindResourceW(module, u"testdata", RT_RCDATA);
    ASSERT_NE(named, nullptr);
    auto* data = static_cast<const char*>(LockResource(LoadResource(module, named)));
    ASSERT_EQ(SizeofResource(module, named), 3u);
    EXPECT_EQ(std::string(data, 3), "abc");

    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCE(IDI_TEST), RT_GROUP_ICON), nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCE(IDR_POPUP_BAR), RT_MENU), nullptr);
    EXPECT_NE(FindResourceW(module, MAKEINTRESOURCE(1), RT_ICON), nullptr);
}

TEST_F(WindowResourcesTest, MissingResourcesFailWithTheirErrors) {
    SetLastError(0);
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCE(999), RT_DIALOG), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(FindResourceW(module, MAKEINTRESOURCE(1), RT_VERSION), nullptr);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));
    EXPECT_EQ(
        FindResourceW(reinterpret_cast<HMODULE>(0x1234), MAKEINTRESOURCE(IDD_SPINNERS), RT_DIALOG),
        nullptr);
    EXPECT_EQ(LoadResource(module, reinterpret_cast<HRSRC>(0x5)), nullptr);
    EXPECT_EQ(SizeofResource(module, reinterpret_cast<HRSRC>(0x7777777)), 0u);
}

TEST_F(WindowResourcesTest, EachEmbeddedScriptIsAModuleOfItsOwn) {
    HINSTANCE other = resources::ModuleNamed("window_other");
    ASSERT_NE(other, nullptr);
    ASSERT_NE(other, module);
    WCHAR text[16];
    EXPECT_EQ(LoadStringW(module, IDS_ONE, text, 16), 2);
    EXPECT_EQ(std::u16string(text), u"Un");
    EXPECT_EQ(LoadStringW(other, IDS_ONE, text, 16), 5);
    EXPECT_EQ(std::u16string(text), u"Autre");
    EXPECT_EQ(FindResourceW(other, MAKEINTRESOURCE(IDD_SPINNERS), RT_DIALOG), nullptr);
    // With two scripts and none marked as the program's, the program module has no resources.
    EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCE(IDS_ONE / 16 + 1), RT_STRING), nullptr);
    EXPECT_EQ(resources::ModuleNamed("no_such_script"), nullptr);
}

TEST_F(WindowResourcesTest, AModuleMadeOfBytesIsSearchedLikeAnEmbeddedOne) {
    HINSTANCE made = resources::AddModule("made", ResFile(10, 5, {1, 2, 3, 4, 5}));
    HRSRC found = FindResourceW(made, MAKEINTRESOURCE(5), RT_RCDATA);
    ASSERT_NE(found, nullptr);
    EXPECT_EQ(SizeofResource(made, found), 5u);
    auto* data = static_cast<const unsigned char*>(LockResource(LoadResource(made, found)));
    EXPECT_EQ(data[4], 5);
    // A record whose size runs past the end of the file is not read.
    auto broken = ResFile(10, 6, {1, 2, 3, 4});
    broken[32] = 0x40;
    HINSTANCE cut = resources::AddModule("cut", broken);
    EXPECT_EQ(FindResourceW(cut, MAKEINTRESOURCE(6), RT_RCDATA), nullptr);
}

// ---- Strings ----

TEST_F(WindowResourcesTest, LoadStringCopiesCutsAndTerminates) {
    WCHAR text[64];
    EXPECT_EQ(LoadStringW(module, IDS_DONE, text, 64), 7);
    EXPECT_EQ(std::u16string(text), u"Terminé");
    EXPECT_EQ(LoadStringW(module, IDS_SEVENTEEN, text, 64), 8);
    EXPECT_EQ(std::u16string(text), u"Dix-sept");

    WCHAR small[6];
    std::fill(std::begin(small), std::end(small), u'#');
    EXPECT_EQ(LoadStringW(module, IDS_LONG, small, 5), 4);
    EXPECT_EQ(std::u16string(small), u"Une ");
    EXPECT_EQ(small[5], u'#');

    text[0] = u'#';
    EXPECT_EQ(LoadStringW(module, 2, text, 64), 0);
    EXPECT_EQ(text[0], 0);
    EXPECT_EQ(LoadStringW(module, IDS_DONE, nullptr, 64), 0);
}

TEST_F(WindowResourcesTest, LoadStringWithNoBufferLengthGivesThePointerToTheString) {
    const WCHAR* inPlace = nullptr;
    int length = LoadStringW(module, IDS_CANCEL, reinterpret_cast<LPWSTR>(&inPlace), 0);
    ASSERT_EQ(length, 7);
    ASSERT_NE(inPlace, nullptr);
    EXPECT_EQ(std::u16string(inPlace, length), u"Annuler");
}

// ---- Dialog templates ----

TEST_F(WindowResourcesTest, AClassicTemplateBuildsTheDialogAndItsControlsInOrder) {
    HWND dialog = Open(IDD_SPINNERS, 77);
    ASSERT_NE(dialog, nullptr);
    ASSERT_FALSE(received.empty());
    EXPECT_EQ(received[0].message, static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(received[0].lParam, 77);
    EXPECT_EQ(received[0].wParam, reinterpret_cast<WPARAM>(GetDlgItem(dialog, IDC_WRAP_LIST)));

    const wm::Window* window = wm::Find(dialog);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->className, u"#32770");
    EXPECT_EQ(window->style, static_cast<DWORD>(WS_VISIBLE | DS_SETFONT));
    EXPECT_EQ(window->cx, 100);
    EXPECT_EQ(window->cy, 119);
    const auto* state = wm::StateOf<wm::DialogState>(dialog);
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(state->hasFont);
    EXPECT_EQ(state->fontSize, 8);
    EXPECT_EQ(state->fontName, u"System");

    std::vector<int> ids;
    std::vector<std::u16string> classes;
    for (HWND child : window->children) {
        ids.push_back(GetDlgCtrlID(child));
        classes.push_back(wm::Find(child)->className);
    }
    EXPECT_EQ(ids, (std::vector<int>{IDC_LABEL, IDC_WRAP_LIST, IDC_WRAP_SPIN, IDC_STOP_LIST,
                                     IDC_STOP_SPIN, IDC_HIDDEN_LIST, IDC_EDIT}));
    EXPECT_EQ(classes,
              (std::vector<std::u16string>{u"STATIC", u"LISTBOX", u"msctls_updown32", u"LISTBOX",
                                           u"msctls_updown32", u"LISTBOX", u"EDIT"}));
    const wm::Window* label = wm::Find(GetDlgItem(dialog, IDC_LABEL));
    EXPECT_EQ(label->text, u"Sonnerie principale :");
    EXPECT_EQ(label->x, 4);
    EXPECT_EQ(label->y, 4);
    EXPECT_EQ(label->cx, 88);
    EXPECT_EQ(label->cy, 12);
    EXPECT_EQ(label->style, static_cast<DWORD>(WS_CHILD | WS_VISIBLE | WS_GROUP));
    // Each up-down control took the control just before it as its buddy.
    EXPECT_EQ(
        reinterpret_cast<HWND>(SendDlgItemMessageW(dialog, IDC_WRAP_SPIN, UDM_GETBUDDY, 0, 0)),
        GetDlgItem(dialog, IDC_WRAP_LIST));
    EXPECT_EQ(
        reinterpret_cast<HWND>(SendDlgItemMessageW(dialog, IDC_STOP_SPIN, UDM_GETBUDDY, 0, 0)),
        GetDlgItem(dialog, IDC_STOP_LIST));
    EXPECT_TRUE(IsWindowVisible(dialog));
}

TEST_F(WindowResourcesTest, AnExtendedTemplateBuildsTheSameWayWithPredefinedClassAtoms) {
    HWND dialog = Open(IDD_EXTENDED);
    ASSERT_NE(dialog, nullptr);
    const wm::Window* window = wm::Find(dialog);
    EXPECT_EQ(window->text, u"Étendu");
    EXPECT_EQ(window->x, 2);
    EXPECT_EQ(window->y, 3);
    EXPECT_EQ(window->cx, 102);
    EXPECT_EQ(wm::StateOf<wm::DialogState>(dialog)->fontName, u"System");

    EXPECT_EQ(wm::Find(GetDlgItem(dialog, IDC_LABEL))->className, u"STATIC");
    EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_LABEL)), u"Ligne un\nLigne deux");
    EXPECT_EQ(wm::Find(GetDlgItem(dialog, IDC_EDIT))->className, u"EDIT");
    EXPECT_EQ(wm::Find(GetDlgItem(dialog, IDC_WRAP_LIST))->className, u"LISTBOX");
    EXPECT_EQ(wm::Find(GetDlgItem(dialog, IDC_BUTTON))->className, u"BUTTON");
    EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_BUTTON)), u"Bouton");
    const auto icon = classes::IconOf(GetDlgItem(dialog, IDC_ICON));
    ASSERT_TRUE(icon.has_value());
    EXPECT_EQ(icon->id, IDI_TEST);
    EXPECT_EQ(icon->module, module);
    EXPECT_EQ(GetWindowTextLengthW(GetDlgItem(dialog, IDC_ICON)), 0);
    // The first tab stop in template order is the edit field.
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, IDC_EDIT));
}

TEST_F(WindowResourcesTest, AStaticIconWithoutIdNamesItsIconByNumber) {
    HWND dialog = Open(IDD_TEXTS);
    const wm::Window* window = wm::Find(dialog);
    ASSERT_EQ(window->children.size(), 2u);
    HWND icon = window->children[1];
    EXPECT_EQ(GetDlgItem(dialog, -1), icon);
    EXPECT_EQ(classes::IconOf(icon)->id, IDI_TEST);
    EXPECT_EQ(TextOf(GetDlgItem(dialog, IDC_MULTILINE)), u"Tavonne\nVersion 1.0");
}

TEST_F(WindowResourcesTest, DialogsThatCannotBeBuiltGiveMinusOne) {
    keys::SetInputSource(keys::FromList({}));
    // An unknown control class: nothing is left behind.
    SetLastError(0);
    EXPECT_EQ(
        DialogBoxIndirectParamW(module, Template(IDD_UNKNOWN_CLASS), nullptr, RecordingProc, 0),
        -1);
    EXPECT_EQ(GetLastError(), 1407u);  // ERROR_CANNOT_FIND_WND_CLASS
    EXPECT_TRUE(wm::TopLevelWindows().empty());
    EXPECT_FALSE(WasSent(WM_INITDIALOG));
    // No template at all.
    EXPECT_EQ(DialogBoxIndirectParamW(module, nullptr, nullptr, RecordingProc, 0), -1);
    // An owner that is no window.
    EXPECT_EQ(DialogBoxIndirectParamW(module, Template(IDD_SPINNERS), reinterpret_cast<HWND>(0x99),
                                      RecordingProc, 0),
              -1);
    // A template by name that the module lacks.
    EXPECT_EQ(DialogBoxParamW(module, MAKEINTRESOURCE(999), nullptr, RecordingProc, 0), -1);
    EXPECT_FALSE(WasSent(WM_INITDIALOG));
}

TEST_F(WindowResourcesTest, ATemplateCutShortIsRefusedNotOverrun) {
    HRSRC found = FindResourceW(module, MAKEINTRESOURCE(IDD_SPINNERS), RT_DIALOG);
    DWORD size = SizeofResource(module, found);
    std::vector<unsigned char> whole = Bytes(LockResource(LoadResource(module, found)), size);
    // The same template with fewer bytes than its items need.
    std::vector<unsigned char> cut(whole.begin(), whole.begin() + size / 2);
    HINSTANCE shortModule = resources::AddModule("short", ResFile(5, 1, cut));
    HRSRC shortTemplate = FindResourceW(shortModule, MAKEINTRESOURCE(1), RT_DIALOG);
    ASSERT_NE(shortTemplate, nullptr);
    auto* bytes =
        static_cast<LPCDLGTEMPLATEW>(LockResource(LoadResource(shortModule, shortTemplate)));
    keys::SetInputSource(keys::FromList({}));
    EXPECT_EQ(DialogBoxIndirectParamW(shortModule, bytes, nullptr, RecordingProc, 0), -1);
    EXPECT_FALSE(WasSent(WM_INITDIALOG));

    // And one that claims more items than it holds.
    std::vector<unsigned char> inflated = whole;
    inflated[8] = static_cast<unsigned char>(inflated[8] + 1);  // cdit
    HINSTANCE inflatedModule = resources::AddModule("inflated", ResFile(5, 1, inflated));
    HRSRC inflatedTemplate = FindResourceW(inflatedModule, MAKEINTRESOURCE(1), RT_DIALOG);
    EXPECT_EQ(DialogBoxIndirectParamW(inflatedModule,
                                      static_cast<LPCDLGTEMPLATEW>(LockResource(
                                          LoadResource(inflatedModule, inflatedTemplate))),
                                      nullptr, RecordingProc, 0),
              -1);
    EXPECT_FALSE(WasSent(WM_INITDIALOG));
}

TEST_F(WindowResourcesTest, ATemplateBuiltInMemoryIsTrustedAsOnWin32) {
    // DLGTEMPLATE: style, extended style, 1 item, x, y, cx, cy; no menu, class or title.
    alignas(4) WORD words[64] = {};
    DWORD style = WS_VISIBLE;
    std::memcpy(words, &style, 4);
    words[4] = 1;
    words[7] = 40;
    words[8] = 30;
    // words[9..11]: menu, class, title: none. The item starts on a DWORD: word 12.
    DWORD itemStyle = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    std::memcpy(&words[12], &itemStyle, 4);
    words[18] = 5;       // cx
    words[19] = 5;       // cy
    words[20] = 42;      // id
    words[21] = 0xFFFF;  // class: the predefined EDIT
    words[22] = 0x0081;
    words[23] = u'x';  // title "x"
    words[24] = 0;
    words[25] = 0;  // no creation data
    HWND dialog = CreateDialogIndirectParamW(module, reinterpret_cast<LPCDLGTEMPLATEW>(words),
                                             nullptr, RecordingProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(GetDlgItem(dialog, 42)), u"x");
    EXPECT_EQ(GetFocus(), GetDlgItem(dialog, 42));
}

}  // namespace
