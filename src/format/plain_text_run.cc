// The plain-text generation run inside the progress window: every document still stored as text
// gets its bytes in its code page and its searchable text, in batches of 250 rows, and the
// collection is marked as done.
#include <algorithm>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "common/code_page.h"
#include "common/error.h"
#include "common/messages.h"
#include "db/command.h"
#include "db/recordset.h"
#include "format/names.h"
#include "format/progress_window.h"
#include "platform/user_interface.h"

namespace format {
namespace {

constexpr char kTitle[] = "Tessera Server Manager";
constexpr int kGeneratingMessage = 317;
constexpr int kPleaseWaitMessage = 318;
constexpr int kScaleSteps = 100;

constexpr char kCountQuery[] = "SELECT Count(EntryID) AS MaxDoc FROM Document WHERE BinaryData=0";
constexpr char kBatchQuery[] =
    "SELECT Top 250 Document.* FROM Document WHERE BinaryData=0 ORDER BY EntryID";
constexpr char kMarkerValue[] = "True";

constexpr char kBatchFailure[] =
    "Beim Laden/Aktualisieren der Datensätze ist folgender Fehler aufgetreten:";
constexpr char kDocumentFailure[] =
    "Beim der Generierung von Volltextinformation ist bei folgendem Dokument ein Fehler "
    "aufgetreten:";

// The number of our own errors: "invalid procedure call or argument", as a conversion that
// cannot be done is reported by the classic runtime.
constexpr std::int32_t kConversionErrorNumber = 5;
constexpr char kRunSource[] = "TSAdmin.frmProgress";

struct Problem {
  std::string description;
  std::int32_t number = 0;
};

Problem ProblemOf(const std::exception& error) {
  if (const auto* own = dynamic_cast<const common::Error*>(&error)) {
    return {own->description(), own->number()};
  }
  return {error.what(), kConversionErrorNumber};
}

// A server may send row-less results (messages) before the rows; at most this many are skipped.
constexpr int kMaxSkippedResults = 100;

// Moves to the first result with rows; a statement that gives none raises, as reading its
// fields would.
void SkipToRows(db::Recordset& recordset) {
  for (int skipped = 0; recordset.State() != db::kStateOpen; ++skipped) {
    if (skipped == kMaxSkippedResults) {
      throw common::Error(kConversionErrorNumber, kRunSource, "The statement returned no rows.");
    }
    recordset.NextRecordset();
  }
}

class PlainTextRun {
 public:
  explicit PlainTextRun(frmProgress& window)
      : window_(window), collection_(window.GetCollection()), ui_(window.UI()) {}

  bool Run() {
    window_.SetCaption(kTitle);
    window_.SetCollectionLine(
        common::FormatMessage(kGeneratingMessage, {common::Value(collection_.Name())}));
    window_.SetWaitLine(common::LoadMessage(kPleaseWaitMessage));

    try {
      command_.SetActiveConnection(collection_.Connection());
      command_.SetCommandType(db::kCmdText);
      command_.SetCommandText(kCountQuery);
      db::Recordset count;
      count.Open(command_);
      SkipToRows(count);
      total_ = count.Eof() ? 0 : count.Fields("MaxDoc").Value().ToInt().value_or(0);
      count.Close();
    } catch (const std::exception& error) {
      ReportBatchFailure(ProblemOf(error));
      return false;
    }

    if (total_ >= 1) {
      window_.SetMaximum(total_ <= kScaleSteps ? static_cast<int>(total_) : kScaleSteps);
      if (!ConvertAll()) return false;
    }
    return WriteMarker();
  }

 private:
  enum class RowOutcome { kSaved, kAborted };

  bool ConvertAll() {
    command_.SetCommandText(kBatchQuery);
    // The rows saved in the previous batch. Saved rows leave the selection; one that comes back
    // at once was not really saved (a server that reported the change but did not keep it),
    // and going on would convert it again for ever.
    std::vector<std::int64_t> previous_batch;
    for (;;) {
      db::Recordset batch;
      try {
        batch.Open(command_, db::kOpenKeyset, db::kLockOptimistic);
        SkipToRows(batch);
        if (batch.Eof()) return true;
      } catch (const std::exception& error) {
        ReportBatchFailure(ProblemOf(error));
        return false;
      }
      std::vector<std::int64_t> saved;
      while (true) {
        try {
          if (batch.Eof()) break;
          const std::int64_t entry = batch.Fields("EntryID").Value().ToInt().value_or(0);
          if (std::find(previous_batch.begin(), previous_batch.end(), entry) !=
              previous_batch.end()) {
            throw common::Error(kConversionErrorNumber, kRunSource,
                                "The document " + std::to_string(entry) +
                                    " was saved as converted but is still stored as text.");
          }
          if (ConvertRow(batch) == RowOutcome::kAborted) {
            CloseQuietly(batch);
            return false;
          }
          saved.push_back(entry);
          batch.MoveNext();
        } catch (const std::exception& error) {
          CancelQuietly(batch);
          ReportBatchFailure(ProblemOf(error));
          return false;
        }
      }
      CloseQuietly(batch);
      previous_batch = std::move(saved);
    }
  }

  // One row: count it, convert it (asking what to do when that fails), show the count, mark it
  // converted and save it. A failure while saving reaches the caller.
  RowOutcome ConvertRow(db::Recordset& row) {
    ++processed_;
    UpdateBar();
    bool bytes_stored = false;
    for (;;) {
      try {
        Convert(row, bytes_stored);
        break;
      } catch (const std::exception& error) {
        const int answer = AskAboutDocument(row, ProblemOf(error));
        if (answer == platform::kAnswerAbort) {
          CancelQuietly(row);
          return RowOutcome::kAborted;
        }
        if (answer == platform::kAnswerIgnore) break;
        // Retry: the conversion runs again from its start.
      }
    }
    window_.SetWaitLine(std::to_string(processed_) + " of " + std::to_string(total_) +
                        " items processed");
    // The text stays in Content when its bytes could not be stored (a document ignored after a
    // failed conversion): marked converted it leaves the selection, and nothing of it is lost.
    if (bytes_stored || !HasContent(row)) row.Fields("Content").SetValue(common::Value(""));
    row.Fields("BinaryData").SetValue(common::Value(true));
    row.Update();
    ui_.ProcessPendingEvents();
    return RowOutcome::kSaved;
  }

  static bool HasContent(const db::Recordset& row) {
    return !row.Fields("Content").Value().ToText().empty();
  }

  // The document's bytes in its code page, then its searchable text. A text the code page cannot
  // hold whole is refused rather than stored with substitutes: Content is emptied afterwards,
  // so the substituted characters would be gone for good.
  void Convert(db::Recordset& row, bool& bytes_stored) {
    if (row.Fields("BinaryData").Value().ToBool().value_or(false)) return;
    const std::string content = row.Fields("Content").Value().ToText();
    if (content.empty()) return;
    const int code_page =
        static_cast<int>(row.Fields("CodePage").Value().ToInt().value_or(common::kCodePageAnsi));
    common::Bytes bytes = common::TextToBytes(content, code_page, common::kConvertNoSubstitution);
    if (bytes.empty()) {
      const bool known = !common::CodePageCharset(code_page).empty();
      throw common::Error(kConversionErrorNumber, kRunSource,
                          known ? "The text holds characters that code page " +
                                      std::to_string(code_page) + " cannot represent."
                                : "The code page " + std::to_string(code_page) + " is not known.");
    }
    row.Fields("BinaryContent").SetValue(common::Value(std::move(bytes)));
    bytes_stored = true;
    const std::int32_t entry =
        static_cast<std::int32_t>(row.Fields("EntryID").Value().ToInt().value_or(0));
    const int type = static_cast<int>(row.Fields("TypeID").Value().ToInt().value_or(0));
    const std::string file_name = row.Fields("Filename").Value().ToText();
    row.Fields("PlainText")
        .SetValue(common::Value(collection_.CreatePlainText(entry, content, type, file_name)));
  }

  void UpdateBar() {
    if (total_ <= kScaleSteps) {
      window_.SetValue(std::min<double>(static_cast<double>(processed_), window_.Maximum()));
    } else {
      const double value = static_cast<double>(processed_) / (static_cast<double>(total_) / 100.0);
      window_.SetValue(std::min<double>(value, kScaleSteps));
    }
  }

  // The marker tells the console's start-up check that the collection is done. Its write keeps
  // its errors to itself, so it is read back: a run must not claim success without it.
  bool WriteMarker() {
    std::int32_t field_number = 0;
    collection_.SetExtendedProperty(kMarkerValue, kCollectionEntry, field_number,
                                    kSearchInPlainTextName, kCollectionProperty, false, false);
    if (collection_.GetExtendedProperty(kCollectionEntry, 0, kCollectionProperty,
                                        kSearchInPlainTextName) == kMarkerValue) {
      return true;
    }
    Problem problem{
        "The property \"" + std::string(kSearchInPlainTextName) + "\" could not be written.",
        kConversionErrorNumber};
    try {
      for (const db::ErrorRecord& record : collection_.Connection().Errors()) {
        if (record.IsError()) {
          problem = {record.description, record.number};
          break;
        }
      }
    } catch (const std::exception&) {
      // The description above is all there is to say then.
    }
    ReportBatchFailure(problem);
    return false;
  }

  void ReportBatchFailure(const Problem& problem) {
    platform::MessageRequest box;
    box.text = std::string(kBatchFailure) + "\r" + problem.description + "\r" +
               "Fehlernummer: " + std::to_string(problem.number);
    box.title = kTitle;
    box.buttons = platform::MessageButtons::kOk;
    ui_.ShowMessage(box);
  }

  int AskAboutDocument(const db::Recordset& row, const Problem& problem) {
    std::string url;
    try {
      url = row.Fields("Url").Value().ToText();
    } catch (const std::exception&) {
      // A row without its address is still worth asking about.
    }
    platform::MessageRequest box;
    box.text = std::string(kDocumentFailure) + "\r\n" + "URL: " + url + "\r\n" +
               "Fehlertext: " + problem.description + "\r\n" +
               "Fehlernummer: " + std::to_string(problem.number);
    box.title = kTitle;
    box.buttons = platform::MessageButtons::kAbortRetryIgnore;
    return ui_.ShowMessage(box);
  }

  static void CancelQuietly(db::Recordset& recordset) {
    try {
      if (recordset.State() == db::kStateOpen && recordset.EditMode() != db::kEditNone) {
        recordset.CancelUpdate();
      }
    } catch (const std::exception&) {
      // Nothing was sent for an edit that is cancelled; the row stays as the server has it.
    }
  }

  static void CloseQuietly(db::Recordset& recordset) {
    try {
      if (recordset.State() == db::kStateOpen) recordset.Close();
    } catch (const std::exception&) {
      // A batch that cannot be closed is released with the recordset.
    }
  }

  frmProgress& window_;
  Collection& collection_;
  platform::UserInterface& ui_;
  db::Command command_;
  std::int64_t total_ = 0;
  std::int64_t processed_ = 0;
};

}  // namespace

bool RunPlainTextGeneration(frmProgress& window) { return PlainTextRun(window).Run(); }

}  // namespace format
