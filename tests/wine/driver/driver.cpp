// Test driver for the desktop program under Wine: finds windows, sends them
// commands and keys, and reads their texts, check states, positions and menus.
//
// Each command is one line (tokens separated by blanks; "double quotes" group
// a token, inside them \r, \n, \t, \" and \\ stand for themselves); each answer is one line: "OK <json>" or "ERR <reason>". Commands
// come from the arguments (one per argument, stopping at the first error) or,
// without arguments, from standard input until "quit" or its end. Every wait
// is bounded. Exit code: 0 when every command succeeded, 1 otherwise.
//
//   find [class=<name>] [title=<text>] [timeout=<ms>]  -> window info
//   gone <hwnd> [timeout=<ms>]                          -> waits until it is destroyed
//   info <hwnd>                                         -> window info
//   children <hwnd>                                     -> every child control
//   text <hwnd> | settext <hwnd> <text>                 -> WM_GETTEXT / WM_SETTEXT
//   check <hwnd>                                        -> BM_GETCHECK
//   item <hwnd> <id>                                    -> the child with that id
//   command <hwnd> <id> [code]                          -> posts WM_COMMAND
//   send <hwnd> <msg> [wparam] [lparam]                 -> SendMessage result (bounded)
//   post <hwnd> <msg> [wparam] [lparam]
//   sync <hwnd>                                         -> after the window's queue is handled
//   menu <hwnd>                                         -> the menu bar and its drop-downs
//                                  (Windows only: Wine does not read another process's menus)
//   hasmenu <hwnd>                                      -> whether the window has a menu bar
//   resmenu <module path> <id>                          -> a menu resource of a program file
//   resdialog <module path> <id>                        -> a dialog template's bytes, in hex
//   keys <hwnd> <key>[+<key>...]                        -> focuses the window, types the chord
#include <windows.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr UINT SEND_TIMEOUT_MS = 5000;
constexpr DWORD POLL_MS = 50;

struct Failure {
    std::string reason;
};

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);  // ANSI bytes as Latin-1
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string HandleText(HWND hwnd) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llu",
                  static_cast<unsigned long long>(reinterpret_cast<UINT_PTR>(hwnd)));
    return buf;
}

LRESULT SendBounded(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutA(hwnd, msg, wParam, lParam, SMTO_ABORTIFHUNG, SEND_TIMEOUT_MS,
                             &result))
        throw Failure{"no answer from the window within the time limit"};
    return static_cast<LRESULT>(result);
}

long long ParseNumber(const std::string& s) {
    char* end = nullptr;
    const long long v = std::strtoll(s.c_str(), &end, 0);
    if (s.empty() || *end) throw Failure{"not a number: " + s};
    return v;
}

HWND ParseWindow(const std::string& s) {
    HWND hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(ParseNumber(s)));
    if (!IsWindow(hwnd)) throw Failure{"no such window: " + s};
    return hwnd;
}

std::string WindowText(HWND hwnd) {
    const LRESULT len = SendBounded(hwnd, WM_GETTEXTLENGTH, 0, 0);
    std::vector<char> buf(static_cast<size_t>(len) + 2, '\0');
    const LRESULT got = SendBounded(hwnd, WM_GETTEXT, buf.size(), reinterpret_cast<LPARAM>(buf.data()));
    return std::string(buf.data(), static_cast<size_t>(got));
}

std::string ClassName(HWND hwnd) {
    char buf[256] = {};
    GetClassNameA(hwnd, buf, sizeof buf);
    return buf;
}

// A rectangle as [x, y, w, h], in the client coordinates of `frame`
// (screen coordinates when frame is null).
std::string RectJson(RECT r, HWND frame) {
    if (frame) MapWindowPoints(nullptr, frame, reinterpret_cast<POINT*>(&r), 2);
    char buf[96];
    std::snprintf(buf, sizeof buf, "[%ld, %ld, %ld, %ld]", r.left, r.top, r.right - r.left,
                  r.bottom - r.top);
    return buf;
}

std::string WindowInfo(HWND hwnd) {
    RECT window, client;
    GetWindowRect(hwnd, &window);
    GetClientRect(hwnd, &client);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    char originText[64];
    std::snprintf(originText, sizeof originText, "[%ld, %ld]", origin.x, origin.y);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    return "{\"hwnd\": " + HandleText(hwnd) + ", \"class\": " + JsonString(ClassName(hwnd)) +
           ", \"title\": " + JsonString(WindowText(hwnd)) + ", \"rect\": " + RectJson(window, nullptr) +
           ", \"client\": " + RectJson(client, nullptr) + ", \"client_origin\": " + originText +
           ", \"visible\": " + (IsWindowVisible(hwnd) ? "true" : "false") +
           ", \"pid\": " + std::to_string(pid) + "}";
}

std::string ControlJson(HWND child, HWND parent) {
    RECT r;
    GetWindowRect(child, &r);
    const std::string cls = ClassName(child);
    const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
    std::string json = "{\"id\": " + std::to_string(static_cast<int>(GetDlgCtrlID(child))) +
                       ", \"hwnd\": " + HandleText(child) + ", \"class\": " + JsonString(cls) +
                       ", \"text\": " + JsonString(WindowText(child)) +
                       ", \"style\": " + std::to_string(static_cast<unsigned long>(style)) +
                       ", \"exstyle\": " +
                       std::to_string(static_cast<unsigned long>(GetWindowLongPtrA(child, GWL_EXSTYLE))) +
                       ", \"visible\": " + (IsWindowVisible(child) ? "true" : "false") +
                       ", \"rect\": " + RectJson(r, parent);
    if (_stricmp(cls.c_str(), "button") == 0)
        json += ", \"check\": " + std::to_string(static_cast<long>(SendBounded(child, BM_GETCHECK, 0, 0)));
    return json + "}";
}

struct FindQuery {
    std::string cls;
    std::string title;
    HWND found = nullptr;
};

BOOL CALLBACK MatchTopLevel(HWND hwnd, LPARAM param) {
    auto* q = reinterpret_cast<FindQuery*>(param);
    if (!IsWindowVisible(hwnd)) return TRUE;
    if (!q->cls.empty() && ClassName(hwnd) != q->cls) return TRUE;
    if (!q->title.empty()) {
        char buf[512] = {};
        GetWindowTextA(hwnd, buf, sizeof buf);  // top-level captions are readable across processes
        if (q->title != buf) return TRUE;
    }
    q->found = hwnd;
    return FALSE;
}

BOOL CALLBACK CollectChild(HWND hwnd, LPARAM param) {
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(hwnd);
    return TRUE;
}

std::string MenuJson(HMENU menu, int depth) {
    const int count = GetMenuItemCount(menu);
    if (count < 0) throw Failure{"the menu cannot be read"};
    std::string json = "[";
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        GetMenuStringA(menu, static_cast<UINT>(i), text, sizeof text, MF_BYPOSITION);
        const UINT state = GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION);
        HMENU sub = GetSubMenu(menu, i);
        if (i) json += ", ";
        json += "{\"text\": " + JsonString(text) + ", \"id\": " +
                std::to_string(sub ? -1 : static_cast<int>(GetMenuItemID(menu, i))) +
                ", \"state\": " + std::to_string(sub ? (state & 0xFF & ~MF_POPUP) : state);
        if (sub && depth < 4) json += ", \"items\": " + MenuJson(sub, depth + 1);
        json += "}";
    }
    return json + "]";
}

struct ModuleHandle {
    HMODULE h;
    ~ModuleHandle() {
        if (h) FreeLibrary(h);
    }
};

struct MenuHandle {
    HMENU h;
    ~MenuHandle() {
        if (h) DestroyMenu(h);
    }
};

struct KeyName {
    const char* name;
    WORD vk;
};

const KeyName KEY_NAMES[] = {
    {"shift", VK_SHIFT}, {"ctrl", VK_CONTROL}, {"alt", VK_MENU},    {"prior", VK_PRIOR},
    {"next", VK_NEXT},   {"escape", VK_ESCAPE}, {"return", VK_RETURN}, {"space", VK_SPACE},
    {"tab", VK_TAB},     {"f4", VK_F4},
};

WORD ParseKey(const std::string& name) {
    for (const KeyName& k : KEY_NAMES)
        if (name == k.name) return k.vk;
    if (name.size() == 1 && std::isalnum(static_cast<unsigned char>(name[0])))
        return static_cast<WORD>(std::toupper(static_cast<unsigned char>(name[0])));
    throw Failure{"unknown key: " + name};
}

// Brings the window to the front and types the chord: every key down in
// order, then up in reverse order.
void TypeChord(HWND hwnd, const std::string& chord) {
    std::vector<WORD> keys;
    size_t start = 0;
    while (start <= chord.size()) {
        const size_t plus = chord.find('+', start);
        keys.push_back(ParseKey(chord.substr(start, plus - start)));
        if (plus == std::string::npos) break;
        start = plus + 1;
    }
    const DWORD deadline = GetTickCount() + SEND_TIMEOUT_MS;
    while (GetForegroundWindow() != hwnd) {
        if (GetTickCount() > deadline) throw Failure{"the window does not come to the front"};
        SetForegroundWindow(hwnd);
        Sleep(POLL_MS);
    }
    std::vector<INPUT> inputs;
    for (WORD vk : keys) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = vk;
        inputs.push_back(in);
    }
    for (auto it = keys.rbegin(); it != keys.rend(); ++it) {
        INPUT in = {};
        in.type = INPUT_KEYBOARD;
        in.ki.wVk = *it;
        in.ki.dwFlags = KEYEVENTF_KEYUP;
        inputs.push_back(in);
    }
    if (SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT)) != inputs.size())
        throw Failure{"the keys could not be typed"};
}

DWORD ParseTimeout(const std::vector<std::string>& args, size_t from, DWORD fallback) {
    for (size_t i = from; i < args.size(); ++i)
        if (args[i].rfind("timeout=", 0) == 0) return static_cast<DWORD>(ParseNumber(args[i].substr(8)));
    return fallback;
}

void NeedArgs(const std::vector<std::string>& args, size_t n) {
    if (args.size() < n) throw Failure{"too few arguments for " + args[0]};
}

WPARAM ArgOr(const std::vector<std::string>& args, size_t i, long long fallback) {
    return static_cast<WPARAM>(i < args.size() ? ParseNumber(args[i]) : fallback);
}

std::string Execute(const std::vector<std::string>& args) {
    const std::string& cmd = args[0];
    if (cmd == "find") {
        FindQuery q;
        for (size_t i = 1; i < args.size(); ++i) {
            if (args[i].rfind("class=", 0) == 0) q.cls = args[i].substr(6);
            if (args[i].rfind("title=", 0) == 0) q.title = args[i].substr(6);
        }
        const DWORD deadline = GetTickCount() + ParseTimeout(args, 1, 10000);
        for (;;) {
            q.found = nullptr;
            EnumWindows(MatchTopLevel, reinterpret_cast<LPARAM>(&q));
            if (q.found) return WindowInfo(q.found);
            if (GetTickCount() > deadline) throw Failure{"no such window within the time limit"};
            Sleep(POLL_MS);
        }
    }
    if (cmd == "gone") {
        NeedArgs(args, 2);
        HWND hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(ParseNumber(args[1])));
        const DWORD deadline = GetTickCount() + ParseTimeout(args, 2, 10000);
        while (IsWindow(hwnd)) {
            if (GetTickCount() > deadline) throw Failure{"the window is still there"};
            Sleep(POLL_MS);
        }
        return "true";
    }
    if (cmd == "resmenu") {
        NeedArgs(args, 3);
        const ModuleHandle module{LoadLibraryExA(args[1].c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
        if (!module.h) throw Failure{"cannot load " + args[1]};
        const MenuHandle menu{LoadMenuA(module.h, MAKEINTRESOURCEA(ParseNumber(args[2])))};
        if (!menu.h) throw Failure{"no menu " + args[2] + " in " + args[1]};
        return MenuJson(menu.h, 0);
    }
    if (cmd == "resdialog") {
        NeedArgs(args, 3);
        const ModuleHandle module{LoadLibraryExA(args[1].c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE)};
        if (!module.h) throw Failure{"cannot load " + args[1]};
        HRSRC res = FindResourceA(module.h, MAKEINTRESOURCEA(ParseNumber(args[2])),
                                  MAKEINTRESOURCEA(5));  // RT_DIALOG
        HGLOBAL data = res ? LoadResource(module.h, res) : nullptr;
        const unsigned char* bytes = data ? static_cast<const unsigned char*>(LockResource(data)) : nullptr;
        if (!bytes) throw Failure{"no dialog " + args[2] + " in " + args[1]};
        std::string hex;
        char buf[3];
        for (DWORD i = 0, n = SizeofResource(module.h, res); i < n; ++i) {
            std::snprintf(buf, sizeof buf, "%02x", bytes[i]);
            hex += buf;
        }
        return JsonString(hex);
    }
    NeedArgs(args, 2);
    HWND hwnd = ParseWindow(args[1]);
    if (cmd == "info") return WindowInfo(hwnd);
    if (cmd == "children") {
        std::vector<HWND> children;
        EnumChildWindows(hwnd, CollectChild, reinterpret_cast<LPARAM>(&children));
        std::string json = "[";
        for (size_t i = 0; i < children.size(); ++i)
            json += (i ? ", " : "") + ControlJson(children[i], hwnd);
        return json + "]";
    }
    if (cmd == "item") {
        NeedArgs(args, 3);
        HWND child = GetDlgItem(hwnd, static_cast<int>(ParseNumber(args[2])));
        if (!child) throw Failure{"no control with id " + args[2]};
        return ControlJson(child, hwnd);
    }
    if (cmd == "text") return JsonString(WindowText(hwnd));
    if (cmd == "settext") {
        NeedArgs(args, 3);
        return std::to_string(SendBounded(hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(args[2].c_str())));
    }
    if (cmd == "check") return std::to_string(static_cast<long>(SendBounded(hwnd, BM_GETCHECK, 0, 0)));
    if (cmd == "command") {
        NeedArgs(args, 3);
        const WPARAM wParam = MAKEWPARAM(ParseNumber(args[2]), ArgOr(args, 3, 0));
        if (!PostMessageA(hwnd, WM_COMMAND, wParam, 0)) throw Failure{"the command could not be posted"};
        return "true";
    }
    if (cmd == "send" || cmd == "post") {
        NeedArgs(args, 3);
        const UINT msg = static_cast<UINT>(ParseNumber(args[2]));
        const WPARAM wParam = ArgOr(args, 3, 0);
        const LPARAM lParam = static_cast<LPARAM>(ArgOr(args, 4, 0));
        if (cmd == "post") {
            if (!PostMessageA(hwnd, msg, wParam, lParam)) throw Failure{"the message could not be posted"};
            return "true";
        }
        return std::to_string(static_cast<long long>(SendBounded(hwnd, msg, wParam, lParam)));
    }
    if (cmd == "sync") {
        SendBounded(hwnd, WM_NULL, 0, 0);
        return "true";
    }
    if (cmd == "menu") {
        HMENU menu = GetMenu(hwnd);
        if (!menu) throw Failure{"the window has no menu"};
        return MenuJson(menu, 0);
    }
    if (cmd == "hasmenu") return GetMenu(hwnd) ? "true" : "false";
    if (cmd == "keys") {
        NeedArgs(args, 3);
        TypeChord(hwnd, args[2]);
        return "true";
    }
    throw Failure{"unknown command: " + cmd};
}

std::vector<std::string> Tokenize(const std::string& line) {
    std::vector<std::string> tokens;
    size_t i = 0;
    while (i < line.size()) {
        if (std::isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        std::string token;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
            if (line[i] == '"') {
                for (++i;; ++i) {
                    if (i >= line.size()) throw Failure{"unclosed quote"};
                    if (line[i] == '"') break;
                    if (line[i] == '\\' && i + 1 < line.size()) {
                        const char e = line[++i];
                        token += e == 'r' ? '\r' : e == 'n' ? '\n' : e == 't' ? '\t' : e;
                    } else {
                        token += line[i];
                    }
                }
                ++i;
            } else {
                token += line[i++];
            }
        }
        tokens.push_back(token);
    }
    return tokens;
}

// Runs one command line and prints its answer; false when it failed.
bool RunLine(const std::string& line) {
    bool ok = false;
    std::string answer;
    try {
        const std::vector<std::string> args = Tokenize(line);
        if (args.empty()) throw Failure{"empty command"};
        answer = "OK " + Execute(args);
        ok = true;
    } catch (const Failure& f) {
        answer = "ERR " + f.reason;
    }
    std::printf("%s\n", answer.c_str());
    std::fflush(stdout);
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        for (int i = 1; i < argc; ++i)
            if (!RunLine(argv[i])) return 1;
        return 0;
    }
    char buf[4096];
    int status = 0;
    while (std::fgets(buf, sizeof buf, stdin)) {
        std::string line(buf);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        if (line == "quit") break;
        if (!RunLine(line)) status = 1;
    }
    return status;
}
