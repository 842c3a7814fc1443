#include "tools/calendar.h"

#include <algorithm>
#include <array>

#include "console/guards.h"
#include "console/keyboard.h"
#include "console/screen.h"
#include "formatting/dates.h"
#include "formatting/folding.h"
#include "session/session.h"
#include "tools/messages.h"
#include "base/calendar.h"
#include "base/text.h"
#include "base/clock.h"

namespace {

// The window, frame included, and its inner width.
constexpr int kTop = 1, kLeft = 59, kBottom = 24, kRight = 80;
constexpr int kInnerWidth = kRight - kLeft - 1;  // 20
constexpr int kFirstYear = 1, kLastYear = 9999;   // what " #### " can show

struct Day {
  int year = 0, month = 0, day = 0;
};

std::string StoredDateOf(const Day& d) {
  return CodeFromText(ZeroPad(d.year, 4) + ZeroPad(d.month, 2) + ZeroPad(d.day, 2));
}

// Year, month and day of an 8-digit text YYYYMMDD; non-digits count 0.
Day DayFromDigits(const std::string& digits) {
  const auto number = [&](size_t from, size_t count) {
    int n = 0;
    for (size_t i = from; i < from + count && i < digits.size(); ++i)
      n = n * 10 + (digits[i] >= '0' && digits[i] <= '9' ? digits[i] - '0' : 0);
    return n;
  };
  return {number(0, 4), number(4, 2), number(6, 2)};
}

// The session date, or today when it is missing or not a real date.
Day StartDay() {
  Day d;
  if (Session.SessionDate.size() == 4) d = DayFromDigits(KeyDigits(Session.SessionDate));
  if (d.year < kFirstYear || d.month < 1 || d.month > 12 || d.day < 1 ||
      d.day > DaysInMonth(d.year, d.month))
    d = DayFromDigits(TodayDigits());
  return d;
}

int QuarterStart(int month) { return 3 * ((month - 1) / 3) + 1; }

std::string TwoPlaces(int n) { return FixedWidthRight(std::to_string(n), 2); }

// The page on the screen: which year and quarter are drawn, with the tables
// of that year.
struct Page {
  int year = 0, firstMonth = 0;
  std::array<int, 13> daysIn{};
  std::array<std::array<int, 32>, 13> weekday{};  // 1 Monday .. 7 Sunday

  void Compute(int y) {
    year = y;
    for (int m = 1; m <= 12; ++m) {
      daysIn[m] = DaysInMonth(y, m);
      for (int d = 1; d <= 31; ++d) weekday[m][d] = DayOfWeek(StoredDateOf({y, m, d}));
    }
  }

  // Window-relative cell of day d of month m (which lies in this quarter).
  void Cell(int m, int d, int& row, int& col) const {
    const int k = (m - firstMonth);
    row = 7 * k + 2 + (weekday[m][1] + d - 2) / 7 + 1;
    col = 3 * weekday[m][d] - 2;
  }

  void WriteDay(int m, int d) const {
    int row = 0, col = 0;
    Cell(m, d, row, col);
    WriteAt(row, col, TwoPlaces(d));
  }

  void Draw(const Day& current) {
    SetDisplayMode("n");
    if (current.year != year) Compute(current.year);
    const std::string digits = std::to_string(year);
    std::string yearText = FixedWidthRight(digits, 5);  // years have at most four digits
    yearText += ' ';
    WriteAt(0, (kInnerWidth - 6 + 1) / 2 + 1, yearText);
    WriteAt(1, 1, ToolText(ToolMessage::WeekdayHeading));
    firstMonth = QuarterStart(current.month);
    const ScopedFoldMode plain(0);
    for (int k = 0; k < 3; ++k) {
      const int m = firstMonth + k;
      const int nameRow = 7 * k + 2;
      SetDisplayMode("n");
      WriteAt(nameRow, 1, std::string(kInnerWidth, ' '));
      std::string name = FoldText(FormatDate(StoredDateOf({year, m, 1}), 2, "m"));
      if (name.size() > static_cast<size_t>(kInnerWidth)) name.resize(kInnerWidth);
      WriteAt(nameRow, 1 + (kInnerWidth - static_cast<int>(name.size())) / 2, name);
      SetDisplayMode("h");
      // 42 cells of six weeks: blanks before day 1 and after the last day.
      const int first = weekday[m][1] - 1;
      for (int i = 0; i < 42; ++i) {
        const int row = nameRow + 1 + i / 7, col = 3 * (i % 7) + 1;
        const int d = i - first + 1;
        WriteAt(row, col, d >= 1 && d <= daysIn[m] ? TwoPlaces(d) : "  ");
      }
    }
  }
};

// Moves the current day by delta days (a week at most) and keeps the page in
// step; a move past the years the calendar can show is refused.
void MoveDay(Day& cur, int delta, Page& page) {
  Day next = cur;
  next.day += delta;
  if (next.day < 1) {
    if (--next.month < 1) {
      next.month = 12;
      --next.year;
    }
    if (next.year < kFirstYear) return;
    next.day += DaysInMonth(next.year, next.month);
  } else if (next.day > DaysInMonth(next.year, next.month)) {
    next.day -= DaysInMonth(next.year, next.month);
    if (++next.month > 12) {
      next.month = 1;
      ++next.year;
    }
    if (next.year > kLastYear) return;
  }
  cur = next;
  if (cur.year != page.year || QuarterStart(cur.month) != page.firstMonth) page.Draw(cur);
}

// Moves the month by delta (+3, -3) or to a fixed month (target 1..12),
// cutting the day to the new month's length.
void MoveMonth(Day& cur, int delta, Page& page) {
  Day next = cur;
  next.month += delta;
  while (next.month > 12) {
    next.month -= 12;
    ++next.year;
  }
  while (next.month < 1) {
    next.month += 12;
    --next.year;
  }
  if (next.year < kFirstYear || next.year > kLastYear) return;
  const int len = DaysInMonth(next.year, next.month);
  if (next.day > len) next.day = len;
  cur = next;
  if (cur.year != page.year || QuarterStart(cur.month) != page.firstMonth) page.Draw(cur);
}

// The keys, on the screen's row below the window (the window takes every
// row of its frame) and ending under its right edge. The cells they cover
// are kept as a window of their own, which the caller pops after the
// calendar's; on a screen without that row the push is refused and its pop
// does nothing.
void PushKeyLine() {
  const int row = kBottom + 1;
  const std::string keys = std::string(" ") + ToolText(ToolMessage::CalendarKeys) + " ";
  const int width = std::min(static_cast<int>(keys.size()), kRight);
  if (PushWindow(row, kRight - width + 1, row, kRight) != 0) return;
  LocateAbsolute(row, kRight - width + 1);
  WriteText(keys.substr(0, static_cast<size_t>(width)));
}

}  // namespace

std::string ShowCalendar() {
  if (ScreenRows() < kBottom || ScreenColumns() < kRight) {
    Beep();
    return std::string();
  }
  // The exit-key set in force is kept by a guard rather than in the
  // keyboard's one save slot: the screen below has usually filled that slot
  // already, and taking it over would lose the screen's own set.
  const ScopedExitKeys exitKeys;
  SetExitKeys("ea", "4d00,4b00,5000,4800,5100,4900,4700,4f00,2100,1b");
  const ScopedDisplayMode mode("n");
  const ScopedCursorSize cursor(0);
  PushKeyLine();
  PushWindow(kTop, kLeft, kBottom, kRight);
  DrawWindowFrame(1);

  Day cur = StartDay();
  Page page;
  page.Draw(cur);

  std::string result;
  for (bool done = false; !done;) {
    int key = 0;
    {
      const ScopedDisplayMode field("u");
      page.WriteDay(cur.month, cur.day);
      ReadKeyOrClick(key);
    }
    page.WriteDay(cur.month, cur.day);
    switch (key) {
      case KeyRight: MoveDay(cur, 1, page); break;
      case KeyLeft: MoveDay(cur, -1, page); break;
      case KeyDown: MoveDay(cur, 7, page); break;
      case KeyUp: MoveDay(cur, -7, page); break;
      case KeyPgDn: MoveMonth(cur, 3, page); break;
      case KeyPgUp: MoveMonth(cur, -3, page); break;
      case KeyHome: MoveMonth(cur, 1 - cur.month, page); break;
      case KeyEnd: MoveMonth(cur, 12 - cur.month, page); break;
      case KeyEnter:
      case 'F':
      case 'f':
      case KeyAltF:
        result = FormatDate(StoredDateOf(cur), 0, "dma");
        done = true;
        break;
      case KeyEsc: done = true; break;
      default: break;  // other keys and clicks
    }
  }

  PopWindow();
  PopWindow();  // the key line's (nothing when it had no row)
  return result;
}
