#include "TaskJob.h"

#include <cwchar>
#include <cwctype>

namespace {

const uint32_t kDayMilliseconds = 86400000;
const uint32_t kAllWeekdays = 0x7F;
const uint32_t kAllMonthDays = 0x7FFFFFFF;

// Monday first, as the job's weekday bits; Task Scheduler's names.
const wchar_t *const kWeekdayNames[7] = {L"Monday", L"Tuesday", L"Wednesday", L"Thursday",
                                         L"Friday", L"Saturday", L"Sunday"};
const wchar_t *const kMonthNames[12] = {L"January", L"February", L"March",     L"April",   L"May",      L"June",
                                        L"July",    L"August",   L"September", L"October", L"November", L"December"};

const wchar_t kRecordMark[] = L"Quillmoth network job:";
const wchar_t kEncodedCommand[] = L" EncodedCommand=";

bool ValidDay(const JobClock &c) {
  long long day;
  return JobDayNumber(c.year, c.month, c.day, day) && c.hour >= 0 && c.hour <= 23 && c.minute >= 0 &&
         c.minute <= 59 && c.second >= 0 && c.second <= 59;
}

int MondayFirst(long long dayNumber) { return static_cast<int>(((dayNumber + 5) % 7 + 7) % 7); }

uint32_t SecondsOfDay(const JobClock &c) { return static_cast<uint32_t>(c.hour * 3600 + c.minute * 60 + c.second); }

std::wstring Escape(const std::wstring &text) {
  std::wstring out;
  for (wchar_t c : text) {
    switch (c) {
    case L'&': out += L"&amp;"; break;
    case L'<': out += L"&lt;"; break;
    case L'>': out += L"&gt;"; break;
    case L'"': out += L"&quot;"; break;
    case L'\'': out += L"&apos;"; break;
    default: out += c;
    }
  }
  return out;
}

std::wstring Unescape(const std::wstring &text) {
  static const struct {
    const wchar_t *name;
    wchar_t c;
  } kNamed[] = {{L"amp;", L'&'}, {L"lt;", L'<'}, {L"gt;", L'>'}, {L"quot;", L'"'}, {L"apos;", L'\''}};
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != L'&') {
      out += text[i];
      continue;
    }
    bool done = false;
    for (const auto &n : kNamed) {
      size_t length = wcslen(n.name);
      if (text.compare(i + 1, length, n.name) == 0) {
        out += n.c;
        i += length;
        done = true;
        break;
      }
    }
    if (!done && i + 2 < text.size() && text[i + 1] == L'#') {
      size_t end = text.find(L';', i);
      if (end != std::wstring::npos && end - i <= 10) {
        bool hex = text[i + 2] == L'x' || text[i + 2] == L'X';
        std::wstring digits = text.substr(i + (hex ? 3 : 2), end - i - (hex ? 3 : 2));
        wchar_t *stop = nullptr;
        unsigned long value = wcstoul(digits.c_str(), &stop, hex ? 16 : 10);
        if (!digits.empty() && stop && !*stop && value > 0 && value <= 0xFFFF) {
          out += static_cast<wchar_t>(value);
          i = end;
          done = true;
        }
      }
    }
    if (!done)
      out += L'&';
  }
  return out;
}

// The record's command with '%' and the markup characters as %XX: a
// scheduler that writes the description back without escaping it (Wine's
// does) still keeps a well-formed definition.
std::wstring RecordCommand(const std::wstring &command) {
  std::wstring out;
  for (wchar_t c : command) {
    if (c == L'%' || c == L'&' || c == L'<' || c == L'>') {
      wchar_t code[4];
      swprintf(code, sizeof code / sizeof code[0], L"%%%02X", static_cast<unsigned>(c));
      out += code;
    } else {
      out += c;
    }
  }
  return out;
}

// The command of a record: its %XX as the characters again.
std::wstring CommandOfRecord(const std::wstring &text) {
  std::wstring out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == L'%' && i + 2 < text.size() && iswxdigit(text[i + 1]) && iswxdigit(text[i + 2])) {
      out += static_cast<wchar_t>(wcstoul(text.substr(i + 1, 2).c_str(), nullptr, 16));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::wstring Number(unsigned long value, bool hex = false) {
  wchar_t text[24];
  swprintf(text, sizeof text / sizeof text[0], hex ? L"0x%lX" : L"%lu", value);
  return text;
}

std::wstring Boundary(const JobClock &c) {
  wchar_t text[40];
  swprintf(text, sizeof text / sizeof text[0], L"%04d-%02d-%02dT%02d:%02d:%02d", c.year, c.month, c.day, c.hour,
           c.minute, c.second);
  return text;
}

// `c` moved on by `seconds` (less than a day), across midnight and the
// month's and year's end.
JobClock Later(const JobClock &c, uint32_t seconds) {
  JobClock later = c;
  uint32_t total = SecondsOfDay(c) + seconds;
  long long day;
  if (total >= kDayMilliseconds / 1000 && JobDayNumber(c.year, c.month, c.day, day)) {
    JobCalendarDate(day + 1, later.year, later.month, later.day);
    total -= kDayMilliseconds / 1000;
  }
  later.hour = static_cast<int>(total / 3600);
  later.minute = static_cast<int>(total / 60 % 60);
  later.second = static_cast<int>(total % 60);
  return later;
}

bool ParseBoundary(const std::wstring &text, JobClock &c) {
  c = JobClock{0, 0, 0, 0, 0, 0};
  return swscanf(text.c_str(), L" %4d-%2d-%2dT%2d:%2d:%2d", &c.year, &c.month, &c.day, &c.hour, &c.minute,
                 &c.second) == 6 &&
         ValidDay(c);
}

// One element of `xml` between `from` and `to`: its inner text range, and
// where the scan goes on. A self-closed element has an empty inner text.
struct Element {
  size_t begin = 0, end = 0, next = 0;
};

bool FindElement(const std::wstring &xml, size_t from, size_t to, const wchar_t *tag, Element &found) {
  std::wstring open = std::wstring(L"<") + tag;
  size_t length = open.size();
  for (size_t at = xml.find(open, from); at != std::wstring::npos && at < to; at = xml.find(open, at + 1)) {
    wchar_t after = at + length < xml.size() ? xml[at + length] : L'\0';
    if (after != L'>' && after != L'/' && !iswspace(after))
      continue; // a longer name that begins the same
    size_t close = xml.find(L'>', at);
    if (close == std::wstring::npos || close >= to)
      return false;
    if (xml[close - 1] == L'/') {
      found.begin = found.end = found.next = close + 1;
      return true;
    }
    size_t end = xml.find(std::wstring(L"</") + tag + L">", close);
    if (end == std::wstring::npos || end > to)
      return false;
    found.begin = close + 1;
    found.end = end;
    found.next = end + length + 2;
    return true;
  }
  return false;
}

bool InnerText(const std::wstring &xml, size_t from, size_t to, const wchar_t *tag, std::wstring &text) {
  Element e;
  if (!FindElement(xml, from, to, tag, e))
    return false;
  text = Unescape(xml.substr(e.begin, e.end - e.begin));
  size_t first = text.find_first_not_of(L" \t\r\n");
  size_t last = text.find_last_not_of(L" \t\r\n");
  text = first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
  return true;
}

// The fields the triggers give; false when the definition has none.
bool ReadTriggers(const std::wstring &xml, TaskJobFields &job) {
  Element triggers;
  if (!FindElement(xml, 0, xml.size(), L"Triggers", triggers))
    return false;
  bool any = false;
  for (const wchar_t *kind : {L"TimeTrigger", L"CalendarTrigger"}) {
    Element t;
    for (size_t at = triggers.begin; FindElement(xml, at, triggers.end, kind, t); at = t.next) {
      std::wstring text;
      JobClock start;
      if (!InnerText(xml, t.begin, t.end, L"StartBoundary", text) || !ParseBoundary(text, start))
        continue;
      if (!any) {
        job.jobTime = SecondsOfDay(start) * 1000;
        job.start = start;
      }
      any = true;
      Element schedule;
      if (FindElement(xml, t.begin, t.end, L"ScheduleByDay", schedule))
        job.daysOfWeek = kAllWeekdays;
      if (FindElement(xml, t.begin, t.end, L"ScheduleByWeek", schedule)) {
        for (int d = 0; d < 7; ++d) {
          Element day;
          if (FindElement(xml, schedule.begin, schedule.end, kWeekdayNames[d], day))
            job.daysOfWeek = static_cast<uint8_t>(job.daysOfWeek | (1u << d));
        }
      }
      if (FindElement(xml, t.begin, t.end, L"ScheduleByMonth", schedule)) {
        Element day;
        for (size_t d = schedule.begin; FindElement(xml, d, schedule.end, L"Day", day); d = day.next) {
          unsigned long n = wcstoul(Unescape(xml.substr(day.begin, day.end - day.begin)).c_str(), nullptr, 10);
          if (n >= 1 && n <= 31)
            job.daysOfMonth |= 1u << (n - 1);
        }
      }
    }
  }
  return any;
}

unsigned long RecordValue(const std::wstring &record, const wchar_t *name, bool &found) {
  size_t at = record.find(name);
  found = at != std::wstring::npos;
  return found ? wcstoul(record.c_str() + at + wcslen(name), nullptr, 0) : 0;
}

// The record the description carries: "JobTime=... EncodedCommand=<to the
// end>", or "Command=" with the command as it is in older records.
bool ReadRecord(const std::wstring &description, TaskJobFields &job) {
  size_t mark = description.find(kRecordMark);
  size_t encoded = description.find(kEncodedCommand);
  size_t command = encoded != std::wstring::npos ? encoded : description.find(L" Command=");
  if (mark == std::wstring::npos || command == std::wstring::npos)
    return false;
  std::wstring head = description.substr(mark, command - mark);
  bool a, b, c, d;
  unsigned long time = RecordValue(head, L" JobTime=", a);
  job.daysOfMonth = static_cast<uint32_t>(RecordValue(head, L" DaysOfMonth=", b)) & kAllMonthDays;
  job.daysOfWeek = static_cast<uint8_t>(RecordValue(head, L" DaysOfWeek=", c) & kAllWeekdays);
  job.flags = static_cast<uint8_t>(RecordValue(head, L" Flags=", d) & kJobNonInteractive);
  if (!a || !b || !c || !d || time >= kDayMilliseconds)
    return false;
  job.jobTime = static_cast<uint32_t>(time);
  size_t start = head.find(L" Start=");
  if (start == std::wstring::npos || !ParseBoundary(head.substr(start + 7), job.start))
    job.start = JobClock{0, 0, 0, 0, 0, 0};
  if (encoded != std::wstring::npos)
    job.command = CommandOfRecord(description.substr(encoded + wcslen(kEncodedCommand)));
  else
    job.command = description.substr(command + 9);
  return true;
}

} // namespace

size_t FirstCharacterXmlCannotHold(const std::wstring &text) {
  for (size_t i = 0; i < text.size(); ++i) {
    unsigned c = static_cast<unsigned>(text[i]);
    if (c < 0x20 && c != 0x09 && c != 0x0A && c != 0x0D)
      return i;
    if (c == 0xFFFE || c == 0xFFFF)
      return i;
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i; // a pair
      continue;
    }
    if (c >= 0xD800 && c <= 0xDFFF)
      return i;
  }
  return std::wstring::npos;
}

bool ParseTaskNumber(const std::wstring &name, uint32_t &number) {
  if (name.size() < 3 || name.size() > 12 || name.compare(0, 2, L"At") != 0 || name[2] == L'0')
    return false;
  unsigned long long value = 0;
  for (size_t i = 2; i < name.size(); ++i) {
    if (name[i] < L'0' || name[i] > L'9')
      return false;
    value = value * 10 + static_cast<unsigned>(name[i] - L'0');
  }
  if (value > 0x7FFFFFFF) // a script sees job numbers as signed 32-bit
    return false;
  number = static_cast<uint32_t>(value);
  return true;
}

std::wstring TaskName(uint32_t number) { return L"At" + Number(number); }

uint32_t LowestFreeNumber(const std::vector<uint32_t> &taken) {
  std::vector<bool> used(taken.size() + 2, false);
  for (uint32_t n : taken)
    if (n < used.size())
      used[n] = true;
  uint32_t n = 1;
  while (used[n])
    ++n;
  return n;
}

// The program's word ends where CreateProcess would end it: at a blank, tab
// or comma outside quotes.
void SplitCommandLine(const std::wstring &line, std::wstring &program, std::wstring &arguments) {
  const wchar_t separators[] = L" \t,";
  size_t at = line.find_first_not_of(separators);
  program.clear();
  arguments.clear();
  if (at == std::wstring::npos)
    return;
  size_t end;
  if (line[at] == L'"') {
    end = line.find(L'"', at + 1);
    program = line.substr(at + 1, end == std::wstring::npos ? std::wstring::npos : end - at - 1);
    end = end == std::wstring::npos ? line.size() : end + 1;
  } else {
    end = line.find_first_of(separators, at);
    if (end == std::wstring::npos)
      end = line.size();
    program = line.substr(at, end - at);
  }
  size_t rest = line.find_first_not_of(separators, end);
  if (rest != std::wstring::npos)
    arguments = line.substr(rest);
}

std::wstring JoinCommandLine(const std::wstring &program, const std::wstring &arguments) {
  bool quote = program.empty() || program.find_first_of(L" \t") != std::wstring::npos;
  std::wstring line = quote ? L"\"" + program + L"\"" : program;
  if (!arguments.empty())
    line += L" " + arguments;
  return line;
}

bool FirstStart(uint32_t jobTime, bool hasDays, const JobClock &now, JobClock &start) {
  long long today;
  if (jobTime >= kDayMilliseconds || !ValidDay(now) || !JobDayNumber(now.year, now.month, now.day, today))
    return false;
  uint32_t seconds = jobTime / 1000;
  start = now;
  start.hour = static_cast<int>(seconds / 3600);
  start.minute = static_cast<int>(seconds / 60 % 60);
  start.second = static_cast<int>(seconds % 60);
  if (!hasDays && seconds < SecondsOfDay(now))
    JobCalendarDate(today + 1, start.year, start.month, start.day);
  return true;
}

bool RunsToday(const TaskJobFields &job, const JobClock &now) {
  long long today;
  if (!ValidDay(now) || !JobDayNumber(now.year, now.month, now.day, today) || job.jobTime / 1000 < SecondsOfDay(now))
    return false;
  if (!job.daysOfMonth && !job.daysOfWeek)
    return job.start.year == now.year && job.start.month == now.month && job.start.day == now.day;
  return (job.daysOfMonth & (1u << (now.day - 1))) || (job.daysOfWeek & (1u << MondayFirst(today)));
}

bool LastRunFailed(long result) {
  // The scheduler's own statuses are 0x00041300 to 0x000413FF.
  return result != 0 && (result < 0x41300 || result > 0x413FF);
}

std::wstring TaskXml(const TaskJobFields &job) {
  std::wstring program, arguments;
  SplitCommandLine(job.command, program, arguments);
  std::wstring start = Boundary(job.start);
  std::wstring xml = L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
                     L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
                     L"  <RegistrationInfo>\r\n    <Author>Quillmoth</Author>\r\n    <Description>";
  xml += Escape(std::wstring(kRecordMark) + L" JobTime=" + Number(job.jobTime) + L" DaysOfMonth=" +
                Number(job.daysOfMonth, true) + L" DaysOfWeek=" + Number(job.daysOfWeek, true) + L" Flags=" +
                Number(job.flags & kJobNonInteractive, true) + L" Start=" + start + kEncodedCommand +
                RecordCommand(job.command));
  xml += L"</Description>\r\n  </RegistrationInfo>\r\n  <Triggers>\r\n";
  bool once = !job.daysOfMonth && !job.daysOfWeek;
  // A job without days runs once and then goes, as the old scheduler's did:
  // its trigger ends a little after its start, and an expired task is
  // deleted at once (see the settings below).
  if (once)
    xml += L"    <TimeTrigger>\r\n      <StartBoundary>" + start + L"</StartBoundary>\r\n      <EndBoundary>" +
           Boundary(Later(job.start, kOneTimeRunWindowSeconds)) + L"</EndBoundary>\r\n    </TimeTrigger>\r\n";
  if (job.daysOfWeek) {
    xml += L"    <CalendarTrigger>\r\n      <StartBoundary>" + start +
           L"</StartBoundary>\r\n      <ScheduleByWeek>\r\n        <DaysOfWeek>";
    for (int d = 0; d < 7; ++d)
      if (job.daysOfWeek & (1u << d))
        xml += std::wstring(L"<") + kWeekdayNames[d] + L" />";
    xml += L"</DaysOfWeek>\r\n        <WeeksInterval>1</WeeksInterval>\r\n      </ScheduleByWeek>\r\n"
           L"    </CalendarTrigger>\r\n";
  }
  if (job.daysOfMonth) {
    xml += L"    <CalendarTrigger>\r\n      <StartBoundary>" + start +
           L"</StartBoundary>\r\n      <ScheduleByMonth>\r\n        <DaysOfMonth>";
    for (int d = 0; d < 31; ++d)
      if (job.daysOfMonth & (1u << d))
        xml += L"<Day>" + Number(static_cast<unsigned long>(d + 1)) + L"</Day>";
    xml += L"</DaysOfMonth>\r\n        <Months>";
    for (const wchar_t *month : kMonthNames)
      xml += std::wstring(L"<") + month + L" />";
    xml += L"</Months>\r\n      </ScheduleByMonth>\r\n    </CalendarTrigger>\r\n";
  }
  xml += L"  </Triggers>\r\n  <Principals>\r\n    <Principal id=\"Author\">\r\n";
  if (job.flags & kJobNonInteractive)
    xml += L"      <UserId>S-1-5-18</UserId>\r\n      <RunLevel>HighestAvailable</RunLevel>\r\n";
  else
    xml += L"      <LogonType>InteractiveToken</LogonType>\r\n";
  xml += L"    </Principal>\r\n  </Principals>\r\n"
         L"  <Settings>\r\n    <Enabled>true</Enabled>\r\n    <MultipleInstancesPolicy>Parallel</MultipleInstancesPolicy>\r\n";
  if (once)
    xml += L"    <DeleteExpiredTaskAfter>PT0S</DeleteExpiredTaskAfter>\r\n";
  xml += L"  </Settings>\r\n  <Actions Context=\"Author\">\r\n    <Exec>\r\n      <Command>";
  xml += Escape(program) + L"</Command>\r\n";
  if (!arguments.empty())
    xml += L"      <Arguments>" + Escape(arguments) + L"</Arguments>\r\n";
  xml += L"    </Exec>\r\n  </Actions>\r\n</Task>\r\n";
  return xml;
}

bool ReadTaskXml(const std::wstring &xml, TaskJobFields &job) {
  job = TaskJobFields();
  TaskJobFields record;
  std::wstring description;
  bool recorded = InnerText(xml, 0, xml.size(), L"Description", description) && ReadRecord(description, record);
  bool triggered = ReadTriggers(xml, job);
  if (!triggered) {
    if (!recorded)
      return false;
    job.jobTime = record.jobTime;
    job.daysOfMonth = record.daysOfMonth;
    job.daysOfWeek = record.daysOfWeek;
    job.start = record.start;
  }
  Element exec;
  std::wstring program, arguments;
  if (FindElement(xml, 0, xml.size(), L"Exec", exec) && InnerText(xml, exec.begin, exec.end, L"Command", program) &&
      !program.empty()) {
    InnerText(xml, exec.begin, exec.end, L"Arguments", arguments);
    job.command = JoinCommandLine(program, arguments);
    // The action loses the blanks or tab between the program and its
    // arguments; the record keeps them, unless the action was changed since.
    std::wstring recordProgram, recordArguments;
    if (recorded) {
      SplitCommandLine(record.command, recordProgram, recordArguments);
      if (recordProgram == program && recordArguments == arguments)
        job.command = record.command;
    }
  } else if (recorded) {
    job.command = record.command;
  } else {
    return false;
  }
  Element principal;
  std::wstring logon, user;
  bool hasPrincipal = FindElement(xml, 0, xml.size(), L"Principal", principal);
  bool hasLogon = hasPrincipal && InnerText(xml, principal.begin, principal.end, L"LogonType", logon);
  bool hasUser = hasPrincipal && InnerText(xml, principal.begin, principal.end, L"UserId", user);
  if (hasLogon || hasUser)
    job.flags = logon == L"InteractiveToken" ? 0 : kJobNonInteractive;
  else
    job.flags = recorded ? record.flags : kJobNonInteractive;
  return true;
}
