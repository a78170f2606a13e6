// Answers the message boxes of programs run beside it, so that no test waits for a
// person: each box is recorded as one line of its record file, then the button it is
// told is pressed.
//
//   box_watcher <record file> [--answer TITLE=ID[@MS]]... [--default ID]
//               [--stop-file PATH] [--timeout SECONDS] [--max COUNT]
//
// A record line is: title TAB text TAB buttons (id:text separated by '|') TAB the id
// pressed; a backslash, tab, carriage return or line feed in a text is escaped as
// \\, \t, \r or \n. A box whose title has an --answer gets that button, after it has
// been shown for MS milliseconds; any other box gets --default, and a box without
// that button its first one. The watcher ends once the stop file exists, after
// COUNT boxes, or after the time-out (120 s unless told).

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The text of a message box is the static control with this identifier; the
// program's main dialog, of the same class, has none.
constexpr int kBoxTextId = 0xFFFF;
constexpr DWORD kScanPeriodMs = 50;

struct Rule {
  int button = IDOK;
  DWORD after_ms = 0;
};

struct Options {
  std::string record_file;
  std::map<std::string, Rule> answers;
  int default_button = IDOK;
  std::string stop_file;
  DWORD timeout_ms = 120000;
  int max_boxes = -1;
};

struct Button {
  int id;
  std::string text;
};

std::string ClassOf(HWND window) {
  char name[64] = {};
  GetClassNameA(window, name, sizeof(name));
  return name;
}

std::string TextOf(HWND window) {
  std::vector<char> text(static_cast<std::size_t>(GetWindowTextLengthA(window)) + 1);
  const int length = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
  return std::string(text.data(), static_cast<std::size_t>(length > 0 ? length : 0));
}

std::string Escaped(const std::string& text) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') out += "\\\\";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out;
}

bool IsMessageBox(HWND window) {
  if (!IsWindowVisible(window) || ClassOf(window) != "#32770") return false;
  HWND text = GetDlgItem(window, kBoxTextId);
  return text != nullptr && ClassOf(text) == "Static";
}

BOOL CALLBACK AddButton(HWND child, LPARAM buttons) {
  if (ClassOf(child) == "Button" && IsWindowVisible(child)) {
    reinterpret_cast<std::vector<Button>*>(buttons)->push_back(
        {GetDlgCtrlID(child), TextOf(child)});
  }
  return TRUE;
}

BOOL CALLBACK AddBox(HWND window, LPARAM boxes) {
  if (IsMessageBox(window)) reinterpret_cast<std::vector<HWND>*>(boxes)->push_back(window);
  return TRUE;
}

int ButtonToPress(const std::vector<Button>& buttons, int wanted) {
  for (const Button& button : buttons) {
    if (button.id == wanted) return wanted;
  }
  return buttons.empty() ? wanted : buttons.front().id;
}

void Record(const std::string& file, const std::string& line) {
  // Opened per line, so that a reader sees whole lines as soon as they are written.
  if (std::FILE* out = std::fopen(file.c_str(), "ab")) {
    std::fputs((line + "\n").c_str(), out);
    std::fclose(out);
  }
}

class Watcher {
 public:
  explicit Watcher(const Options& options) : options_(options) {}

  // One look at the desktop; the number of boxes answered so far.
  int Scan() {
    std::vector<HWND> boxes;
    EnumWindows(AddBox, reinterpret_cast<LPARAM>(&boxes));
    for (HWND box : boxes) {
      if (answered_.count(box) == 0) Consider(box);
    }
    return static_cast<int>(answered_.size());
  }

 private:
  void Consider(HWND box) {
    const std::string title = TextOf(box);
    const auto rule = options_.answers.find(title);
    const Rule chosen =
        rule != options_.answers.end() ? rule->second : Rule{options_.default_button, 0};
    const DWORD now = GetTickCount();
    const DWORD first_seen = seen_.emplace(box, now).first->second;
    if (now - first_seen < chosen.after_ms) return;

    std::vector<Button> buttons;
    EnumChildWindows(box, AddButton, reinterpret_cast<LPARAM>(&buttons));
    const int pressed = ButtonToPress(buttons, chosen.button);
    std::string listed;
    for (const Button& button : buttons) {
      if (!listed.empty()) listed += '|';
      listed += std::to_string(button.id) + ":" + Escaped(button.text);
    }
    Record(options_.record_file, Escaped(title) + "\t" +
                                     Escaped(TextOf(GetDlgItem(box, kBoxTextId))) + "\t" + listed +
                                     "\t" + std::to_string(pressed));
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(pressed, BN_CLICKED), 0);
    answered_.insert(box);
  }

  const Options& options_;
  std::set<HWND> answered_;
  std::map<HWND, DWORD> seen_;
};

bool ParseAnswer(const std::string& value, Options& options) {
  const std::size_t equals = value.rfind('=');
  if (equals == std::string::npos) return false;
  Rule rule;
  const std::string choice = value.substr(equals + 1);
  rule.button = std::atoi(choice.c_str());
  if (const std::size_t at = choice.find('@'); at != std::string::npos) {
    rule.after_ms = static_cast<DWORD>(std::strtoul(choice.c_str() + at + 1, nullptr, 10));
  }
  options.answers[value.substr(0, equals)] = rule;
  return rule.button > 0;
}

bool ParseOptions(int argc, char** argv, Options& options) {
  if (argc < 2) return false;
  options.record_file = argv[1];
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string name = argv[i];
    const std::string value = argv[i + 1];
    if (name == "--answer") {
      if (!ParseAnswer(value, options)) return false;
    } else if (name == "--default") {
      options.default_button = std::atoi(value.c_str());
    } else if (name == "--stop-file") {
      options.stop_file = value;
    } else if (name == "--timeout") {
      options.timeout_ms = static_cast<DWORD>(std::strtoul(value.c_str(), nullptr, 10)) * 1000;
    } else if (name == "--max") {
      options.max_boxes = std::atoi(value.c_str());
    } else {
      return false;
    }
  }
  return argc % 2 == 0;
}

bool StopFileExists(const std::string& path) {
  return !path.empty() && GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(stderr,
                 "usage: box_watcher <record file> [--answer TITLE=ID[@MS]]... "
                 "[--default ID] [--stop-file PATH] [--timeout SECONDS] [--max COUNT]\n");
    return 2;
  }
  Watcher watcher(options);
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < options.timeout_ms && !StopFileExists(options.stop_file)) {
    const int answered = watcher.Scan();
    if (options.max_boxes >= 0 && answered >= options.max_boxes) return 0;
    Sleep(kScanPeriodMs);
  }
  return 0;
}
