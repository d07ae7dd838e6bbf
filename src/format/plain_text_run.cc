// The plain-text generation run inside the progress window: every document still stored as text
// gets its bytes in its code page and its searchable text, in batches of 250 rows, and the
// collection is marked as done.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
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

// Converts the rows of one batch on a second thread, ahead of their saving on the first: the
// bytes in the row's code page, the text of pages whose text follows from their content alone
// (Collection::ContentPlainText) and of web archives (Collection::ArchivePlainText). Only values
// cross over; the statements, the progress and the boxes stay with the run, so they come in the
// same order as without it. The run takes each row's values in turn: a row the helper has not
// begun it converts itself, and while the helper finishes the row it needs it converts rows from
// the batch's end. It holds one batch at most.
class AheadConversion {
 public:
  struct Page {
    std::int64_t entry = 0;
    bool wanted = false;  // false: a row the run converts without our help
    std::string content;
    int code_page = common::kCodePageAnsi;
    int type = 0;
    std::string file_name;
  };

  // What was made ahead; what is missing the run makes itself (and meets its errors then).
  struct Converted {
    std::optional<common::Bytes> bytes;
    std::optional<std::string> text;
    std::optional<ArchiveText> archive;  // a web archive's text, if its export writes this file
  };

  AheadConversion(const Collection& collection, std::vector<Page> pages)
      : collection_(collection),
        pages_(std::move(pages)),
        results_(pages_.size()),
        states_(std::make_unique<std::atomic<int>[]>(pages_.size())),
        back_(pages_.empty() ? 0 : pages_.size() - 1) {
    bool any = false;
    for (std::size_t i = 0; i < pages_.size(); ++i) {
      states_[i].store(pages_[i].wanted ? kPending : kDone);
      any = any || pages_[i].wanted;
    }
    if (!any) return;
    try {
      worker_ = std::thread([this] { Work(); });
    } catch (const std::system_error&) {
      // No second thread: the run renders every page itself when it takes it.
    }
  }
  ~AheadConversion() {
    stop_.store(true);
    if (worker_.joinable()) worker_.join();
  }
  AheadConversion(const AheadConversion&) = delete;
  AheadConversion& operator=(const AheadConversion&) = delete;

  // What was made for the batch's row `index`, once, when that row is still `entry`.
  Converted Take(std::size_t index, std::int64_t entry) {
    if (index >= pages_.size() || !pages_[index].wanted || pages_[index].entry != entry) {
      return {};
    }
    if (Claim(index)) {
      Make(index);
    } else {
      // While the helper finishes this row, the run converts rows from the batch's end rather
      // than wait.
      while (states_[index].load() != kDone && MakeOneFromTheEnd(index)) {
      }
      std::unique_lock<std::mutex> lock(mutex_);
      done_.wait(lock, [&] { return states_[index].load() == kDone; });
    }
    std::lock_guard<std::mutex> lock(mutex_);
    Converted converted = std::move(results_[index]);
    results_[index] = {};
    pages_[index].wanted = false;  // a second request (Retry) is made by the run itself
    return converted;
  }

 private:
  enum State { kPending, kClaimed, kDone };

  bool Claim(std::size_t index) {
    int expected = kPending;
    return states_[index].compare_exchange_strong(expected, kClaimed);
  }

  void Make(std::size_t index) {
    Converted converted;
    Page& page = pages_[index];
    try {
      common::Bytes bytes =
          common::TextToBytes(page.content, page.code_page, common::kConvertNoSubstitution);
      // Without bytes the run converts the row itself, to report why.
      if (!bytes.empty()) {
        converted.bytes = std::move(bytes);
        converted.text = collection_.ContentPlainText(page.content, page.type, page.file_name);
        if (!converted.text) {
          converted.archive =
              collection_.ArchivePlainText(page.content, page.code_page, page.type, page.file_name);
        }
      }
    } catch (...) {
      // Nothing is lost: the run converts this row itself.
      converted = {};
    }
    std::string().swap(page.content);  // not needed any more
    {
      std::lock_guard<std::mutex> lock(mutex_);
      results_[index] = std::move(converted);
      states_[index].store(kDone);
    }
    done_.notify_all();
  }

  // Converts the last row after `index` that nobody has begun; false when there is none.
  bool MakeOneFromTheEnd(std::size_t index) {
    for (; back_ > index; --back_) {
      if (Claim(back_)) {
        Make(back_--);
        return true;
      }
    }
    return false;
  }

  void Work() {
    for (std::size_t i = 0; i < pages_.size() && !stop_.load(); ++i) {
      if (Claim(i)) Make(i);
    }
  }

  const Collection& collection_;
  std::vector<Page> pages_;
  std::vector<Converted> results_;
  std::unique_ptr<std::atomic<int>[]> states_;
  std::mutex mutex_;
  std::condition_variable done_;
  std::atomic<bool> stop_{false};
  std::size_t back_ = 0;  // the run's own: where it looks for rows from the end
  std::thread worker_;
};

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
      std::unique_ptr<AheadConversion> ahead;
      try {
        batch.Open(command_, db::kOpenKeyset, db::kLockOptimistic);
        SkipToRows(batch);
        if (batch.Eof()) return true;
        ahead = ConvertAhead(batch);
      } catch (const std::exception& error) {
        ReportBatchFailure(ProblemOf(error));
        return false;
      }
      std::size_t index = 0;
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
          if (ConvertRow(batch, ahead.get(), index++) == RowOutcome::kAborted) {
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

  // What the batch's rows need for converting ahead; the cursor is back on the first row
  // afterwards. Reading rows sends nothing. A row that cannot be read here ends the list: the
  // save loop meets it again and reports it as before.
  std::unique_ptr<AheadConversion> ConvertAhead(db::Recordset& batch) {
    std::vector<AheadConversion::Page> pages;
    try {
      for (; !batch.Eof(); batch.MoveNext()) {
        AheadConversion::Page page;
        page.entry = batch.Fields("EntryID").Value().ToInt().value_or(0);
        if (!batch.Fields("BinaryData").Value().ToBool().value_or(false)) {
          page.content = batch.Fields("Content").Value().ToText();
          page.code_page = static_cast<int>(
              batch.Fields("CodePage").Value().ToInt().value_or(common::kCodePageAnsi));
          page.type = static_cast<int>(batch.Fields("TypeID").Value().ToInt().value_or(0));
          page.file_name = batch.Fields("Filename").Value().ToText();
          page.wanted = !page.content.empty();
        }
        pages.push_back(std::move(page));
      }
    } catch (const std::exception&) {
      // The rows read so far are converted ahead; the others when their turn comes.
    }
    batch.MoveFirst();
    return std::make_unique<AheadConversion>(collection_, std::move(pages));
  }

  // One row: count it, convert it (asking what to do when that fails), show the count, mark it
  // converted and save it. A failure while saving reaches the caller.
  RowOutcome ConvertRow(db::Recordset& row, AheadConversion* ahead, std::size_t index) {
    ++processed_;
    UpdateBar();
    bool bytes_stored = false;
    for (;;) {
      try {
        Convert(row, ahead, index, bytes_stored);
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
  void Convert(db::Recordset& row, AheadConversion* ahead, std::size_t index, bool& bytes_stored) {
    if (row.Fields("BinaryData").Value().ToBool().value_or(false)) return;
    const std::string content = row.Fields("Content").Value().ToText();
    if (content.empty()) return;
    const int code_page =
        static_cast<int>(row.Fields("CodePage").Value().ToInt().value_or(common::kCodePageAnsi));
    const std::int32_t entry =
        static_cast<std::int32_t>(row.Fields("EntryID").Value().ToInt().value_or(0));
    AheadConversion::Converted ahead_values =
        ahead ? ahead->Take(index, entry) : AheadConversion::Converted{};
    common::Bytes bytes = ahead_values.bytes ? std::move(*ahead_values.bytes)
                                             : common::TextToBytes(content, code_page,
                                                                   common::kConvertNoSubstitution);
    if (bytes.empty()) {
      const bool known = !common::CodePageCharset(code_page).empty();
      throw common::Error(kConversionErrorNumber, kRunSource,
                          known ? "The text holds characters that code page " +
                                      std::to_string(code_page) + " cannot represent."
                                : "The code page " + std::to_string(code_page) + " is not known.");
    }
    row.Fields("BinaryContent").SetValue(common::Value(std::move(bytes)));
    bytes_stored = true;
    const int type = static_cast<int>(row.Fields("TypeID").Value().ToInt().value_or(0));
    const std::string file_name = row.Fields("Filename").Value().ToText();
    std::optional<std::string> text = std::move(ahead_values.text);
    if (!text && ahead_values.archive) {
      text = collection_.CreatePlainTextOfArchive(entry, content, type, file_name,
                                                  *ahead_values.archive);
    }
    if (!text) text = collection_.CreatePlainText(entry, content, type, file_name);
    row.Fields("PlainText").SetValue(common::Value(std::move(*text)));
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
