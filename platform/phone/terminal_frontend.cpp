// The terminal front end: the phone screen drawn with ncurses (wide characters) in a frame at the
// middle of the terminal, the keyboard as the phone's keys, and the terminal's own modes given
// back at exit, on exit(), and on the signals that end the program.
#include "platform/phone/terminal_frontend.h"

#include <langinfo.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <deque>
#include <map>
#include <string>
#include <utility>

// Functions only: curses' macros (erase, clear, move, ...) would clash with C++ names.
#define NCURSES_NOMACROS 1
#define NCURSES_WIDECHAR 1
#include <curses.h>

#include "platform/phone/frontend.h"
#include "platform/phone/render.h"
#include "platform/phone/status_line.h"

namespace frontend::terminal {

namespace {

// What a signal handler needs to give the terminal back, prepared beforehand: a signal handler
// may only call async-signal-safe functions (write, tcsetattr), never curses.
struct Restore {
    termios modes{};
    bool haveModes = false;
    char sequences[512] = {};  // leave keypad mode, plain attributes, visible cursor, main screen
    std::size_t length = 0;
};

Restore restore;
volatile sig_atomic_t active = 0;
SCREEN* screen = nullptr;
std::map<std::pair<short, short>, short> colourPairs;
std::deque<keys::Key> pending;  // the second half of a character outside the 16-bit range

constexpr int kFatalSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGSEGV,
                                 SIGBUS, SIGFPE,  SIGILL, SIGABRT, SIGTRAP};

void AddSequence(const char* capability) {
    char* value = tigetstr(const_cast<char*>(capability));
    if (value == nullptr || value == reinterpret_cast<char*>(-1))
        return;
    std::size_t size = std::strlen(value);
    if (restore.length + size >= sizeof restore.sequences)
        return;
    std::memcpy(restore.sequences + restore.length, value, size);
    restore.length += size;
}

void RestoreFromSignal() {
    if (!active)
        return;
    active = 0;
    ssize_t written = write(STDOUT_FILENO, restore.sequences, restore.length);
    (void)written;
    if (restore.haveModes)
        tcsetattr(STDIN_FILENO, TCSANOW, &restore.modes);
}

void OnSignal(int signal) {
    RestoreFromSignal();
    // Ends the program the way the signal would have.
    ::signal(signal, SIG_DFL);
    raise(signal);
}

void InstallSignalHandlers() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    for (int signal : kFatalSignals)
        sigaction(signal, &action, nullptr);
}

void AtExit() {
    Stop();
}

// Wide characters need a UTF-8 locale: the user's if it is one, otherwise C.UTF-8.
void ChooseLocale() {
    std::setlocale(LC_ALL, "");
    const char* codeset = nl_langinfo(CODESET);
    if (codeset == nullptr || std::strcmp(codeset, "UTF-8") != 0)
        std::setlocale(LC_CTYPE, "C.UTF-8");
}

// The nearest of the terminal's eight colours, or of sixteen, which add a grey (bright black).
short NearestColour(std::uint32_t rgb) {
    static constexpr std::pair<short, std::uint32_t> kColours[] = {
        {COLOR_BLACK, 0x000000},  {COLOR_RED, 0xCD0000},   {COLOR_GREEN, 0x00CD00},
        {COLOR_YELLOW, 0xCDCD00}, {COLOR_BLUE, 0x0000EE},  {COLOR_MAGENTA, 0xCD00CD},
        {COLOR_CYAN, 0x00CDCD},   {COLOR_WHITE, 0xE5E5E5}, {8, 0x7F7F7F},
    };
    auto channel = [](std::uint32_t c, int shift) { return static_cast<int>(c >> shift & 0xFF); };
    short best = COLOR_WHITE;
    long bestDistance = -1;
    for (auto [colour, value] : kColours) {
        if (colour >= COLORS)
            continue;
        long distance = 0;
        for (int shift : {16, 8, 0}) {
            long d = channel(rgb, shift) - channel(value, shift);
            distance += d * d;
        }
        if (bestDistance < 0 || distance < bestDistance) {
            bestDistance = distance;
            best = colour;
        }
    }
    return best;
}

// The colour pair of a cell's colours, made on first use; 0 (the terminal's own) when the
// terminal has no colours or no pair left.
short PairFor(std::uint32_t foreground, std::uint32_t background) {
    if (!has_colors() || (foreground == render::kNoColour && background == render::kNoColour))
        return 0;
    short fg = foreground == render::kNoColour ? -1 : NearestColour(foreground);
    short bg = background == render::kNoColour ? -1 : NearestColour(background);
    auto found = colourPairs.find({fg, bg});
    if (found != colourPairs.end())
        return found->second;
    auto next = static_cast<short>(colourPairs.size() + 1);
    if (next >= COLOR_PAIRS || init_pair(next, fg, bg) == ERR)
        return 0;
    colourPairs[{fg, bg}] = next;
    return next;
}

attr_t AttributesOf(const render::Cell& cell) {
    attr_t attributes = A_NORMAL;
    if (cell.attributes & render::kReverse)
        attributes |= A_REVERSE;
    if (cell.attributes & render::kBold)
        attributes |= A_BOLD;
    if (cell.attributes & render::kUnderline)
        attributes |= A_UNDERLINE;
    if (cell.attributes & render::kDim)
        attributes |= A_DIM;
    return attributes;
}

void PutCharacter(int row, int column, const wchar_t* characters, attr_t attributes = A_NORMAL,
                  short pair = 0) {
    cchar_t cell;
    if (setcchar(&cell, characters, attributes, pair, nullptr) == OK)
        mvwadd_wch(stdscr, row, column, &cell);
}

// In place of a phone that would not fit: how big the terminal must be, until it is.
void PaintTooSmall(int columns, int rows) {
    const std::wstring lines[] = {
        L"Terminal trop petit",
        L"Il faut au moins",
        std::to_wstring(columns) + L" colonnes × " + std::to_wstring(rows) + L" lignes",
        L"(ici " + std::to_wstring(COLS) + L" × " + std::to_wstring(LINES) + L")",
    };
    const int count = static_cast<int>(std::size(lines));
    for (int i = 0; i < count; ++i) {
        const int width = static_cast<int>(lines[i].size());
        mvwaddnwstr(stdscr, std::max(0, (LINES - count) / 2) + i, std::max(0, (COLS - width) / 2),
                    lines[i].c_str(), COLS);
    }
}

// ---- The line under the phone: the key help, or for a few seconds what happened off screen ----

std::wstring LineBelow(int width) {
    const auto columns = static_cast<std::size_t>(std::max(width, 0));
    const std::optional<status::Line> line = status::Current(status::Clock::now());
    return line ? status::Fit(*line, columns) : status::Help(columns);
}

// Waits for input, and redraws when the line under the phone is due to change meanwhile.
void WaitForKeyOrStatus();

// ---- Drawing ----

// The phone screen in a frame at the middle of the terminal, the key help below it.
void Paint() {
    render::Grid grid = render::DrawScreen();
    werase(stdscr);
    int frameWidth = grid.Columns() + 2;
    int frameHeight = grid.Rows() + 2;
    if (COLS < frameWidth || LINES < frameHeight) {
        PaintTooSmall(frameWidth, frameHeight);
        wnoutrefresh(stdscr);
        doupdate();
        return;
    }
    int top = std::max(0, (LINES - frameHeight - 1) / 2);
    int left = std::max(0, (COLS - frameWidth) / 2);

    for (int column = 1; column < frameWidth - 1; ++column) {
        PutCharacter(top, left + column, L"─");
        PutCharacter(top + frameHeight - 1, left + column, L"─");
    }
    for (int row = 1; row < frameHeight - 1; ++row) {
        PutCharacter(top + row, left, L"│");
        PutCharacter(top + row, left + frameWidth - 1, L"│");
    }
    PutCharacter(top, left, L"╭");
    PutCharacter(top, left + frameWidth - 1, L"╮");
    PutCharacter(top + frameHeight - 1, left, L"╰");
    PutCharacter(top + frameHeight - 1, left + frameWidth - 1, L"╯");

    for (int row = 0; row < grid.Rows(); ++row) {
        for (int column = 0; column < grid.Columns(); ++column) {
            const render::Cell& cell = grid.At(column, row);
            if (cell.continuation)
                continue;
            wchar_t characters[3] = {static_cast<wchar_t>(cell.ch), static_cast<wchar_t>(cell.mark),
                                     0};
            PutCharacter(top + 1 + row, left + 1 + column, characters, AttributesOf(cell),
                         PairFor(cell.foreground, cell.background));
        }
    }

    // Below the frame, or over its bottom edge (between the corners) when the terminal has no
    // row to spare.
    const bool spareRow = top + frameHeight < LINES;
    const int lineRow = spareRow ? top + frameHeight : top + frameHeight - 1;
    const int lineLeft = spareRow ? 0 : left + 1;
    const int lineWidth = spareRow ? COLS : frameWidth - 2;
    const std::wstring below = LineBelow(lineWidth);
    mvwaddnwstr(stdscr, lineRow, lineLeft + (lineWidth - static_cast<int>(below.size())) / 2,
                below.c_str(), lineWidth);
    wnoutrefresh(stdscr);
    doupdate();
}

// Whether standard input has gone (the terminal closed): it polls as ended, not as input.
bool InputGone() {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, 0) > 0 && (input.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

void WaitForKeyOrStatus() {
    if (WaitForInput(STDIN_FILENO, status::NextCheck(status::Clock::now())) == Wait::TimedOut)
        Paint();
}

}  // namespace

std::optional<keys::Key> KeyFor(unsigned code, bool isKeyCode) {
    if (isKeyCode) {
        switch (code) {
            case KEY_F(1):
                return keys::kSoftKey1;
            case KEY_F(2):
                return keys::kSoftKey2;
            case KEY_UP:
                return keys::kUp;
            case KEY_DOWN:
                return keys::kDown;
            case KEY_LEFT:
                return keys::kLeft;
            case KEY_RIGHT:
                return keys::kRight;
            case KEY_ENTER:
                return keys::kAction;
            case KEY_BACKSPACE:
                return keys::kBack;
            default:
                return std::nullopt;
        }
    }
    switch (code) {
        case '\n':
        case '\r':
            return keys::kAction;
        case 0x7F:
        case 0x08:
        case 0x1B:
            return keys::kBack;
        case '*':
            return keys::kStar;
        case '#':
            return keys::kPound;
        default:
            break;
    }
    if (code >= '0' && code <= '9')
        return keys::Key::Digit(static_cast<int>(code - '0'));
    // Other characters are typed, as on the phone's keypad in a text field.
    if (code < 0x20 || (code >= 0x7F && code < 0xA0) || code > 0xFFFF ||
        (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    return keys::Key::Char(static_cast<char16_t>(code));
}

bool Start() {
    if (active)
        return true;
    ChooseLocale();
    restore.haveModes = tcgetattr(STDIN_FILENO, &restore.modes) == 0;
    if (screen == nullptr)
        screen = newterm(nullptr, stdout, stdin);
    const char* term = std::getenv("TERM");
    if (screen == nullptr) {
        std::fprintf(stderr, "tavonne: cannot use this terminal (TERM=%s)\n",
                     term != nullptr ? term : "");
        return false;
    }
    set_term(screen);
    // The phone is drawn by moving the cursor: a terminal that cannot (TERM=dumb) would show it
    // as one garbled line.
    const char* moveCursor = tigetstr(const_cast<char*>("cup"));
    if (moveCursor == nullptr || moveCursor == reinterpret_cast<char*>(-1)) {
        endwin();
        delscreen(screen);
        screen = nullptr;
        std::fprintf(stderr,
                     "tavonne: cannot use this terminal (TERM=%s): it cannot move its cursor\n",
                     term != nullptr ? term : "");
        return false;
    }
    cbreak();
    noecho();
    nonl();
    keypad(stdscr, TRUE);
    nodelay(stdscr, TRUE);
    set_escdelay(25);
    curs_set(0);
    if (has_colors()) {
        start_color();
        use_default_colors();
    }
    restore.length = 0;
    for (const char* capability : {"rmkx", "sgr0", "cnorm", "rmcup"})
        AddSequence(capability);

    active = 1;
    InstallSignalHandlers();
    static const bool registered = std::atexit(AtExit) == 0;
    (void)registered;
    return true;
}

std::optional<keys::Key> NextKey() {
    if (!pending.empty()) {
        keys::Key key = pending.front();
        pending.pop_front();
        return key;
    }
    if (!active)
        return std::nullopt;
    Paint();
    while (true) {
        wint_t code = 0;
        int kind = wget_wch(stdscr, &code);
        if (kind == ERR) {
            if (InputGone())
                return std::nullopt;
            WaitForKeyOrStatus();
            continue;
        }
        if (kind == KEY_CODE_YES && code == KEY_RESIZE) {
            Paint();
            continue;
        }
        if (kind != KEY_CODE_YES && code > 0xFFFF && code <= 0x10FFFF) {
            // A character beyond 16 bits is typed as its two UTF-16 halves.
            char32_t point = code - 0x10000;
            pending.push_back(keys::Key::Char(static_cast<char16_t>(0xDC00 + (point & 0x3FF))));
            return keys::Key::Char(static_cast<char16_t>(0xD800 + (point >> 10)));
        }
        if (std::optional<keys::Key> key = KeyFor(code, kind == KEY_CODE_YES))
            return key;
    }
}

void Raise() {
    if (!active)
        return;
    status::Show({L"Déjà ouvert : ramené au premier plan", {}, {}}, status::Clock::now());
    Paint();
    beep();
    // xterm's "raise the window"; terminals that do not know it ignore it.
    std::fputs("\033[5t", stdout);
    std::fflush(stdout);
}

void Launched() {
    status::Launched(status::Clock::now());
}

void RegistryWait(bool waiting) {
    if (waiting)
        status::Show({L"Registre du téléphone occupé…", {}, {}}, status::Clock::now(), true);
    else
        status::Clear();
    if (active)
        Paint();
}

void Stop() {
    if (!active)
        return;
    active = 0;
    endwin();
    if (restore.haveModes)
        tcsetattr(STDIN_FILENO, TCSANOW, &restore.modes);
    std::fflush(stdout);
}

}  // namespace frontend::terminal
