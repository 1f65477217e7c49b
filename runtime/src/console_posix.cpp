#include <errno.h>
#include <langinfo.h>
#include <locale.h>
#include <poll.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <mutex>

#include "console_internal.h"
#include "locale_posix.h"
#include "runtime/codepage.h"
#include "runtime/console.h"
#include "runtime/text.h"

namespace rt {
namespace posix {

namespace {

enum class Charset { kUtf8, kGbk, kGb18030 };

// The character set of the locale the program was started in.
Charset LocaleCharset() {
  static const Charset charset = [] {
    locale_t loc = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (loc == static_cast<locale_t>(nullptr)) return Charset::kUtf8;
    const char* codeset = nl_langinfo_l(CODESET, loc);
    Charset result = Charset::kUtf8;
    if (codeset && strcasecmp(codeset, "GB18030") == 0) {
      result = Charset::kGb18030;
    } else if (codeset && (strcasecmp(codeset, "GBK") == 0 || strcasecmp(codeset, "CP936") == 0)) {
      result = Charset::kGbk;
    }
    freelocale(loc);
    return result;
  }();
  return charset;
}

// The text with each four-byte character as "?": what a GBK locale shows.
std::string WithoutFourByteCodes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t len = CharLength(text, i);
    if (len == 4) {
      out += '?';
    } else {
      out.append(text.substr(i, len));
    }
    i += len;
  }
  return out;
}

}  // namespace

bool LocaleIsGbk() {
  return LocaleCharset() != Charset::kUtf8;
}

std::string ToLocale(std::string_view text) {
  switch (LocaleCharset()) {
    case Charset::kGb18030:
      return std::string(text);
    case Charset::kGbk:
      return WithoutFourByteCodes(text);
    default:
      return TextToUtf8(text);
  }
}

std::string FromLocale(std::string_view bytes) {
  return LocaleIsGbk() ? std::string(bytes) : Utf8ToText(bytes);
}

}  // namespace posix

namespace {

std::mutex& OutputMutex() {
  static std::mutex m;
  return m;
}

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const std::size_t piece = std::min(bytes.size(), kConsoleWritePiece);
    const ssize_t n = ::write(fd, bytes.data(), piece);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;  // a broken output is given up, not retried
    bytes.remove_prefix(static_cast<std::size_t>(n));
  }
}

std::size_t ReadStdin(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(STDIN_FILENO, buffer, size);
    if (n < 0 && errno == EINTR) continue;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
}

std::size_t LocaleOpenTail(std::string_view bytes) {
  return posix::LocaleIsGbk() ? GbkOpenTail(bytes) : Utf8OpenTail(bytes);
}

// Only the main thread reads the console.
StreamLineReader& StdinReader() {
  static StreamLineReader reader({ReadStdin, posix::FromLocale, LocaleOpenTail});
  return reader;
}

// Whether standard input has nothing more to give, told without reading it:
// /dev/null, a closed descriptor, a file read to its end, a pipe or socket
// whose writer is gone with nothing left in it.
bool StdinAtEnd() {
  struct stat st {};
  if (::fstat(STDIN_FILENO, &st) != 0) return true;
  if (S_ISREG(st.st_mode)) return ::lseek(STDIN_FILENO, 0, SEEK_CUR) >= st.st_size;
  if (S_ISCHR(st.st_mode)) {
    struct stat null {};
    return ::stat("/dev/null", &null) == 0 && null.st_rdev == st.st_rdev;
  }
  if (!S_ISFIFO(st.st_mode) && !S_ISSOCK(st.st_mode)) return false;
  pollfd p{STDIN_FILENO, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return false;  // nothing yet: a writer may still write
  int waiting = 0;
  return ::ioctl(STDIN_FILENO, FIONREAD, &waiting) == 0 && waiting == 0;
}

// The program's texts end lines in CR LF; files, pipes and journald here
// take plain LF.
std::string PlainLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r' || i + 1 == text.size() || text[i + 1] != '\n') out += text[i];
  }
  return out;
}

}  // namespace

std::string TextToConsole(std::string_view text) {
  return posix::ToLocale(PlainLineEnds(text));
}
std::string TextFromConsole(std::string_view bytes) {
  return posix::FromLocale(bytes);
}

void WriteStdout(std::string_view text, Stream stream) {
  if (text.empty()) return;
  const std::string bytes = TextToConsole(text);
  const std::lock_guard lock(OutputMutex());
  WriteAll(stream == Stream::kErr ? STDERR_FILENO : STDOUT_FILENO, bytes);
}

std::string ReadConsoleLine() {
  return StdinReader().Read();
}

bool ConsoleInputEnded() {
  return StdinReader().Ended();
}

ConsoleInput StandardInputKind() {
  if (::isatty(STDIN_FILENO)) return ConsoleInput::kTerminal;
  const StreamLineReader& reader = StdinReader();
  if (reader.Holds()) return ConsoleInput::kRedirected;
  return StdinAtEnd() ? ConsoleInput::kEnded : ConsoleInput::kRedirected;
}

void SetConsoleTitle(std::string_view title) {
  if (!::isatty(STDOUT_FILENO)) return;
  // Control bytes would end the title's escape sequence early.
  const std::string safe = posix::ToLocale(PrintableText(title));
  const std::lock_guard lock(OutputMutex());
  WriteAll(STDOUT_FILENO, "\033]0;" + safe + "\007");
}

void FreeConsole() {}

}  // namespace rt
