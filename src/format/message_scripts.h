// TEMPORARY: stands in for common::LoadMessage for messages 291 and 292 until the message table
// lands in common/. Remove this file and message_scripts.cc then.
#pragma once

#include <string>

namespace format::internal {

std::string LoadScriptMessage(int number);

}  // namespace format::internal
