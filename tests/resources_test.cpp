// Tests of the compiled resource script: every dialog, menu, menu bar, string and the icon.
#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include "platform/kernel32/resources.h"
#include "res/resource.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::uint16_t kFrenchFrance = 0x040C;
constexpr std::uint16_t kIdOk = 1;  // IDOK

enum ResourceType : std::uint16_t {
    RtIcon = 3,
    RtMenu = 4,
    RtDialog = 5,
    RtString = 6,
    RtRcdata = 10,
    RtGroupIcon = 14,
};

Bytes ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot open " + path);
    return Bytes(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

// A resource id or a class or text in a template: a number, or a string.
using NameOrId = std::variant<std::uint16_t, std::u16string>;

// Reads little-endian fields, failing the test (by exception) on any read past the end.
class Reader {
  public:
    Reader(const Bytes& bytes, std::size_t begin = 0, std::size_t end = SIZE_MAX)
        : bytes_(bytes), pos_(begin), end_(std::min(end, bytes.size())) {}

    std::uint16_t U16() {
        Need(2);
        std::uint16_t value = bytes_[pos_] | bytes_[pos_ + 1] << 8;
        pos_ += 2;
        return value;
    }
    std::uint32_t U32() {
        std::uint32_t low = U16();
        return low | std::uint32_t{U16()} << 16;
    }
    std::int16_t S16() { return static_cast<std::int16_t>(U16()); }
    std::uint8_t U8() {
        Need(1);
        return bytes_[pos_++];
    }
    std::u16string Sz() {
        std::u16string text;
        for (char16_t c = U16(); c != 0; c = U16())
            text.push_back(c);
        return text;
    }
    // 0xFFFF and a number, or a zero-terminated string (empty when the first word is 0).
    NameOrId SzOrOrd() {
        if (Peek16() == 0xFFFF) {
            U16();
            return U16();
        }
        return Sz();
    }
    void AlignTo4(std::size_t base = 0) {
        std::size_t offset = (pos_ - base + 3) / 4 * 4 + base;
        Need(offset - pos_);
        pos_ = offset;
    }
    void Skip(std::size_t count) {
        Need(count);
        pos_ += count;
    }
    std::uint16_t Peek16() {
        std::uint16_t value = U16();
        pos_ -= 2;
        return value;
    }
    std::size_t Position() const { return pos_; }
    bool AtEnd() const { return pos_ == end_; }

  private:
    void Need(std::size_t count) const {
        if (count > end_ - pos_)
            throw std::out_of_range("read past the end of the resource");
    }

    const Bytes& bytes_;
    std::size_t pos_;
    std::size_t end_;
};

struct Resource {
    NameOrId type;
    NameOrId name;
    std::uint16_t language = 0;
    Bytes data;
};

// Walks the RESOURCEHEADERs of a .res file; each header and each data block is DWORD aligned.
std::vector<Resource> ReadResFile(const Bytes& file) {
    std::vector<Resource> resources;
    Reader reader(file);
    while (!reader.AtEnd()) {
        std::size_t start = reader.Position();
        std::uint32_t dataSize = reader.U32();
        std::uint32_t headerSize = reader.U32();
        Resource resource;
        resource.type = reader.SzOrOrd();
        resource.name = reader.SzOrOrd();
        reader.AlignTo4();
        reader.U32();  // DataVersion
        reader.U16();  // MemoryFlags
        resource.language = reader.U16();
        reader.U32();  // Version
        reader.U32();  // Characteristics
        if (reader.Position() != start + headerSize)
            throw std::runtime_error("bad header size");
        for (std::uint32_t i = 0; i < dataSize; ++i)
            resource.data.push_back(reader.U8());
        reader.AlignTo4();
        resources.push_back(std::move(resource));
    }
    return resources;
}

std::string Describe(const NameOrId& id) {
    if (auto* number = std::get_if<std::uint16_t>(&id))
        return std::to_string(*number);
    std::string text;
    for (char16_t c : std::get<std::u16string>(id))
        text.push_back(c < 0x80 ? char(c) : '?');
    return '"' + text + '"';
}

bool SameClass(const NameOrId& actual, const std::u16string& expected) {
    // A predefined class may be written as its atom; names are compared without regard to case
    // (windres writes them in capitals).
    static const std::map<std::u16string, std::uint16_t> atoms = {
        {u"EDIT", 0x0081}, {u"STATIC", 0x0082}, {u"LISTBOX", 0x0083}};
    if (auto* atom = std::get_if<std::uint16_t>(&actual)) {
        auto known = atoms.find(expected);
        return known != atoms.end() && known->second == *atom;
    }
    const std::u16string& name = std::get<std::u16string>(actual);
    if (name.size() != expected.size())
        return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        auto upper = [](char16_t c) { return c >= u'a' && c <= u'z' ? char16_t(c - 32) : c; };
        if (upper(name[i]) != upper(expected[i]))
            return false;
    }
    return true;
}

// The program's own resources as it loads them, through FindResource and LockResource.
constexpr char kProgram[] = "program";

// The resources of one compiled script, found by type and numeric id.
class ResourcesTest : public testing::TestWithParam<std::string> {
  protected:
    void SetUp() override {
        if (GetParam().empty())
            GTEST_SKIP() << "no windres on this machine";
        if (GetParam() == kProgram) {
            module_ = resources::ModuleNamed("tavonne");
            ASSERT_NE(module_, nullptr);
            return;
        }
        resources_ = ReadResFile(ReadFile(GetParam()));
    }

    const Bytes& Get(std::uint16_t type, std::uint16_t id) {
        if (module_ != nullptr) {
            HRSRC found = FindResourceW(module_, MAKEINTRESOURCE(id), MAKEINTRESOURCE(type));
            if (found == nullptr)
                throw std::runtime_error("the program finds no resource " + std::to_string(type) +
                                         "/" + std::to_string(id));
            const auto* data = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
            Bytes& bytes = loaded_[{type, id}];
            bytes.assign(data, data + SizeofResource(module_, found));
            return bytes;
        }
        const Resource* found = nullptr;
        for (const Resource& resource : resources_) {
            if (resource.type == NameOrId{type} && resource.name == NameOrId{id}) {
                EXPECT_EQ(found, nullptr) << "resource " << type << "/" << id << " twice";
                found = &resource;
            }
        }
        if (found == nullptr)
            throw std::runtime_error("no resource " + std::to_string(type) + "/" +
                                     std::to_string(id));
        return found->data;
    }

    std::vector<Resource> resources_;
    HMODULE module_ = nullptr;
    std::map<std::pair<std::uint16_t, std::uint16_t>, Bytes> loaded_;
};

const char* const kCompilerNames[] = {"llvm_rc", "windres", kProgram};

std::vector<std::string> CompiledScripts() {
    return {TAVONNE_RES_LLVM, TAVONNE_RES_WINDRES, kProgram};
}

INSTANTIATE_TEST_SUITE_P(Compilers, ResourcesTest, testing::ValuesIn(CompiledScripts()),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return std::string(kCompilerNames[info.index]);
                         });

// The whole set of resources, as the compiled files list it (the program finds each by id).
class CompiledFileTest : public ResourcesTest {};

INSTANTIATE_TEST_SUITE_P(Compilers, CompiledFileTest,
                         testing::Values(TAVONNE_RES_LLVM, TAVONNE_RES_WINDRES),
                         [](const testing::TestParamInfo<std::string>& info) {
                             return std::string(kCompilerNames[info.index]);
                         });

TEST(ResourceIdentifiers, HaveTheirFixedValues) {
    EXPECT_EQ(IDD_MAIN, 102);
    EXPECT_EQ(IDD_ABOUT, 107);
    EXPECT_EQ(IDD_SETTINGS, 110);
    EXPECT_EQ(IDR_MAIN_MENUBAR, 104);
    EXPECT_EQ(IDR_ABOUT_MENUBAR, 108);
    EXPECT_EQ(IDR_SETTINGS_MENUBAR, 109);
    EXPECT_EQ(IDI_APP, 112);
    EXPECT_EQ(IDC_RING_LABEL, 103);
    EXPECT_EQ(IDC_RING_LIST, 108);
    EXPECT_EQ(IDC_RING_SPIN, 109);
    EXPECT_EQ(IDC_SMS_LABEL, 111);
    EXPECT_EQ(IDC_SMS_LIST, 110);
    EXPECT_EQ(IDC_SMS_SPIN, 112);
    EXPECT_EQ(IDC_FOLDER_EDIT, 1010);
    EXPECT_EQ(IDC_FOLDER_LABEL, 1011);
    EXPECT_EQ(IDC_REPEAT_LABEL, 1013);
    EXPECT_EQ(IDC_REPEAT_LIST, 1012);
    EXPECT_EQ(IDC_REPEAT_SPIN, 109);
    EXPECT_EQ(IDC_ABOUT_TITLE, 1007);
    EXPECT_EQ(IDC_ABOUT_TEXT, 1008);
    EXPECT_EQ(IDM_DONE, 40006);
    EXPECT_EQ(IDM_PLAY, 40009);
    EXPECT_EQ(IDM_MENU, 40013);
    EXPECT_EQ(IDM_ABOUT, 40014);
    EXPECT_EQ(IDM_SETTINGS, 40015);
    EXPECT_EQ(IDM_CANCEL, 40016);
    EXPECT_EQ(IDS_DONE, 40005);
    EXPECT_EQ(IDS_OK, 40011);
    EXPECT_EQ(IDS_MENU, 40012);
    EXPECT_EQ(IDS_CANCEL, 40017);
}

TEST_P(CompiledFileTest, HoldsExactlyTheProgramsResourcesInFrench) {
    std::multiset<std::pair<std::uint16_t, std::uint16_t>> found;
    for (const Resource& resource : resources_) {
        if (resource.type == NameOrId{std::uint16_t{0}}) {
            EXPECT_TRUE(resource.data.empty()) << "the leading empty entry marks a 32-bit .res";
            continue;
        }
        ASSERT_TRUE(std::holds_alternative<std::uint16_t>(resource.type));
        ASSERT_TRUE(std::holds_alternative<std::uint16_t>(resource.name))
            << "resource named " << Describe(resource.name) << ": a name was not defined";
        EXPECT_EQ(resource.language, kFrenchFrance) << Describe(resource.name);
        found.emplace(std::get<std::uint16_t>(resource.type),
                      std::get<std::uint16_t>(resource.name));
    }
    std::multiset<std::pair<std::uint16_t, std::uint16_t>> expected = {
        {RtDialog, 102}, {RtDialog, 107},  {RtDialog, 110},  {RtMenu, 104},
        {RtMenu, 108},   {RtMenu, 109},    {RtRcdata, 104},  {RtRcdata, 108},
        {RtRcdata, 109}, {RtString, 2501}, {RtString, 2502}, {RtGroupIcon, 112},
    };
    // The three images of the icon group, whatever numbers the compiler gave them.
    for (const auto& [type, id] : found) {
        if (type == RtIcon)
            expected.emplace(type, id);
    }
    EXPECT_EQ(found, expected);
    EXPECT_EQ(std::count_if(found.begin(), found.end(),
                            [](auto& entry) { return entry.first == RtIcon; }),
              3);
}

// Dialog templates

struct Control {
    std::uint16_t id;
    std::u16string className;
    NameOrId text;
    std::uint32_t style;
    std::int16_t x, y, cx, cy;
};

struct Dialog {
    std::int16_t cx, cy;
    std::vector<Control> controls;
};

constexpr std::uint32_t kLabel = 0x50020000;    // WS_CHILD | WS_VISIBLE | WS_GROUP
constexpr std::uint32_t kList = 0x50010101;     // WS_TABSTOP, LBS_NOINTEGRALHEIGHT, LBS_NOTIFY
constexpr std::uint32_t kSpinner = 0x50000277;  // UDS_EXPANDABLE | UDS_HORZ | ... | UDS_WRAP
constexpr std::uint32_t kEdit = 0x50810080;     // WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL
constexpr std::uint32_t kIcon = 0x50000003;     // SS_ICON
const std::u16string kUpDown = u"msctls_updown32";

const std::map<std::uint16_t, Dialog>& ExpectedDialogs() {
    static const std::map<std::uint16_t, Dialog> dialogs = {
        {IDD_MAIN,
         {100,
          119,
          {
              {IDC_RING_LABEL, u"STATIC", u"Sonnerie principale :", kLabel, 4, 4, 88, 12},
              {IDC_RING_LIST, u"LISTBOX", u"", kList, 4, 17, 89, 12},
              {IDC_RING_SPIN, kUpDown, u"", kSpinner, 0, 0, 0, 0},
              {IDC_SMS_LABEL, u"STATIC", u"SMS :", kLabel, 3, 34, 88, 9},
              {IDC_SMS_LIST, u"LISTBOX", u"", kList, 4, 47, 89, 13},
              {IDC_SMS_SPIN, kUpDown, u"", kSpinner, 0, 0, 0, 0},
          }}},
        {IDD_SETTINGS,
         {102,
          119,
          {
              {IDC_FOLDER_EDIT, u"EDIT", u"", kEdit, 5, 15, 90, 13},
              {IDC_FOLDER_LABEL, u"STATIC", u"Chercher sonneries dans :", kLabel, 6, 3, 84, 10},
              {IDC_REPEAT_LABEL, u"STATIC", u"Répétition toutes les", kLabel, 6, 34, 84, 10},
              {IDC_REPEAT_LIST, u"LISTBOX", u"", kList, 5, 46, 89, 13},
              {IDC_REPEAT_SPIN, kUpDown, u"", kSpinner, 0, 0, 0, 0},
          }}},
        {IDD_ABOUT,
         {106,
          121,
          {
              {IDC_ABOUT_TITLE, u"STATIC", u"Tavonne\nVersion 1.0", kLabel, 29, 6, 63, 22},
              {IDC_ABOUT_TEXT, u"STATIC",
               u"Vos remarques et idées :\nequipe@tavonne.example\n\n"
               u"Conçu et réalisé par l'équipe Tavonne.",
               kLabel, 4, 50, 96, 62},
              {0xFFFF, u"STATIC", std::uint16_t{IDI_APP}, kIcon, 3, 7, 21, 20},
          }}},
    };
    return dialogs;
}

TEST_P(ResourcesTest, DialogTemplatesHoldTheirControlsInTabOrder) {
    for (const auto& [id, expected] : ExpectedDialogs()) {
        SCOPED_TRACE("dialog " + std::to_string(id));
        const Bytes& data = Get(RtDialog, id);
        Reader reader(data);
        EXPECT_EQ(reader.U32(), 0x10000040u);  // WS_VISIBLE | DS_SETFONT
        EXPECT_EQ(reader.U32(), 0u);
        std::uint16_t count = reader.U16();
        ASSERT_EQ(count, expected.controls.size());
        EXPECT_EQ(reader.S16(), 0);
        EXPECT_EQ(reader.S16(), 0);
        EXPECT_EQ(reader.S16(), expected.cx);
        EXPECT_EQ(reader.S16(), expected.cy);
        EXPECT_EQ(reader.SzOrOrd(), NameOrId{u""}) << "menu";
        EXPECT_EQ(reader.SzOrOrd(), NameOrId{u""}) << "window class";
        EXPECT_EQ(reader.Sz(), u"") << "caption";
        EXPECT_EQ(reader.U16(), 8) << "font size";
        EXPECT_EQ(reader.Sz(), u"System");
        for (const Control& control : expected.controls) {
            SCOPED_TRACE("control " + std::to_string(control.id));
            reader.AlignTo4();  // each DLGITEMTEMPLATE starts on a DWORD
            EXPECT_EQ(reader.U32(), control.style);
            EXPECT_EQ(reader.U32(), 0u);
            EXPECT_EQ(reader.S16(), control.x);
            EXPECT_EQ(reader.S16(), control.y);
            EXPECT_EQ(reader.S16(), control.cx);
            EXPECT_EQ(reader.S16(), control.cy);
            EXPECT_EQ(reader.U16(), control.id);
            NameOrId className = reader.SzOrOrd();
            EXPECT_TRUE(SameClass(className, control.className)) << Describe(className);
            EXPECT_EQ(reader.SzOrOrd(), control.text);
            EXPECT_EQ(reader.U16(), 0) << "creation data";
        }
        EXPECT_TRUE(reader.AtEnd());
    }
}

// Menus

struct MenuItem {
    std::u16string text;
    std::uint16_t id;  // 0 for a pop-up
    std::vector<MenuItem> popup;
};

constexpr std::uint16_t kMfPopup = 0x10;
constexpr std::uint16_t kMfEnd = 0x80;

std::vector<MenuItem> ReadMenuItems(Reader& reader) {
    std::vector<MenuItem> items;
    std::uint16_t flags;
    do {
        flags = reader.U16();
        EXPECT_EQ(flags & ~(kMfPopup | kMfEnd), 0) << "only plain items and pop-ups";
        MenuItem item;
        if (flags & kMfPopup) {
            item.text = reader.Sz();
            item.id = 0;
            item.popup = ReadMenuItems(reader);
        } else {
            item.id = reader.U16();
            item.text = reader.Sz();
        }
        items.push_back(std::move(item));
    } while (!(flags & kMfEnd));
    return items;
}

bool operator==(const MenuItem& a, const MenuItem& b) {
    return a.text == b.text && a.id == b.id && a.popup == b.popup;
}

void PrintTo(const MenuItem& item, std::ostream* out) {
    *out << Describe(item.text) << " " << item.id;
    if (!item.popup.empty())
        *out << " " << testing::PrintToString(item.popup);
}

std::vector<MenuItem> ReadMenu(const Bytes& data) {
    Reader reader(data);
    EXPECT_EQ(reader.U16(), 0) << "MENUHEADER version";
    EXPECT_EQ(reader.U16(), 0) << "MENUHEADER size";
    std::vector<MenuItem> items = ReadMenuItems(reader);
    EXPECT_TRUE(reader.AtEnd());
    return items;
}

TEST_P(ResourcesTest, MenusHoldTheSoftKeyCommands) {
    std::vector<MenuItem> main = {
        {u"Terminé", IDM_DONE, {}},
        {u"Menu",
         0,
         {
             {u"Jouer", IDM_PLAY, {}},
             {u"Paramètres", IDM_SETTINGS, {}},
             {u"A propos ...", IDM_ABOUT, {}},
             {u"Annuler", IDM_CANCEL, {}},
         }},
    };
    EXPECT_EQ(ReadMenu(Get(RtMenu, IDR_MAIN_MENUBAR)), main);
    EXPECT_EQ(ReadMenu(Get(RtMenu, IDR_ABOUT_MENUBAR)),
              (std::vector<MenuItem>{{u"OK", kIdOk, {}}}));
    std::vector<MenuItem> settings = {{u"Terminé", IDM_DONE, {}}, {u"Annuler", IDM_CANCEL, {}}};
    EXPECT_EQ(ReadMenu(Get(RtMenu, IDR_SETTINGS_MENUBAR)), settings);
}

// Menu bars and strings

std::vector<std::uint16_t> Words(const Bytes& data) {
    std::vector<std::uint16_t> words;
    Reader reader(data);
    while (!reader.AtEnd())
        words.push_back(reader.U16());
    return words;
}

constexpr std::uint16_t kNoImage = 0xFFFE;  // I_IMAGENONE
constexpr std::uint16_t kEnabled = 4;       // TBSTATE_ENABLED
constexpr std::uint16_t kAutoSize = 16;     // TBSTYLE_AUTOSIZE
constexpr std::uint16_t kDropDown = 24;     // TBSTYLE_DROPDOWN | TBSTYLE_AUTOSIZE
constexpr std::uint16_t kNoMenu = 0xFFFF;   // NOMENU

TEST_P(ResourcesTest, MenuBarsAreSixteenBitWordLists) {
    using W = std::vector<std::uint16_t>;
    EXPECT_EQ(Words(Get(RtRcdata, IDR_MAIN_MENUBAR)),
              (W{104, 2,                                                         //
                 kNoImage, IDM_DONE, kEnabled, kAutoSize, IDS_DONE, 0, kNoMenu,  //
                 kNoImage, IDM_MENU, kEnabled, kDropDown, IDS_MENU, 0, 1}));
    EXPECT_EQ(Words(Get(RtRcdata, IDR_ABOUT_MENUBAR)),
              (W{108, 1, kNoImage, kIdOk, kEnabled, kAutoSize, IDS_OK, 0, kNoMenu}));
    EXPECT_EQ(Words(Get(RtRcdata, IDR_SETTINGS_MENUBAR)),
              (W{109, 2,                                                         //
                 kNoImage, IDM_DONE, kEnabled, kAutoSize, IDS_DONE, 0, kNoMenu,  //
                 kNoImage, IDM_CANCEL, kEnabled, kAutoSize, IDS_CANCEL, 0, kNoMenu}));
}

// The strings of a string table block: sixteen counted strings, ids (block - 1) * 16 onwards.
std::map<std::uint16_t, std::u16string> ReadStringBlock(const Bytes& data, std::uint16_t block) {
    std::map<std::uint16_t, std::u16string> strings;
    Reader reader(data);
    for (int index = 0; index < 16; ++index) {
        std::u16string text(reader.U16(), u'\0');
        for (char16_t& c : text)
            c = reader.U16();
        if (!text.empty())
            strings[(block - 1) * 16 + index] = text;
    }
    EXPECT_TRUE(reader.AtEnd());
    return strings;
}

TEST_P(ResourcesTest, StringTableHoldsTheSoftKeyLabels) {
    std::map<std::uint16_t, std::u16string> strings = ReadStringBlock(Get(RtString, 2501), 2501);
    strings.merge(ReadStringBlock(Get(RtString, 2502), 2502));
    std::map<std::uint16_t, std::u16string> expected = {
        {IDS_DONE, u"Terminé"}, {IDS_OK, u"OK"}, {IDS_MENU, u"Menu"}, {IDS_CANCEL, u"Annuler"}};
    EXPECT_EQ(strings, expected);
}

TEST(ProgramResources, LoadStringGivesTheSoftKeyLabels) {
    HMODULE module = resources::ModuleNamed("tavonne");
    const std::pair<UINT, std::u16string> expected[] = {
        {IDS_DONE, u"Terminé"}, {IDS_OK, u"OK"}, {IDS_MENU, u"Menu"}, {IDS_CANCEL, u"Annuler"}};
    for (const auto& [id, text] : expected) {
        WCHAR buffer[32] = {};
        EXPECT_EQ(LoadStringW(module, id, buffer, 32), static_cast<int>(text.size()));
        EXPECT_EQ(std::u16string(buffer), text);
    }
}

TEST_P(ResourcesTest, EveryMenuBarButtonHasItsLabelAndPopUp) {
    std::map<std::uint16_t, std::u16string> strings = ReadStringBlock(Get(RtString, 2501), 2501);
    strings.merge(ReadStringBlock(Get(RtString, 2502), 2502));
    for (std::uint16_t id : {IDR_MAIN_MENUBAR, IDR_ABOUT_MENUBAR, IDR_SETTINGS_MENUBAR}) {
        SCOPED_TRACE("menu bar " + std::to_string(id));
        std::vector<std::uint16_t> words = Words(Get(RtRcdata, id));
        std::vector<MenuItem> menu = ReadMenu(Get(RtMenu, id));
        ASSERT_GE(words.size(), 2u);
        ASSERT_EQ(words.size(), 2 + 7 * words[1]);
        for (std::size_t button = 0; button < words[1]; ++button) {
            const std::uint16_t* w = &words[2 + 7 * button];
            EXPECT_TRUE(strings.count(w[4])) << "label " << w[4];
            if (w[6] == kNoMenu) {
                EXPECT_EQ(w[3], kAutoSize);
                continue;
            }
            EXPECT_EQ(w[3], kDropDown);
            ASSERT_LT(w[6], menu.size());
            EXPECT_FALSE(menu[w[6]].popup.empty()) << "button " << button << " opens no pop-up";
        }
    }
}

// The icon

struct Image {
    int width = 0;
    std::vector<int> colour;  // palette index per pixel, top row first
    std::vector<bool> transparent;
};

// The standard 16-colour palette as stored (blue, green, red, 0).
const std::uint8_t kPalette[16][4] = {
    {0x00, 0x00, 0x00, 0}, {0x00, 0x00, 0x80, 0}, {0x00, 0x80, 0x00, 0}, {0x00, 0x80, 0x80, 0},
    {0x80, 0x00, 0x00, 0}, {0x80, 0x00, 0x80, 0}, {0x80, 0x80, 0x00, 0}, {0xC0, 0xC0, 0xC0, 0},
    {0x80, 0x80, 0x80, 0}, {0x00, 0x00, 0xFF, 0}, {0x00, 0xFF, 0x00, 0}, {0x00, 0xFF, 0xFF, 0},
    {0xFF, 0x00, 0x00, 0}, {0xFF, 0x00, 0xFF, 0}, {0xFF, 0xFF, 0x00, 0}, {0xFF, 0xFF, 0xFF, 0},
};

// Checks an RT_ICON image of 4 bits per pixel and decodes it.
Image ReadIconImage(const Bytes& data, int size) {
    Reader reader(data);
    EXPECT_EQ(reader.U32(), 40u) << "BITMAPINFOHEADER";
    EXPECT_EQ(reader.U32(), std::uint32_t(size));
    EXPECT_EQ(reader.U32(), std::uint32_t(size * 2)) << "colour and mask";
    EXPECT_EQ(reader.U16(), 1);
    EXPECT_EQ(reader.U16(), 4);
    EXPECT_EQ(reader.U32(), 0u) << "BI_RGB";
    reader.Skip(20);
    for (const auto& entry : kPalette) {
        for (std::uint8_t byte : entry)
            EXPECT_EQ(reader.U8(), byte);
    }
    std::size_t colourStride = (size * 4 + 31) / 32 * 4;
    std::size_t maskStride = (size + 31) / 32 * 4;
    std::size_t pixels = reader.Position();
    std::size_t mask = pixels + colourStride * size;
    EXPECT_EQ(data.size(), mask + maskStride * size);
    Image image;
    image.width = size;
    for (int row = 0; row < size; ++row) {
        std::size_t line = size - 1 - row;  // bottom-up
        for (int col = 0; col < size; ++col) {
            std::uint8_t pair = data.at(pixels + line * colourStride + col / 2);
            image.colour.push_back(col % 2 == 0 ? pair >> 4 : pair & 0x0F);
            std::uint8_t bits = data.at(mask + line * maskStride + col / 8);
            image.transparent.push_back((bits >> (7 - col % 8) & 1) != 0);
        }
    }
    return image;
}

TEST_P(ResourcesTest, IconGroupHoldsThreeSixteenColourImages) {
    Reader group(Get(RtGroupIcon, IDI_APP));
    EXPECT_EQ(group.U16(), 0);
    EXPECT_EQ(group.U16(), 1) << "icon, not cursor";
    ASSERT_EQ(group.U16(), 3);
    for (int size : {48, 32, 16}) {
        SCOPED_TRACE("icon " + std::to_string(size));
        EXPECT_EQ(group.U8(), size);
        EXPECT_EQ(group.U8(), size);
        EXPECT_EQ(group.U8(), 16) << "colours";
        EXPECT_EQ(group.U8(), 0);
        EXPECT_EQ(group.U16(), 1) << "planes";
        EXPECT_EQ(group.U16(), 4) << "bits per pixel";
        std::uint32_t bytes = group.U32();
        const Bytes& data = Get(RtIcon, group.U16());
        EXPECT_EQ(data.size(), bytes);
        Image image = ReadIconImage(data, size);
        // Drawn, not blank: transparent corners, an opaque middle, and more than two colours.
        EXPECT_TRUE(image.transparent.front());
        EXPECT_TRUE(image.transparent.back());
        EXPECT_FALSE(image.transparent[size / 2 * size + size / 2]);
        std::set<int> colours;
        for (std::size_t i = 0; i < image.colour.size(); ++i) {
            if (image.transparent[i]) {
                EXPECT_EQ(image.colour[i], 0) << "a transparent pixel must leave the screen as is";
            } else {
                colours.insert(image.colour[i]);
            }
        }
        EXPECT_GT(colours.size(), 2u);
    }
    EXPECT_TRUE(group.AtEnd());
}

TEST(IconFile, IsWhatItsGeneratorDraws) {
    Bytes committed = ReadFile(TAVONNE_ICON_COMMITTED);
    EXPECT_FALSE(committed.empty());
    EXPECT_TRUE(committed == ReadFile(TAVONNE_ICON_GENERATED))
        << "run make_icon again and commit res/tavonne.ico";
}

}  // namespace
