// The browse list over a data file, with its lazily built list file.
#include "screens/browse.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <deque>

#include "console/console.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "records/records.h"
#include "screens/formview.h"
#include "console/guards.h"
#include "screens/guards.h"
#include "screens/hub.h"
#include "screens/messages.h"
#include "session/forms.h"
#include "session/session.h"
#include "base/text.h"
#include "base/files.h"
#include "base/paths.h"

namespace {

constexpr uint8_t kDoubleHorizontal = 0xCD;
constexpr uint8_t kDoubleTopLeft = 0xC9;
constexpr uint8_t kDoubleTopRight = 0xBB;
constexpr uint8_t kMoreLeft = 0x11;   // the left-pointing triangle
constexpr uint8_t kMoreRight = 0x10;  // the right-pointing triangle

struct Entry {
  int32_t pos = 0;        // where the entry starts in the list file, from 1; 0 = none
  int32_t previous = 0;   // position of the entry before it, 0 for the first
  int32_t record = 0;     // physical position of its record in the data file
  std::string text;
  int32_t End() const { return pos + 10 + static_cast<int32_t>(text.size()); }
};

// The module's line for the record in the record area (empty: not listed).
std::string ListLineOf(int16_t list) { return Hooks().listLine ? Hooks().listLine(list) : std::string(); }

void PutLe(std::string& out, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

uint32_t GetLe(const unsigned char* p, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  return v;
}

// One open list: its file, the data file it reads and the page on screen.
class ListView {
 public:
  ListView(int16_t list, FILE* file, bool withData)
      : list_(list), file_(file), fileId_(ListAttr[static_cast<size_t>(list)][ListAttrSlot::FileId]),
        keyNumber_(ListAttr[static_cast<size_t>(list)][ListAttrSlot::KeyNumber]), noMore_(!withData) {
    using namespace ListAttrSlot;
    const auto& a = ListAttr[static_cast<size_t>(list)];
    top_ = a[Top];
    left_ = a[Left];
    visible_ = a[Bottom] - a[Top] - 1;
    width_ = a[Right] - a[Left] - 1;
    fseek(file_, 0, SEEK_END);
    fileEnd_ = static_cast<int32_t>(ftell(file_)) + 1;
    title_ = ListText[static_cast<size_t>(list)];
  }

  void SetKeys(const std::string& start, const std::string& end) {
    startKey_ = start;
    endKey_ = end;
  }

  // Runs the key loop; returns the result of the list and the ending key.
  int16_t Run(int& endingKey) {
    DrawTitle();
    DrawPage();
    for (;;) {
      ShowCurrent("u");
      int key = 0;
      if (!typedAhead_.empty()) {
        key = typedAhead_.front();
        typedAhead_.pop_front();
      } else {
        ReadKeyOrClick(key);
      }
      ShowCurrent("h");
      endingKey = key;
      if (key == KeyLeft) {
        if (offset_ > 1) {
          offset_ -= 8;
          DrawTitle();
          DrawPage();
        }
      } else if (key == KeyRight) {
        if (offset_ <= largest_) {
          offset_ += 8;
          DrawTitle();
          DrawPage();
        }
      } else if (key == KeyUp) {
        Entry current = Current();
        if (current.pos != 0 && current.previous != 0) {
          if (row_ > 1) {
            --row_;
          } else {
            pageStart_ = current.previous;
            DrawPage();
          }
        }
      } else if (key == KeyDown) {
        Entry current = Current();
        Entry next;
        if (current.pos != 0 && NextOf(current, next)) {
          if (row_ < visible_) {
            ++row_;
          } else {
            Entry first = ReadAt(pageStart_);
            pageStart_ = first.End();
            DrawPage();
          }
        }
      } else if (key == KeyPgUp) {
        Entry first = ReadAt(pageStart_);
        if (first.pos != 0 && first.previous != 0) {
          // The current line moves up a page (or to the first line) and the
          // page start a page of entries back; the bar follows the line.
          Entry current = Current();
          for (int k = 0; k < visible_ && current.previous != 0; ++k) current = ReadAt(current.previous);
          for (int k = 0; k < visible_ && first.previous != 0; ++k) first = ReadAt(first.previous);
          pageStart_ = first.pos;
          row_ = 1;
          for (Entry e = first; e.pos != current.pos && row_ < visible_;) {
            Entry next;
            if (!NextOf(e, next)) break;
            e = next;
            ++row_;
          }
          DrawPage();
        }
      } else if (key == KeyPgDn) {
        if (afterPage_ != 0 && EntryExistsAt(afterPage_)) {
          pageStart_ = afterPage_;
          DrawPage();
        }
      } else if (key == KeyEnter) {
        Entry current = Current();
        if (current.pos == 0) return -1;  // an empty list has nothing to pick
        if (fileId_ == 0) return 0;
        if (current.record == 0) return -1;
        return static_cast<int16_t>(RecordPosition(fileId_, current.record));
      } else {
        return -1;
      }
    }
  }

 private:
  // The entry stored at |pos|; an entry with pos 0 when there is none.
  Entry ReadAt(int32_t pos) {
    Entry e;
    if (pos < 1 || pos >= fileEnd_) return e;
    unsigned char head[10];
    if (fseek(file_, pos - 1, SEEK_SET) != 0 || fread(head, 1, 10, file_) != 10) return e;
    e.previous = static_cast<int32_t>(GetLe(head, 4));
    e.record = static_cast<int32_t>(GetLe(head + 4, 4));
    const uint32_t length = GetLe(head + 8, 2);
    e.text.resize(length);
    if (length > 0 && fread(e.text.data(), 1, length, file_) != length) return Entry{};
    e.pos = pos;
    return e;
  }

  // True when the record key under the list's key is past the end key.
  bool PastEnd() {
    if (endKey_.empty()) return false;
    std::string current = CurrentKeyCollation(fileId_).substr(0, endKey_.size());
    return CollationForm(current, fileId_).compare(endKey_) > 0;
  }

  // Reads records until one gives a line, and appends it to the list file.
  // False when no record remains.
  bool AppendLine() {
    int16_t status = 0;
    if (!started_) {
      started_ = true;
      SeekRecord(fileId_, keyNumber_, startKey_, 1, status);
      endKey_ = CollationForm(endKey_, fileId_);
      noMore_ = status != 0 || PastEnd();
    }
    while (!noMore_) {
      const std::string line = TrimRight(ListLineOf(list_));
      bool appended = false;
      if (!line.empty()) {
        std::string bytes;
        PutLe(bytes, static_cast<uint32_t>(lastWritten_), 4);
        PutLe(bytes, static_cast<uint32_t>(RecordPosition(fileId_, 0)), 4);
        const std::string text = line.substr(0, 0xFFFF);
        PutLe(bytes, static_cast<uint32_t>(text.size()), 2);
        bytes += text;
        if (fseek(file_, 0, SEEK_END) != 0 || fwrite(bytes.data(), 1, bytes.size(), file_) != bytes.size()) {
          noMore_ = true;  // the list keeps what it has
          return false;
        }
        std::fflush(file_);
        lastWritten_ = fileEnd_;
        fileEnd_ += static_cast<int32_t>(bytes.size());
        appended = true;
      }
      MoveRecord(fileId_, 1, status);
      noMore_ = status != 0 || PastEnd();
      // A waiting Esc stops the reading; any other key typed meanwhile is
      // kept for the key loop rather than lost. Only a key already waiting
      // is taken: a read that may wait for one (up to 20 ms on a terminal)
      // after every record would make a page of lines cost seconds.
      if (!TypeAhead.empty() || CurrentConsole().InputWaiting()) {
        int key = 0, buttons = 0, row = 0, col = 0;
        ReadKey(key, buttons, row, col);
        if (key == KeyEsc)
          noMore_ = true;
        else if (key > 0)
          typedAhead_.push_back(key);
      }
      if (appended) return true;
    }
    return false;
  }

  bool EntryExistsAt(int32_t pos) {
    while (pos >= fileEnd_ && !noMore_)
      if (!AppendLine()) break;
    return pos < fileEnd_;
  }

  // The entry at |pos|, building lines up to it when needed.
  bool EntryAt(int32_t pos, Entry& out) {
    if (!EntryExistsAt(pos)) return false;
    out = ReadAt(pos);
    return out.pos != 0;
  }

  // The entry after |e| (the first one when e.pos is 0).
  bool NextOf(const Entry& e, Entry& next) {
    const int32_t pos = e.pos == 0 ? 1 : e.End();
    if (!EntryExistsAt(pos)) return false;
    next = ReadAt(pos);
    return next.pos != 0;
  }

  // The entry on the highlighted row of the page.
  Entry Current() {
    Entry e = ReadAt(pageStart_);
    for (int r = 1; r < row_ && e.pos != 0; ++r) {
      Entry next;
      if (!NextOf(e, next)) break;
      e = next;
    }
    return e;
  }

  std::string Visible(const std::string& text) const {
    std::string shown = static_cast<size_t>(offset_ - 1) < text.size() ? text.substr(static_cast<size_t>(offset_ - 1))
                                                                      : std::string();
    shown.resize(static_cast<size_t>(width_ > 0 ? width_ : 0), ' ');
    return shown;
  }

  void ShowCurrent(const char* mode) {
    Entry current = Current();
    if (current.pos == 0) return;
    SetDisplayMode(mode);
    LocateInWindow(row_, 1);
    WriteText(Visible(current.text));
    SetDisplayMode("h");
  }

  void DrawPage() {
    if (pageStart_ == 0) pageStart_ = 1;
    Entry e;
    int drawn = 0;
    afterPage_ = 0;
    for (int r = 1; r <= visible_; ++r) {
      Entry next;
      if (!(r == 1 ? EntryAt(pageStart_, next) : NextOf(e, next))) break;
      e = next;
      drawn = r;
      LocateInWindow(r, 1);
      WriteText(Visible(e.text));
      largest_ = std::max(largest_, static_cast<int>(e.text.size()) - width_);
    }
    for (int r = drawn + 1; r <= visible_; ++r) {
      LocateInWindow(r, 1);
      WriteBlanks(width_);
    }
    // A full page is followed by another unless the list is known to end
    // here; the lines of that page are built only when it is shown.
    if (drawn == visible_ && !(e.End() >= fileEnd_ && noMore_)) afterPage_ = e.End();
    if (row_ > drawn) row_ = drawn > 0 ? drawn : 1;
  }

  void DrawTitle() {
    ScopedDisplayMode titleMode("n");
    std::string line;
    line.push_back(static_cast<char>(offset_ == 1 ? kDoubleTopLeft : kMoreLeft));
    for (int k = 0; k < width_; ++k) {
      const size_t at = static_cast<size_t>(offset_ - 1 + k);
      char c = at < title_.size() ? title_[at] : ' ';
      if (c == ' ')
        c = static_cast<char>(kDoubleHorizontal);
      else if (c == '_')
        c = ' ';
      line.push_back(c);
    }
    const bool more = offset_ <= largest_ || title_.size() > static_cast<size_t>(offset_ - 1 + width_);
    line.push_back(static_cast<char>(more ? kMoreRight : kDoubleTopRight));
    WriteAbsolute(top_, left_, line);
  }

  int16_t list_;
  FILE* file_;
  int16_t fileId_;
  int16_t keyNumber_;
  std::string title_;
  std::string startKey_, endKey_;
  int top_ = 0, left_ = 0, visible_ = 0, width_ = 0;
  int32_t fileEnd_ = 1;       // position just after the last entry
  int32_t lastWritten_ = 0;   // position of the last entry appended
  int32_t pageStart_ = 1;     // entry on the first row
  int32_t afterPage_ = 0;     // entry after the last row, 0 when none
  int row_ = 1;               // highlighted row
  int offset_ = 1;            // first character of the texts shown
  int largest_ = 0;           // the largest useful offset seen so far
  bool started_ = false;
  bool noMore_ = false;
  std::deque<int> typedAhead_;  // keys taken while lines were being built
};

// Makes the list file anew at |path|, holding |content|, open for reading
// and writing. Whatever is in its place (an old list file, a pipe, a device
// or a link to one) is removed first and the file is created exclusively, so
// nothing but a new regular file of ours is ever read or written. nullptr
// when it cannot be made.
FILE* NewListFile(const std::string& path, const std::string& content) {
  std::remove(path.c_str());
  const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return nullptr;
  FILE* file = fdopen(fd, "w+b");
  if (file == nullptr) {
    ::close(fd);
    return nullptr;
  }
  if (!content.empty() &&
      (std::fwrite(content.data(), 1, content.size(), file) != content.size() || std::fflush(file) != 0)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

bool ListExists(int16_t list) {
  return list >= 1 && list <= ListCount && static_cast<size_t>(list) < ListAttr.size() &&
         static_cast<size_t>(list) < ListText.size();
}

// A window the screen can hold, with room for at least one line.
bool WindowFits(const ListAttrSlots& a) {
  using namespace ListAttrSlot;
  return a[Top] >= 1 && a[Left] >= 1 && a[Bottom] <= ScreenRows() && a[Right] <= ScreenColumns() &&
         a[Bottom] - a[Top] >= 2 && a[Right] - a[Left] >= 2;
}

}  // namespace

void Browse(int16_t list, int16_t& resultOut) {
  resultOut = -1;
  if (!ListExists(list)) return;
  const auto attr = ListAttr[static_cast<size_t>(list)];
  if (!WindowFits(attr)) return;

  if (attr[ListAttrSlot::FilterForm] != 0) {
    int16_t form = attr[ListAttrSlot::FilterForm];
    int16_t key = 0;
    RunForm(form, 0, 0, key);
    if (key == KeyEsc) return;
  }
  std::string startKey, endKey;
  resultOut = Hooks().listRange ? Hooks().listRange(list, startKey, endKey) : 0;
  if (resultOut != 0) return;

  const int16_t fileId = attr[ListAttrSlot::FileId];
  const bool withData = fileId != 0;
  PlainReadsScope plainReads(withData ? fileId : 0);

  ScopedDisplayMode frameMode("n");
  PushWindow(attr[ListAttrSlot::Top], attr[ListAttrSlot::Left], attr[ListAttrSlot::Bottom],
             attr[ListAttrSlot::Right]);
  DrawWindowFrame(2);
  const bool chained = attr[ListAttrSlot::ChainedList] != 0;
  WriteFrameKeys(kScreenTexts.Text(chained ? ScreenMessage::ListKeysWithChain : ScreenMessage::ListKeys,
                                   LanguageFromCode(Session.Language)),
                 2);
  SetDisplayMode("h");
  {
    // The caller's set is kept apart from the save slot, which a form that
    // opens the list already holds for its field.
    ScopedExitKeys callerKeys;
    SetExitKeys("ea", "d,1b,4800,5000,4900,5100,4b00,4d00");
    if (chained) SetExitKeys("a", "3e00");

    const std::string path = HostPath(Session.TempDir + "Browse.tmp");
    // A list with a data file starts empty; one without shows the lines
    // already in the list file, read only from a regular file.
    std::string lines;
    if (!withData && ReadRegularFile(path, lines) != ReadResult::Ok) lines.clear();
    FILE* file = NewListFile(path, lines);
    int endingKey = 0;
    if (file != nullptr) {
      ListView view(list, file, withData);
      view.SetKeys(startKey, endKey);
      resultOut = view.Run(endingKey);
      std::fclose(file);
    } else {
      resultOut = -1;  // no list file, no list
    }
    std::remove(path.c_str());

    if (endingKey == KeyF4 && chained) Browse(attr[ListAttrSlot::ChainedList], resultOut);
  }
  PopWindow();
}
