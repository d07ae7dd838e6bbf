#include "common/code_page.h"

#include <errno.h>
#include <fcntl.h>
#include <iconv.h>
#include <unistd.h>

#include <functional>

#include "common/system.h"

namespace common {

namespace {

// Owns an iconv descriptor.
class Converter {
 public:
  Converter(const std::string& to, const std::string& from)
      : cd_(iconv_open(to.c_str(), from.c_str())) {}
  ~Converter() {
    if (ok()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

  // Converts all of `input` into `out`. At a sequence the conversion refuses, `on_invalid`
  // receives the rest of the input and `out`; it appends a replacement and returns how many bytes
  // to skip, or 0 to give up. Returns false when the conversion was given up.
  bool Run(std::string_view input, std::string& out,
           const std::function<size_t(std::string_view, std::string&)>& on_invalid) {
    char buffer[4096];
    char* in = const_cast<char*>(input.data());
    size_t in_left = input.size();
    bool flushing = false;
    while (true) {
      char* out_ptr = buffer;
      size_t out_left = sizeof buffer;
      size_t result = flushing ? iconv(cd_, nullptr, nullptr, &out_ptr, &out_left)
                               : iconv(cd_, &in, &in_left, &out_ptr, &out_left);
      int error = errno;
      out.append(buffer, static_cast<size_t>(out_ptr - buffer));
      if (result != static_cast<size_t>(-1)) {
        if (flushing) return true;
        flushing = true;  // stateful encodings end with a shift back to the initial state
        continue;
      }
      if (error == E2BIG) continue;
      if ((error == EILSEQ || error == EINVAL) && !flushing) {
        size_t skip = on_invalid(std::string_view(in, in_left), out);
        if (skip == 0) return false;
        skip = std::min(skip, in_left);
        in += skip;
        in_left -= skip;
        continue;
      }
      return false;
    }
  }

 private:
  iconv_t cd_;
};

// Length of the UTF-8 sequence at the start of `s`, or 1 when it is not valid UTF-8.
size_t Utf8SequenceLength(std::string_view s) {
  unsigned char lead = static_cast<unsigned char>(s[0]);
  size_t len = lead < 0x80         ? 1
               : (lead >> 5) == 6  ? 2
               : (lead >> 4) == 14 ? 3
               : (lead >> 3) == 30 ? 4
                                   : 0;
  if (len == 0 || len > s.size()) return 1;
  for (size_t i = 1; i < len; ++i) {
    if ((static_cast<unsigned char>(s[i]) & 0xC0) != 0x80) return 1;
  }
  return len;
}

int ResolveCodePage(int code_page) {
  return (code_page == kCodePageAnsi || code_page == 0) ? GetAnsiCodePage() : code_page;
}

size_t UnitSize(int code_page) {
  code_page = ResolveCodePage(code_page);
  return (code_page == 1200 || code_page == 1201)     ? 2
         : (code_page == 12000 || code_page == 12001) ? 4
                                                      : 1;
}

std::string CharsetName(int code_page) {
  switch (code_page) {
    case 65001:
      return "UTF-8";
    case 1200:
      return "UTF-16LE";
    case 1201:
      return "UTF-16BE";
    case 12000:
      return "UTF-32LE";
    case 12001:
      return "UTF-32BE";
    case 20127:
      return "ASCII";
    case 20866:
      return "KOI8-R";
    case 21866:
      return "KOI8-U";
    case 50220:
      return "ISO-2022-JP";
    case 51932:
      return "EUC-JP";
    case 51949:
      return "EUC-KR";
    case 54936:
      return "GB18030";
    default:
      break;
  }
  if (code_page >= 28591 && code_page <= 28606)
    return "ISO-8859-" + std::to_string(code_page - 28590);
  return "CP" + std::to_string(code_page);
}

}  // namespace

std::string CodePageCharset(int code_page) {
  code_page = ResolveCodePage(code_page);
  if (code_page <= 0) return "";
  std::string name = CharsetName(code_page);
  Converter probe(name, "UTF-8");
  return probe.ok() ? name : "";
}

Bytes TextToBytes(std::string_view text, int code_page, int flags, bool* used_substitute) {
  if (used_substitute != nullptr) *used_substitute = false;
  std::string charset = CodePageCharset(code_page);
  if (charset.empty()) return {};
  Converter converter(charset, "UTF-8");
  std::string question;
  Converter question_converter(charset, "UTF-8");
  if (!converter.ok() || !question_converter.ok() ||
      !question_converter.Run("?", question, [](std::string_view, std::string&) { return 0; })) {
    return {};
  }

  bool substituted = false;
  std::string out;
  bool done = converter.Run(text, out, [&](std::string_view rest, std::string& target) -> size_t {
    if (flags & kConvertNoSubstitution) return 0;
    substituted = true;
    target += question;
    return Utf8SequenceLength(rest);
  });
  if (!done) return {};
  if (used_substitute != nullptr) *used_substitute = substituted;
  out.append(UnitSize(code_page), '\0');
  return Bytes(out.begin(), out.end());
}

std::string BytesToText(std::string_view bytes, int code_page, int /*flags*/) {
  std::string charset = CodePageCharset(code_page);
  if (charset.empty()) return "";
  size_t unit = UnitSize(code_page);
  for (size_t i = 0; i + unit <= bytes.size(); i += unit) {
    if (bytes.substr(i, unit).find_first_not_of('\0') == std::string_view::npos) {
      bytes = bytes.substr(0, i);
      break;
    }
  }
  Converter converter("UTF-8", charset);
  if (!converter.ok()) return "";
  std::string out;
  bool done = converter.Run(bytes, out, [&](std::string_view, std::string& target) -> size_t {
    target += "\xEF\xBF\xBD";
    return unit;
  });
  return done ? out : "";
}

std::string BytesToText(const Bytes& bytes, int code_page, int flags) {
  return BytesToText(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                     code_page, flags);
}

bool WriteTextFile(std::string_view path, std::string_view text, int code_page) {
  Bytes bytes = TextToBytes(text, code_page);
  size_t unit = UnitSize(code_page);
  if (bytes.size() <= unit) return false;
  std::string file(path);
  if (file.empty() || file.find('\0') != std::string::npos) return false;
  int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const std::uint8_t* data = bytes.data();
  size_t left = bytes.size() - unit;
  bool ok = true;
  while (left > 0) {
    ssize_t written = ::write(fd, data, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      ok = false;
      break;
    }
    data += written;
    left -= static_cast<size_t>(written);
  }
  if (::fsync(fd) != 0 && errno != EINVAL) ok = false;
  if (::close(fd) != 0) ok = false;
  return ok;
}

}  // namespace common
