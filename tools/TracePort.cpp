#include "tools/TracePort.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>

bool TraceLog::Open(const std::string& path, const std::string& heading) {
  // A pipe nobody reads would hold the tool before its transfer: refused.
  // The descriptor stays non-blocking: a reader that stops reading, or a
  // terminal held by flow control, must not hold the transfer either. A
  // line that cannot go at once leaves the trace incomplete, which Close
  // tells.
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  file = fdopen(fd, "w");
  if (!file) {
    const int why = errno;
    close(fd);
    errno = why;
    return false;
  }
  // Line by line: a tool that hangs or is killed leaves its record so far.
  std::setvbuf(file, nullptr, _IOLBF, 0);
  started = std::chrono::steady_clock::now();
  const std::time_t now = std::time(nullptr);
  char when[32];
  std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
  std::fprintf(file, "# %s, %s\n# seconds     what      count  bytes (hexadecimal)\n", heading.c_str(), when);
  return true;
}

void TraceLog::Begin(const char* what) {
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::fprintf(file, "%12.6f  %-8s", seconds, what);
}

void TraceLog::Record(const char* what, const void* bytes, int count) {
  // After a line that did not go, the trace is incomplete: no more is tried.
  if (!file || std::ferror(file)) return;
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(static_cast<size_t>(count) * 3);
  const auto* byte = static_cast<const unsigned char*>(bytes);
  for (int i = 0; i < count; ++i) {
    hex += ' ';
    hex += digits[byte[i] >> 4];
    hex += digits[byte[i] & 15];
  }
  Begin(what);
  std::fprintf(file, "  %5d %s\n", count, hex.c_str());
}

void TraceLog::Note(const char* what, const std::string& text) {
  if (!file || std::ferror(file)) return;
  Begin(what);
  std::fprintf(file, "  %s\n", text.c_str());
}

bool TraceLog::Close() {
  if (!file) return true;
  const bool whole = !std::ferror(file);
  const bool closed = std::fclose(file) == 0;
  file = nullptr;
  return whole && closed;
}

int TracePort::Read(void* buffer, int count) {
  try {
    const int n = line.Read(buffer, count);
    log.Record("received", buffer, n > 0 ? n : 0);
    return n;
  } catch (const PortGone& gone) {
    log.Note("gone", gone.what());
    throw;
  }
}

int TracePort::Write(const void* buffer, int count) {
  try {
    const int n = line.Write(buffer, count);
    log.Record("sent", buffer, count);
    return n;
  } catch (const PortGone& gone) {
    log.Note("gone", gone.what());
    throw;
  }
}
