// Reading a script file line by line, as sqlcmd reads it: a UTF-8 byte order mark is dropped,
// UTF-16 with a mark (little or big endian) becomes UTF-8, anything else is taken as UTF-8.
// Only a piece of the file is in memory at a time, so a script may be larger than memory.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <istream>
#include <memory>
#include <optional>
#include <string>

namespace sandbox_cli {

class ScriptReader {
 public:
  enum class Encoding { kUtf8, kUtf8WithMark, kUtf16Le, kUtf16Be };

  // Reads from the stream, which must outlive the reader; the encoding is told by its first
  // bytes.
  explicit ScriptReader(std::istream& in);
  ~ScriptReader();
  ScriptReader(const ScriptReader&) = delete;
  ScriptReader& operator=(const ScriptReader&) = delete;

  // The next line without its line break ("\n" or "\r\n"); nullopt at the end of the input.
  // Text that cannot be UTF-16 (a lone surrogate, an odd last byte) becomes U+FFFD.
  std::optional<std::string> ReadLine();
  Encoding encoding() const { return encoding_; }

 private:
  // Appends the next piece of the input, decoded, to text_; false at the end.
  bool Fill();

  std::istream& in_;
  Encoding encoding_ = Encoding::kUtf8;
  iconv_t converter_ = reinterpret_cast<iconv_t>(-1);
  std::string raw_;      // bytes read but not yet decoded (the start of a split character)
  std::string text_;     // decoded text not yet returned
  std::string decoded_;  // what iconv writes into
  size_t start_ = 0;     // text_ before this has been returned
  size_t scanned_ = 0;   // text_ before this holds no line break
  bool started_ = false;
  bool ended_ = false;
};

// A script file opened for reading; throws CommandError naming the file when it cannot be read
// or is a folder.
class ScriptFile {
 public:
  explicit ScriptFile(const std::string& path);
  ScriptReader& reader() { return *reader_; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::unique_ptr<std::istream> stream_;
  std::unique_ptr<ScriptReader> reader_;
};

}  // namespace sandbox_cli
