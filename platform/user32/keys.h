// The phone's keys: the key event, the one entry point that feeds a key to whatever is in front,
// and the input source that message loops ask when they have nothing to do.
#pragma once

#include <windows.h>

#include <functional>
#include <optional>

namespace keys {

enum class KeyKind {
    SoftKey1,  // the left soft key
    SoftKey2,  // the right soft key
    Up,
    Down,
    Left,
    Right,
    Action,  // the centre of the navigation pad
    Back,
    Digit,  // 0-9, `character` is u'0'..u'9'
    Star,
    Pound,
    Character,  // a typed character, `character`
};

struct Key {
    KeyKind kind = KeyKind::Action;
    char16_t character = 0;

    static Key Digit(int digit) { return {KeyKind::Digit, static_cast<char16_t>(u'0' + digit)}; }
    static Key Char(char16_t c) { return {KeyKind::Character, c}; }
    friend bool operator==(const Key&, const Key&) = default;
};

inline constexpr Key kSoftKey1{KeyKind::SoftKey1};
inline constexpr Key kSoftKey2{KeyKind::SoftKey2};
inline constexpr Key kUp{KeyKind::Up};
inline constexpr Key kDown{KeyKind::Down};
inline constexpr Key kLeft{KeyKind::Left};
inline constexpr Key kRight{KeyKind::Right};
inline constexpr Key kAction{KeyKind::Action};
inline constexpr Key kBack{KeyKind::Back};
inline constexpr Key kStar{KeyKind::Star};
inline constexpr Key kPound{KeyKind::Pound};

// The digit keys' virtual keys are their characters, VK_0 (0x30) to VK_9 (0x39).
inline constexpr UINT kVirtualKey0 = 0x30;

// The virtual key of a key: VK_TSOFT1, VK_TSOFT2, the arrows, VK_RETURN (action), VK_TBACK,
// VK_0..VK_9, VK_TSTAR, VK_TPOUND; 0 for a typed character, which arrives as WM_CHAR alone.
UINT VirtualKey(const Key& key);

// Feeds a key to the topmost open thing, in this order: a message box; the window that captured
// the keys (an open pop-up menu or expanded list); the foreground window's menu bar for the soft
// keys (and for the Back key when the screen has taken it with SHCMBM_OVERRIDEKEY), as
// WM_HOTKEY; otherwise the focused control of the foreground window (or the window itself) as
// WM_KEYDOWN/WM_KEYUP, or WM_CHAR for a typed character. Posts the messages and returns; false when
// no window could take it.
//
// The Back key: a screen that took it (SHCMBM_OVERRIDEKEY with SHMBOF_NODEFAULT | SHMBOF_NOTIFY)
// gets WM_HOTKEY, VK_TBACK in the high word of lParam, once with the modifiers 0 and once with
// MOD_KEYUP. Otherwise it keeps the phone's behaviour, which never ends the program here: like
// VK_ESCAPE in a dialog it sends WM_COMMAND(IDCANCEL, notification 0) to the screen and does
// nothing else; a procedure that ignores IDCANCEL keeps its screen open.
bool Post(const Key& key);

// When a message loop has nothing queued, GetMessageW asks the input source for the next key
// and posts it. Message loops block, so this is how tests and front ends drive modal screens.
using InputSource = std::function<std::optional<Key>()>;
void SetInputSource(InputSource source);

// Called when a message loop needs input and the source has none left (or none is installed).
// A front end may report and exit there; a test may record a failure. If the handler returns,
// the loops unwind: WM_QUIT (exit code kInputExhaustedExitCode) is posted, so every running
// DialogBox returns -1, MessageBox returns 0 and GetMessageW returns FALSE.
using InputExhausted = std::function<void()>;
void SetInputExhaustedHandler(InputExhausted handler);
inline constexpr int kInputExhaustedExitCode = 2;

// GetMessageW's wait: posts the source's next key, or runs the exhausted handler and posts
// WM_QUIT.
void WaitForInput();

}  // namespace keys
