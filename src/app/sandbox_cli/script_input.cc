#include "app/sandbox_cli/script_input.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/sandbox_cli/context.h"

namespace sandbox_cli {

namespace {

constexpr size_t kPiece = 64 * 1024;
constexpr char kReplacement[] = "\xEF\xBF\xBD";  // U+FFFD

}  // namespace

ScriptReader::ScriptReader(std::istream& in) : in_(in) {}

ScriptReader::~ScriptReader() {
  if (converter_ != reinterpret_cast<iconv_t>(-1)) ::iconv_close(converter_);
}

bool ScriptReader::Fill() {
  if (ended_) return false;
  // Read straight behind what is left of the last piece; the buffers live in the reader, not on
  // the stack of a thread that may have little.
  size_t kept = raw_.size();
  raw_.resize(kept + kPiece);
  in_.read(raw_.data() + kept, kPiece);
  size_t got = static_cast<size_t>(in_.gcount());
  raw_.resize(kept + got);
  bool at_end = got < kPiece;
  if (!started_) {
    // The mark needs the first three bytes; a shorter file has none or is all mark.
    if (raw_.size() < 3 && !at_end) return true;
    started_ = true;
    if (raw_.compare(0, 3, "\xEF\xBB\xBF") == 0) {
      encoding_ = Encoding::kUtf8WithMark;
      raw_.erase(0, 3);
    } else if (raw_.compare(0, 2, "\xFF\xFE") == 0 || raw_.compare(0, 2, "\xFE\xFF") == 0) {
      encoding_ = raw_[0] == '\xFF' ? Encoding::kUtf16Le : Encoding::kUtf16Be;
      raw_.erase(0, 2);
      converter_ = ::iconv_open("UTF-8", encoding_ == Encoding::kUtf16Le ? "UTF-16LE" : "UTF-16BE");
      if (converter_ == reinterpret_cast<iconv_t>(-1))
        throw CommandError{std::string("UTF-16 input cannot be decoded: ") + std::strerror(errno)};
    }
  }
  if (converter_ == reinterpret_cast<iconv_t>(-1)) {
    text_ += raw_;
    raw_.clear();
  } else {
    decoded_.resize(kPiece * 2);
    char* from = raw_.data();
    size_t left = raw_.size();
    while (left > 0) {
      char* to = decoded_.data();
      size_t room = decoded_.size();
      size_t result = ::iconv(converter_, &from, &left, &to, &room);
      text_.append(decoded_.data(), static_cast<size_t>(to - decoded_.data()));
      if (result != static_cast<size_t>(-1)) continue;
      if (errno == E2BIG) continue;
      if (errno == EINVAL && !at_end) break;  // a character split between pieces: wait for more
      // Not UTF-16 (a lone surrogate, an odd last byte): one unit replaced, then on.
      text_ += kReplacement;
      size_t skip = std::min<size_t>(2, left);
      from += skip;
      left -= skip;
    }
    raw_.erase(0, raw_.size() - left);
  }
  if (at_end) ended_ = true;
  return got > 0 || !text_.empty();
}

std::optional<std::string> ScriptReader::ReadLine() {
  while (true) {
    size_t end = text_.find('\n', std::max(start_, scanned_));
    if (end != std::string::npos) {
      std::string line = text_.substr(start_, end - start_);
      start_ = end + 1;
      if (!line.empty() && line.back() == '\r') line.pop_back();
      return line;
    }
    // The returned lines go before more is read, so the text held stays one piece and a line.
    text_.erase(0, start_);
    start_ = 0;
    scanned_ = text_.size();
    if (!ended_) {
      Fill();
      continue;
    }
    if (text_.empty()) return std::nullopt;
    std::string line = std::move(text_);
    text_.clear();
    scanned_ = 0;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
  }
}

ScriptFile::ScriptFile(const std::string& path) : path_(path) {
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec))
    throw CommandError{"the input file '" + path + "' is a folder"};
  auto file = std::make_unique<std::ifstream>(path, std::ios::binary);
  if (!*file)
    throw CommandError{"the input file '" + path + "' cannot be read: " + std::strerror(errno)};
  stream_ = std::move(file);
  reader_ = std::make_unique<ScriptReader>(*stream_);
}

}  // namespace sandbox_cli
