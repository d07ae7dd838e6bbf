#include "format/progress_window.h"

namespace format {

frmProgress::frmProgress(platform::UserInterface& ui, Collection& collection, Mode mode,
                         int version_number)
    : ui_(ui), collection_(collection), mode_(mode), version_number_(version_number) {}

bool frmProgress::Show() {
  sink_ = ui_.OpenProgress();
  // Whatever a caller set before showing the window appears on it.
  sink_->SetCaption(caption_);
  sink_->SetLine(0, collection_line_);
  sink_->SetLine(1, wait_line_);
  sink_->SetMaximum(maximum_);
  sink_->SetValue(static_cast<int>(value_));
  bool completed = false;
  try {
    completed = mode_ == kUpgrade ? RunFormatUpgrade(*this) : RunPlainTextGeneration(*this);
  } catch (...) {
    sink_.reset();
    throw;
  }
  sink_.reset();
  return completed;
}

void frmProgress::SetCaption(std::string_view caption) {
  caption_ = caption;
  if (sink_) sink_->SetCaption(caption_);
}

void frmProgress::SetCollectionLine(std::string_view text) {
  collection_line_ = text;
  if (sink_) sink_->SetLine(0, collection_line_);
}

void frmProgress::SetWaitLine(std::string_view text) {
  wait_line_ = text;
  if (sink_) sink_->SetLine(1, wait_line_);
}

void frmProgress::SetMaximum(int maximum) {
  maximum_ = maximum;
  if (sink_) sink_->SetMaximum(maximum_);
}

void frmProgress::SetValue(double value) {
  value_ = value;
  if (sink_) sink_->SetValue(static_cast<int>(value_));
}

}  // namespace format
