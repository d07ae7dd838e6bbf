#include "sandbox/messages.h"

#include "sandbox/executor.h"

namespace sandbox {

void Inform(Executor& executor, const SqlError& message) {
  executor.Info(message.number(), message.message().text, message.message().severity);
}

}  // namespace sandbox
