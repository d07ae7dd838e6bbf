// The progress window of the collection jobs: the format upgrade and the plain-text generation
// run inside it. It is a model (caption, collection line, wait line, bar maximum and value) that
// mirrors every change to the user interface's progress sink, so the desktop console, the
// command line and tests all drive the same job code.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/connection.h"
#include "platform/user_interface.h"

namespace format {

// A web archive's text made ahead of its export: the main file the export is expected to write
// and that file's text.
struct ArchiveText {
  std::string file;
  std::string text;
};

// What the jobs need of the collection they work on. The console's collection object
// (collections::Database) provides it; tests may provide their own.
class Collection {
 public:
  virtual ~Collection() = default;
  // The display name shown on the collection line.
  virtual const std::string& Name() const = 0;
  // The collection's open connection; every statement of a job runs on it.
  virtual db::Connection Connection() const = 0;
  // Reads a property value by field number, or (field number 0) by type and name; empty when it
  // cannot be read.
  virtual std::string GetExtendedProperty(std::int32_t entry, std::int32_t field_number,
                                          int field_type, std::string_view field_name) = 0;
  // Writes a property value; with field number 0 the field is looked up (and defined when
  // missing) by name and type. Errors are swallowed.
  virtual void SetExtendedProperty(std::string_view value, std::int32_t entry,
                                   std::int32_t& field_number, std::string_view field_name,
                                   int field_type, bool user_property, bool visible) = 0;
  // The searchable text of one document (by its kind and stored file name). Never raises.
  virtual std::string CreatePlainText(std::int32_t entry, std::string_view content, int type,
                                      std::string_view file_name) = 0;
  // The same text as CreatePlainText for a document whose text follows from its content alone
  // (an HTML page that is not a web archive); nullopt for every other document. The run calls
  // it on a second thread while it saves rows on the first, so it must not touch the
  // collection's connection or any other state. Never raises.
  virtual std::optional<std::string> ContentPlainText(std::string_view /*content*/, int /*type*/,
                                                      std::string_view /*file_name*/) const {
    return std::nullopt;
  }
  // For a web archive stored as text: the main file its export writes when the export succeeds,
  // and that file's text; nullopt for other documents. Like ContentPlainText, it may be called
  // on a second thread and must not touch the collection's state. Never raises.
  virtual std::optional<ArchiveText> ArchivePlainText(std::string_view /*content*/,
                                                      int /*code_page*/, int /*type*/,
                                                      std::string_view /*file_name*/) const {
    return std::nullopt;
  }
  // CreatePlainText for a web archive whose text was made ahead: `ahead.text` when the export
  // writes exactly `ahead.file`, else what CreatePlainText gives. Never raises.
  virtual std::string CreatePlainTextOfArchive(std::int32_t entry, std::string_view content,
                                               int type, std::string_view file_name,
                                               const ArchiveText& /*ahead*/) {
    return CreatePlainText(entry, content, type, file_name);
  }
};

class frmProgress {
 public:
  enum Mode { kPlainText = 1, kUpgrade = 2 };

  // `version_number` is where an upgrade starts (mode kUpgrade only; UpgradeStartNumber gives it
  // for a version text, negative for one that is no number, which starts no rung). Both references
  // must outlive the window.
  frmProgress(platform::UserInterface& ui, Collection& collection, Mode mode,
              int version_number = 0);
  frmProgress(const frmProgress&) = delete;
  frmProgress& operator=(const frmProgress&) = delete;

  // Opens the window, runs the job of its mode and closes the window again. True when the job
  // ran to its end (for an upgrade: no rung, or every rung completed; for the plain text: the
  // marker was written).
  bool Show();

  const std::string& Caption() const { return caption_; }
  const std::string& CollectionLine() const { return collection_line_; }
  const std::string& WaitLine() const { return wait_line_; }
  int Maximum() const { return maximum_; }
  // Fractional when a large collection advances the bar by less than one step per document.
  double Value() const { return value_; }

  void SetCaption(std::string_view caption);
  void SetCollectionLine(std::string_view text);
  void SetWaitLine(std::string_view text);
  void SetMaximum(int maximum);
  void SetValue(double value);

  Mode GetMode() const { return mode_; }
  int VersionNumber() const { return version_number_; }
  Collection& GetCollection() { return collection_; }
  platform::UserInterface& UI() { return ui_; }

 private:
  platform::UserInterface& ui_;
  Collection& collection_;
  Mode mode_;
  int version_number_;
  std::unique_ptr<platform::ProgressSink> sink_;  // open while Show runs
  std::string caption_;
  std::string collection_line_;
  std::string wait_line_;
  int maximum_ = 100;
  double value_ = 0;
};

// The jobs, each run by Show for its mode; they report their own failures through the window's
// user interface and return whether they ran to their end.
bool RunFormatUpgrade(frmProgress& window);
bool RunPlainTextGeneration(frmProgress& window);

}  // namespace format
